#include "engine/PluginProcessor.h"

#include <algorithm>

bool PluginProcessor::keyHasContent (int key) const
{
    if (key < 0 || key >= numKeys)
        return false;

    const auto& audio = keyAudio[(size_t) key];
    return ! keys[(size_t) key].events.empty() || (audio != nullptr && audio->hasFrames());
}

void PluginProcessor::removeHeldKey (std::vector<HeldKey>& stack, int key)
{
    stack.erase (std::remove_if (stack.begin(), stack.end(), [key] (const HeldKey& h) { return h.key == key; }),
                 stack.end());
}

void PluginProcessor::handlePlayableNoteOn (int key, int velocity, int channel, int sampleOffset,
                                            juce::MidiBuffer& out, double rate)
{
    if (key < 0 || key >= numKeys)
        return;

    keyHeld[(size_t) key] = true;

    if (captureArmed && pickDestinationOnFirstKey)
    {
        lastPlayedKey = key;
        armedDestKeys.push_back (key);
        clearDestination (key, sampleOffset, out);
        pickDestinationOnFirstKey = false;
    }
    else if (! captureArmed)
    {
        lastPlayedKey = key;
    }

    auto& v = voices[(size_t) key];

    if (playLayer >= 1 && cascadeEnabled.load() && ! stepRecordingActive())
    {
        // The cascade carries the key's own note up to the played layer.
        killVoice (key, sampleOffset, out);
        startPassthroughVoice (key, velocity, channel, sampleOffset, out);
        return;
    }

    if (stepRecordingActive())
    {
        stepRecordNoteOn (key, velocity, channel, sampleOffset, out);
        return;
    }

    if ((stepForwardDown || stepBackwardDown) && keys[(size_t) key].noteOnCount > 0)
    {
        const int direction = (stepForwardDown && stepBackwardDown) ? (lastStepForward ? 1 : -1)
                            : (stepForwardDown ? 1 : -1);
        playStep (key, direction, velocity, channel, sampleOffset, out);
        return;
    }

    const bool triggers = captureArmed ? captureTriggersKeys : ! modifierHeld[modThru];
    if (! triggers)
    {
        killVoice (key, sampleOffset, out);
        startPassthroughVoice (key, velocity, channel, sampleOffset, out);
        return;
    }

    const bool hasContent = keyHasContent (key);

    if (triggerMode.load() == 2 && hasContent)
    {
        bool playing = v.isActiveOrSounding() || audioVoiceActive (key);
        for (const auto& o : overlapVoices)
            playing = playing || o.key == key;

        if (playing)
        {
            stopPlayable (key, sampleOffset, out);
            if (monoKey == key)
                monoKey = -1;
            removeHeldKey (heldKeys, key);
            return;
        }
    }

    legatoSeekMs = -1.0;
    if (legato.load())
    {
        const int previous = monoMode.load() ? monoKey : lastStartedKey;
        if (previous >= 0 && previous != key)
        {
            const auto& pv = voices[(size_t) previous];
            if (pv.active && pv.isPhrase)
                legatoSeekMs = voiceElapsedMs (pv, rate, 0, sampleOffset);
        }
    }

    if (monoMode.load() && hasContent)
    {
        removeHeldKey (heldKeys, key);
        heldKeys.push_back ({ key, velocity, channel });
        if (monoKey >= 0 && monoKey != key)
            stopPlayable (monoKey, sampleOffset, out);
        monoKey = key;
    }

    triggerPlayable (key, velocity, channel, sampleOffset, out, rate);
}

void PluginProcessor::triggerPlayable (int key, int velocity, int channel, int sampleOffset,
                                       juce::MidiBuffer& out, double rate)
{
    if (key < 0 || key >= numKeys)
        return;

    const auto& audio = keyAudio[(size_t) key];
    if (audio != nullptr && audio->hasFrames())
    {
        startAudioVoice (key, velocity, 0.0, rate, -1.0, false);
        return;
    }

    auto& v = voices[(size_t) key];

    if (keys[(size_t) key].events.empty())
    {
        killVoice (key, sampleOffset, out);
        startPassthroughVoice (key, velocity, channel, sampleOffset, out);
        return;
    }

    if (v.active && v.isPhrase && triggerMode.load() != 0 && ! monoMode.load())
        demoteToOverlap (0, key, sampleOffset, out);
    else if (v.isActiveOrSounding())
        killVoice (key, sampleOffset, out);

    startVoice (key, velocity, channel, sampleOffset, rate, out);
}

void PluginProcessor::stopPlayable (int key, int sampleOffset, juce::MidiBuffer& out)
{
    if (key < 0 || key >= numKeys)
        return;

    releaseAudioVoice (key);
    killVoice (key, sampleOffset, out);
    killOverlaps (0, key, sampleOffset, out);
}

void PluginProcessor::handlePlayableNoteOff (int key, int sampleOffset, juce::MidiBuffer& out, double rate)
{
    if (key < 0 || key >= numKeys)
        return;

    keyHeld[(size_t) key] = false;
    removeHeldKey (heldKeys, key);

    if (stepRecordingActive())
    {
        stepRecordNoteOff (key, sampleOffset, out);
        return;
    }

    if (ignoreNextRelease[(size_t) key])
    {
        ignoreNextRelease[(size_t) key] = false;
        if (monoKey == key)
            monoKey = -1;
        return;
    }

    const bool thruRelease = captureArmed
                               ? ! captureTriggersKeys
                               : (modifierHeld[modThru] || (playLayer >= 1 && cascadeEnabled.load()));
    if (thruRelease)
    {
        releasePlayable (key, sampleOffset, out);
        return;
    }

    auto& v = voices[(size_t) key];
    const bool isPassthrough = ! v.active && v.events.empty() && ! v.sounding.empty();

    if (! isPassthrough)
    {
        const bool hasContent = keyHasContent (key);

        if (triggerMode.load() == 2 && hasContent)
            return;

        if (monoMode.load() && hasContent)
        {
            if (key != monoKey)
                return;

            if (! heldKeys.empty())
            {
                legatoSeekMs = -1.0;
                if (legato.load() && v.active && v.isPhrase)
                    legatoSeekMs = voiceElapsedMs (v, rate, 0, sampleOffset);

                stopPlayable (key, sampleOffset, out);
                const auto next = heldKeys.back();
                monoKey = next.key;
                triggerPlayable (next.key, next.velocity, next.channel, sampleOffset, out, rate);
                return;
            }

            monoKey = -1;
        }
    }

    releasePlayable (key, sampleOffset, out);
}

void PluginProcessor::releasePlayable (int key, int sampleOffset, juce::MidiBuffer& out)
{
    if (key < 0 || key >= numKeys)
        return;

    releaseAudioVoice (key);

    auto& v = voices[(size_t) key];
    if (! v.isActiveOrSounding())
        return;

    if (triggerMode.load() == 0 || ! v.isPhrase)
    {
        killVoice (key, sampleOffset, out);
        return;
    }

    if (loopEnabled.load())
        v.noWrap = true;

    // Only the dry notes end; the phrase plays on.
    endDryNotes (v, 0, sampleOffset, out);
}

void PluginProcessor::releaseLatchedKeysOnModeChange (juce::MidiBuffer& out)
{
    for (int k = 0; k < numKeys; ++k)
    {
        if (keyHeld[(size_t) k] || ! keyHasContent (k))
            continue;

        if (voices[(size_t) k].isActiveOrSounding() || audioVoiceActive (k))
        {
            releasePlayable (k, 0, out);
            if (monoKey == k)
                monoKey = -1;
        }
    }
}
