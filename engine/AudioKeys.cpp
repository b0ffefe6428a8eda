#include "engine/PluginProcessor.h"

// Audio keys are built with the time stretcher; until then keys play no audio
// and the output is silent.
void PluginProcessor::prepareAudioKeys (double, int)
{
}

void PluginProcessor::resetAudioVoices()
{
}

bool PluginProcessor::audioVoiceActive (int) const
{
    return false;
}

void PluginProcessor::startAudioVoice (int, int, int)
{
}

void PluginProcessor::releaseAudioVoice (int)
{
}

void PluginProcessor::renderAudioKeys (juce::AudioBuffer<float>&)
{
}
