#pragma once

#include <cstdint>
#include <vector>

#include "engine/KeySequence.h"

// A note a voice (or a pass-through) has sent a note-on for and not yet ended.
struct SoundingNote
{
    int sourceNote = 0;
    int emittedNote = 0;
    int channel = 1;
    int velocity = 1;
    int sourceIndex = -1;
    int transpose = 0;
    bool isDry = false;
};

// One playing instance of a key's clip. Moved, never copied: reset() keeps the
// lists' capacity so a voice slot that plays again does not allocate.
struct Voice
{
    Voice();
    Voice (Voice&&) noexcept = default;
    Voice& operator= (Voice&&) noexcept = default;
    Voice (const Voice&) = delete;
    Voice& operator= (const Voice&) = delete;

    void reset() noexcept;

    bool isActiveOrSounding() const noexcept { return active || ! sounding.empty(); }

    bool active = false;
    int key = -1;
    int velocity = 64;
    int channel = 1;
    std::vector<SeqEvent> events;
    std::vector<SeqEvent> sourceEvents;
    int64_t anchorSample = 0;
    uint64_t nextIndex = 0;
    double samplesToNext = 0.0;
    double sampleFraction = 0.0;
    int blockOffset = 0;
    double bpm = 120.0;
    double cycleStartSample = 0.0;
    std::vector<SoundingNote> sounding;
    bool isPhrase = false;
    bool loopAllowed = false;
    double cycleMs = 0.0;
    double tailMs = 0.0;
    bool croppedToWindow = false;
    bool requantizeOnWrap = false;
    double startSample = -1.0;
    bool hasWrapped = false;
    bool noWrap = false;
    bool excludedFromCapture = false;
    bool soundsWhenMuted = false;
    bool fixedVelocity = false;
    std::vector<int> sourceIndexMap;
    double displayPlayheadMs = -1.0;
    bool stepFrozen = false;
};

struct HeldKey
{
    int key = 0;
    int velocity = 0;
    int channel = 1;
};
