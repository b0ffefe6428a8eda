#include "engine/PluginProcessor.h"

bool PluginProcessor::loadPreset (const juce::String&)
{
    return false;
}
