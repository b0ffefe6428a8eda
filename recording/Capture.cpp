#include "engine/PluginProcessor.h"

#include <algorithm>
#include <cmath>

// Live capture ("resampling": a take records what the plug-in itself sends),
// loop capture with lap folding and the overdub playback voice, and commit.

namespace
{
double tempoOr120 (double bpm) noexcept { return bpm > 0.0 ? bpm : 120.0; }
}

bool PluginProcessor::isValidDestination (int key) const
{
    return key >= 0 && key < numKeys && ! inModifierZone (key);
}

KeySequence& PluginProcessor::sequenceFor (int layer, int key)
{
    const auto k = (size_t) std::clamp (key, 0, numKeys - 1);
    return layer >= 1 && layer <= 3 ? upperKeys[(size_t) layer - 1][k] : keys[k];
}

void PluginProcessor::stopKeyOnLayer (int layer, int key, int sampleOffset, juce::MidiBuffer& out)
{
    if (layer >= 1 && layer <= 3)
        killVoiceUpper (layer, key, sampleOffset, out);
    else
        killVoice (key, sampleOffset, out);
}

double PluginProcessor::nowMs (int sampleOffset) const
{
    const double rate = sampleRate > 0.0 ? sampleRate : 44100.0;
    return (double) (samplePosition + sampleOffset) / rate * 1000.0;
}

//==============================================================================
void PluginProcessor::beginCapture (int sampleOffset, juce::MidiBuffer& out, bool triggersKeys)
{
    const bool stepKeyDown = modifierHeld[modStepForward] || modifierHeld[modStepBackward];

    armCapture (sampleOffset, out, triggersKeys, false);

    const bool admitted = captureLayer > 3 || keySnapAdmits (lastPlayedKey, captureLayer);
    if (isValidDestination (lastPlayedKey) && admitted)
    {
        armedDestKeys.push_back (lastPlayedKey);
        clearDestination (lastPlayedKey, sampleOffset, out);
    }

    if (stepKeyDown)
        enterStepRecord();
}

void PluginProcessor::armCapture (int sampleOffset, juce::MidiBuffer&, bool triggersKeys, bool pickDestination)
{
    captureArmed = true;
    captureTriggersKeys = triggersKeys;
    pickDestinationOnFirstKey = pickDestination;
    captureLayer = std::clamp (playLayer, 0, numLayers - 1);
    published.captureLayer.store (captureLayer);

    clearStepRecordState();

    if (captureEvents.capacity() < captureReserveEvents)
        captureEvents.reserve (captureReserveEvents);
    armedDestKeys.clear();
    captureEvents.clear();
    takeStarted = false;
    keepLeadingGap = false;

    const bool stepKeyDown = modifierHeld[modStepForward] || modifierHeld[modStepBackward];
    const double loopBeats = loopLengthBeatsNow();
    loopCapture = loopBeats > 0.0 && ! stepKeyDown;
    if (loopCapture)
    {
        captureLoopMs = loopBeats * 60000.0 / tempoOr120 (hostBpm);
        captureLoopSamples = (sampleRate > 0.0 ? sampleRate : 44100.0) * captureLoopMs / 1000.0;
    }
    else
    {
        captureLoopMs = 0.0;
        captureLoopSamples = 0.0;
    }
    captureStartSample = 0.0;
    lapsFolded = 0;
    foldedTake.clear();
    published.captureLoopMs.store (captureLoopMs);

    // What already plays either starts the take (resampling) or stays out of it.
    const bool resample = liveResample.load() && captureTriggersKeys;
    const int interaction = keyboardInteraction.load();

    auto arm = [&] (Voice& v, int layer)
    {
        if (! v.isActiveOrSounding())
            return;

        if (resample && (interaction != 0 || layer == captureLayer))
        {
            for (const auto& n : v.sounding)
                captureTap.addEvent (juce::MidiMessage::noteOn (n.channel, n.emittedNote,
                                                                (juce::uint8) std::max (1, n.velocity)),
                                     sampleOffset);
        }
        else
        {
            v.excludedFromCapture = true;
        }
    };

    for (int layer = 0; layer < numLayers; ++layer)
    {
        if (layer == 0)
            for (auto& v : voices)
                arm (v, 0);
        else
            for (auto& v : upperLayers[(size_t) layer - 1].voices)
                arm (v, layer);

        for (auto& v : overlapsFor (layer))
            arm (v, layer);
    }
}

void PluginProcessor::cancelArming()
{
    captureArmed = false;
    captureTriggersKeys = false;
    pickDestinationOnFirstKey = false;
    armedDestKeys.clear();
    captureEvents.clear();
    foldedTake.clear();
    takeStarted = false;
    loopCapture = false;
    lapsFolded = 0;
    published.captureLoopMs.store (0.0);
    clearStepRecordState();

    auto include = [] (Voice& v) { v.excludedFromCapture = false; };
    for (auto& v : voices)
        include (v);
    for (int layer = 0; layer < numLayers; ++layer)
        for (auto& v : overlapsFor (layer))
            include (v);
    for (auto& ul : upperLayers)
        for (auto& v : ul.voices)
            include (v);

    for (int i : { (int) modRecord, (int) modThru })
    {
        modifierHeld[(size_t) i] = false;
        modifierLatched[(size_t) i] = false;
        modifierHeldDisplay[(size_t) i] = false;
        published.modifierHeld[(size_t) i].store (false);
        published.modifierLatched[(size_t) i].store (false);
    }
}

void PluginProcessor::clearDestination (int key, int sampleOffset, juce::MidiBuffer& out)
{
    if (! isValidDestination (key))
        return;

    const int layer = captureLayer;
    pushUndo (key, layer);
    stopKeyOnLayer (layer, key, sampleOffset, out);
    killOverlaps (layer, key, sampleOffset, out);

    auto& seq = sequenceFor (layer, key);
    seq.events.clear();
    seq.tailMs = 0.0;
    seq.recompute();

    if (layer == 0)
    {
        releaseAudioVoice (key);
        stepIndex[(size_t) key] = 0;
        if (keyHeld[(size_t) key] || inputKeyDown[(size_t) key])
            ignoreNextRelease[(size_t) key] = true;
    }
}

//==============================================================================
void PluginProcessor::captureBlock (int)
{
    const double rate = sampleRate > 0.0 ? sampleRate : 44100.0;

    for (const auto meta : captureTap)
    {
        if (meta.numBytes < 3)
            continue;

        const auto* d = meta.data;
        const int type = d[0] & 0xf0;
        const bool isOn = type == 0x90 && d[2] > 0;
        const bool isOff = type == 0x80 || (type == 0x90 && d[2] == 0);
        if (! isOn && ! isOff)
            continue;

        const double messageSample = (double) (samplePosition + meta.samplePosition);
        const double t = messageSample / rate * 1000.0;

        if (! takeStarted)
        {
            if (isOff)
                continue;

            takeStarted = true;
            double start = messageSample;
            const double inputBeats = inputGridBeats();
            const double gridBeats = inputBeats > 0.0 ? inputBeats : launchGridBeats();

            if (gridBeats > 0.0 && hostIsPlaying)
            {
                const double tempo = tempoOr120 (hostBpm);
                const double beat = hostPpq + meta.samplePosition / rate * tempo / 60.0;
                const double anchor = std::max (launchAnchorPpq, 0.0);
                const double line = std::round ((beat - anchor) / gridBeats) * gridBeats + anchor;
                start = messageSample + (line - beat) * 60.0 / tempo * rate;
                keepLeadingGap = true;
            }
            else if (launchAnchorSample >= 0 && launchGridBeats() > 0.0)
            {
                const double W = launchGridSamples (rate);
                const auto anchor = (double) launchAnchorSample;
                start = anchor + std::round ((messageSample - anchor) / W) * W;
                keepLeadingGap = true;
            }

            takeStartMs = lastEventMs = start / rate * 1000.0;
            captureStartSample = start;
        }

        SeqEvent e;
        e.note = d[1] & 0x7f;
        e.velocity = isOn ? (d[2] & 0x7f) : 0;
        e.channel = (d[0] & 0x0f) + 1;
        e.isNoteOn = isOn;
        e.waitMs = std::max (t - lastEventMs, 0.0);
        captureEvents.push_back (e);
        lastEventMs = std::max (t, lastEventMs);
    }

    captureTap.clear();
}

std::vector<SeqEvent> PluginProcessor::foldEventsNow (const std::vector<SeqEvent>& events) const
{
    const double tempo = std::max (hostBpm, 1.0);
    const double gridMs = inputGridBeats() * 60000.0 / tempo;
    const double rate = sampleRate > 0.0 ? sampleRate : 44100.0;
    const double elapsedMs = ((double) samplePosition - captureStartSample) / rate * 1000.0;
    return foldEvents (events, captureLoopMs, gridMs, inputQuantAmount.load(), elapsedMs);
}

void PluginProcessor::foldLap()
{
    foldedTake = foldEventsNow (captureEvents);
}

void PluginProcessor::serviceOverdub (int numSamples, juce::MidiBuffer& out)
{
    if (! captureArmed || stepRecording || ! loopCapture || ! takeStarted || ! (captureLoopSamples > 0.0)
        || armedDestKeys.empty() || ! isValidDestination (armedDestKeys.front()))
        return;

    const int key = armedDestKeys.front();
    const auto blockEnd = (double) (samplePosition + numSamples);
    const auto lap = (int) std::floor ((blockEnd - captureStartSample) / captureLoopSamples);
    if (lap <= lapsFolded)
        return;

    lapsFolded = lap;
    foldLap();

    auto& v = voiceFor (captureLayer, key);
    if (foldedTake.empty() || sameSeqEvents (v.events, foldedTake))
        return;

    auto& seq = sequenceFor (captureLayer, key);
    seq.events = foldedTake;
    seq.bpm = tempoOr120 (hostBpm);
    seq.tailMs = std::max (captureLoopMs - sumOfWaits (foldedTake), 0.0);
    seq.recompute();

    // The laps so far play back as one loop while recording goes on.
    silenceVoice (v, captureLayer, std::max (0, numSamples - 1), out);
    v.reset();
    v.active = true;
    v.key = key;
    v.velocity = 100;
    v.channel = 1;
    v.bpm = seq.bpm;
    v.events.assign (foldedTake.begin(), foldedTake.end());
    v.nextIndex = 0;
    v.isPhrase = ! v.events.empty();
    v.loopAllowed = true;
    v.croppedToWindow = true;
    v.cycleMs = captureLoopMs;
    v.tailMs = seq.tailMs;
    v.excludedFromCapture = true;
    v.soundsWhenMuted = true;
    v.fixedVelocity = true;

    const double boundary = captureStartSample + lap * captureLoopSamples;
    v.cycleStartSample = boundary;
    v.startSample = boundary;
    const double rate = sampleRate > 0.0 ? sampleRate : 44100.0;
    const double perMs = voiceSamplesPerMs (v, captureLayer, rate);
    v.samplesToNext = std::max (boundary + v.events.front().waitMs * perMs - blockEnd, 0.0);

    // The boundary lay inside this block: the loop is already that far in.
    // Place the voice there, so its later notes come in time, and sound what
    // is open at that point at once.
    size_t next = 0;
    double toNext = 0.0;
    const double intoLoopMs = (blockEnd - boundary) / perMs;
    if (intoLoopMs > 0.0 && legatoSeek (v.events, intoLoopMs, perMs, next, toNext, legatoOpenNotes))
    {
        v.nextIndex = next;
        v.samplesToNext = toNext;
        startOpenNotes (v, captureLayer, legatoOpenNotes, std::max (0, numSamples - 1), out);
    }
}

void PluginProcessor::resyncOverdubVoice (int key, int sampleOffset, juce::MidiBuffer& out)
{
    if (! (sampleRate > 0.0) || ! (captureLoopMs > 0.0) || ! isValidDestination (key))
        return;

    auto& v = voiceFor (captureLayer, key);
    if (! v.active)
        return;

    v.events.assign (foldedTake.begin(), foldedTake.end());
    v.isPhrase = ! v.events.empty();
    v.cycleMs = captureLoopMs;
    v.tailMs = std::max (captureLoopMs - sumOfWaits (v.events), 0.0);

    const double perMs = voiceSamplesPerMs (v, captureLayer, sampleRate);
    const double sinceCycle = ((double) (samplePosition + sampleOffset) - v.cycleStartSample) / perMs;
    const double position = std::fmod (std::max (sinceCycle, 0.0), captureLoopMs);

    size_t next = 0;
    double toNext = 0.0;
    legatoOpenNotes.clear();
    if (legatoSeek (v.events, position, perMs, next, toNext, legatoOpenNotes))
    {
        v.nextIndex = next;
        v.samplesToNext = toNext;
    }
    else
    {
        // Nothing later in the loop: the next event is the loop's end.
        v.nextIndex = v.events.size();
        v.samplesToNext = std::max (captureLoopMs - position, 0.0) * perMs;
    }
    v.blockOffset = 0;

    syncSoundingToOpenNotes (v, captureLayer, legatoOpenNotes, sampleOffset, out);
}

//==============================================================================
void PluginProcessor::storeTake (int layer, int key, const std::vector<SeqEvent>& events, double tailMs,
                                 int sampleOffset, juce::MidiBuffer& out)
{
    stopKeyOnLayer (layer, key, sampleOffset, out);
    auto& seq = sequenceFor (layer, key);
    seq.events = events;
    seq.bpm = tempoOr120 (hostBpm);
    seq.tailMs = std::max (tailMs, 0.0);
    seq.recompute();
    if (layer == 0)
        stepIndex[(size_t) key] = 0;
}

void PluginProcessor::commitRecording (int sampleOffset, juce::MidiBuffer& out)
{
    if (! captureArmed)
        return;

    if (stepRecording)
    {
        commitStepRecording (sampleOffset, out);
        return;
    }

    // Notes this block already sent before the commit belong to the take.
    captureBlock (0);

    if (loopCapture && lapsFolded >= 1)
    {
        foldedTake = foldEventsNow (captureEvents);
        const auto it = std::find_if (armedDestKeys.begin(), armedDestKeys.end(),
                                      [this] (int k) { return isValidDestination (k); });
        if (it != armedDestKeys.end())
            storeTake (captureLayer, *it, foldedTake, captureLoopMs - sumOfWaits (foldedTake), sampleOffset, out);
    }
    else
    {
        const double now = nowMs (sampleOffset);

        if (! captureEvents.empty() && ! keepLeadingGap)
            captureEvents.front().waitMs = 0.0;

        if (takeStarted && sampleRate > 0.0)
        {
            // Close what is still held at the moment of the commit.
            std::vector<std::pair<int, int>> open;
            for (const auto& e : captureEvents)
            {
                if (e.isNoteOn)
                {
                    open.push_back ({ e.note, e.channel });
                }
                else
                {
                    const auto match = std::find (open.begin(), open.end(), std::pair<int, int> { e.note, e.channel });
                    if (match != open.end())
                        open.erase (match);
                }
            }

            bool first = true;
            for (const auto& [note, channel] : open)
            {
                captureEvents.push_back ({ note, 0, channel, false, first ? std::max (now - lastEventMs, 0.0) : 0.0 });
                first = false;
            }
        }

        const double inputBeats = inputGridBeats();
        if (inputBeats > 0.0)
            quantizeTimeline (captureEvents, inputBeats * 60000.0 / tempoOr120 (hostBpm), inputQuantAmount.load(), 0,
                              timelineScratch);

        double tail = 0.0;
        if (takeStarted && sampleRate > 0.0)
        {
            const double sum = sumOfWaits (captureEvents);
            tail = std::max (now - takeStartMs - sum, 0.0);

            const double gridMs = launchGridBeats() * 60000.0 / tempoOr120 (hostBpm);
            if (gridMs > 0.0)
                tail = std::max (std::ceil ((tail + sum - 0.000001) / gridMs) * gridMs - sum, 0.0);
        }

        for (int key : armedDestKeys)
            if (isValidDestination (key))
                storeTake (captureLayer, key, captureEvents, tail, sampleOffset, out);
    }

    presetModified = true;
    scaleRescanRequested.store (true);
    cancelArming();
}

void PluginProcessor::publishTakeTiming()
{
    const double rate = sampleRate > 0.0 ? sampleRate : 44100.0;
    const double now = (double) samplePosition / rate * 1000.0;   // the block's start

    double elapsed = 0.0, projected = 0.0, loopPosition = -1.0;
    if (stepRecordingActive())
    {
        int cells = stepCursor;
        for (const auto& n : stepNotes)
            cells = std::max (cells, n.endCell);
        elapsed = projected = cells * stepCellMs;
    }
    else if (captureArmed && takeStarted)
    {
        elapsed = std::max (now - takeStartMs, 0.0);
        const double gridMs = launchGridBeats() * 60000.0 / std::max (hostBpm, 1.0);
        if (loopCapture && captureLoopMs > 0.0)
            projected = captureLoopMs;
        else if (gridMs > 0.0)
            projected = std::ceil ((elapsed - 0.000001) / gridMs) * gridMs;
        else
            projected = elapsed;
    }

    if (captureArmed && loopCapture && takeStarted && captureLoopMs > 0.0)
    {
        const double p = ((double) samplePosition - captureStartSample) / rate * 1000.0;
        loopPosition = p >= 0.0 ? std::fmod (p, captureLoopMs) : -1.0;
    }

    published.takeElapsedMs.store (elapsed);
    published.takeProjectedMs.store (projected);
    published.loopPositionMs.store (loopPosition);
    published.stepRecording.store (stepRecordingActive());
    published.stepCursorMs.store (stepRecordingActive() ? stepCursor * stepCellMs : 0.0);
}

std::vector<int> PluginProcessor::getArmedDestKeys() const
{
    const std::lock_guard<std::mutex> lock (keyDataMutex);
    return captureArmed ? armedDestKeys : std::vector<int>();
}
