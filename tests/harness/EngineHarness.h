#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <array>
#include <vector>

#include <juce_audio_processors/juce_audio_processors.h>

#include "engine/PluginProcessor.h"

namespace qtest
{
// A host's transport as the processor sees it through getPlayHead().
struct FakePlayHead : juce::AudioPlayHead
{
    bool hasPosition = true;   // false: the host answers without a position
    bool playing = false;
    juce::Optional<double> bpm { 120.0 };
    juce::Optional<double> ppq { 0.0 };
    juce::Optional<juce::AudioPlayHead::TimeSignature> timeSignature { juce::AudioPlayHead::TimeSignature {} };

    juce::Optional<PositionInfo> getPosition() const override;
};

// One MIDI message at an absolute sample time of the engine clock.
struct TimedMessage
{
    int64_t time = 0;
    juce::MidiMessage message;
};

// Drives a PluginProcessor as a host would: blocks of a chosen size and rate,
// input MIDI at absolute sample positions, a fake play head (or none), and the
// output collected with absolute sample times.
class EngineHarness
{
public:
    struct Options
    {
        double sampleRate = 48000.0;
        int blockSize = 128;
        bool prepare = true;       // false: the host never calls prepareToPlay
        bool withPlayHead = true;  // false: the host gives no play head at all
    };

    EngineHarness();
    explicit EngineHarness (Options options);

    PluginProcessor& proc() { return *processor; }

    // Puts a clip on a key (layer 0..3), taking the lock like an editor would.
    void setClip (int key, KeySequence clip, int layer = 0);

    // Shows `visibleLayers` layers and focuses `layer`, as a layer switch leaves them.
    void focusLayer (int layer, int visibleLayers);

    void schedule (int64_t time, const juce::MidiMessage& message);
    void noteOn (int64_t time, int key, int velocity = 100, int channel = 1);
    void noteOff (int64_t time, int key, int channel = 1);
    void controller (int64_t time, int number, int value, int channel = 1);
    int modifierKey (int index) const;

    // Runs whole blocks until the clock reaches at least `time`; returns what
    // those blocks sent. Everything sent so far is also kept in output().
    std::vector<TimedMessage> runUntil (int64_t time);
    std::vector<TimedMessage> runBlocks (int count);

    int64_t now() const { return clock; }
    const std::vector<TimedMessage>& output() const { return allOutput; }
    int blockSize() const { return opts.blockSize; }
    double sampleRate() const { return opts.sampleRate; }

    FakePlayHead playHead;

    // When set, every block's audio output is appended here (per channel).
    bool captureAudio = false;
    std::array<std::vector<float>, 2> audioOut;

    // Called right before and after each processBlock call (e.g. to count allocations).
    void (*beforeBlock)() = nullptr;
    void (*afterBlock)() = nullptr;

private:
    std::vector<TimedMessage> runOneBlock();

    Options opts;
    std::unique_ptr<PluginProcessor> processor;
    juce::AudioBuffer<float> audio;
    juce::MidiBuffer midi;
    std::vector<TimedMessage> pending;   // sorted by time; [0, nextPending) already sent
    size_t nextPending = 0;
    std::vector<TimedMessage> allOutput;
    int64_t clock = 0;
};

// Puts audio on layer-0 keys the way a host does: through a state document.
// (Everything else of the state goes back to its defaults.)
void loadAudioKeys (PluginProcessor& p, const std::vector<std::pair<int, std::shared_ptr<const KeyAudio>>>& audio,
                    const std::vector<std::pair<int, KeySequence>>& clips = {});

// A note of a clip, in clip milliseconds.
struct ClipNote
{
    int note;
    double startMs;
    double lengthMs;
    int velocity = 100;
    int channel = 1;
};

// Builds a clip (events in time order, flags recomputed) from notes.
KeySequence makeClip (const std::vector<ClipNote>& notes, double bpm = 120.0, double tailMs = 0.0);

// Points the processor's settings and presets at a fresh temporary folder
// (QUORVEL_DATA_DIR), so test and benchmark programs never touch the user's own.
juce::File useTemporaryDataFolder();

// Filters for assertions.
std::vector<TimedMessage> messagesWhere (const std::vector<TimedMessage>& messages,
                                         const std::function<bool (const juce::MidiMessage&)>& keep);
std::vector<TimedMessage> noteOnsOf (const std::vector<TimedMessage>& messages);
std::vector<TimedMessage> noteOffsOf (const std::vector<TimedMessage>& messages);
juce::MidiMessage makeMessage (std::initializer_list<int> bytes);
std::vector<TimedMessage> notesOf (const std::vector<TimedMessage>& messages, int note);

// Samples of an absolute time in milliseconds.
inline int64_t msToSamples (double ms, double rate) { return (int64_t) std::floor (ms * rate / 1000.0 + 1e-9); }
}
