#include "engine/PluginProcessor.h"

// The audio link buses are built with the shared ring files.
void PluginProcessor::prepareAudioLink (double, int)
{
}

void PluginProcessor::exchangeAudioLink (int)
{
}

void PluginProcessor::releaseAudioLinkBus()
{
}
