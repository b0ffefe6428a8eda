#include "engine/KeySequence.h"

#include <cmath>

void KeySequence::recompute() noexcept
{
    noteOnCount = 0;
    bool sawNoteOff = false;
    bool noteOnAfterOff = false;
    double firstOnMs = 0.0, lastOnMs = 0.0, timeMs = 0.0;

    for (const auto& e : events)
    {
        timeMs += e.waitMs;

        if (e.isNoteOn)
        {
            if (noteOnCount == 0)
                firstOnMs = timeMs;

            lastOnMs = timeMs;
            ++noteOnCount;

            if (sawNoteOff)
                noteOnAfterOff = true;
        }
        else
        {
            sawNoteOff = true;
        }
    }

    isSingleNote = (noteOnCount == 1);
    isChord = noteOnCount > 1 && ! noteOnAfterOff && (lastOnMs - firstOnMs) <= 50.0;
}

bool sameSeqEvents (const std::vector<SeqEvent>& a, const std::vector<SeqEvent>& b) noexcept
{
    if (a.size() != b.size())
        return false;

    for (size_t i = 0; i < a.size(); ++i)
    {
        const auto& x = a[i];
        const auto& y = b[i];

        // NaN never equals anything, including itself, which is what we want here.
        if (x.note != y.note || x.velocity != y.velocity || x.channel != y.channel
            || x.isNoteOn != y.isNoteOn || ! (x.waitMs == y.waitMs))
            return false;
    }

    return true;
}
