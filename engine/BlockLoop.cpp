#include "engine/PluginProcessor.h"

#include <algorithm>
#include <cmath>

namespace
{
int clampInt (int v, int lo, int hi) noexcept { return std::min (hi, std::max (lo, v)); }

bool isPedal (int controller) noexcept { return controller == 64 || controller == 66 || controller == 67; }
}

bool PluginProcessor::inModifierZone (int key) const
{
    const int base = appliedModOctaveBase.load (std::memory_order_relaxed);
    return key >= base && key < base + numModifiers;
}

bool PluginProcessor::thruStateOn() const
{
    return captureArmed ? ! captureTriggersKeys : modifierHeld[modThru];
}

int PluginProcessor::inputLayer() const
{
    return clampInt (captureArmed ? captureLayer : playLayer, 0, numLayers - 1);
}

//==============================================================================
void PluginProcessor::processBlock (juce::AudioBuffer<float>& audio, juce::MidiBuffer& midi)
{
    const juce::ScopedNoDenormals noDenormals;

    const int numSamples = audio.getNumSamples();
    const double rate = sampleRate > 0.0 ? sampleRate : 44100.0;

    // Notes from the on-screen keyboards: row 0 behaves exactly like the input
    // keyboard, rows 1..3 play their layers directly.
    for (auto& b : upperInput)
        b.clear();

    if (numSamples > 0)
    {
        uiKeyboardStates[0].processNextMidiBuffer (midi, 0, numSamples, true);
        for (size_t i = 1; i < (size_t) numLayers; ++i)
            uiKeyboardStates[i].processNextMidiBuffer (upperInput[i - 1], 0, numSamples, true);
    }

    blockOut.clear();
    captureTap.clear();
    emitExcludedFromCapture = false;
    emitSoundsWhenMuted = false;

    {
        const std::lock_guard<std::mutex> lock (keyDataMutex);

        if (allNotesOffRequested.exchange (false))
        {
            for (int c = 0; c < numChannels; ++c)
            {
                for (int k = 0; k < numKeys; ++k)
                {
                    auto& count = outputNotes.count[(size_t) c][(size_t) k];
                    if (count >= 1)
                        blockOut.addEvent (juce::MidiMessage::noteOff (c + 1, k, (juce::uint8) 0), 0);
                    count = 0;
                    outputNotes.lastOnTime[(size_t) c][(size_t) k] = -1;
                }
            }
            keySoundingCount.fill (0);
        }

        if (scaleRescanRequested.exchange (false))
            rescanScale();

        applyModifierZoneMove (blockOut);

        const int mode = clampInt (triggerMode.load(), 0, 2);
        if (mode != appliedTriggerMode)
        {
            if (appliedTriggerMode == 2)
                releaseLatchedKeysOnModeChange (blockOut);
            appliedTriggerMode = mode;
        }

        followTransport (blockOut);
        applyStopKeyRequests (blockOut);
        applyModifierToggles (blockOut, rate);

        const int undoRedo = undoRedoRequest.exchange (0);
        if (undoRedo != 0)
        {
            const int index = undoRedo < 0 ? (int) modUndo : (int) modRedo;
            handleModifierDown (index, 0, rate, blockOut);
            handleModifierUp (index, 0, blockOut);
        }

        if (! captureArmed)
        {
            const int k = selectedKeyRequest.exchange (-2);
            if (k >= 0 && k < numKeys && ! inModifierZone (k) && keySnapAdmits (k, playLayer))
                lastPlayedKey = k;
        }

        for (const auto meta : midi)
            processMessage (meta, blockOut, rate);

        const bool speedUp = modifierHeld[modSpeedUp];
        const bool slowDown = modifierHeld[modSlowDown];
        applyDesiredSpeed (speedUp == slowDown ? 1.0 : (speedUp ? 2.0 : 0.5), numSamples);

        const bool thru = thruStateOn();
        const int interaction = keyboardInteraction.load();
        const int input = inputLayer();
        for (int layer = 0; layer < numLayers; ++layer)
            setLayerMuted (layer, thru || (interaction == 0 && layer != input), blockOut);

        if (requantizeRequested.exchange (false))
            requantizeActiveVoices (blockOut);

        advanceLayer0Voices (numSamples, blockOut);
        resnapSoundingNotes (blockOut);
        shrinkVisibleLayers (blockOut);

        for (int layer = 1; layer < appliedVisibleLayers; ++layer)
            playUpperLayer (layer, numSamples, blockOut);
        cascadeTaps.clear();

        exchangeAudioLink (numSamples);
        if (captureArmed && ! stepRecording)
            captureBlock (numSamples);
        serviceOverdub (numSamples, blockOut);
        audio.clear();
        renderAudioKeys (audio);

        if (anyVoicePlaying())
            lastActivitySample = samplePosition;

        publishForEditor();

        // Advanced under the lock: the editor's playhead query reads the clock.
        samplePosition += numSamples;
    }

    pairOutputNotes (blockOut, pairedOut, outputNotes, samplePosition);
    midi.clear();
    midi.addEvents (pairedOut, 0, -1, 0);
}

//==============================================================================
void PluginProcessor::applyModifierZoneMove (juce::MidiBuffer& out)
{
    const int requested = pendingModOctaveBase.exchange (-1);
    if (requested < 0)
        return;

    // The zone always covers twelve real keys.
    const int base = std::min (requested, numKeys - numModifiers);
    if (base == appliedModOctaveBase.load())
        return;

    appliedModOctaveBase.store (base);
    modOctaveBase.store (base);

    for (int k = 0; k < numKeys; ++k)
        killVoice (k, 0, out);
    killOverlaps (0, -1, 0, out);

    clearModifierState();
    keyHeld.fill (false);
    ignoreNextRelease.fill (false);
    resetLayer0StepIndices();
    keySoundingCount.fill (0);
    // The host's note counts stay: the note-offs just sent bring them down, and
    // the upper layers may still sound, so an all-notes-off must still reach them.
    scaleKeysHeld.reset();
    modifierToggleRequests.store (0);
    selectedKeyRequest.store (-2);
    silenceStepAudition (0, out);
    cancelArming();

    if (inModifierZone (lastPlayedKey))
        lastPlayedKey = base >= 116 ? base - 1 : base + numModifiers;
}

void PluginProcessor::followTransport (juce::MidiBuffer& out)
{
    bool havePosition = false;

    if (auto* head = getPlayHead())
    {
        if (const auto pos = head->getPosition())
        {
            havePosition = true;
            hostIsPlaying = pos->getIsPlaying();

            if (const auto bpm = pos->getBpm(); bpm.hasValue() && std::isfinite (*bpm) && *bpm > 0.0)
                hostBpm = *bpm;

            if (const auto sig = pos->getTimeSignature();
                sig.hasValue() && sig->numerator >= 1 && sig->denominator >= 1)
                beatsPerBar = sig->numerator * 4.0 / sig->denominator;

            if (const auto ppq = pos->getPpqPosition(); ppq.hasValue() && std::isfinite (*ppq))
                hostPpq = *ppq;
        }
    }

    if (! havePosition)
        hostIsPlaying = false;

    if (hostIsPlaying && ! wasPlaying)
        silenceEverythingForTransportStart (out);
    else if (! hostIsPlaying && wasPlaying && captureArmed)
        commitRecording (0, out);

    wasPlaying = hostIsPlaying;
}

void PluginProcessor::silenceEverythingForTransportStart (juce::MidiBuffer& out)
{
    for (int k = 0; k < numKeys; ++k)
    {
        killVoice (k, 0, out);
        for (int layer = 1; layer < numLayers; ++layer)
            killVoiceUpper (layer, k, 0, out);
    }

    for (int layer = 0; layer < numLayers; ++layer)
    {
        killOverlaps (layer, -1, 0, out);
        resetLayerPlayState (layer);
    }

    silenceStepAudition (0, out);
    clearCascadeState();
    keySoundingCount.fill (0);
    clearLaunchState();
}

void PluginProcessor::applyStopKeyRequests (juce::MidiBuffer& out)
{
    for (int layer = 0; layer < numLayers; ++layer)
    {
        for (int half = 0; half < 2; ++half)
        {
            auto mask = stopKeyRequests[(size_t) layer][(size_t) half].exchange (0);

            for (int bit = 0; mask != 0; ++bit, mask >>= 1)
            {
                if ((mask & 1u) == 0)
                    continue;

                const int key = half * 64 + bit;
                if (voiceFor (layer, key).isActiveOrSounding())
                {
                    if (layer == 0)
                        killVoice (key, 0, out);
                    else
                        killVoiceUpper (layer, key, 0, out);
                }
                killOverlaps (layer, key, 0, out);
            }
        }
    }
}

void PluginProcessor::applyModifierToggles (juce::MidiBuffer& out, double rate)
{
    const auto toggles = modifierToggleRequests.exchange (0);

    for (int i = 0; i < numModifiers; ++i)
    {
        if ((toggles & (1u << i)) == 0)
            continue;

        if (modifierLatched[(size_t) i])
        {
            modifierLatched[(size_t) i] = false;
            handleModifierUp (i, 0, out);
        }
        else
        {
            handleModifierDown (i, 0, rate, out);
            if (modifierHeld[(size_t) i])
                modifierLatched[(size_t) i] = true;
        }
    }
}

//==============================================================================
void PluginProcessor::processMessage (const juce::MidiMessageMetadata& meta, juce::MidiBuffer& out, double rate)
{
    const auto* d = meta.data;
    const int size = meta.numBytes;
    const int pos = std::max (0, meta.samplePosition);
    const int type = size >= 1 ? (d[0] & 0xf0) : 0;
    const int channel = size >= 1 ? (d[0] & 0x0f) + 1 : 1;

    if (size >= 3 && (type == 0x90 || type == 0x80))
    {
        const int key = d[1] & 0x7f;
        const int velocity = d[2] & 0x7f;
        const bool isOn = type == 0x90 && velocity > 0;
        const bool zone = inModifierZone (key);

        if (isOn)
            lastNoteOfChannel[(size_t) channel - 1] = key;
        if (! zone)
            inputKeyDown[(size_t) key] = isOn;

        if (! zone)
        {
            if (isOn)
                inputVelocity[(size_t) key] = velocity;
            routePlayableNote (key, velocity, channel, isOn, pos, out, rate);
            return;
        }

        const int index = key - appliedModOctaveBase.load();
        if (isOn)
        {
            if (modifierLatched[(size_t) index])
            {
                modifierLatched[(size_t) index] = false;
                handleModifierUp (index, pos, out);
                return;
            }

            if (index == modHigherKeyboard || index == modLowerKeyboard)
                modifierHeldDisplay[(size_t) index] = true;
            handleModifierDown (index, pos, rate, out);
        }
        else if (! modifierLatched[(size_t) index])
        {
            if (index == modHigherKeyboard || index == modLowerKeyboard)
                modifierHeldDisplay[(size_t) index] = false;
            handleModifierUp (index, pos, out);
        }
        return;
    }

    // Velocity sources; the message itself continues below.
    const int source = velModSource.load();
    if (source == 4 && type == 0xd0 && size >= 2)
    {
        const int key = lastNoteOfChannel[(size_t) channel - 1];
        if (key >= 0)
            polyPressure[(size_t) key] = d[1] & 0x7f;
    }
    else if (source == 4 && type == 0xa0 && size >= 3)
    {
        polyPressure[(size_t) (d[1] & 0x7f)] = d[2] & 0x7f;
    }
    else if (source == 3 && type == 0xd0 && size >= 2)
    {
        modSourceValue = d[1] & 0x7f;
    }
    else if (source == 2 && type == 0xb0 && size >= 3 && d[1] == 1)
    {
        modSourceValue = d[2] & 0x7f;
    }

    if (type == 0xb0 && size >= 3 && isPedal (d[1]))
    {
        // Pedals hold whatever the clips play, on every channel they may use.
        for (int c = 0; c < numChannels; ++c)
        {
            const uint8_t msg[3] = { (uint8_t) (0xb0 | c), d[1], d[2] };
            out.addEvent (msg, 3, pos);
        }
        return;
    }

    out.addEvent (d, size, pos);
}

void PluginProcessor::routePlayableNote (int key, int velocity, int channel, bool isOn, int pos,
                                         juce::MidiBuffer& out, double rate)
{
    if (stepRecordingActive())
    {
        if (isOn)
            handlePlayableNoteOn (key, velocity, channel, pos, out, rate);
        else
            handlePlayableNoteOff (key, pos, out, rate);
        return;
    }

    const bool thru = thruStateOn();
    const int input = inputLayer();
    const int interaction = keyboardInteraction.load();
    const int visible = clampInt (visibleLayers.load(), 1, numLayers);

    const auto message = isOn ? juce::MidiMessage::noteOn (channel, key, (juce::uint8) velocity)
                              : juce::MidiMessage::noteOff (channel, key, (juce::uint8) 0);

    auto playLayer0 = [&]
    {
        if (keySnapAdmits (key, 0))
        {
            if (isOn)
                handlePlayableNoteOn (key, velocity, channel, pos, out, rate);
            else
                handlePlayableNoteOff (key, pos, out, rate);
        }
        else if (isOn)
        {
            scaleKeyDown (key);
        }
        else
        {
            scaleKeyUp (key);
        }
    };

    auto copyToVisibleUpperLayers = [&]
    {
        for (int layer = 1; layer < visible; ++layer)
            upperInput[(size_t) layer - 1].addEvent (message, pos);
    };

    if ((! thru && interaction == 1) || (interaction == 0 && ! thru && ! isOn))
    {
        playLayer0();
        copyToVisibleUpperLayers();
        return;
    }

    if (input >= 1 && (thru || interaction == 0))
    {
        upperInput[(size_t) input - 1].addEvent (message, pos);
        if (isOn && ! captureArmed && keySnapAdmits (key, input))
            lastPlayedKey = key;
        return;
    }

    playLayer0();
}

//==============================================================================
void PluginProcessor::shrinkVisibleLayers (juce::MidiBuffer& out)
{
    const int visible = clampInt (visibleLayers.load(), 1, numLayers);

    if (visible < appliedVisibleLayers)
        for (int layer = visible; layer < numLayers; ++layer)
            resetLayer (layer, out);

    appliedVisibleLayers = visible;
}

void PluginProcessor::publishForEditor()
{
    for (int k = 0; k < numKeys; ++k)
    {
        const auto ku = (size_t) k;
        published.noteOnCount[ku].store (inModifierZone (k) ? 0 : keys[ku].noteOnCount, std::memory_order_relaxed);
        published.soundingChannel[ku].store (keySoundingCount[ku] > 0 ? keySoundingChannel[ku] : 0,
                                             std::memory_order_relaxed);
    }

    for (size_t i = 0; i < (size_t) numModifiers; ++i)
    {
        published.modifierHeld[i].store (modifierHeldDisplay[i], std::memory_order_relaxed);
        published.modifierLatched[i].store (modifierLatched[i], std::memory_order_relaxed);
    }

    publishTakeTiming();
    published.captureArmed.store (captureArmed);
    published.pickDestinationOnFirstKey.store (pickDestinationOnFirstKey);
    published.captureTriggersKeys.store (captureTriggersKeys);
    published.captureLayer.store (captureLayer);
    published.lastPlayedKey.store (lastPlayedKey);
    modOctaveBase.store (appliedModOctaveBase.load());
    keySnapStart.store (snapRangeStart);
    keySnapEnd.store (snapRangeEnd);
    keySnapScale.store (scaleMask());
}
