#include "engine/PluginProcessor.h"

#include <algorithm>
#include <cmath>

// Step recording (notes entered at a cursor moved in grid steps) and step play
// (the step modifiers walking the playing clips group by group).

namespace
{
double tempoOr120 (double bpm) noexcept { return bpm > 0.0 ? bpm : 120.0; }

int wrapIndex (int index, int direction, int count)
{
    return index < 0 ? 0 : (count + (index + direction) % count) % count;
}
}

// Divides a clip's note-ons into groups: with chord awareness a note-on less
// than 50 ms after its group's first note-on joins that group.
void PluginProcessor::buildStepGroups (const KeySequence& seq, bool chordAware, StepGroups& groups)
{
    groups.eventIndices.clear();
    groups.groupBegin.clear();
    groups.groupTimes.clear();

    double t = 0.0;
    for (size_t i = 0; i < seq.events.size(); ++i)
    {
        const auto& e = seq.events[i];
        t += e.waitMs;
        if (! e.isNoteOn)
            continue;

        if (groups.groupTimes.empty() || ! chordAware || t - groups.groupTimes.back() >= 50.0)
        {
            groups.groupBegin.push_back ((int) groups.eventIndices.size());
            groups.groupTimes.push_back (t);
        }
        groups.eventIndices.push_back ((int) i);
    }
    groups.groupBegin.push_back ((int) groups.eventIndices.size());
}

int PluginProcessor::stepGroupAtMs (const StepGroups& groups, double ms)
{
    int found = -1;
    for (size_t g = 0; g < groups.count(); ++g)
        if (groups.groupTimes[g] <= ms + 0.5)
            found = (int) g;
    return found;
}

//==============================================================================
double PluginProcessor::computeStepCellMs() const
{
    const double tempo = tempoOr120 (hostBpm);
    const double beats = inputGridBeats();
    return beats > 0.0 ? beats * 60000.0 / tempo / 2.0 : 15000.0 / tempo / 2.0;
}

int PluginProcessor::stepMoveCells() const
{
    const bool fast = modifierHeld[modSpeedUp];
    const bool slow = modifierHeld[modSlowDown];
    return fast == slow ? 2 : (fast ? 1 : 4);
}

void PluginProcessor::clearStepRecordState()
{
    stepRecording = false;
    stepChordOpen = false;
    stepCursor = 0;
    stepChordStart = 0;
    stepChordFirstNote = 0;
    stepNotes.clear();
    stepHeld.clear();
    stepAuditionNotes.clear();
}

void PluginProcessor::resetLayer0StepIndices()
{
    stepIndex.fill (0);
}

void PluginProcessor::enterStepRecord()
{
    stepRecording = true;
    stepChordOpen = false;
    stepCursor = 0;
    stepChordStart = 0;
    stepNotes.clear();
    stepHeld.clear();

    stepIndex.fill (-1);
    for (auto& ul : upperLayers)
        ul.stepIndex.fill (-1);

    stepCellMs = computeStepCellMs();

    loopCapture = false;
    foldedTake.clear();
    lapsFolded = 0;
    published.captureLoopMs.store (0.0);
}

//==============================================================================
void PluginProcessor::silenceStepAudition (int sampleOffset, juce::MidiBuffer& out)
{
    emitLayer = captureLayer;
    emitSourceKey = -1;
    emitExcludedFromCapture = true;
    emitSoundsWhenMuted = true;
    emitBypassCascade = true;
    for (const auto& n : stepAuditionNotes)
        emitNoteOff (out, n.channel, n.note, sampleOffset);
    emitBypassCascade = false;
    emitSoundsWhenMuted = false;
    emitExcludedFromCapture = false;
    stepAuditionNotes.clear();
}

void PluginProcessor::auditionStepCell (int cell, int sampleOffset, juce::MidiBuffer& out, int noteLimit)
{
    silenceStepAudition (sampleOffset, out);

    auto sound = [&] (int channel, int note, int velocity)
    {
        channel = std::clamp (channel, 1, 16);
        note = std::clamp (note, 0, 127);
        emitLayer = captureLayer;
        emitExcludedFromCapture = true;
        emitSoundsWhenMuted = true;
        emitBypassCascade = true;
        emitNoteOn (out, channel, note, std::clamp (velocity, 1, 127), sampleOffset);
        emitBypassCascade = false;
        emitSoundsWhenMuted = false;
        emitExcludedFromCapture = false;
        stepAuditionNotes.push_back ({ channel, (uint8_t) note });
    };

    for (size_t i = 0; i < stepNotes.size(); ++i)
    {
        if (noteLimit >= 0 && (int) i >= noteLimit)
            break;

        const auto& n = stepNotes[i];
        const bool held = std::any_of (stepHeld.begin(), stepHeld.end(), [i] (const auto& h) { return h.first == (int) i; });
        if (n.startCell == cell && ! held)
            sound (n.channel, n.note, n.velocity);
    }

    // With "mix", what the other layers hold at this position is heard too.
    if (captureTriggersKeys && keyboardInteraction.load() == 1 && ! armedDestKeys.empty()
        && isValidDestination (armedDestKeys.front()) && stepCellMs > 0.0)
    {
        const int key = armedDestKeys.front();
        const double from = cell * stepCellMs, to = (cell + 2) * stepCellMs;
        const int visible = std::clamp (visibleLayers.load(), 1, numLayers);

        for (int layer = 0; layer < visible; ++layer)
        {
            if (layer == captureLayer)
                continue;

            double t = 0.0;
            for (const auto& e : sequenceFor (layer, key).events)
            {
                t += e.waitMs;
                if (e.isNoteOn && t >= from && t < to)
                    sound (e.channel, e.note, e.velocity);
            }
        }
    }
}

void PluginProcessor::releaseStepRecScrub (int sampleOffset, juce::MidiBuffer& out)
{
    silenceStepAudition (sampleOffset, out);
}

void PluginProcessor::stepRecUndoNote (int sampleOffset, juce::MidiBuffer& out)
{
    silenceStepAudition (sampleOffset, out);
    if (stepNotes.empty())
        return;

    const int removed = (int) stepNotes.size() - 1;
    stepCursor = stepNotes.back().startCell;
    stepNotes.pop_back();
    stepHeld.erase (std::remove_if (stepHeld.begin(), stepHeld.end(), [removed] (const auto& h) { return h.first == removed; }),
                    stepHeld.end());
    stepChordOpen = false;
}

void PluginProcessor::stepRecMoveCursor (int direction, int sampleOffset, juce::MidiBuffer& out)
{
    stepCursor = std::max (stepCursor + direction * stepMoveCells(), 0);
    stepChordOpen = false;

    if (stepHeld.empty())
    {
        auditionStepCell (stepCursor, sampleOffset, out, -1);
        return;
    }

    // Held notes are tied over the move.
    for (const auto& h : stepHeld)
    {
        auto& n = stepNotes[(size_t) h.first];
        n.endCell = std::max (stepCursor, n.startCell + 1);
    }
    silenceStepAudition (sampleOffset, out);
}

void PluginProcessor::stepRecordNoteOn (int key, int velocity, int channel, int sampleOffset, juce::MidiBuffer& out)
{
    const int length = stepMoveCells();
    const int interaction = keyboardInteraction.load();
    const int visible = std::clamp (visibleLayers.load(), 1, numLayers);

    // Adds one note under the chord rule; returns its start cell.
    auto addNote = [&] (int pitch, int vel, int ch, bool repeatedStartsNewChord) -> int
    {
        const bool repeated = stepChordOpen
            && std::any_of (stepNotes.begin() + (std::ptrdiff_t) std::min ((size_t) stepChordFirstNote, stepNotes.size()), stepNotes.end(),
                            [&] (const StepRecNote& n) { return n.note == pitch && n.channel == ch; });
        int start = stepCursor;

        if (repeated && repeatedStartsNewChord)
        {
            // The other held notes are tied on; the old note of this pitch ends here.
            for (auto it = stepHeld.begin(); it != stepHeld.end();)
            {
                auto& n = stepNotes[(size_t) it->first];
                if (n.note == pitch && n.channel == ch)
                {
                    it = stepHeld.erase (it);
                    continue;
                }
                n.endCell = std::max (n.startCell + 1, stepCursor + length);
                ++it;
            }
            stepChordStart = stepCursor;
            stepChordFirstNote = (int) stepNotes.size();
            stepCursor += length;
        }
        else if (stepChordOpen)
        {
            start = stepChordStart;
        }
        else
        {
            stepChordOpen = true;
            stepChordStart = stepCursor;
            stepChordFirstNote = (int) stepNotes.size();
            stepCursor += length;
        }

        stepNotes.push_back ({ std::clamp (pitch, 0, 127), std::clamp (vel, 1, 127), std::clamp (ch, 1, 16), start, start + length });
        stepHeld.push_back ({ (int) stepNotes.size() - 1, key });
        return start;
    };

    auto layerHasContent = [&] (int layer)
    {
        return layer == 0 ? keyHasContent (key) : ! upperKeys[(size_t) layer - 1][(size_t) key].events.empty();
    };

    std::array<int, numLayers> layers {};
    int layerCount = 0;
    if (interaction == 1)
    {
        for (int l = 0; l < visible; ++l)
            if (layerHasContent (l))
                layers[(size_t) layerCount++] = l;
    }
    else if (layerHasContent (captureLayer))
    {
        layers[(size_t) layerCount++] = captureLayer;
    }

    if (captureTriggersKeys && liveResample.load() && layerCount > 0)
    {
        // Resampling: the key's next step group is played and recorded.
        int start = -1;
        const double a = velControlAmount.load() / 100.0;
        for (int i = 0; i < layerCount; ++i)
        {
            const int layer = layers[(size_t) i];
            if (layer == 0)
                emitStep (key, velocity, 1, sampleOffset, out, sampleRate);
            else
                emitStepUpper (layer, key, velocity, 1, sampleOffset, out);

            const auto& seq = sequenceFor (layer, key);
            buildStepGroups (seq, stepChordAware.load(), stepGroups);
            const int index = layer == 0 ? stepIndex[(size_t) key] : upperLayers[(size_t) layer - 1].stepIndex[(size_t) key];
            if (index < 0 || (size_t) index >= stepGroups.count())
                continue;

            for (int j = stepGroups.groupBegin[(size_t) index]; j < stepGroups.groupBegin[(size_t) index + 1]; ++j)
            {
                const auto& e = seq.events[(size_t) stepGroups.eventIndices[(size_t) j]];
                const int pitch = std::clamp (e.note + (layer == playLayer ? transposeForLayer (layer) : 0), 0, 127);
                const bool known = std::any_of (stepNotes.begin() + (std::ptrdiff_t) std::min ((size_t) stepChordFirstNote, stepNotes.size()),
                                                stepNotes.end(), [&] (const StepRecNote& n)
                                                { return stepChordOpen && n.note == pitch && n.channel == e.channel; });
                if (known)
                    continue;

                const int vel = velControlPower.load() ? (int) std::lround (a * velocity + (1.0 - a) * e.velocity) : e.velocity;
                const int s = addNote (pitch, vel, e.channel, false);
                if (start < 0)
                    start = s;
            }
        }

        if (start >= 0)
            auditionStepCell (start, sampleOffset, out, stepChordFirstNote);
        return;
    }

    if (captureTriggersKeys && layerHasContent (playLayer))
    {
        if (playLayer == 0)
            emitStep (key, velocity, 1, sampleOffset, out, sampleRate);
        else
            emitStepUpper (playLayer, key, velocity, 1, sampleOffset, out);
        return;
    }

    const int pitch = std::clamp (key + transposeForLayer (playLayer), 0, 127);
    const int start = addNote (pitch, velocity, channel, true);

    killVoice (key, sampleOffset, out);
    startPassthroughVoice (key, velocity, channel, sampleOffset, out);
    auditionStepCell (start, sampleOffset, out, stepChordFirstNote);
}

void PluginProcessor::stepRecordNoteOff (int key, int sampleOffset, juce::MidiBuffer& out)
{
    stepHeld.erase (std::remove_if (stepHeld.begin(), stepHeld.end(), [key] (const auto& h) { return h.second == key; }),
                    stepHeld.end());
    if (stepHeld.empty())
    {
        stepChordOpen = false;
        silenceStepAudition (sampleOffset, out);
    }

    releasePlayable (key, sampleOffset, out);
    const int visible = std::clamp (visibleLayers.load(), 1, numLayers);
    for (int layer = 1; layer < visible; ++layer)
        killVoiceUpper (layer, key, sampleOffset, out);
}

KeySequence PluginProcessor::buildStepRecordTake() const
{
    KeySequence take;
    if (stepNotes.empty())
        return take;

    std::vector<double> times;
    int lastCell = stepCursor;
    for (const auto& n : stepNotes)
    {
        take.events.push_back ({ n.note, n.velocity, n.channel, true, 0.0 });
        times.push_back (n.startCell * stepCellMs);
        take.events.push_back ({ n.note, 0, n.channel, false, 0.0 });
        times.push_back (n.endCell * stepCellMs);
        lastCell = std::max (lastCell, n.endCell);
    }

    rebuildWaits (take.events, times);
    take.bpm = tempoOr120 (hostBpm);
    const double tail = lastCell * stepCellMs - sumOfWaits (take.events);
    take.tailMs = tail > 0.0 ? tail : 0.0;
    take.recompute();
    return take;
}

void PluginProcessor::commitStepRecording (int sampleOffset, juce::MidiBuffer& out)
{
    silenceStepAudition (sampleOffset, out);
    const auto take = buildStepRecordTake();

    if (! armedDestKeys.empty() && isValidDestination (armedDestKeys.front()))
        storeTake (captureLayer, armedDestKeys.front(), take.events, take.tailMs, sampleOffset, out);

    for (int layer = 0; layer < numLayers; ++layer)
        for (int k = 0; k < numKeys; ++k)
            if (keyIsStepping (layer, k))
                stopKeyOnLayer (layer, k, sampleOffset, out);

    presetModified = true;
    cancelArming();
}

//==============================================================================
bool PluginProcessor::keyIsStepping (int layer, int key) const
{
    const auto& v = voiceFor (layer, key);
    if (v.isActiveOrSounding() && (v.stepFrozen || v.displayPlayheadMs >= 0.0))
        return true;

    // An audio key steps while a slice of it plays.
    return layer == 0 && key >= 0 && key < numKeys && audioVoices[(size_t) key].active
        && ! audioVoices[(size_t) key].looping && stepIndex[(size_t) key] >= 0 && stepPositionMs[(size_t) key] >= 0.0;
}

bool PluginProcessor::emitStep (int key, int velocity, int direction, int sampleOffset, juce::MidiBuffer& out, double rate)
{
    return emitStepOn (0, key, velocity, direction, sampleOffset, out, rate);
}

void PluginProcessor::emitStepUpper (int layer, int key, int velocity, int direction, int sampleOffset, juce::MidiBuffer& out)
{
    if (layer >= 1 && layer <= 3)
        emitStepOn (layer, key, velocity, direction, sampleOffset, out, sampleRate);
}

bool PluginProcessor::emitStepOn (int layer, int key, int velocity, int direction, int sampleOffset,
                                  juce::MidiBuffer& out, double rate)
{
    if (key < 0 || key >= numKeys)
        return false;

    stopKeyOnLayer (layer, key, sampleOffset, out);

    const auto& seq = sequenceFor (layer, key);
    buildStepGroups (seq, stepChordAware.load(), stepGroups);
    const int count = (int) stepGroups.count();
    if (count == 0)
        return false;

    auto& indices = layer == 0 ? stepIndex : upperLayers[(size_t) layer - 1].stepIndex;
    auto& positions = layer == 0 ? stepPositionMs : upperLayers[(size_t) layer - 1].stepPositionMs;

    const int index = wrapIndex (indices[(size_t) key], direction, count);
    auto& v = voiceFor (layer, key);
    v.active = true;
    v.key = key;
    v.velocity = std::clamp (velocity, 1, 127);
    v.channel = 1;
    v.bpm = seq.bpm > 0.0 ? seq.bpm : 120.0;
    v.excludedFromCapture = captureArmed && ! liveResample.load();

    // The group's render list: its note-ons, the first at once, the others at their offsets.
    const double groupTime = stepGroups.groupTimes[(size_t) index];
    double previous = groupTime, t = 0.0;
    size_t scan = 0;
    for (int j = stepGroups.groupBegin[(size_t) index]; j < stepGroups.groupBegin[(size_t) index + 1]; ++j)
    {
        const auto eventIndex = (size_t) stepGroups.eventIndices[(size_t) j];
        for (; scan <= eventIndex; ++scan)
            t += seq.events[scan].waitMs;

        auto on = seq.events[eventIndex];
        on.waitMs = std::max (t - previous, 0.0);
        previous = t;
        v.events.push_back (on);
        v.sourceIndexMap.push_back ((int) eventIndex);
    }

    v.displayPlayheadMs = groupTime;
    v.blockOffset = sampleOffset;
    v.startSample = (double) (samplePosition + sampleOffset);
    v.cycleStartSample = v.startSample;
    v.samplesToNext = v.events.front().waitMs * voiceSamplesPerMs (v, layer, rate > 0.0 ? rate : 44100.0);

    indices[(size_t) key] = index;
    positions[(size_t) key] = groupTime;
    return true;
}

void PluginProcessor::playStep (int key, int direction, int velocity, int, int sampleOffset, juce::MidiBuffer& out)
{
    if (keyAudio[(size_t) key] != nullptr && keyAudio[(size_t) key]->hasFrames())
        emitAudioSlice (key, velocity, direction, sampleRate);
    else
        emitStep (key, velocity, direction, sampleOffset, out, sampleRate);
}

void PluginProcessor::stepKeyPressed (bool stepKeyAlreadyHeld, int sampleOffset, juce::MidiBuffer& out)
{
    const double rate = sampleRate > 0.0 ? sampleRate : 44100.0;

    bool anySteppingHeld = false;
    for (int k = 0; k < numKeys && ! anySteppingHeld; ++k)
        if (inputKeyDown[(size_t) k])
            for (int layer = 0; layer < numLayers && ! anySteppingHeld; ++layer)
                anySteppingHeld = keyIsStepping (layer, k);

    if (! stepKeyAlreadyHeld && ! anySteppingHeld)
    {
        stepIndex.fill (-1);
        stepPositionMs.fill (-1.0);
        for (auto& ul : upperLayers)
        {
            ul.stepIndex.fill (-1);
            ul.stepPositionMs.fill (-1.0);
        }
    }

    // The first press freezes every playing phrase where it is.
    bool froze = false;
    auto freeze = [&] (Voice& v, int layer)
    {
        if (! v.active || ! v.isPhrase || v.soundsWhenMuted || v.events.size() < 2 || v.key < 0)
            return;

        const double elapsed = voiceElapsedMs (v, rate, layer, sampleOffset);
        v.nextIndex = v.events.size();
        v.isPhrase = false;
        v.sourceEvents.clear();
        v.stepFrozen = true;
        v.displayPlayheadMs = elapsed;

        buildStepGroups (sequenceFor (layer, v.key), stepChordAware.load(), stepGroups);
        const int group = stepGroupAtMs (stepGroups, elapsed);
        if (layer == 0)
        {
            stepIndex[(size_t) v.key] = group;
            stepPositionMs[(size_t) v.key] = elapsed;
        }
        else
        {
            auto& ul = upperLayers[(size_t) layer - 1];
            ul.stepIndex[(size_t) v.key] = group;
            ul.stepPositionMs[(size_t) v.key] = elapsed;
        }
        froze = true;
    };

    for (auto& v : voices)
        freeze (v, 0);
    for (int layer = 0; layer < numLayers; ++layer)
    {
        if (layer > 0)
            for (auto& v : upperLayers[(size_t) layer - 1].voices)
                freeze (v, layer);
        for (auto& v : overlapsFor (layer))
            freeze (v, layer);
    }

    if (froze)
        return;

    const int direction = (stepForwardDown && stepBackwardDown) ? (lastStepForward ? 1 : -1)
                        : (stepForwardDown ? 1 : -1);

    for (int k = 0; k < numKeys; ++k)
    {
        const bool latched = triggerMode.load() == 2 && voices[(size_t) k].isActiveOrSounding();
        if ((! inputKeyDown[(size_t) k] && ! latched) || inModifierZone (k) || ! keySnapAdmits (k, playLayer))
            continue;

        const int velocity = inputVelocity[(size_t) k] > 0 ? inputVelocity[(size_t) k] : 100;
        bool stepped = false;
        for (int layer = 0; layer < numLayers; ++layer)
        {
            if (! keyIsStepping (layer, k))
                continue;
            stepped = true;
            if (layer == 0)
                playStep (k, direction, velocity, 1, sampleOffset, out);
            else
                emitStepUpper (layer, k, velocity, direction, sampleOffset, out);
        }

        if (stepped)
            continue;

        if (playLayer == 0)
        {
            if (keys[(size_t) k].noteOnCount >= 1)
                playStep (k, direction, velocity, 1, sampleOffset, out);
        }
        else if (! upperKeys[(size_t) playLayer - 1][(size_t) k].events.empty())
        {
            emitStepUpper (playLayer, k, velocity, direction, sampleOffset, out);
        }
    }
}

void PluginProcessor::releaseFrozenStepVoices (int sampleOffset, juce::MidiBuffer& out)
{
    for (auto& v : voices)
    {
        if (v.stepFrozen && v.key >= 0 && ! keyHeld[(size_t) v.key])
        {
            silenceVoice (v, 0, sampleOffset, out);
            v.reset();
        }
    }

    for (int layer = 0; layer < numLayers; ++layer)
    {
        if (layer > 0)
        {
            for (auto& v : upperLayers[(size_t) layer - 1].voices)
            {
                if (v.stepFrozen && v.key >= 0 && ! inputKeyDown[(size_t) v.key])
                {
                    silenceVoice (v, layer, sampleOffset, out);
                    v.reset();
                }
            }
        }

        overlapsFor (layer).removeIf ([&] (Voice& v)
        {
            const bool down = layer == 0 ? keyHeld[(size_t) std::max (v.key, 0)] : inputKeyDown[(size_t) std::max (v.key, 0)];
            if (! v.stepFrozen || down)
                return false;
            silenceVoice (v, layer, sampleOffset, out);
            return true;
        });
    }
}

void PluginProcessor::stepDispatch (int direction, bool stepWasDown, int sampleOffset, juce::MidiBuffer& out)
{
    if (captureArmed && stepRecording)
        stepRecMoveCursor (direction, sampleOffset, out);
    else if (captureArmed && ! takeStarted)
        enterStepRecord();
    else
        stepKeyPressed (stepWasDown, sampleOffset, out);
}

void PluginProcessor::stepReleased (int index, int sampleOffset, juce::MidiBuffer& out)
{
    if (captureArmed && stepRecording)
        releaseStepRecScrub (sampleOffset, out);

    if (index == modStepForward)
        stepForwardDown = false;
    else
        stepBackwardDown = false;

    if (! stepForwardDown && ! stepBackwardDown)
        releaseFrozenStepVoices (sampleOffset, out);
}
