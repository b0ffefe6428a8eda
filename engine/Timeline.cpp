#include "engine/Timeline.h"

#include <algorithm>
#include <cmath>

namespace
{
constexpr uint64_t golden = 0x9E3779B97F4A7C15ull;
constexpr uint64_t kMul = 0x5DEECE66Dull;

uint64_t mix (uint64_t x) noexcept
{
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    x ^= x >> 31;
    return x;
}

double unit (uint64_t x) noexcept { return (double) (x >> 11) * 0x1.0p-53; }

uint64_t hashKey (int note, int channel, double timeMs) noexcept
{
    const auto t = (int64_t) std::llround (timeMs);
    return (uint64_t) ((int64_t) note * 16 + channel + t * 2048);
}

double gridShift (double t, double g, double q) noexcept
{
    return (std::round (t / g) * g - t) * q;
}
}

double quantGridBeats (int noteIndex, int feelIndex) noexcept
{
    if (noteIndex < 0 || noteIndex >= (int) kQuantNoteBeats.size())
        return 0.0;

    const double g = kQuantNoteBeats[(size_t) noteIndex] * kQuantFeel[(size_t) std::clamp (feelIndex, 0, 2)];
    return g > 0.0 ? g : 0.0;
}

double loopLengthBeats (int loopLengthIndex, double beatsPerBar) noexcept
{
    if (loopLengthIndex < 0 || loopLengthIndex >= (int) kLoopLengths.size())
        return 0.0;

    const auto& entry = kLoopLengths[(size_t) loopLengthIndex];
    const double beats = entry.isBars ? entry.value * beatsPerBar : entry.value;
    return beats > 0.0 ? beats : 0.0;
}

void TimelineScratch::reserve (size_t n)
{
    times.reserve (n);
    newTimes.reserve (n);
    order.reserve (n);
    events.reserve (n);
    flags.reserve (n);
}

double sumOfWaits (const std::vector<SeqEvent>& events) noexcept
{
    double sum = 0.0;
    for (const auto& e : events)
        sum += e.waitMs;
    return sum;
}

void absoluteTimes (const std::vector<SeqEvent>& events, std::vector<double>& times)
{
    times.resize (events.size());
    double t = 0.0;
    for (size_t i = 0; i < events.size(); ++i)
    {
        t += events[i].waitMs;
        times[i] = t;
    }
}

void rebuildWaits (std::vector<SeqEvent>& events, const std::vector<double>& times, TimelineScratch& scratch)
{
    const size_t n = std::min (events.size(), times.size());
    auto& order = scratch.order;
    order.resize (n);

    auto before = [&] (int a, int b)
    {
        const double ta = times[(size_t) a], tb = times[(size_t) b];
        if (ta != tb)
            return ta < tb;
        return ! events[(size_t) a].isNoteOn && events[(size_t) b].isNoteOn;
    };

    // Insertion sort: stable, allocation-free, and linear on the nearly sorted
    // lists that quantizing and cropping produce.
    for (size_t i = 0; i < n; ++i)
    {
        const int idx = (int) i;
        size_t j = i;
        while (j > 0 && before (idx, order[j - 1]))
        {
            order[j] = order[j - 1];
            --j;
        }
        order[j] = idx;
    }

    auto& sorted = scratch.events;
    sorted.clear();
    double previous = 0.0;
    for (size_t i = 0; i < n; ++i)
    {
        auto e = events[(size_t) order[i]];
        const double t = times[(size_t) order[i]];
        e.waitMs = std::max (t - previous, 0.0);
        previous = t;
        sorted.push_back (e);
    }

    events.swap (sorted);
}

void rebuildWaits (std::vector<SeqEvent>& events, const std::vector<double>& times)
{
    TimelineScratch scratch;
    rebuildWaits (events, times, scratch);
}

HumanizePair humanizeSingle (int note, int channel, double timeMs, int64_t seed) noexcept
{
    const uint64_t s = (uint64_t) seed * golden;
    const uint64_t e = hashKey (note, channel, timeMs) ^ s;
    return { unit (mix ((e ^ kMul) + golden)), unit (mix (e + golden)) };
}

double humanizeChordMember (int note, int channel, double timeMs, int64_t seed) noexcept
{
    const uint64_t key = hashKey (note, channel, timeMs);
    return unit (mix ((((uint64_t) seed * golden) ^ (key * 3 + 1)) + golden));
}

void quantizeTimeline (std::vector<SeqEvent>& events, double gridMs, int amountPercent, int64_t seed,
                       TimelineScratch& scratch)
{
    if (! (gridMs > 0.0) || events.empty())
        return;

    const double g = gridMs;
    const double q = std::clamp (amountPercent, -100, 100) / 100.0;
    const size_t n = events.size();

    auto& t = scratch.times;
    absoluteTimes (events, t);
    auto& T = scratch.newTimes;
    T.assign (t.begin(), t.end());
    auto& offTaken = scratch.flags;
    offTaken.assign (n, 0);

    size_t h0 = n;
    for (size_t i = 0; i < n; ++i)
        if (events[i].isNoteOn)
        {
            h0 = i;
            break;
        }

    // Each moved note-on takes its note-off along. A note-off serves one
    // note-on only, so overlapping notes of the same pitch keep their pairing.
    auto moveNoteOff = [&] (size_t v)
    {
        for (size_t j = v + 1; j < n; ++j)
        {
            const auto& e = events[j];
            if (! e.isNoteOn && ! offTaken[j] && e.note == events[v].note && e.channel == events[v].channel)
            {
                offTaken[j] = 1;
                T[j] = T[v] + (t[j] - t[v]);
                return;
            }
        }
    };

    for (size_t l = 0; l < n; ++l)
    {
        if (! events[l].isNoteOn)
            continue;

        size_t last = l;
        int members = 1;
        if (q < 0.0)
        {
            for (size_t j = l + 1; j < n && t[j] <= t[l] + 50.0; ++j)
                if (events[j].isNoteOn)
                {
                    last = j;
                    ++members;
                }
        }

        if (members >= 2)
        {
            double w = 0.5;
            if (l != h0)
            {
                double sum = 0.0;
                for (size_t j = l; j <= last; ++j)
                    if (events[j].isNoteOn)
                        sum += humanizeChordMember (events[j].note, events[j].channel, t[j], seed);
                w = sum / members;
            }

            for (size_t v = l; v <= last; ++v)
            {
                if (! events[v].isNoteOn)
                    continue;

                if (v != h0)
                {
                    const double r = humanizeChordMember (events[v].note, events[v].channel, t[v], seed);
                    T[v] = std::max (t[v] + gridShift (t[v], g, q) + (r - w) * (-q) * 24.0, 0.0);
                }
                moveNoteOff (v);
            }
        }
        else
        {
            if (q >= 0.0 || l != h0)
            {
                T[l] = t[l] + gridShift (t[l], g, q);
                if (q < 0.0)
                {
                    const auto r = humanizeSingle (events[l].note, events[l].channel, t[l], seed);
                    T[l] = std::max (T[l] + (1.0 - (r.r1 + r.r2)) * q * 45.0, 0.0);
                }
            }
            moveNoteOff (l);
        }

        l = last;
    }

    rebuildWaits (events, T, scratch);
}

void quantizeTimeline (std::vector<SeqEvent>& events, double gridMs, int amountPercent, int64_t seed)
{
    TimelineScratch scratch;
    quantizeTimeline (events, gridMs, amountPercent, seed, scratch);
}

void cropToLoopWindow (std::vector<SeqEvent>& events, double windowMs, TimelineScratch& scratch)
{
    if (! (windowMs > 0.0) || events.empty())
        return;

    const size_t n = events.size();
    auto& keptTimes = scratch.newTimes;
    keptTimes.clear();

    // Kept events are compacted into the front of `events` as we walk.
    double t = 0.0;
    size_t write = 0;
    auto& opens = scratch.order;     // where the kept, still open note-ons now stand
    opens.clear();

    for (size_t i = 0; i < n; ++i)
    {
        const SeqEvent e = events[i];
        t += e.waitMs;

        if (e.isNoteOn)
        {
            if (t <= windowMs + 1e-6)
            {
                opens.push_back ((int) write);
                events[write++] = e;
                keptTimes.push_back (t);
            }
            continue;
        }

        for (size_t k = 0; k < opens.size(); ++k)
        {
            const auto& on = events[(size_t) opens[k]];
            if (on.note == e.note && on.channel == e.channel)
            {
                opens.erase (opens.begin() + (std::ptrdiff_t) k);
                events[write++] = e;
                keptTimes.push_back (std::min (t, windowMs));
                break;
            }
        }
    }

    events.resize (write);
    // rebuildWaits works in scratch.order and scratch.events; give it the times apart.
    scratch.times.assign (keptTimes.begin(), keptTimes.end());
    rebuildWaits (events, scratch.times, scratch);
}

void cropToLoopWindow (std::vector<SeqEvent>& events, double windowMs)
{
    TimelineScratch scratch;
    cropToLoopWindow (events, windowMs, scratch);
}

bool legatoSeek (const std::vector<SeqEvent>& events, double seekMs, double samplesPerMs,
                 size_t& nextIndex, double& samplesToNext, std::vector<int>& openNoteOns)
{
    openNoteOns.clear();

    if (! (seekMs > 0.0) || events.size() < 2 || seekMs >= sumOfWaits (events))
        return false;

    double t = 0.0;
    for (size_t i = 0; i < events.size(); ++i)
    {
        const auto& e = events[i];
        t += e.waitMs;

        if (t > seekMs)
        {
            nextIndex = i;
            samplesToNext = (t - seekMs) * samplesPerMs;
            return true;
        }

        if (e.isNoteOn)
        {
            openNoteOns.push_back ((int) i);
        }
        else
        {
            for (auto it = openNoteOns.begin(); it != openNoteOns.end(); ++it)
            {
                const auto& on = events[(size_t) *it];
                if (on.note == e.note && on.channel == e.channel)
                {
                    openNoteOns.erase (it);
                    break;
                }
            }
        }
    }

    return false;
}

std::vector<SeqEvent> foldEvents (const std::vector<SeqEvent>& events, double loopMs, double gridMs,
                                  int amountPercent, double elapsedMs)
{
    std::vector<SeqEvent> out;
    if (! (loopMs > 0.0) || events.empty())
        return out;

    struct Open
    {
        int note, channel;
        double rawOnMs, foldedOnMs;
    };

    const double q = std::clamp (amountPercent, -100, 100) / 100.0;
    std::vector<double> times;
    std::vector<Open> open;
    out.reserve (events.size() + 8);
    times.reserve (events.size() + 8);

    double a = 0.0;
    for (const auto& e : events)
    {
        a += e.waitMs;

        if (e.isNoteOn)
        {
            double h = a;
            if (gridMs > 0.0)
            {
                const double m = h + gridShift (h, gridMs, q);
                if (q >= 0.0)
                {
                    h = m;
                }
                else
                {
                    const auto r = humanizeSingle (e.note, e.channel, a, 0);
                    h = std::max (m + (1.0 - (r.r1 + r.r2)) * q * 45.0, 0.0);
                }
            }

            double p = std::fmod (h, loopMs);
            if (p < 0.0)
                p += loopMs;

            out.push_back (e);
            times.push_back (p);
            open.push_back ({ e.note, e.channel, a, p });
            continue;
        }

        for (auto it = open.begin(); it != open.end(); ++it)
        {
            if (it->note == e.note && it->channel == e.channel)
            {
                out.push_back (e);
                times.push_back (std::min (loopMs, it->foldedOnMs + std::max (a - it->rawOnMs, 0.0)));
                open.erase (it);
                break;
            }
        }
    }

    for (const auto& o : open)
    {
        out.push_back ({ o.note, 0, o.channel, false, 0.0 });
        times.push_back (std::min (loopMs, o.foldedOnMs + std::max (0.001, std::max (elapsedMs - o.rawOnMs, 0.0))));
    }

    rebuildWaits (out, times);
    return out;
}
