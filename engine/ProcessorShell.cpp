#include "engine/PluginProcessor.h"

#include "editor/PluginEditor.h"

std::mutex PluginProcessor::audioClipboardMutex;
juce::String PluginProcessor::audioClipboardToken;
std::vector<AudioClipboardItem> PluginProcessor::audioClipboardItems;

namespace
{
// Room for a busy block (pedal fan-out sends 16 messages per pedal event) so the
// scratch buffers do not grow on the audio thread.
constexpr int scratchMidiBytes = 64 * 1024;
}

PluginProcessor::Published::Published()
{
    for (auto& f : modifierHeld) f.store (false);
    for (auto& f : modifierLatched) f.store (false);
    for (auto& v : noteOnCount) v.store (0);
    for (auto& v : soundingChannel) v.store (0);
}

PluginProcessor::PluginProcessor()
    : juce::AudioProcessor (BusesProperties().withOutput ("Output", juce::AudioChannelSet::stereo(), true))
{
    for (auto& f : layerDry) f.store (false);
    for (auto& f : layerKeysnap) f.store (true);
    for (auto& layer : stopKeyRequests)
        for (auto& mask : layer)
            mask.store (0);

    polyPressure.fill (127);
    lastNoteOfChannel.fill (-1);
    stepPositionMs.fill (-1.0);
    for (auto& layer : upperLayers)
        layer.stepPositionMs.fill (-1.0);

    heldKeys.reserve ((size_t) numKeys);
    cascadeTaps.reserve (1024);
    upperReleases.reserve (1024);
    cascadeLinks.reserve ((size_t) numKeys * 3);
    armedDestKeys.reserve ((size_t) numKeys);
    captureEvents.reserve (captureReserveEvents);
    stepNotes.reserve (1024);
    stepHeld.reserve ((size_t) numKeys);
    stepAuditionNotes.reserve (1024);
    stepGroups.eventIndices.reserve (scratchTimelineEvents);
    stepGroups.groupBegin.reserve (scratchTimelineEvents);
    stepGroups.groupTimes.reserve (scratchTimelineEvents);
    timelineScratch.reserve (scratchTimelineEvents);
    legatoOpenNotes.reserve (scratchTimelineEvents);
    requantizeEvents.reserve (scratchTimelineEvents);

    blockOut.ensureSize (scratchMidiBytes);
    pairedOut.ensureSize (scratchMidiBytes);
    captureTap.ensureSize (scratchMidiBytes);
    for (auto& b : upperInput)
        b.ensureSize (scratchMidiBytes / 4);

    // Only a real plug-in instance starts from the factory preset; tests and
    // tools that construct the processor directly start empty.
    if (wrapperType != wrapperType_Undefined && loadPreset ("Init"))
        clearUndoHistory();
}

PluginProcessor::~PluginProcessor()
{
    // The user settings save themselves as they go.
    releaseAudioLinkBus();
}

bool PluginProcessor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    if (! layouts.inputBuses.isEmpty())
        for (const auto& in : layouts.inputBuses)
            if (! in.isDisabled())
                return false;

    const auto out = layouts.getMainOutputChannelSet();
    return out == juce::AudioChannelSet::mono() || out == juce::AudioChannelSet::stereo();
}

juce::AudioProcessorEditor* PluginProcessor::createEditor()
{
    return new PluginEditor (*this);
}

void PluginProcessor::prepareToPlay (double rate, int maximumBlockSize)
{
    const std::lock_guard<std::mutex> lock (keyDataMutex);

    sampleRate = rate > 0.0 ? rate : 44100.0;

    prepareAudioKeys (sampleRate, maximumBlockSize);
    prepareAudioLink (sampleRate, maximumBlockSize);

    for (auto& v : voices)
        v.reset();
    overlapVoices.clear();
    for (auto& layer : upperLayers)
        layer.overlapVoices.clear();
    resetAudioVoices();

    keyHeld.fill (false);
    ignoreNextRelease.fill (false);
    heldKeys.clear();
    clearStepRecordState();
    stepPositionMs.fill (-1.0);
    for (auto& layer : upperLayers)
        layer.stepPositionMs.fill (-1.0);
    keySoundingCount.fill (0);
    outputNotes.clearCounts();
    clearModifierState();
    scaleKeysHeld.reset();
    clearLaunchState();
    lastActivitySample = -1;
    modifierToggleRequests.store (0);
    selectedKeyRequest.store (-2);

    cancelArming();
}

void PluginProcessor::releaseResources()
{
    releaseAudioLinkBus();
}

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new PluginProcessor();
}
