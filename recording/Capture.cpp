#include "engine/PluginProcessor.h"

// Arming and ending a take. Writing the take into its destination keys is
// built with live capture; until then a take records nothing.
void PluginProcessor::beginCapture (bool triggersKeys, int, juce::MidiBuffer&)
{
    captureArmed = true;
    captureTriggersKeys = triggersKeys;
    pickDestinationOnFirstKey = false;
    captureLayer = playLayer;
    armedDestKeys.clear();
    armedDestKeys.push_back (lastPlayedKey);
    captureEvents.clear();
    takeStarted = false;
}

void PluginProcessor::commitRecording (int, juce::MidiBuffer&)
{
    cancelArming();
}

void PluginProcessor::cancelArming()
{
    captureArmed = false;
    captureTriggersKeys = false;
    pickDestinationOnFirstKey = false;
    armedDestKeys.clear();
    captureEvents.clear();
    takeStarted = false;
    stepRecording = false;

    for (int i : { (int) modRecord, (int) modThru })
    {
        modifierHeld[(size_t) i] = false;
        modifierLatched[(size_t) i] = false;
        modifierHeldDisplay[(size_t) i] = false;
    }
}

void PluginProcessor::clearDestination (int)
{
}

void PluginProcessor::captureBlock (int)
{
}

void PluginProcessor::serviceOverdub (int, juce::MidiBuffer&)
{
}

std::vector<int> PluginProcessor::getArmedDestKeys() const
{
    const std::lock_guard<std::mutex> lock (keyDataMutex);
    return captureArmed ? armedDestKeys : std::vector<int>();
}
