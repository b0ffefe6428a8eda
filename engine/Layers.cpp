#include "engine/PluginProcessor.h"

#include <algorithm>

// The upper layers (1..3) and the cascade: notes one layer emits become key
// presses on the next layer up.

void PluginProcessor::openCascadeNote (int layer, int note, int velocity, int channel, int sampleOffset)
{
    if (! cascadeEnabled.load() || (captureArmed && ! captureTriggersKeys))
        return;

    cascadeTaps.push_back ({ true, note, velocity, channel, sampleOffset, emitSourceKey, layer + 1 });

    // The note is swallowed when the layer it plays holds a clip for it (and
    // that layer is not dry).
    const int target = std::max (playLayer, layer + 1);
    const bool consumed = target >= 1 && target < numLayers && target < visibleLayers.load()
                       && ! upperKeys[(size_t) target - 1][(size_t) note].events.empty()
                       && ! layerDry[(size_t) target].load();
    layerNoteConsumed[(size_t) layer][(size_t) note] = consumed;
}

void PluginProcessor::closeCascadeNote (int layer, int note, int channel, int sampleOffset)
{
    if (cascadeEnabled.load())
        cascadeTaps.push_back ({ false, note, 0, channel, sampleOffset, emitSourceKey, layer + 1 });
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

//==============================================================================
void PluginProcessor::triggerUpperNoteOn (int layer, int key, int velocity, int channel, int sampleOffset, double rate,
                                          juce::MidiBuffer& out, bool passThrough, bool loopAllowed)
{
    if (layer < 1 || layer > 3 || key < 0 || key >= numKeys)
        return;

    emitLayer = layer;
    auto& ul = upperLayers[(size_t) layer - 1];
    auto& v = ul.voices[(size_t) key];

    const bool thruHere = captureArmed ? (! captureTriggersKeys && layer == captureLayer)
                                       : (modifierHeld[modThru] && layer == playLayer);
    const bool plays = ! upperKeys[(size_t) layer - 1][(size_t) key].events.empty() && ! thruHere;

    if (plays && (stepForwardDown || stepBackwardDown))
    {
        const int direction = (stepForwardDown && stepBackwardDown) ? (lastStepForward ? 1 : -1)
                            : (stepForwardDown ? 1 : -1);
        emitStepUpper (layer, key, velocity, direction, sampleOffset, out);
        return;
    }

    ul.legatoSeekMs = -1.0;
    if (legato.load() && plays)
    {
        const int previous = monoMode.load() ? ul.monoKey : ul.lastStartedKey;
        if (previous >= 0 && previous != key && ul.voices[(size_t) previous].active
            && ! ul.passthroughHeld[(size_t) previous])
            ul.legatoSeekMs = voiceElapsedMs (ul.voices[(size_t) previous], rate, layer, sampleOffset);
    }

    if (monoMode.load() && plays)
    {
        removeHeldKey (ul.heldKeys, key);
        ul.heldKeys.push_back ({ key, velocity, channel });
        if (ul.monoKey >= 0 && ul.monoKey != key)
            killVoiceUpper (layer, ul.monoKey, sampleOffset, out);
        ul.monoKey = key;
    }

    if (v.active)
    {
        if (plays && v.isPhrase && triggerMode.load() != 0 && ! monoMode.load())
        {
            demoteToOverlap (layer, key, sampleOffset, out);
            startVoiceUpper (layer, key, velocity, channel, sampleOffset, out, loopAllowed);
            return;
        }
        killVoiceUpper (layer, key, sampleOffset, out);
    }
    else if (! v.sounding.empty())
    {
        killVoiceUpper (layer, key, sampleOffset, out);
    }

    if (plays)
    {
        startVoiceUpper (layer, key, velocity, channel, sampleOffset, out, loopAllowed);
        return;
    }

    if (! passThrough)
        return;

    v.reset();
    v.key = key;
    v.velocity = std::clamp (velocity, 1, 127);
    v.channel = std::clamp (channel, 1, 16);
    v.soundsWhenMuted = true;

    SoundingNote n;
    n.sourceNote = key;
    n.emittedNote = shapeNote (key + transposeForLayer (layer), layer);
    n.channel = v.channel;
    n.velocity = v.velocity;
    n.sourceIndex = -1;
    v.sounding.push_back (n);
    ul.passthroughHeld[(size_t) key] = true;

    emitLayer = layer;
    emitSourceKey = key;
    emitExcludedFromCapture = false;
    emitBypassCascade = false;
    emitSoundsWhenMuted = true;
    emitNoteOn (out, n.channel, n.emittedNote, n.velocity, sampleOffset);
    emitSoundsWhenMuted = false;
}

void PluginProcessor::releaseUpperKey (int layer, int key, int sampleOffset, juce::MidiBuffer& out, double rate)
{
    auto& ul = upperLayers[(size_t) layer - 1];
    auto& v = ul.voices[(size_t) key];
    removeHeldKey (ul.heldKeys, key);

    const bool passthrough = ul.passthroughHeld[(size_t) key];

    if (monoMode.load() && ! passthrough)
    {
        if (key != ul.monoKey)
            return;

        if (legato.load() && v.active)
            ul.legatoSeekMs = voiceElapsedMs (v, rate, layer, sampleOffset);
        killVoiceUpper (layer, key, sampleOffset, out);
        ul.monoKey = -1;

        if (! ul.heldKeys.empty())
        {
            const auto next = ul.heldKeys.back();
            ul.monoKey = next.key;
            startVoiceUpper (layer, next.key, next.velocity, next.channel, sampleOffset, out, false);
        }
        return;
    }

    // A pass-through, gate mode, or a single note or chord (which would hold
    // forever otherwise) ends at the release; a phrase plays on.
    if (passthrough || triggerMode.load() == 0 || ! v.isPhrase)
    {
        killVoiceUpper (layer, key, sampleOffset, out);
        return;
    }

    if (loopEnabled.load())
        v.noWrap = true;
}

void PluginProcessor::playUpperLayer (int layer, int numSamples, juce::MidiBuffer& out)
{
    if (layer < 1 || layer > 3)
        return;

    const double rate = sampleRate > 0.0 ? sampleRate : 44100.0;
    auto& ul = upperLayers[(size_t) layer - 1];
    upperReleases.clear();

    // Cascade taps addressed to this layer; below the focus they climb on.
    for (size_t i = 0; i < cascadeTaps.size(); ++i)
    {
        if (cascadeTaps[i].targetLayer != layer)
            continue;

        const auto tap = cascadeTaps[i];
        cascadeTaps[i].targetLayer = -1;

        if (layer < playLayer)
        {
            if (layer + 1 < numLayers)
            {
                auto passed = tap;
                passed.targetLayer = layer + 1;
                cascadeTaps.push_back (passed);
            }
            continue;
        }

        if (tap.isOn)
        {
            triggerUpperNoteOn (layer, tap.key, tap.velocity, tap.channel, tap.sampleOffset, rate, out, false,
                                layer == playLayer);
            cascadeLinks.push_back ({ layer, tap.key, tap.sourceKey,
                                      ! upperKeys[(size_t) layer - 1][(size_t) tap.key].events.empty() });
        }
        else
        {
            upperReleases.push_back ({ tap.key, tap.sampleOffset });
            cascadeLinks.erase (std::remove_if (cascadeLinks.begin(), cascadeLinks.end(), [&] (const CascadeLink& l)
                                                { return l.layer == layer && l.key == tap.key; }),
                                cascadeLinks.end());
        }
    }

    // The layer's own input: routed input notes and its on-screen keyboard.
    const bool thru = thruStateOn();
    const int interaction = keyboardInteraction.load();
    for (const auto meta : upperInput[(size_t) layer - 1])
    {
        if (meta.numBytes < 3)
            continue;

        const auto* d = meta.data;
        const int type = d[0] & 0xf0;
        if (type != 0x90 && type != 0x80)
            continue;

        const int key = d[1] & 0x7f;
        const int channel = (d[0] & 0x0f) + 1;
        const bool isOn = type == 0x90 && d[2] > 0;
        const bool admitted = keySnapAdmits (key, layer);

        if (isOn && admitted)
            triggerUpperNoteOn (layer, key, d[2] & 0x7f, channel, meta.samplePosition, rate, out,
                                thru || interaction != 1, ! (interaction == 2 && layer != playLayer));
        else if (isOn)
            scaleKeyDown (key);
        else if (admitted)
            upperReleases.push_back ({ key, meta.samplePosition });
        else
            scaleKeyUp (key);
    }

    for (auto& v : ul.voices)
        if (v.active)
            advanceVoice (v, layer, numSamples, out);
    for (auto& v : ul.overlapVoices)
        if (v.active)
            advanceVoice (v, layer, numSamples, out);
    ul.overlapVoices.removeIf ([] (const Voice& v) { return ! v.isActiveOrSounding(); });

    for (const auto& [key, pos] : upperReleases)
        releaseUpperKey (layer, key, pos, out, rate);
}

//==============================================================================
void PluginProcessor::setLayerMuted (int layer, bool muted, juce::MidiBuffer& out)
{
    if (layer < 0 || layer >= numLayers || layerOutputMuted[(size_t) layer] == muted)
        return;

    // The voices keep running; only what reaches the output changes. These
    // notes enter no capture and act on no cascade.
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
