#include "engine/PluginProcessor.h"

// The undo and redo histories are built with recording.
void PluginProcessor::performUndo (int, juce::MidiBuffer&)
{
}

void PluginProcessor::performRedo (int, juce::MidiBuffer&)
{
}

void PluginProcessor::wetUndoNote (int, juce::MidiBuffer&)
{
}

void PluginProcessor::clearUndoHistory()
{
}
