#include "engine/PluginProcessor.h"

// Step entry and step playback are built with step recording.
void PluginProcessor::stepRecordNoteOn (int key, int velocity, int channel, int sampleOffset, juce::MidiBuffer& out)
{
    handlePlayableNoteOn (key, velocity, channel, sampleOffset, out, sampleRate);
}

void PluginProcessor::stepRecordNoteOff (int key, int sampleOffset, juce::MidiBuffer& out)
{
    releasePlayable (key, sampleOffset, out);
}

void PluginProcessor::stepDispatch (int, bool, int, juce::MidiBuffer&)
{
}

void PluginProcessor::stepReleased (int index, int, juce::MidiBuffer&)
{
    if (index == modStepForward)
        stepForwardDown = false;
    else
        stepBackwardDown = false;
}

void PluginProcessor::playStep (int key, int, int velocity, int channel, int sampleOffset, juce::MidiBuffer& out)
{
    triggerPlayable (key, velocity, channel, sampleOffset, out, sampleRate);
}

void PluginProcessor::clearStepRecordState()
{
    stepRecording = false;
    for (auto& layer : upperLayers)
        layer.stepPositionMs.fill (-1.0);
}

void PluginProcessor::resetLayer0StepIndices()
{
}
