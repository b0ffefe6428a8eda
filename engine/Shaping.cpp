#include "engine/PluginProcessor.h"

#include <algorithm>
#include <cmath>

// Note shaping: key snap with the live scale and tonic detection, and
// velocity control. (The octave transposition is transposeForLayer.)

namespace
{
constexpr double majorProfile[12] { 6.35, 2.23, 3.48, 2.33, 4.38, 4.09, 2.52, 5.19, 2.39, 3.66, 2.29, 2.88 };
constexpr double minorProfile[12] { 6.33, 2.68, 3.52, 5.38, 2.60, 3.53, 2.54, 4.75, 3.98, 2.69, 3.34, 3.17 };

int pitchClass (int n) noexcept { return ((n % 12) + 12) % 12; }

double pearson (const double* h, const double* profile, int tonic) noexcept
{
    double meanH = 0.0, meanP = 0.0;
    for (int p = 0; p < 12; ++p)
    {
        meanH += h[p];
        meanP += profile[pitchClass (p - tonic)];
    }
    meanH /= 12.0;
    meanP /= 12.0;

    double cov = 0.0, varH = 0.0, varP = 0.0;
    for (int p = 0; p < 12; ++p)
    {
        const double dh = h[p] - meanH, dp = profile[pitchClass (p - tonic)] - meanP;
        cov += dh * dp;
        varH += dh * dh;
        varP += dp * dp;
    }

    const double denominator = varH * varP;
    return denominator > 0.0 ? cov / std::sqrt (denominator) : -2.0;
}
}

bool PluginProcessor::keySnapAdmits (int key, int layer) const
{
    if (layer < 0 || layer >= numLayers || ! layerKeysnap[(size_t) layer].load())
        return true;

    if (key >= 24 && key <= 107)
        return inModifierZone (key) || (key >= snapRangeStart && key <= snapRangeEnd);

    return snapRangeStart <= 24 && snapRangeEnd >= 107;
}

int PluginProcessor::snapNote (int note) const
{
    if (std::none_of (scalePitchClasses.begin(), scalePitchClasses.end(), [] (bool b) { return b; }))
        return note;

    note = std::clamp (note, 0, 127);
    auto inScale = [this] (int n) { return scalePitchClasses[(size_t) pitchClass (n)]; };
    if (inScale (note))
        return note;

    auto degree = [this] (int n) { return (int) std::lround (pitchClass (n - detectedTonic) * 7.0 / 12.0); };

    for (int d = 1; d <= 12; ++d)
    {
        const bool up = note + d <= 127 && inScale (note + d);
        const bool down = note - d >= 0 && inScale (note - d);
        if (up && down)
        {
            // Prefer the neighbour that keeps the note's scale degree.
            const int own = degree (note);
            return degree (note + d) == own && degree (note - d) != own ? note + d : note - d;
        }
        if (up)
            return note + d;
        if (down)
            return note - d;
    }

    return note;
}

int PluginProcessor::emitVel (int velocity, const Voice& voice) const
{
    const int source = velModSource.load();
    if (voice.fixedVelocity || ! velControlPower.load() || source < 1 || source > 4)
        return std::clamp (velocity, 1, 127);

    int control = voice.velocity;
    if (source == 2 || source == 3)
        control = modSourceValue;
    else if (source == 4)
        control = polyPressure[(size_t) std::clamp (voice.key, 0, 127)];

    const double a = velControlAmount.load() * 0.01;
    return std::clamp ((int) std::lround (control * a + velocity * (1.0 - a)), 1, 127);
}

int PluginProcessor::scaleMask() const
{
    int mask = 0;
    for (int pc = 0; pc < 12; ++pc)
        if (scalePitchClasses[(size_t) pc])
            mask |= 1 << pc;
    return mask;
}

void PluginProcessor::setKeySnapRange (int a, int b)
{
    const std::lock_guard<std::mutex> lock (keyDataMutex);

    a = std::clamp (a, 24, 107);
    b = std::clamp (b, 24, 107);
    const int start = std::min (a, b), end = std::max (a, b);
    const bool wasWhole = snapRangeStart <= 24 && snapRangeEnd >= 107;
    const bool whole = start == 24 && end == 107;
    const bool anySet = std::any_of (scalePitchClasses.begin(), scalePitchClasses.end(), [] (bool x) { return x; });

    if (wasWhole && ! whole && savedScaleValid && ! anySet)
        scalePitchClasses = savedPitchClasses;

    if (whole)
    {
        // The whole keyboard plays: no keys are left to hold a scale, so it is
        // put aside until a range leaves room again.
        if (! wasWhole && anySet)
        {
            savedPitchClasses = scalePitchClasses;
            savedScaleValid = true;
        }
        scalePitchClasses.fill (false);
        scaleKeysHeld.reset();
    }

    snapRangeStart = start;
    snapRangeEnd = end;
    keySnapStart.store (start);
    keySnapEnd.store (end);
    keySnapScale.store (scaleMask());
    scaleRescanRequested.store (true);
}

void PluginProcessor::rescanScale()
{
    double h[12] {};
    bool anyNote = false;

    auto addClip = [&] (const KeySequence& s)
    {
        const auto& ev = s.events;
        for (size_t i = 0; i < ev.size(); ++i)
        {
            if (! ev[i].isNoteOn)
                continue;

            anyNote = true;
            double duration = 0.0;
            for (size_t j = i + 1; j < ev.size(); ++j)
            {
                duration += ev[j].waitMs;
                if (! ev[j].isNoteOn && ev[j].note == ev[i].note && ev[j].channel == ev[i].channel)
                    break;
            }
            h[pitchClass (ev[i].note)] += duration > 0.0 ? duration : 1.0;
        }
    };

    for (const auto& s : keys)
        addClip (s);
    for (const auto& layer : upperKeys)
        for (const auto& s : layer)
            addClip (s);

    if (! anyNote)
        for (int p = 0; p < 12; ++p)
            h[p] = scalePitchClasses[(size_t) p] ? 1.0 : 0.0;

    double best = -2.0;
    int tonic = -1;
    for (int t = 0; t < 12; ++t)
    {
        const double score = std::max (pearson (h, majorProfile, t), pearson (h, minorProfile, t));
        if (score > best)
        {
            best = score;
            tonic = t;
        }
    }

    if (tonic >= 0)
        detectedTonic = tonic;
}

void PluginProcessor::scaleKeyDown (int key)
{
    if (key < 0 || key >= numKeys)
        return;

    // A chord pressed after all scale keys were up replaces the scale.
    if (scaleKeysHeld.none())
        scalePitchClasses.fill (false);

    scalePitchClasses[(size_t) pitchClass (key)] = true;
    scaleKeysHeld.set ((size_t) key);
    scaleRescanRequested.store (true);
}

void PluginProcessor::scaleKeyUp (int key)
{
    if (key >= 0 && key < numKeys)
        scaleKeysHeld.reset ((size_t) key);
}

void PluginProcessor::resnapSoundingNotes (juce::MidiBuffer& out)
{
    const bool snap = layerKeysnap[0].load();

    auto resnap = [&] (Voice& v)
    {
        for (auto& n : v.sounding)
        {
            int wanted = std::clamp (n.sourceNote + n.transpose, 0, 127);
            if (snap)
                wanted = snapNote (wanted);

            if (wanted == n.emittedNote)
                continue;

            setEmitContext (v, 0);
            emitBypassCascade = n.isDry;
            emitNoteOff (out, n.channel, n.emittedNote, 0);
            emitNoteOn (out, n.channel, wanted, n.velocity, 0);
            n.emittedNote = wanted;
        }
        emitBypassCascade = false;
    };

    for (auto& v : voices)
        resnap (v);
    for (auto& v : overlapVoices)
        resnap (v);
}
