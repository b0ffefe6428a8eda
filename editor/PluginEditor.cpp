#include "editor/PluginEditor.h"

#include "engine/PluginProcessor.h"

PluginEditor::PluginEditor (PluginProcessor& p)
    : juce::AudioProcessorEditor (p), processor (p)
{
    setSize (600, 200);
}

PluginEditor::~PluginEditor() = default;

void PluginEditor::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0xff1d1f24));
    g.setColour (juce::Colours::white);
    g.setFont (juce::Font (28.0f));
    g.drawText ("Quorvel", getLocalBounds().removeFromTop (120), juce::Justification::centred);
    g.setFont (juce::Font (14.0f));
    g.setColour (juce::Colours::white.withAlpha (0.6f));
    g.drawText ("modifier zone starts at key " + juce::String (processor.appliedModOctaveBase.load()),
                getLocalBounds().removeFromBottom (80), juce::Justification::centred);
}
