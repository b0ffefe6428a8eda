#include "engine/PluginProcessor.h"

#include <algorithm>

void PluginProcessor::playUpperLayer (int, int, juce::MidiBuffer&)
{
    // Upper-layer triggering and the cascade are built with the layer engine.
}

void PluginProcessor::startVoiceUpper (int, int, int, int, int, juce::MidiBuffer&, bool)
{
    // Upper-layer voices are built with the layer engine.
}

void PluginProcessor::openCascadeNote (int, int, int, int, int)
{
}

void PluginProcessor::closeCascadeNote (int, int, int, int)
{
}

void PluginProcessor::clearCascadeState()
{
    for (auto& row : layerNoteCount)
        row.fill (0);
    for (auto& row : layerNoteConsumed)
        row.fill (false);
    cascadeTaps.clear();
    cascadeLinks.clear();
}

void PluginProcessor::setLayerMuted (int layer, bool muted, juce::MidiBuffer& out)
{
    if (layer < 0 || layer >= numLayers || layerOutputMuted[(size_t) layer] == muted)
        return;

    // The voices keep running; only what reaches the output changes. Notes that
    // sound while muted (pass-throughs) are left alone.
    auto toggle = [&] (const Voice& v)
    {
        if (v.soundsWhenMuted)
            return;

        for (const auto& n : v.sounding)
        {
            if (layer <= 2 && ! n.isDry && layerNoteConsumed[(size_t) layer][(size_t) n.emittedNote])
                continue;

            if (muted)
            {
                out.addEvent (juce::MidiMessage::noteOff (n.channel, n.emittedNote, (juce::uint8) 0), 0);
                auto& c = keySoundingCount[(size_t) n.emittedNote];
                c = std::max (0, c - 1);
            }
            else
            {
                out.addEvent (juce::MidiMessage::noteOn (n.channel, n.emittedNote, (juce::uint8) n.velocity), 0);
                ++keySoundingCount[(size_t) n.emittedNote];
                keySoundingChannel[(size_t) n.emittedNote] = n.channel;
            }
        }
    };

    if (layer == 0)
        for (const auto& v : voices)
            toggle (v);
    else
        for (const auto& v : upperLayers[(size_t) layer - 1].voices)
            toggle (v);

    for (const auto& v : overlapsFor (layer))
        toggle (v);

    layerOutputMuted[(size_t) layer] = muted;
}

void PluginProcessor::resetLayerPlayState (int layer)
{
    if (layer == 0)
    {
        heldKeys.clear();
        monoKey = -1;
        lastStartedKey = -1;
        legatoSeekMs = -1.0;
        return;
    }

    auto& ul = upperLayers[(size_t) layer - 1];
    ul.heldKeys.clear();
    ul.monoKey = -1;
    ul.lastStartedKey = -1;
    ul.legatoSeekMs = -1.0;
}

void PluginProcessor::resetLayer (int layer, juce::MidiBuffer& out)
{
    if (layer < 0 || layer >= numLayers)
        return;

    for (int k = 0; k < numKeys; ++k)
    {
        if (layer == 0)
            killVoice (k, 0, out);
        else
            killVoiceUpper (layer, k, 0, out);
    }

    killOverlaps (layer, -1, 0, out);
    resetLayerPlayState (layer);
    layerNoteCount[(size_t) layer].fill (0);
    layerNoteConsumed[(size_t) layer].fill (false);
    cascadeLinks.erase (std::remove_if (cascadeLinks.begin(), cascadeLinks.end(),
                                        [layer] (const CascadeLink& l) { return l.layer == layer; }),
                        cascadeLinks.end());
}
