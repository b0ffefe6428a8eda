#include "engine/PluginProcessor.h"

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
                beginCapture (! modifierHeld[modThru], sampleOffset, out);
            break;

        case modUndo:
            if (! captureArmed)
                performUndo (sampleOffset, out);
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

void PluginProcessor::switchLayer (int, int, juce::MidiBuffer&)
{
    // The layer switch is built with the recording modifiers.
}
