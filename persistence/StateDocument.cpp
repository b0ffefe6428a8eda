#include "engine/PluginProcessor.h"

// The "QuorvelState" document. Until it is built the host stores an empty
// state, and restoring one leaves everything as it is.
void PluginProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    destData.reset();
}

void PluginProcessor::setStateInformation (const void*, int)
{
}
