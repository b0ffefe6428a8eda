#pragma once

#include <memory>
#include <vector>

#include <juce_audio_basics/juce_audio_basics.h>

// One note event of a clip. The wait is relative to the previous event, in
// milliseconds at the clip's own tempo.
struct SeqEvent
{
    int note = 60;
    int velocity = 100;
    int channel = 1;
    bool isNoteOn = true;
    double waitMs = 0.0;
};

// The phrase stored on one key. Call recompute() after every change of events.
struct KeySequence
{
    std::vector<SeqEvent> events;
    int noteOnCount = 0;
    bool isSingleNote = false;
    bool isChord = false;
    double bpm = 120.0;
    double tailMs = 0.0;

    void recompute() noexcept;
    bool empty() const noexcept { return events.empty(); }
};

// Exact comparison of two event lists (waits compared bit for bit as doubles).
bool sameSeqEvents (const std::vector<SeqEvent>& a, const std::vector<SeqEvent>& b) noexcept;

// Audio attached to a key of layer 0. Never modified once attached: replacing a
// key's audio stores a new pointer, so voices still holding the old one stay valid.
struct KeyAudio
{
    juce::AudioBuffer<float> buffer;
    double sampleRate = 0.0;  // not above 0: the host's rate
    int rootNote = -1;        // negative: the key that holds it
    double bpm = 120.0;
    double tailMs = 0.0;

    bool hasFrames() const noexcept { return buffer.getNumChannels() > 0 && buffer.getNumSamples() > 0; }
};

struct AudioClipboardItem
{
    int keyOffset = 0;
    std::shared_ptr<const KeyAudio> audio;
};
