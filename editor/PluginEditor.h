#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

class PluginProcessor;

// The editor window. For now a plain placeholder until the layout-driven
// window is built.
class PluginEditor : public juce::AudioProcessorEditor
{
public:
    explicit PluginEditor (PluginProcessor& p);
    ~PluginEditor() override;

    void paint (juce::Graphics& g) override;

private:
    PluginProcessor& processor;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PluginEditor)
};
