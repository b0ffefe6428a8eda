#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "engine/KeySequence.h"

// Timeline operations on clips: they work on absolute times (running sums of
// the waits), then re-sort and rebuild the waits. Free functions so recording,
// playback, export and tests share one implementation.

// Grid note lengths in beats: "1/1", "1/2", "1/4", "1/8", "1/16", "1/32".
inline constexpr std::array<double, 6> kQuantNoteBeats { 4.0, 2.0, 1.0, 0.5, 0.25, 0.125 };

// Feels: "Straight", "Dotted", "Triplet" (a feel index is clamped to 0..2).
inline constexpr std::array<double, 4> kQuantFeel { 1.0, 1.5, 0.6666666666666666, 0.0 };

struct LoopLength
{
    double value;
    bool isBars;
    const char* label;
};

inline constexpr std::array<LoopLength, 8> kLoopLengths { {
    { 0.5, false, "1/8" }, { 1.0, false, "1/4" }, { 2.0, false, "1/2" },
    { 1.0, true, "1 Bar" }, { 2.0, true, "2 Bars" }, { 3.0, true, "3 Bars" },
    { 4.0, true, "4 Bars" }, { 8.0, true, "8 Bars" },
} };

// A quantize grid in beats for a note index and feel index; 0 when invalid.
double quantGridBeats (int noteIndex, int feelIndex) noexcept;

// A loop length in beats for a loop-length index; 0 when invalid.
double loopLengthBeats (int loopLengthIndex, double beatsPerBar) noexcept;

// Working memory for the operations below, so the audio thread can run them
// without allocating once the buffers have grown to the largest clip.
struct TimelineScratch
{
    void reserve (size_t events);

    std::vector<double> times;
    std::vector<double> newTimes;
    std::vector<int> order;
    std::vector<SeqEvent> events;
    std::vector<char> flags;
};

double sumOfWaits (const std::vector<SeqEvent>& events) noexcept;
void absoluteTimes (const std::vector<SeqEvent>& events, std::vector<double>& times);

// Orders events by time (stable; at equal times a note-off before a note-on)
// and rebuilds their waits from the given absolute times.
void rebuildWaits (std::vector<SeqEvent>& events, const std::vector<double>& times, TimelineScratch& scratch);
void rebuildWaits (std::vector<SeqEvent>& events, const std::vector<double>& times);

// Moves note-ons amountPercent (-100..100) of the way to the nearest line of a
// grid of gridMs; negative amounts push them away and add a deterministic
// jitter derived from seed. Note durations are kept.
void quantizeTimeline (std::vector<SeqEvent>& events, double gridMs, int amountPercent, int64_t seed,
                       TimelineScratch& scratch);
void quantizeTimeline (std::vector<SeqEvent>& events, double gridMs, int amountPercent, int64_t seed);

// Crops a play list to its first windowMs: later note-ons go, notes held over
// the end are cut at the end, note-offs without an open note go.
void cropToLoopWindow (std::vector<SeqEvent>& events, double windowMs, TimelineScratch& scratch);
void cropToLoopWindow (std::vector<SeqEvent>& events, double windowMs);

// Folds a take of several laps onto one loop of loopMs. Note-ons are first
// input-quantized (gridMs 0: not at all); a note keeps its played length but
// never passes the loop's end; notes still open are closed with the time that
// has elapsed since the take began (elapsedMs). Empty when loopMs is not above 0.
std::vector<SeqEvent> foldEvents (const std::vector<SeqEvent>& events, double loopMs, double gridMs,
                                  int amountPercent, double elapsedMs);

// Where a clip stands at seekMs: the index of the next event, the samples to
// it, and the note-ons open at that point. False (nothing found) when seekMs
// is not above 0, the clip has fewer than two events, or seekMs is at or past
// its end.
bool legatoSeek (const std::vector<SeqEvent>& events, double seekMs, double samplesPerMs,
                 size_t& nextIndex, double& samplesToNext, std::vector<int>& openNoteOns);

// The humanize jitter: deterministic pseudo-random numbers in [0, 1).
struct HumanizePair
{
    double r1, r2;
};
HumanizePair humanizeSingle (int note, int channel, double timeMs, int64_t seed) noexcept;
double humanizeChordMember (int note, int channel, double timeMs, int64_t seed) noexcept;
