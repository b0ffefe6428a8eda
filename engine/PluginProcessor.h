#pragma once

#include <array>
#include <atomic>
#include <bitset>
#include <deque>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include <juce_audio_processors/juce_audio_processors.h>

#include "engine/AudioLinkHub.h"
#include "engine/KeySequence.h"
#include "engine/StretchProcessor.h"
#include "engine/OutputPairing.h"
#include "engine/Timeline.h"
#include "engine/UpperLayer.h"
#include "engine/Voice.h"
#include "persistence/UserSettings.h"

// The plug-in's processor. It owns all engine state; the block loop runs on the
// audio thread under keyDataMutex, and the editor reaches the engine only
// through the atomics below and the query operations.
//
// The implementation is split by concern: ProcessorShell.cpp (host-facing
// parts, construction, preparation), ProcessorQueries.cpp, BlockLoop.cpp,
// Voices.cpp, Triggering.cpp, Timing.cpp, Layers.cpp, Shaping.cpp,
// Modifiers.cpp, AudioKeys.cpp, AudioLink.cpp, and under recording/ and
// persistence/ the capture, step recording, undo, state and preset parts.
class PluginProcessor : public juce::AudioProcessor
{
public:
    using KeyAudio = ::KeyAudio;
    static constexpr int numKeys = 128;
    static constexpr int numLayers = 4;
    static constexpr int numChannels = 16;
    static constexpr int numModifiers = 12;
    static constexpr int maxOverlapsPerLayer = (int) OverlapList::maxVoices;
    // Clip size the audio thread's working lists are reserved for.
    static constexpr size_t scratchTimelineEvents = 4096;

    enum ModifierIndex
    {
        modRecord = 0, modUndo, modThru, modRedo, modStepBackward, modStepForward,
        modHigherKeyboard, modLowerKeyboard, modTransposeUp, modTransposeDown,
        modSpeedUp, modSlowDown
    };

    PluginProcessor();
    ~PluginProcessor() override;

    //==============================================================================
    // What the host sees
    const juce::String getName() const override { return "Quorvel"; }
    bool isBusesLayoutSupported (const BusesLayout& layouts) const override;
    bool acceptsMidi() const override { return true; }
    bool producesMidi() const override { return true; }
    bool isMidiEffect() const override { return true; }
    double getTailLengthSeconds() const override { return 0.0; }

    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram (int) override {}
    // VST3 validators reject an unnamed program, so the one program has a name.
    const juce::String getProgramName (int) override { return "Default"; }
    void changeProgramName (int, const juce::String&) override {}

    bool hasEditor() const override { return true; }
    juce::AudioProcessorEditor* createEditor() override;

    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;

    void prepareToPlay (double rate, int maximumBlockSize) override;
    void releaseResources() override;
    void processBlock (juce::AudioBuffer<float>& audio, juce::MidiBuffer& midi) override;
    using juce::AudioProcessor::processBlock;

    //==============================================================================
    // Queries for the editor; each takes keyDataMutex for the time of its copy.
    KeySequence getKeySequence (int key, int layer) const;
    std::set<int> getActiveHeldKeys (int layer) const;
    std::map<int, std::vector<int>> getActiveSoundingIndices (int layer) const;
    std::map<int, std::vector<double>> getActivePlayheads (int layer) const;
    std::vector<int> getArmedDestKeys() const;

    //==============================================================================
    // Key content
    std::array<KeySequence, numKeys> keys;
    std::array<std::array<KeySequence, numKeys>, 3> upperKeys;
    std::array<std::shared_ptr<const KeyAudio>, numKeys> keyAudio;
    mutable std::mutex keyDataMutex;

    // Shared by every instance in the process.
    static std::mutex audioClipboardMutex;
    static juce::String audioClipboardToken;
    static std::vector<AudioClipboardItem> audioClipboardItems;

    //==============================================================================
    // Settings: written by the editor and the state document, read by the audio thread.
    std::atomic<int> modOctaveBase { 48 };
    std::atomic<int> transpose1 { 0 }, transpose2 { 0 };
    std::atomic<int> speed1Idx { 4 }, speed2Idx { 4 };
    std::atomic<int> repeat1Rate { 2 }, repeat2Rate { 2 };
    std::atomic<int> invert1Dir { 0 }, invert2Dir { 1 };
    std::atomic<bool> stepChordAware { true };
    std::atomic<double> sliceOffsetMs { 0.0 };
    std::atomic<bool> inputQuantPower { false };
    std::atomic<int> inputQuantNote { 4 }, inputQuantFeel { 0 }, inputQuantAmount { 100 };
    std::atomic<bool> launchQuantPower { false };
    std::atomic<int> launchQuantNote { 4 }, launchQuantFeel { 0 };
    std::atomic<bool> loopEnabled { false };
    std::atomic<int> loopLengthIdx { -1 };
    std::atomic<int> keyboardInteraction { 2 };
    std::atomic<bool> cascadeEnabled { true };
    std::atomic<int> triggerMode { 1 };
    std::atomic<bool> liveResample { false };
    std::atomic<int> velModSource { 1 };
    std::atomic<bool> velControlPower { true };
    std::atomic<int> velControlAmount { 50 };
    std::atomic<bool> monoMode { false }, legato { false };
    std::atomic<int> focusedLayer { 0 }, visibleLayers { 1 };
    std::array<std::atomic<bool>, numLayers> layerDry;
    std::array<std::atomic<bool>, numLayers> layerKeysnap;
    std::atomic<int> keySnapStart { 24 }, keySnapEnd { 107 }, keySnapScale { 0 };

    //==============================================================================
    // Requests from the editor, exchanged back to their idle value by the next block.
    std::atomic<bool> allNotesOffRequested { false };
    std::atomic<bool> scaleRescanRequested { true };
    std::atomic<int> pendingModOctaveBase { -1 };
    std::array<std::array<std::atomic<uint64_t>, 2>, numLayers> stopKeyRequests;
    std::atomic<uint32_t> modifierToggleRequests { 0 };
    std::atomic<int> undoRedoRequest { 0 };
    std::atomic<int> selectedKeyRequest { -2 };
    std::atomic<bool> requantizeRequested { false };

    //==============================================================================
    // Published at the end of every block for the editor.
    struct Published
    {
        Published();
        std::array<std::atomic<bool>, numModifiers> modifierHeld;
        std::array<std::atomic<bool>, numModifiers> modifierLatched;
        std::atomic<bool> captureArmed { false };
        std::atomic<bool> pickDestinationOnFirstKey { false };
        std::atomic<bool> captureTriggersKeys { false };
        std::atomic<int> captureLayer { 0 };
        std::atomic<int> lastPlayedKey { 60 };
        std::array<std::atomic<int>, numKeys> noteOnCount;
        std::array<std::atomic<int>, numKeys> soundingChannel;
        std::atomic<double> captureLoopMs { 0.0 };
        std::atomic<double> takeElapsedMs { 0.0 };
        std::atomic<double> takeProjectedMs { 0.0 };
        std::atomic<double> loopPositionMs { -1.0 };
        std::atomic<bool> stepRecording { false };
        std::atomic<double> stepCursorMs { 0.0 };
    };
    Published published;

    //==============================================================================
    // Transport and clock (audio thread)
    double sampleRate = 44100.0;
    int64_t samplePosition = 0;
    double hostBpm = 120.0;
    double beatsPerBar = 4.0;
    double hostPpq = 0.0;
    bool hostIsPlaying = false;
    bool wasPlaying = false;

    // Layer and performance state (audio thread)
    int playLayer = 0;
    std::atomic<int> appliedModOctaveBase { 48 };
    int appliedVisibleLayers = 1;
    int appliedTriggerMode = 1;
    std::array<bool, numModifiers> modifierHeld {};
    std::array<bool, numModifiers> modifierLatched {};
    std::array<bool, numKeys> inputKeyDown {};
    std::array<int, numChannels> lastNoteOfChannel {};
    int modSourceValue = 127;
    std::array<int, numKeys> polyPressure {};
    std::array<bool, numLayers> layerOutputMuted {};
    OutputNoteTable outputNotes;
    std::array<juce::MidiKeyboardState, numLayers> uiKeyboardStates;

    //==============================================================================
    // Voices and emission
    std::array<Voice, numKeys> voices;
    OverlapList overlapVoices;
    std::array<UpperLayer, 3> upperLayers;

    int emitLayer = 0;
    int emitSourceKey = -1;
    bool emitExcludedFromCapture = false;
    bool emitBypassCascade = false;
    bool emitSoundsWhenMuted = false;

    std::array<int, numKeys> keySoundingCount {};
    std::array<int, numKeys> keySoundingChannel {};

    void startVoice (int key, int velocity, int channel, int sampleOffset, double rate, juce::MidiBuffer& out);
    void startClipVoice (int layer, int key, int velocity, int channel, int sampleOffset, double rate,
                         juce::MidiBuffer& out, bool loopAllowed);
    void emitNoteOn (juce::MidiBuffer& out, int channel, int note, int velocity, int sampleOffset);
    void emitNoteOff (juce::MidiBuffer& out, int channel, int note, int sampleOffset);
    void advanceVoice (Voice& voice, int layer, int numSamples, juce::MidiBuffer& out);
    void advanceLayer0Voices (int numSamples, juce::MidiBuffer& out);
    void voiceNoteOn (Voice& voice, int layer, size_t eventIndex, int sampleOffset, juce::MidiBuffer& out);
    void startOpenNotes (Voice& voice, int layer, const std::vector<int>& eventIndices, int sampleOffset, juce::MidiBuffer& out);
    void syncSoundingToOpenNotes (Voice& voice, int layer, const std::vector<int>& openNoteOns, int sampleOffset,
                                  juce::MidiBuffer& out);
    void setEmitContext (const Voice& voice, int layer);
    void releaseVoiceTail (Voice& voice, juce::MidiBuffer& out, int sampleOffset);
    void silenceVoice (Voice& voice, int layer, int sampleOffset, juce::MidiBuffer& out);
    void endDryNotes (Voice& voice, int layer, int sampleOffset, juce::MidiBuffer& out);
    void killVoice (int key, int sampleOffset, juce::MidiBuffer& out);
    void killVoiceUpper (int layer, int key, int sampleOffset, juce::MidiBuffer& out);
    void killOverlaps (int layer, int key, int sampleOffset, juce::MidiBuffer& out);
    void demoteToOverlap (int layer, int key, int sampleOffset, juce::MidiBuffer& out);
    void startPassthroughVoice (int key, int velocity, int channel, int sampleOffset, juce::MidiBuffer& out);
    double voiceElapsedMs (const Voice& voice, double rate, int layer = 0, int sampleOffset = 0) const;
    double voicePlayheadMs (const Voice& voice, int layer) const;
    double voiceSamplesPerMs (const Voice& voice, int layer, double rate) const;
    int transposeForLayer (int layer) const;
    int shapeNote (int note, int layer) const;
    bool anyVoicePlaying() const;
    Voice& voiceFor (int layer, int key);
    const Voice& voiceFor (int layer, int key) const;
    OverlapList& overlapsFor (int layer);
    const OverlapList& overlapsFor (int layer) const;

    //==============================================================================
    // Triggering, trigger modes and clip polyphony
    std::array<bool, numKeys> keyHeld {};
    std::vector<HeldKey> heldKeys;
    int monoKey = -1;
    int lastStartedKey = -1;
    double legatoSeekMs = -1.0;
    bool suppressLegatoNotes = false;
    std::array<bool, numKeys> ignoreNextRelease {};

    void handlePlayableNoteOn (int key, int velocity, int channel, int sampleOffset, juce::MidiBuffer& out, double rate);
    void handlePlayableNoteOff (int key, int sampleOffset, juce::MidiBuffer& out, double rate);
    void triggerPlayable (int key, int velocity, int channel, int sampleOffset, juce::MidiBuffer& out, double rate);
    void stopPlayable (int key, int sampleOffset, juce::MidiBuffer& out);
    void releasePlayable (int key, int sampleOffset, juce::MidiBuffer& out);
    bool keyHasContent (int key) const;
    void releaseLatchedKeysOnModeChange (juce::MidiBuffer& out);
    void removeHeldKey (std::vector<HeldKey>& stack, int key);

    //==============================================================================
    // Launch quantize, loop window and playback speed
    int64_t launchAnchorSample = -1;
    double launchAnchorPpq = -1.0;
    int64_t lastLaunchArrival = 0;
    int64_t lastActivitySample = -1;
    double pendingLaunchSample = 0.0;
    bool launchPending = false;
    double appliedSpeed = 1.0;
    double desiredSpeed = 1.0;
    int64_t speedChangeSample = -1;
    bool speedSeenPlaying = false;

    struct Launch
    {
        double delay = 0.0;  // samples until the voice's launch
        double late = 0.0;   // samples the voice joins an earlier launch by
    };

    double launchGridBeats() const;
    double inputGridBeats() const;
    double loopLengthBeatsNow() const;
    double launchGridSamples (double rate) const;
    Launch launchFor (int key, int sampleOffset, double rate);
    double nextLaunchGridLine (double now, double rate) const;
    double globalLoopWindowStart (double start, double lengthSamples, double rate) const;
    void applyPlaybackQuantize (std::vector<SeqEvent>& events, int64_t anchor, double bpm);
    bool tryLoopWrap (Voice& voice, int layer, int pos, double rate, juce::MidiBuffer& out);
    void alignToLoopWindow (Voice& voice, int sampleOffset, double samplesPerMs, double& legatoSeekMs);
    void applyDesiredSpeed (double speed, int numSamples);
    double speedMulForLayer (int layer) const;
    void requantizeActiveVoices (juce::MidiBuffer& out);
    void requantizeVoice (Voice& voice, int layer, juce::MidiBuffer& out);
    void clearLaunchState();

    // Audio-thread working memory for the timeline operations.
    TimelineScratch timelineScratch;
    std::vector<int> legatoOpenNotes;
    std::vector<SeqEvent> requantizeEvents;

    //==============================================================================
    // Upper layers and cascade
    std::array<juce::MidiBuffer, 3> upperInput;
    std::array<std::array<int, numKeys>, numLayers> layerNoteCount {};
    std::array<std::array<bool, numKeys>, numLayers> layerNoteConsumed {};
    std::vector<CascadeTap> cascadeTaps;
    std::vector<CascadeLink> cascadeLinks;

    std::vector<std::pair<int, int>> upperReleases;   // (key, sample position), per layer and block

    void playUpperLayer (int layer, int numSamples, juce::MidiBuffer& out);
    void triggerUpperNoteOn (int layer, int key, int velocity, int channel, int sampleOffset, double rate,
                             juce::MidiBuffer& out, bool passThrough, bool loopAllowed);
    void releaseUpperKey (int layer, int key, int sampleOffset, juce::MidiBuffer& out, double rate);
    void startVoiceUpper (int layer, int key, int velocity, int channel, int sampleOffset, juce::MidiBuffer& out, bool loopAllowed);
    void setLayerMuted (int layer, bool muted, juce::MidiBuffer& out);
    void resetLayer (int layer, juce::MidiBuffer& out);
    void resetLayerPlayState (int layer);
    void openCascadeNote (int layer, int note, int velocity, int channel, int sampleOffset);
    void closeCascadeNote (int layer, int note, int channel, int sampleOffset);
    void clearCascadeState();

    //==============================================================================
    // Note shaping: key snap, transposition, velocity control
    int snapRangeStart = 24;
    int snapRangeEnd = 107;
    std::array<bool, 12> scalePitchClasses {};
    std::bitset<numKeys> scaleKeysHeld;
    std::array<bool, 12> savedPitchClasses {};
    bool savedScaleValid = false;
    int detectedTonic = 0;

    bool keySnapAdmits (int key, int layer) const;
    void setKeySnapRange (int start, int end);
    int snapNote (int note) const;
    int emitVel (int velocity, const Voice& voice) const;
    void rescanScale();
    void scaleKeyDown (int key);
    void scaleKeyUp (int key);
    void resnapSoundingNotes (juce::MidiBuffer& out);
    int scaleMask() const;

    //==============================================================================
    // Modifier keys
    std::array<bool, numModifiers> modifierHeldDisplay {};
    bool stepForwardDown = false;
    bool stepBackwardDown = false;
    bool lastStepForward = true;

    void handleModifierDown (int index, int sampleOffset, double rate, juce::MidiBuffer& out);
    void handleModifierUp (int index, int sampleOffset, juce::MidiBuffer& out);
    void switchLayer (int direction, int sampleOffset, juce::MidiBuffer& out);
    void clearModifierState();

    //==============================================================================
    // Capture and overdub
    // Take capacity reserved once, so capturing allocates only for takes longer than this.
    static constexpr size_t captureReserveEvents = 16384;

    bool captureArmed = false;
    bool captureTriggersKeys = false;
    bool pickDestinationOnFirstKey = false;
    int captureLayer = 0;
    std::vector<int> armedDestKeys;
    int lastPlayedKey = 60;
    std::vector<SeqEvent> captureEvents;
    bool takeStarted = false;
    bool keepLeadingGap = false;
    double takeStartMs = 0.0;
    double lastEventMs = 0.0;
    bool loopCapture = false;
    double captureStartSample = 0.0;
    double captureLoopMs = 0.0;
    double captureLoopSamples = 0.0;
    int lapsFolded = 0;
    std::vector<SeqEvent> foldedTake;
    juce::MidiBuffer captureTap;

    void beginCapture (int sampleOffset, juce::MidiBuffer& out, bool triggersKeys);
    void armCapture (int sampleOffset, juce::MidiBuffer& out, bool triggersKeys, bool pickDestination);
    void commitRecording (int sampleOffset, juce::MidiBuffer& out);
    void cancelArming();
    void clearDestination (int key, int sampleOffset, juce::MidiBuffer& out);
    void captureBlock (int numSamples);
    void serviceOverdub (int numSamples, juce::MidiBuffer& out);
    void foldLap();
    std::vector<SeqEvent> foldEventsNow (const std::vector<SeqEvent>& events) const;
    void resyncOverdubVoice (int key, int sampleOffset, juce::MidiBuffer& out);
    bool isValidDestination (int key) const;
    KeySequence& sequenceFor (int layer, int key);
    void stopKeyOnLayer (int layer, int key, int sampleOffset, juce::MidiBuffer& out);
    void storeTake (int layer, int key, const std::vector<SeqEvent>& events, double tailMs, int sampleOffset,
                    juce::MidiBuffer& out);
    double nowMs (int sampleOffset) const;
    void publishTakeTiming();

    //==============================================================================
    // Step recording and step play
    struct StepRecNote
    {
        int note = 60;
        int velocity = 100;
        int channel = 1;
        int startCell = 0;
        int endCell = 1;
    };

    struct StepRecHeldNote
    {
        int channel = 1;
        uint8_t note = 0;
    };

    // A clip's note-ons divided into step groups (flat lists, reused).
    struct StepGroups
    {
        std::vector<int> eventIndices;  // the groups' note-on indices, group after group
        std::vector<int> groupBegin;    // where each group starts in eventIndices; one extra entry at the end
        std::vector<double> groupTimes; // absolute ms of each group's first note-on
        size_t count() const noexcept { return groupTimes.size(); }
    };

    bool stepRecording = false;
    bool stepChordOpen = false;
    double stepCellMs = 62.5;
    int stepCursor = 0;
    int stepChordStart = 0;
    int stepChordFirstNote = 0;
    std::vector<StepRecNote> stepNotes;
    std::vector<std::pair<int, int>> stepHeld;
    std::vector<StepRecHeldNote> stepAuditionNotes;
    std::array<int, numKeys> stepIndex {};
    std::array<double, numKeys> stepPositionMs {};
    std::array<int, numKeys> inputVelocity {};
    StepGroups stepGroups;

    bool stepRecordingActive() const { return captureArmed && stepRecording; }
    void enterStepRecord();
    double computeStepCellMs() const;
    int stepMoveCells() const;
    void stepRecordNoteOn (int key, int velocity, int channel, int sampleOffset, juce::MidiBuffer& out);
    void stepRecordNoteOff (int key, int sampleOffset, juce::MidiBuffer& out);
    void stepRecMoveCursor (int direction, int sampleOffset, juce::MidiBuffer& out);
    void auditionStepCell (int cell, int sampleOffset, juce::MidiBuffer& out, int noteLimit);
    void stepRecUndoNote (int sampleOffset, juce::MidiBuffer& out);
    void releaseStepRecScrub (int sampleOffset, juce::MidiBuffer& out);
    void silenceStepAudition (int sampleOffset, juce::MidiBuffer& out);
    KeySequence buildStepRecordTake() const;
    void commitStepRecording (int sampleOffset, juce::MidiBuffer& out);
    void stepKeyPressed (bool stepKeyAlreadyHeld, int sampleOffset, juce::MidiBuffer& out);
    bool emitStep (int key, int velocity, int direction, int sampleOffset, juce::MidiBuffer& out, double rate);
    void emitStepUpper (int layer, int key, int velocity, int direction, int sampleOffset, juce::MidiBuffer& out);
    bool emitStepOn (int layer, int key, int velocity, int direction, int sampleOffset, juce::MidiBuffer& out, double rate);
    void releaseFrozenStepVoices (int sampleOffset, juce::MidiBuffer& out);
    void stepDispatch (int direction, bool stepWasDown, int sampleOffset, juce::MidiBuffer& out);
    void stepReleased (int index, int sampleOffset, juce::MidiBuffer& out);
    void playStep (int key, int direction, int velocity, int channel, int sampleOffset, juce::MidiBuffer& out);
    bool keyIsStepping (int layer, int key) const;
    static void buildStepGroups (const KeySequence& sequence, bool chordAware, StepGroups& groups);
    static int stepGroupAtMs (const StepGroups& groups, double ms);
    void clearStepRecordState();
    void resetLayer0StepIndices();

    //==============================================================================
    // Undo and redo
    static constexpr size_t undoLimit = 64;

    struct UndoKey
    {
        int key = -1;
        int layer = 0;
        KeySequence sequence;
        std::shared_ptr<const KeyAudio> audio;
    };

    // Everything a preset or sketch sets, for undoing a load.
    struct FullSnapshot
    {
        std::array<KeySequence, numKeys> keys;
        std::array<std::shared_ptr<const KeyAudio>, numKeys> keyAudio;
        std::array<std::array<KeySequence, numKeys>, 3> upperKeys;
        int modOctaveBase = 48;
        int transpose1 = 0, transpose2 = 0, speed1Idx = 4, speed2Idx = 4;
        int repeat1Rate = 2, repeat2Rate = 2, invert1Dir = 0, invert2Dir = 1;
        bool stepChordAware = true;
        double sliceOffsetMs = 0.0;
        int inputQuantNote = 4, inputQuantFeel = 0, inputQuantAmount = 100;
        int launchQuantNote = 4, launchQuantFeel = 0;
        bool inputQuantPower = false, launchQuantPower = false, loopEnabled = false;
        int loopLengthIdx = -1, keyboardInteraction = 2;
        bool cascadeEnabled = true;
        int triggerMode = 1;
        bool liveResample = false;
        int velModSource = 1;
        bool velControlPower = true;
        int velControlAmount = 50;
        bool monoMode = false, legato = false;
        int playLayer = 0, visibleLayers = 1;
        std::array<bool, numLayers> layerDry {}, layerKeysnap {};
        int keySnapStart = 24, keySnapEnd = 107;
        std::array<bool, 12> scale {};
        juce::String presetName;
    };

    struct UndoEntry
    {
        std::vector<UndoKey> savedKeys;
        std::unique_ptr<FullSnapshot> snapshot;
    };

    std::deque<UndoEntry> undoHistory;
    std::deque<UndoEntry> redoHistory;

    UndoKey saveKey (int key, int layer) const;
    void pushUndo (int key, int layer);
    void pushUndoGroup (const std::set<int>& keys, int layer);
    void pushUndoEntry (UndoEntry entry);
    void performUndo (int sampleOffset, juce::MidiBuffer& out);
    void performRedo (int sampleOffset, juce::MidiBuffer& out);
    UndoKey swapKeyContent (const UndoKey& saved, int sampleOffset, juce::MidiBuffer& out);
    std::unique_ptr<FullSnapshot> captureFullSnapshot() const;
    void applyFullSnapshot (const FullSnapshot& snapshot, int sampleOffset, juce::MidiBuffer& out);
    void wetUndoNote (int sampleOffset, juce::MidiBuffer& out);
    void clearUndoHistory();
    void publishNoteCount (int key);

    //==============================================================================
    // Audio keys and the audio link
    struct AudioKeyVoice
    {
        bool active = false;
        int key = -1;
        double position = 0.0;
        double rate = 1.0;
        float gain = 1.0f;
        float fade = 0.0f;
        float fadeStep = 0.0f;
        bool releasing = false;
        bool looping = false;
        int velocity = 0;
        int stretcherSlot = -1;
        double outputElapsed = 0.0;
        double startFrame = 0.0, endFrame = 0.0;
        double transposeFactor = 1.0;   // what the stretcher is set to
    };

    static constexpr int numStretchers = 8;
    std::array<AudioKeyVoice, numKeys> audioVoices;
    std::array<StretchProcessor, numStretchers> stretchers;
    std::array<bool, numStretchers> stretcherBusy {};
    StretchProcessor::Engine stretchEngine = StretchProcessor::Engine::faster;
    juce::AudioBuffer<float> stretchInput, stretchOutput;
    int audioMaxBlock = 512;

    int audioLinkBus = 1;
    juce::AudioBuffer<float> linkBuffer;

    void prepareAudioKeys (double rate, int maximumBlockSize);
    void resetAudioVoices();
    bool audioVoiceActive (int key) const;
    void startAudioVoice (int key, int velocity, double startFrame, double hostSampleRate, double endFrame, bool slice);
    bool emitAudioSlice (int key, int velocity, int step, double hostSampleRate);
    int audioShift (int key, const KeyAudio& audio) const;
    void releaseAudioVoice (int key);
    void endAudioVoice (AudioKeyVoice& voice);
    void renderAudioKeys (juce::AudioBuffer<float>& audio);
    void prepareAudioLink (double rate, int maximumBlockSize);
    void exchangeAudioLink (int numSamples);
    static void takeFromAudioLink (AudioLinkHub::Bus& bus, int numSamples, juce::AudioBuffer<float>& into);
    void releaseAudioLinkBus();

    //==============================================================================
    // State document, presets and sketches
    using KeyArray = std::array<KeySequence, numKeys>;
    using AudioArray = std::array<std::shared_ptr<const KeyAudio>, numKeys>;

    void writeSettingsXml (juce::XmlElement& element) const;
    void readSettingsXml (const juce::XmlElement& element, bool unused);
    void readKeySnapXml (const juce::XmlElement& element);
    void writeKeysXml (juce::XmlElement& parent, const KeyArray& sequences, const AudioArray& audio,
                       const juce::String& tagName) const;
    // Returns how many elements were skipped as unreadable.
    static int readKeysXml (const juce::XmlElement& container, KeyArray& sequences, AudioArray* audio);
    void copyKeyContent (KeyArray& base, AudioArray& audio, std::array<KeyArray, 3>& upper) const;
    void writeDocumentKeys (juce::XmlElement& root) const;
    void resetPlaybackForNewContent();

    UserSettings userSettings;
    juce::String currentPresetName;
    std::atomic<bool> presetModified { false };

    static juce::File getFactoryPresetsDirectory();
    static juce::File getUserPresetsDirectory();
    juce::StringArray getAvailablePresets() const;
    bool loadPreset (const juce::String& name);
    bool savePreset (const juce::String& name);
    bool writeSketchToFile (const juce::File& file) const;
    bool loadSketchFile (const juce::File& file);
    bool applySketchXml (const juce::XmlElement* root);

    //==============================================================================
    // Key edits from the editor (message thread)
    struct LayerEdit
    {
        int layer = 0;
        std::vector<std::pair<int, KeySequence>> edits;
        std::vector<std::pair<int, std::shared_ptr<const KeyAudio>>> audioEdits;
        std::vector<int> clearKeys;
    };

    void applyKeyEdits (const std::vector<std::pair<int, KeySequence>>& edits, const std::vector<int>& clearKeys,
                        const std::vector<std::pair<int, std::shared_ptr<const KeyAudio>>>& audioEdits, int layer);
    void applyKeyEditsMulti (const std::vector<LayerEdit>& layerEdits);
    void requestStopKey (int layer, int key);
    void clearKeyForEdit (int layer, int key, bool stopVoice);
    void replaceKeyForEdit (int layer, int key, const KeySequence& sequence, bool stopVoice);
    void setKeyAudioForEdit (int key, std::shared_ptr<const KeyAudio> audio);

private:
    void processMessage (const juce::MidiMessageMetadata& meta, juce::MidiBuffer& out, double rate);
    void routePlayableNote (int key, int velocity, int channel, bool isOn, int pos, juce::MidiBuffer& out, double rate);
    void applyModifierZoneMove (juce::MidiBuffer& out);
    void followTransport (juce::MidiBuffer& out);
    void applyStopKeyRequests (juce::MidiBuffer& out);
    void applyModifierToggles (juce::MidiBuffer& out, double rate);
    void silenceEverythingForTransportStart (juce::MidiBuffer& out);
    void shrinkVisibleLayers (juce::MidiBuffer& out);
    void publishForEditor();
    bool thruStateOn() const;
    int inputLayer() const;
    bool inModifierZone (int key) const;

    juce::MidiBuffer blockOut, pairedOut;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PluginProcessor)
};
