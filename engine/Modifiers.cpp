#include "engine/PluginProcessor.h"

#include <algorithm>

void PluginProcessor::clearModifierState()
{
    modifierHeld.fill (false);
    modifierLatched.fill (false);
    modifierHeldDisplay.fill (false);
    stepForwardDown = false;
    stepBackwardDown = false;
}

void PluginProcessor::handleModifierDown (int index, int sampleOffset, double, juce::MidiBuffer& out)
{
    if (index < 0 || index >= numModifiers)
        return;

    if (index == modHigherKeyboard || index == modLowerKeyboard)
    {
        switchLayer (index == modHigherKeyboard ? 1 : -1, sampleOffset, out);
        return;
    }

    if (modifierHeld[(size_t) index])
        return;

    const bool stepWasDown = stepForwardDown || stepBackwardDown;

    if (index >= modTransposeUp)
    {
        const int opposite = (index % 2 == 0) ? index + 1 : index - 1;
        if (modifierHeld[(size_t) opposite])
            handleModifierUp (opposite, sampleOffset, out);
    }

    modifierHeld[(size_t) index] = true;
    modifierHeldDisplay[(size_t) index] = true;

    switch (index)
    {
        case modRecord:
            if (! captureArmed)
                beginCapture (sampleOffset, out, ! modifierHeld[modThru]);
            break;

        case modUndo:
            if (! captureArmed)
                performUndo (sampleOffset, out);
            else if (stepRecording)
                stepRecUndoNote (sampleOffset, out);
            else
                wetUndoNote (sampleOffset, out);
            break;

        case modThru:
            if (captureArmed)
                captureTriggersKeys = false;
            break;

        case modRedo:
            if (! stepRecordingActive())
                performRedo (sampleOffset, out);
            break;

        case modStepBackward:
            stepBackwardDown = true;
            lastStepForward = false;
            if (modifierLatched[modStepForward])
                handleModifierUp (modStepForward, sampleOffset, out);
            stepDispatch (-1, stepWasDown, sampleOffset, out);
            break;

        case modStepForward:
            stepForwardDown = true;
            lastStepForward = true;
            if (modifierLatched[modStepBackward])
                handleModifierUp (modStepBackward, sampleOffset, out);
            stepDispatch (1, stepWasDown, sampleOffset, out);
            break;

        default:
            break;
    }
}

void PluginProcessor::handleModifierUp (int index, int sampleOffset, juce::MidiBuffer& out)
{
    if (index < 0 || index >= numModifiers || ! modifierHeld[(size_t) index])
        return;

    modifierHeld[(size_t) index] = false;
    modifierHeldDisplay[(size_t) index] = false;
    modifierLatched[(size_t) index] = false;

    if (index == modRecord && captureArmed)
        commitRecording (sampleOffset, out);
    else if (index == modStepForward || index == modStepBackward)
        stepReleased (index, sampleOffset, out);
}

void PluginProcessor::switchLayer (int direction, int sampleOffset, juce::MidiBuffer& out)
{
    const int visible = std::max (visibleLayers.load(), 1);
    const int from = focusedLayer.load();
    const int target = std::clamp (from + direction, 0, std::min (visible, numLayers) - 1);
    if (target == from)
        return;

    if (captureArmed)
    {
        // The take so far goes to its key; recording goes on into the first key
        // played on the new layer. Record and thru stay as the player holds them,
        // so releasing record still commits.
        const bool triggers = captureTriggersKeys;
        const std::array<bool, 2> held { modifierHeld[modRecord], modifierHeld[modThru] };
        const std::array<bool, 2> latched { modifierLatched[modRecord], modifierLatched[modThru] };

        commitRecording (sampleOffset, out);
        playLayer = target;
        focusedLayer.store (target);
        armCapture (sampleOffset, out, triggers, true);

        const int indices[2] = { modRecord, modThru };
        for (size_t i = 0; i < 2; ++i)
        {
            const auto m = (size_t) indices[i];
            modifierHeld[m] = held[i];
            modifierLatched[m] = latched[i];
            modifierHeldDisplay[m] = held[i];
        }
        return;
    }

    const int old = std::clamp (playLayer, 0, numLayers - 1);
    playLayer = target;
    focusedLayer.store (target);

    if (keyboardInteraction.load() != 0)
        return;

    // Only the focused layer plays: held notes move to the new layer.
    if (layerOutputMuted[(size_t) target])
        setLayerMuted (target, false, out);

    const double rate = sampleRate > 0.0 ? sampleRate : 44100.0;
    for (int k = 0; k < numKeys; ++k)
    {
        if (! inputKeyDown[(size_t) k] || inModifierZone (k))
            continue;

        auto& oldVoice = voiceFor (old, k);
        int velocity = 100, channel = 1;
        double position = -1.0, cycleStart = -1.0;

        if (oldVoice.isActiveOrSounding())
        {
            velocity = oldVoice.velocity > 0 ? oldVoice.velocity : 100;
            channel = std::clamp (oldVoice.channel, 1, 16);
            if (oldVoice.active && oldVoice.events.size() >= 2)
                position = voiceElapsedMs (oldVoice, rate, old, sampleOffset);
            if (oldVoice.isPhrase)
                cycleStart = oldVoice.cycleStartSample;
            stopKeyOnLayer (old, k, sampleOffset, out);
        }

        if (sequenceFor (target, k).events.empty())
            continue;

        if (voiceFor (target, k).isActiveOrSounding())
            stopKeyOnLayer (target, k, sampleOffset, out);

        suppressLegatoNotes = true;
        if (target == 0)
        {
            legatoSeekMs = position;
            startVoice (k, velocity, channel, sampleOffset, rate, out);
        }
        else
        {
            upperLayers[(size_t) target - 1].legatoSeekMs = position;
            startVoiceUpper (target, k, velocity, channel, sampleOffset, out, true);
        }

        auto& fresh = voiceFor (target, k);
        if (fresh.active && fresh.isPhrase && cycleStart >= 0.0)
            fresh.cycleStartSample = cycleStart;
    }
}
