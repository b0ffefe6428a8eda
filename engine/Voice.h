#pragma once

#include <cstdint>
#include <utility>
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

// A layer's overlap voices, oldest first. A fixed pool: voices are swapped in
// and out rather than created and destroyed, so their lists keep their
// capacity and the audio thread does not allocate.
class OverlapList
{
public:
    static constexpr size_t maxVoices = 16;

    OverlapList() : storage (maxVoices) {}

    size_t size() const noexcept { return count; }
    bool empty() const noexcept { return count == 0; }
    bool full() const noexcept { return count >= maxVoices; }

    Voice* begin() noexcept { return storage.data(); }
    Voice* end() noexcept { return storage.data() + count; }
    const Voice* begin() const noexcept { return storage.data(); }
    const Voice* end() const noexcept { return storage.data() + count; }
    Voice& operator[] (size_t i) noexcept { return storage[i]; }
    const Voice& operator[] (size_t i) const noexcept { return storage[i]; }

    // Moves v to the end of the list (the oldest is dropped when full) and
    // leaves v an idle voice.
    void pushBack (Voice& v) noexcept
    {
        if (full())
            removeIf ([this] (const Voice& o) { return &o == storage.data(); });

        std::swap (storage[count], v);
        v.reset();
        ++count;
    }

    // Removes the voices the predicate picks, keeping the order of the rest.
    template <typename Predicate>
    void removeIf (Predicate shouldRemove) noexcept
    {
        size_t write = 0;
        for (size_t read = 0; read < count; ++read)
        {
            if (shouldRemove (storage[read]))
            {
                storage[read].reset();
                continue;
            }
            if (write != read)
                std::swap (storage[write], storage[read]);
            ++write;
        }
        count = write;
    }

    void clear() noexcept
    {
        for (size_t i = 0; i < count; ++i)
            storage[i].reset();
        count = 0;
    }

private:
    std::vector<Voice> storage;
    size_t count = 0;
};

struct HeldKey
{
    int key = 0;
    int velocity = 0;
    int channel = 1;
};
