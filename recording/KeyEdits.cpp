#include "recording/KeyEdits.h"

#include <algorithm>

#include "engine/PluginProcessor.h"
#include "engine/Timeline.h"

void mixSequenceInto (KeySequence& destination, const KeySequence& source)
{
    if (source.events.empty())
        return;

    if (destination.events.empty())
    {
        destination = source;
        return;
    }

    const double ratio = source.bpm > 0.0 && destination.bpm > 0.0 ? source.bpm / destination.bpm : 1.0;

    struct Timed
    {
        double time;
        bool fromSource;
        SeqEvent event;
    };
    std::vector<Timed> all;
    all.reserve (destination.events.size() + source.events.size());

    double t = 0.0;
    for (const auto& e : destination.events)
        all.push_back ({ t += e.waitMs, false, e });
    t = 0.0;
    for (const auto& e : source.events)
    {
        t += e.waitMs;
        all.push_back ({ t * ratio, true, e });
    }

    std::stable_sort (all.begin(), all.end(), [] (const Timed& a, const Timed& b)
    {
        if (a.time != b.time)
            return a.time < b.time;
        return ! a.fromSource && b.fromSource;
    });

    const double destinationLength = sumOfWaits (destination.events) + destination.tailMs;
    const double sourceLength = ratio * (sumOfWaits (source.events) + source.tailMs);

    destination.events.clear();
    double previous = 0.0;
    for (const auto& x : all)
    {
        auto e = x.event;
        e.waitMs = std::max (x.time - previous, 0.0);
        previous = x.time;
        destination.events.push_back (e);
    }

    destination.tailMs = std::max (std::max (destinationLength, sourceLength) - previous, 0.0);
    destination.recompute();
}

//==============================================================================
void PluginProcessor::requestStopKey (int layer, int key)
{
    if (layer < 0 || layer >= numLayers || key < 0 || key >= numKeys)
        return;
    stopKeyRequests[(size_t) layer][(size_t) key / 64].fetch_or (1ull << (key % 64));
}

// One key of an edit. The audio thread stops its voices at its next block,
// through the stop requests; on the upper layers applyKeyEdits leaves them.
void PluginProcessor::clearKeyForEdit (int layer, int k, bool stopVoice)
{
    if (stopVoice || layer == 0)
        requestStopKey (layer, k);
    sequenceFor (layer, k) = KeySequence();
    (layer == 0 ? stepIndex : upperLayers[(size_t) layer - 1].stepIndex)[(size_t) k] = 0;
    if (layer == 0)
    {
        releaseAudioVoice (k);
        keyAudio[(size_t) k] = nullptr;
        published.noteOnCount[(size_t) k].store (0);
    }
}

void PluginProcessor::replaceKeyForEdit (int layer, int k, const KeySequence& seq, bool stopVoice)
{
    if (stopVoice || layer == 0)
        requestStopKey (layer, k);
    auto& target = sequenceFor (layer, k);
    target.events = seq.events;
    target.bpm = seq.bpm;
    target.tailMs = seq.tailMs;
    target.recompute();
    (layer == 0 ? stepIndex : upperLayers[(size_t) layer - 1].stepIndex)[(size_t) k] = 0;
    if (layer == 0)
        publishNoteCount (k);
}

void PluginProcessor::setKeyAudioForEdit (int k, std::shared_ptr<const KeyAudio> audio)
{
    releaseAudioVoice (k);
    keyAudio[(size_t) k] = std::move (audio);
}

void PluginProcessor::applyKeyEdits (const std::vector<std::pair<int, KeySequence>>& edits,
                                     const std::vector<int>& clearKeys,
                                     const std::vector<std::pair<int, std::shared_ptr<const KeyAudio>>>& audioEdits,
                                     int layer)
{
    const int l = layer >= 1 && layer <= 3 ? layer : 0;
    auto valid = [] (int k) { return k >= 0 && k < numKeys; };

    std::set<int> touched;
    for (const auto& [k, seq] : edits)
        if (valid (k))
            touched.insert (k);
    if (l == 0)
        for (const auto& [k, audio] : audioEdits)
            if (valid (k))
                touched.insert (k);
    for (int k : clearKeys)
        if (valid (k))
            touched.insert (k);

    if (touched.empty())
        return;

    const std::lock_guard<std::mutex> lock (keyDataMutex);
    pushUndoGroup (touched, l);

    // Clearing first: a key both cleared and edited ends with the edit.
    for (int k : clearKeys)
        if (valid (k))
            clearKeyForEdit (l, k, false);
    for (const auto& [k, seq] : edits)
        if (valid (k))
            replaceKeyForEdit (l, k, seq, false);
    if (l == 0)
        for (const auto& [k, audio] : audioEdits)
            if (valid (k))
                setKeyAudioForEdit (k, audio);

    presetModified = true;
    scaleRescanRequested.store (true);
}

void PluginProcessor::applyKeyEditsMulti (const std::vector<LayerEdit>& layerEdits)
{
    const std::lock_guard<std::mutex> lock (keyDataMutex);
    auto valid = [] (int k) { return k >= 0 && k < numKeys; };

    // One undo step with every (key, layer) as it was before any change.
    UndoEntry entry;
    std::set<std::pair<int, int>> saved;
    auto save = [&] (int layer, int k)
    {
        if (valid (k) && saved.insert ({ layer, k }).second)
            entry.savedKeys.push_back (saveKey (k, layer));
    };

    for (const auto& le : layerEdits)
    {
        const int l = le.layer >= 1 && le.layer <= 3 ? le.layer : 0;
        for (const auto& [k, seq] : le.edits)
            save (l, k);
        if (l == 0)
            for (const auto& [k, audio] : le.audioEdits)
                save (l, k);
        for (int k : le.clearKeys)
            save (l, k);
    }

    if (entry.savedKeys.empty())
        return;
    pushUndoEntry (std::move (entry));

    for (const auto& le : layerEdits)
    {
        const int l = le.layer >= 1 && le.layer <= 3 ? le.layer : 0;
        for (int k : le.clearKeys)
            if (valid (k))
                clearKeyForEdit (l, k, true);
        for (const auto& [k, seq] : le.edits)
            if (valid (k))
                replaceKeyForEdit (l, k, seq, true);
        if (l == 0)
            for (const auto& [k, audio] : le.audioEdits)
                if (valid (k))
                    setKeyAudioForEdit (k, audio);
    }

    presetModified = true;
    scaleRescanRequested.store (true);
}
