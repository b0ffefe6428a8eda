#include "engine/PluginProcessor.h"

#include <algorithm>

bool PluginProcessor::keySnapAdmits (int key, int layer) const
{
    if (layer < 0 || layer >= numLayers || ! layerKeysnap[(size_t) layer].load())
        return true;

    if (key >= 24 && key <= 107)
        return inModifierZone (key) || (key >= snapRangeStart && key <= snapRangeEnd);

    return snapRangeStart <= 24 && snapRangeEnd >= 107;
}

int PluginProcessor::snapNote (int note) const
{
    // Scale snapping is built with key snap; an empty scale leaves notes alone.
    return std::min (127, std::max (0, note));
}

int PluginProcessor::emitVel (int velocity, const Voice&) const
{
    return std::min (127, std::max (1, velocity));
}

int PluginProcessor::scaleMask() const
{
    int mask = 0;
    for (int pc = 0; pc < 12; ++pc)
        if (scalePitchClasses[(size_t) pc])
            mask |= 1 << pc;
    return mask;
}

void PluginProcessor::rescanScale()
{
}

void PluginProcessor::scaleKeyDown (int key)
{
    if (key >= 0 && key < numKeys)
        scaleKeysHeld.set ((size_t) key);
}

void PluginProcessor::scaleKeyUp (int key)
{
    if (key >= 0 && key < numKeys)
        scaleKeysHeld.reset ((size_t) key);
}

void PluginProcessor::resnapSoundingNotes (juce::MidiBuffer& out)
{
    const bool snap = layerKeysnap[0].load();

    auto resnap = [&] (Voice& v)
    {
        for (auto& n : v.sounding)
        {
            int wanted = std::min (127, std::max (0, n.sourceNote + n.transpose));
            if (snap)
                wanted = snapNote (wanted);

            if (wanted == n.emittedNote)
                continue;

            emitLayer = 0;
            emitSourceKey = v.key;
            emitExcludedFromCapture = v.excludedFromCapture;
            emitSoundsWhenMuted = v.soundsWhenMuted;
            emitBypassCascade = n.isDry;
            emitNoteOff (out, n.channel, n.emittedNote, 0);
            emitNoteOn (out, n.channel, wanted, n.velocity, 0);
            n.emittedNote = wanted;
        }
        emitBypassCascade = false;
    };

    for (auto& v : voices)
        resnap (v);
    for (auto& v : overlapVoices)
        resnap (v);
}
