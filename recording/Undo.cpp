#include "engine/PluginProcessor.h"

#include <algorithm>

// Two bounded histories of key content. Entries are moved between them, never
// copied; whole-state snapshots exist only for preset and sketch loads.

namespace
{
void pushLimited (std::deque<PluginProcessor::UndoEntry>& queue, PluginProcessor::UndoEntry entry)
{
    queue.push_back (std::move (entry));
    while (queue.size() > PluginProcessor::undoLimit)
        queue.pop_front();
}
}

void PluginProcessor::clearUndoHistory()
{
    undoHistory.clear();
    redoHistory.clear();
}

void PluginProcessor::pushUndoEntry (UndoEntry entry)
{
    pushLimited (undoHistory, std::move (entry));
    redoHistory.clear();
}

PluginProcessor::UndoKey PluginProcessor::saveKey (int key, int layer) const
{
    UndoKey saved;
    saved.key = key;
    saved.layer = layer >= 1 && layer <= 3 ? layer : 0;
    const auto k = (size_t) std::clamp (key, 0, numKeys - 1);
    saved.sequence = saved.layer == 0 ? keys[k] : upperKeys[(size_t) saved.layer - 1][k];
    if (saved.layer == 0)
        saved.audio = keyAudio[k];
    return saved;
}

void PluginProcessor::pushUndo (int key, int layer)
{
    if (key < 0 || key >= numKeys)
        return;

    UndoEntry entry;
    entry.savedKeys.push_back (saveKey (key, layer));
    pushUndoEntry (std::move (entry));
}

void PluginProcessor::pushUndoGroup (const std::set<int>& keySet, int layer)
{
    UndoEntry entry;
    for (int key : keySet)
        if (key >= 0 && key < numKeys)
            entry.savedKeys.push_back (saveKey (key, layer));

    if (! entry.savedKeys.empty())
        pushUndoEntry (std::move (entry));
}

void PluginProcessor::publishNoteCount (int key)
{
    if (key >= 0 && key < numKeys)
        published.noteOnCount[(size_t) key].store (inModifierZone (key) ? 0 : keys[(size_t) key].noteOnCount);
}

PluginProcessor::UndoKey PluginProcessor::swapKeyContent (const UndoKey& saved, int sampleOffset, juce::MidiBuffer& out)
{
    const int layer = saved.layer >= 1 && saved.layer <= 3 ? saved.layer : 0;
    const int key = saved.key;
    auto displaced = saveKey (key, layer);

    stopKeyOnLayer (layer, key, sampleOffset, out);
    killOverlaps (layer, key, sampleOffset, out);

    auto& seq = sequenceFor (layer, key);
    seq = saved.sequence;
    seq.recompute();

    if (layer == 0)
    {
        keyAudio[(size_t) key] = saved.audio;
        releaseAudioVoice (key);
        stepIndex[(size_t) key] = 0;
        publishNoteCount (key);
    }
    else
    {
        upperLayers[(size_t) layer - 1].stepIndex[(size_t) key] = 0;
    }

    return displaced;
}

namespace
{
// Undo and redo are one operation with the two queues exchanged.
template <typename Processor>
void stepHistory (Processor& p, std::deque<typename Processor::UndoEntry>& from,
                  std::deque<typename Processor::UndoEntry>& to, int sampleOffset, juce::MidiBuffer& out)
{
    if (from.empty())
        return;

    auto entry = std::move (from.back());
    from.pop_back();

    if (entry.snapshot != nullptr)
    {
        typename Processor::UndoEntry back;
        back.snapshot = p.captureFullSnapshot();
        p.applyFullSnapshot (*entry.snapshot, sampleOffset, out);
        pushLimited (to, std::move (back));
    }
    else
    {
        typename Processor::UndoEntry back;
        for (const auto& saved : entry.savedKeys)
            if (saved.key >= 0 && saved.key < Processor::numKeys)
                back.savedKeys.push_back (p.swapKeyContent (saved, sampleOffset, out));

        if (! back.savedKeys.empty())
            pushLimited (to, std::move (back));
    }

    p.presetModified = true;
    p.scaleRescanRequested.store (true);
}
}

void PluginProcessor::performUndo (int sampleOffset, juce::MidiBuffer& out)
{
    stepHistory (*this, undoHistory, redoHistory, sampleOffset, out);
}

void PluginProcessor::performRedo (int sampleOffset, juce::MidiBuffer& out)
{
    stepHistory (*this, redoHistory, undoHistory, sampleOffset, out);
}

//==============================================================================
std::unique_ptr<PluginProcessor::FullSnapshot> PluginProcessor::captureFullSnapshot() const
{
    auto s = std::make_unique<FullSnapshot>();
    s->keys = keys;
    s->keyAudio = keyAudio;
    s->upperKeys = upperKeys;
    s->modOctaveBase = appliedModOctaveBase.load();
    s->transpose1 = transpose1.load();
    s->transpose2 = transpose2.load();
    s->speed1Idx = speed1Idx.load();
    s->speed2Idx = speed2Idx.load();
    s->repeat1Rate = repeat1Rate.load();
    s->repeat2Rate = repeat2Rate.load();
    s->invert1Dir = invert1Dir.load();
    s->invert2Dir = invert2Dir.load();
    s->stepChordAware = stepChordAware.load();
    s->sliceOffsetMs = sliceOffsetMs.load();
    s->inputQuantNote = inputQuantNote.load();
    s->inputQuantFeel = inputQuantFeel.load();
    s->inputQuantAmount = inputQuantAmount.load();
    s->launchQuantNote = launchQuantNote.load();
    s->launchQuantFeel = launchQuantFeel.load();
    s->inputQuantPower = inputQuantPower.load();
    s->launchQuantPower = launchQuantPower.load();
    s->loopEnabled = loopEnabled.load();
    s->loopLengthIdx = loopLengthIdx.load();
    s->keyboardInteraction = keyboardInteraction.load();
    s->cascadeEnabled = cascadeEnabled.load();
    s->triggerMode = triggerMode.load();
    s->liveResample = liveResample.load();
    s->velModSource = velModSource.load();
    s->velControlPower = velControlPower.load();
    s->velControlAmount = velControlAmount.load();
    s->monoMode = monoMode.load();
    s->legato = legato.load();
    s->playLayer = playLayer;
    s->visibleLayers = visibleLayers.load();
    for (size_t l = 0; l < (size_t) numLayers; ++l)
    {
        s->layerDry[l] = layerDry[l].load();
        s->layerKeysnap[l] = layerKeysnap[l].load();
    }
    s->keySnapStart = snapRangeStart;
    s->keySnapEnd = snapRangeEnd;
    s->scale = scalePitchClasses;
    s->presetName = currentPresetName;
    return s;
}

void PluginProcessor::applyFullSnapshot (const FullSnapshot& s, int sampleOffset, juce::MidiBuffer& out)
{
    for (int k = 0; k < numKeys; ++k)
    {
        killVoice (k, sampleOffset, out);
        for (int layer = 1; layer < numLayers; ++layer)
            killVoiceUpper (layer, k, sampleOffset, out);
    }
    for (int layer = 0; layer < numLayers; ++layer)
    {
        killOverlaps (layer, -1, sampleOffset, out);
        resetLayerPlayState (layer);
    }
    resetAudioVoices();
    clearCascadeState();
    for (auto& ul : upperLayers)
        ul.passthroughHeld.fill (false);
    monoKey = -1;

    keys = s.keys;
    keyAudio = s.keyAudio;
    upperKeys = s.upperKeys;

    const int base = std::clamp (s.modOctaveBase, 0, numKeys - numModifiers);
    appliedModOctaveBase.store (base);
    modOctaveBase.store (base);
    transpose1.store (s.transpose1);
    transpose2.store (s.transpose2);
    speed1Idx.store (s.speed1Idx);
    speed2Idx.store (s.speed2Idx);
    repeat1Rate.store (s.repeat1Rate);
    repeat2Rate.store (s.repeat2Rate);
    invert1Dir.store (s.invert1Dir);
    invert2Dir.store (s.invert2Dir);
    stepChordAware.store (s.stepChordAware);
    sliceOffsetMs.store (s.sliceOffsetMs);
    inputQuantNote.store (s.inputQuantNote);
    inputQuantFeel.store (s.inputQuantFeel);
    inputQuantAmount.store (s.inputQuantAmount);
    launchQuantNote.store (s.launchQuantNote);
    launchQuantFeel.store (s.launchQuantFeel);
    inputQuantPower.store (s.inputQuantPower);
    launchQuantPower.store (s.launchQuantPower);
    loopEnabled.store (s.loopEnabled);
    loopLengthIdx.store (s.loopLengthIdx);
    const int interaction = std::clamp (s.keyboardInteraction, 0, 2);
    keyboardInteraction.store (interaction);
    cascadeEnabled.store (interaction == 2);
    triggerMode.store (s.triggerMode);
    liveResample.store (s.liveResample);
    velModSource.store (s.velModSource);
    velControlPower.store (s.velControlPower);
    velControlAmount.store (s.velControlAmount);
    monoMode.store (s.monoMode);
    legato.store (s.legato);
    const int visible = std::clamp (s.visibleLayers, 1, numLayers);
    visibleLayers.store (visible);
    playLayer = std::clamp (s.playLayer, 0, visible - 1);
    focusedLayer.store (playLayer);
    for (size_t l = 0; l < (size_t) numLayers; ++l)
    {
        layerDry[l].store (s.layerDry[l]);
        layerKeysnap[l].store (s.layerKeysnap[l]);
    }
    snapRangeStart = s.keySnapStart;
    snapRangeEnd = s.keySnapEnd;
    scalePitchClasses = s.scale;
    keySnapStart.store (snapRangeStart);
    keySnapEnd.store (snapRangeEnd);
    keySnapScale.store (scaleMask());

    currentPresetName = s.presetName;

    for (int k = 0; k < numKeys; ++k)
        publishNoteCount (k);
}

//==============================================================================
void PluginProcessor::wetUndoNote (int sampleOffset, juce::MidiBuffer& out)
{
    auto& ev = captureEvents;
    if (ev.size() < 2)
        return;

    // The latest note-on, from the second-to-last event back, that has ended.
    size_t onIndex = ev.size(), offIndex = ev.size();
    for (size_t i = ev.size() - 1; i-- > 0;)
    {
        if (! ev[i].isNoteOn)
            continue;

        for (size_t j = i + 1; j < ev.size(); ++j)
        {
            if (! ev[j].isNoteOn && ev[j].note == ev[i].note && ev[j].channel == ev[i].channel)
            {
                onIndex = i;
                offIndex = j;
                break;
            }
        }
        if (onIndex < ev.size())
            break;
    }

    if (onIndex >= ev.size())
        return;

    // Remove both, handing their waits on so every other event keeps its time.
    auto removeKeepingTime = [&ev] (size_t index)
    {
        if (index + 1 < ev.size())
            ev[index + 1].waitMs += ev[index].waitMs;
        ev.erase (ev.begin() + (std::ptrdiff_t) index);
    };
    removeKeepingTime (offIndex);
    removeKeepingTime (onIndex);

    if (ev.empty())
    {
        takeStarted = false;
        foldedTake.clear();
    }
    else
    {
        lastEventMs = takeStartMs + sumOfWaits (ev);
    }

    if (loopCapture && lapsFolded >= 1 && ! armedDestKeys.empty() && isValidDestination (armedDestKeys.front()))
    {
        foldedTake = foldEventsNow (ev);
        auto& seq = sequenceFor (captureLayer, armedDestKeys.front());
        seq.events = foldedTake;
        seq.bpm = hostBpm > 0.0 ? hostBpm : 120.0;
        seq.tailMs = std::max (captureLoopMs - sumOfWaits (foldedTake), 0.0);
        seq.recompute();
        resyncOverdubVoice (armedDestKeys.front(), sampleOffset, out);
    }
}
