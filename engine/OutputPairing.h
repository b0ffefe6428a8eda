#pragma once

#include <array>
#include <cstdint>

#include <juce_audio_basics/juce_audio_basics.h>

// How many sources hold each channel and key on the output, and when the last
// note-on for it was sent (sample clock; -1 after an all-notes-off).
struct OutputNoteTable
{
    std::array<std::array<int, 128>, 16> count {};
    std::array<std::array<int64_t, 128>, 16> lastOnTime {};

    void clearCounts() noexcept
    {
        for (auto& row : count)
            row.fill (0);
    }
};

// Keeps note-ons and note-offs paired per channel and key on the way to the
// host: a duplicate note-on at the same instant is merged, a note-on over a
// held note is preceded by a note-off, and a note-off goes out only when the
// last holder lets go. blockStartTime is the sample clock that sample
// position 0 of the block maps to.
void pairOutputNotes (const juce::MidiBuffer& in, juce::MidiBuffer& result,
                      OutputNoteTable& table, int64_t blockStartTime);
