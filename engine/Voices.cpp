#include "engine/PluginProcessor.h"

#include <algorithm>

namespace
{
// Room per voice before its lists would have to grow on the audio thread.
constexpr size_t soundingCapacity = 32;
constexpr size_t eventCapacity = 64;

int clampInt (int v, int lo, int hi) noexcept { return std::min (hi, std::max (lo, v)); }
}

Voice::Voice()
{
    sounding.reserve (soundingCapacity);
    events.reserve (eventCapacity);
    sourceEvents.reserve (eventCapacity);
    sourceIndexMap.reserve (soundingCapacity);
}

void Voice::reset() noexcept
{
    active = false;
    key = -1;
    velocity = 64;
    channel = 1;
    events.clear();
    sourceEvents.clear();
    anchorSample = 0;
    nextIndex = 0;
    samplesToNext = 0.0;
    sampleFraction = 0.0;
    blockOffset = 0;
    bpm = 120.0;
    cycleStartSample = 0.0;
    sounding.clear();
    isPhrase = false;
    loopAllowed = false;
    cycleMs = 0.0;
    tailMs = 0.0;
    croppedToWindow = false;
    requantizeOnWrap = false;
    startSample = -1.0;
    hasWrapped = false;
    noWrap = false;
    excludedFromCapture = false;
    soundsWhenMuted = false;
    fixedVelocity = false;
    sourceIndexMap.clear();
    displayPlayheadMs = -1.0;
    stepFrozen = false;
}

UpperLayer::UpperLayer()
{
    stepPositionMs.fill (-1.0);
    heldKeys.reserve (128);
}

Voice& PluginProcessor::voiceFor (int layer, int key)
{
    const auto k = (size_t) clampInt (key, 0, numKeys - 1);
    return layer >= 1 && layer <= 3 ? upperLayers[(size_t) layer - 1].voices[k] : voices[k];
}

const Voice& PluginProcessor::voiceFor (int layer, int key) const
{
    const auto k = (size_t) clampInt (key, 0, numKeys - 1);
    return layer >= 1 && layer <= 3 ? upperLayers[(size_t) layer - 1].voices[k] : voices[k];
}

OverlapList& PluginProcessor::overlapsFor (int layer)
{
    return layer >= 1 && layer <= 3 ? upperLayers[(size_t) layer - 1].overlapVoices : overlapVoices;
}

const OverlapList& PluginProcessor::overlapsFor (int layer) const
{
    return layer >= 1 && layer <= 3 ? upperLayers[(size_t) layer - 1].overlapVoices : overlapVoices;
}

//==============================================================================
void PluginProcessor::emitNoteOn (juce::MidiBuffer& out, int channel, int note, int velocity, int sampleOffset)
{
    channel = clampInt (channel, 1, 16);
    note = clampInt (note, 0, 127);
    velocity = clampInt (velocity, 1, 127);
    const int layer = clampInt (emitLayer, 0, numLayers - 1);
    const bool cascades = layer <= 2 && ! emitBypassCascade;

    if (cascades && layerNoteCount[(size_t) layer][(size_t) note]++ == 0)
        openCascadeNote (layer, note, velocity, channel, sampleOffset);

    if ((cascades && layerNoteConsumed[(size_t) layer][(size_t) note])
        || (layerOutputMuted[(size_t) layer] && ! emitSoundsWhenMuted))
        return;

    const auto msg = juce::MidiMessage::noteOn (channel, note, (juce::uint8) velocity);
    out.addEvent (msg, sampleOffset);

    if (captureArmed && ! emitExcludedFromCapture)
        captureTap.addEvent (msg, sampleOffset);

    ++keySoundingCount[(size_t) note];
    keySoundingChannel[(size_t) note] = channel;
}

void PluginProcessor::emitNoteOff (juce::MidiBuffer& out, int channel, int note, int sampleOffset)
{
    note = clampInt (note, 0, 127);
    channel = clampInt (channel, 1, 16);
    const int layer = clampInt (emitLayer, 0, numLayers - 1);
    const bool cascades = layer <= 2 && ! emitBypassCascade;

    const bool suppressed = (cascades && layerNoteConsumed[(size_t) layer][(size_t) note])
                         || (layerOutputMuted[(size_t) layer] && ! emitSoundsWhenMuted);

    if (! suppressed)
    {
        const auto msg = juce::MidiMessage::noteOff (channel, note, (juce::uint8) 0);
        out.addEvent (msg, sampleOffset);

        if (captureArmed && ! emitExcludedFromCapture)
            captureTap.addEvent (msg, sampleOffset);

        if (keySoundingCount[(size_t) note] > 0)
            --keySoundingCount[(size_t) note];
    }

    if (cascades)
    {
        auto& count = layerNoteCount[(size_t) layer][(size_t) note];
        if (count > 0 && --count == 0)
        {
            closeCascadeNote (layer, note, channel, sampleOffset);
            layerNoteConsumed[(size_t) layer][(size_t) note] = false;
        }
    }
}

//==============================================================================
void PluginProcessor::setEmitContext (const Voice& voice, int layer)
{
    emitLayer = layer;
    emitSourceKey = voice.key;
    emitExcludedFromCapture = voice.excludedFromCapture;
    emitSoundsWhenMuted = voice.soundsWhenMuted;
    emitBypassCascade = false;
}

void PluginProcessor::silenceVoice (Voice& voice, int layer, int sampleOffset, juce::MidiBuffer& out)
{
    setEmitContext (voice, layer);

    for (const auto& n : voice.sounding)
    {
        emitBypassCascade = n.isDry;
        emitNoteOff (out, n.channel, n.emittedNote, sampleOffset);
    }

    emitBypassCascade = false;
    voice.sounding.clear();
}

void PluginProcessor::endDryNotes (Voice& voice, int layer, int sampleOffset, juce::MidiBuffer& out)
{
    setEmitContext (voice, layer);
    emitBypassCascade = true;

    auto& notes = voice.sounding;
    for (const auto& n : notes)
        if (n.isDry)
            emitNoteOff (out, n.channel, n.emittedNote, sampleOffset);

    notes.erase (std::remove_if (notes.begin(), notes.end(), [] (const SoundingNote& n) { return n.isDry; }),
                 notes.end());
    emitBypassCascade = false;
}

void PluginProcessor::releaseVoiceTail (Voice& voice, juce::MidiBuffer& out, int sampleOffset)
{
    if (voice.isPhrase)
        silenceVoice (voice, emitLayer, sampleOffset, out);
}

void PluginProcessor::killVoice (int key, int sampleOffset, juce::MidiBuffer& out)
{
    if (key < 0 || key >= numKeys)
        return;

    auto& v = voices[(size_t) key];
    silenceVoice (v, 0, sampleOffset, out);
    v.reset();
}

void PluginProcessor::killVoiceUpper (int layer, int key, int sampleOffset, juce::MidiBuffer& out)
{
    if (layer < 1 || layer > 3 || key < 0 || key >= numKeys)
        return;

    auto& ul = upperLayers[(size_t) layer - 1];
    auto& v = ul.voices[(size_t) key];
    silenceVoice (v, layer, sampleOffset, out);
    v.reset();
    ul.passthroughHeld[(size_t) key] = false;
}

void PluginProcessor::killOverlaps (int layer, int key, int sampleOffset, juce::MidiBuffer& out)
{
    overlapsFor (layer).removeIf ([&] (Voice& v)
    {
        if (key != -1 && v.key != key)
            return false;

        silenceVoice (v, layer, sampleOffset, out);
        return true;
    });
}

void PluginProcessor::demoteToOverlap (int layer, int key, int sampleOffset, juce::MidiBuffer& out)
{
    if (key < 0 || key >= numKeys)
        return;

    auto& v = voiceFor (layer, key);
    auto& list = overlapsFor (layer);

    if (layer == 0)
        endDryNotes (v, 0, sampleOffset, out);

    v.noWrap = true;

    if (list.full())
    {
        silenceVoice (list[0], layer, sampleOffset, out);
        list.removeIf ([first = &list[0]] (const Voice& o) { return &o == first; });
    }

    list.pushBack (v);
}

void PluginProcessor::startPassthroughVoice (int key, int velocity, int channel, int sampleOffset, juce::MidiBuffer& out)
{
    if (key < 0 || key >= numKeys)
        return;

    auto& v = voices[(size_t) key];
    v.reset();
    v.key = key;
    v.velocity = velocity;
    v.channel = channel;
    v.soundsWhenMuted = true;

    const int t = transposeForLayer (0);
    const int wanted = shapeNote (key + t, 0);

    SoundingNote n;
    n.sourceNote = key;
    n.emittedNote = wanted;
    n.channel = clampInt (channel, 1, 16);
    n.velocity = clampInt (velocity, 1, 127);
    n.sourceIndex = -1;
    n.transpose = t;
    v.sounding.push_back (n);

    emitLayer = 0;
    emitSourceKey = key;
    emitExcludedFromCapture = false;
    emitBypassCascade = false;
    emitSoundsWhenMuted = true;
    emitNoteOn (out, n.channel, wanted, n.velocity, sampleOffset);
    emitSoundsWhenMuted = false;
}

//==============================================================================
double PluginProcessor::voiceSamplesPerMs (const Voice& voice, int layer, double rate) const
{
    const double bpm = voice.bpm > 0.0 ? voice.bpm : 120.0;
    const double tempo = hostBpm > 0.0 ? hostBpm : 120.0;
    const double speed = speedMulForLayer (layer);
    return rate * 0.001 * bpm / tempo / (speed > 0.0 ? speed : 1.0);
}

double PluginProcessor::voiceElapsedMs (const Voice& voice, double rate, int layer, int sampleOffset) const
{
    if (! voice.active || voice.events.size() <= 1 || voice.nextIndex >= voice.events.size())
        return 0.0;

    double nextMs = 0.0;
    for (size_t i = 0; i <= (size_t) voice.nextIndex; ++i)
        nextMs += voice.events[i].waitMs;

    // samplesToNext counts from where the voice stands in this block (its
    // start offset, or the block start); a trigger later in the block is
    // that much further into the clip.
    const double toNext = voice.samplesToNext - std::max (0, sampleOffset - voice.blockOffset);
    const double perMs = rate > 0.0 ? voiceSamplesPerMs (voice, layer, rate) : 0.0;
    const double elapsed = nextMs - (perMs > 0.0 ? toNext / perMs : 0.0);
    return std::max (0.0, elapsed);
}

bool PluginProcessor::anyVoicePlaying() const
{
    for (const auto& v : voices)
        if (v.isActiveOrSounding())
            return true;

    for (int layer = 0; layer < numLayers; ++layer)
        for (const auto& v : overlapsFor (layer))
            if (v.isActiveOrSounding())
                return true;

    for (const auto& ul : upperLayers)
        for (const auto& v : ul.voices)
            if (v.isActiveOrSounding())
                return true;

    for (int k = 0; k < numKeys; ++k)
        if (audioVoiceActive (k))
            return true;

    return false;
}

//==============================================================================
int PluginProcessor::transposeForLayer (int layer) const
{
    // The transpose modifiers act on the layer the input plays.
    if (layer != playLayer)
        return 0;

    const bool up = modifierHeld[modTransposeUp];
    const bool down = modifierHeld[modTransposeDown];
    return up == down ? 0 : (up ? 12 : -12);
}

int PluginProcessor::shapeNote (int note, int layer) const
{
    note = clampInt (note, 0, 127);
    const auto l = (size_t) clampInt (layer, 0, numLayers - 1);
    return layerKeysnap[l].load() ? snapNote (note) : note;
}

void PluginProcessor::voiceNoteOn (Voice& v, int layer, size_t index, int sampleOffset, juce::MidiBuffer& out)
{
    const auto& e = v.events[index];
    const int velocity = emitVel (e.velocity, v);
    const int t = transposeForLayer (layer);

    SoundingNote n;
    n.sourceNote = e.note;
    n.sourceIndex = index < v.sourceIndexMap.size() ? v.sourceIndexMap[index] : (int) index;
    n.channel = clampInt (e.channel, 1, 16);
    n.velocity = velocity;
    n.transpose = layer == 0 ? t : 0;   // only layer-0 notes are re-snapped with their transposition
    n.emittedNote = shapeNote (e.note + t, layer);
    v.sounding.push_back (n);

    emitNoteOn (out, n.channel, n.emittedNote, velocity, sampleOffset);
}

void PluginProcessor::syncSoundingToOpenNotes (Voice& v, int layer, const std::vector<int>& open, int sampleOffset,
                                               juce::MidiBuffer& out)
{
    auto isOpen = [&] (const SoundingNote& n)
    {
        return std::any_of (open.begin(), open.end(), [&] (int i)
                            { return v.events[(size_t) i].note == n.sourceNote && v.events[(size_t) i].channel == n.channel; });
    };

    // End what no longer sounds at the new position, start what newly does.
    setEmitContext (v, layer);
    for (auto it = v.sounding.begin(); it != v.sounding.end();)
    {
        if (it->isDry || isOpen (*it))
        {
            ++it;
            continue;
        }
        emitNoteOff (out, it->channel, it->emittedNote, sampleOffset);
        it = v.sounding.erase (it);
    }

    for (int i : open)
    {
        const auto& e = v.events[(size_t) i];
        const bool sounds = std::any_of (v.sounding.begin(), v.sounding.end(), [&] (const SoundingNote& n)
                                         { return ! n.isDry && n.sourceNote == e.note && n.channel == e.channel; });
        if (! sounds)
            voiceNoteOn (v, layer, (size_t) i, sampleOffset, out);
    }
}

void PluginProcessor::startOpenNotes (Voice& v, int layer, const std::vector<int>& indices, int sampleOffset,
                                      juce::MidiBuffer& out)
{
    setEmitContext (v, layer);
    for (int index : indices)
        if (index >= 0 && (size_t) index < v.events.size())
            voiceNoteOn (v, layer, (size_t) index, sampleOffset, out);
}

void PluginProcessor::startVoice (int key, int velocity, int channel, int sampleOffset, double rate,
                                  juce::MidiBuffer& out)
{
    startClipVoice (0, key, velocity, channel, sampleOffset, rate, out, true);
}

void PluginProcessor::startVoiceUpper (int layer, int key, int velocity, int channel, int sampleOffset,
                                       juce::MidiBuffer& out, bool loopAllowed)
{
    if (layer >= 1 && layer <= 3)
        startClipVoice (layer, key, velocity, channel, sampleOffset, sampleRate > 0.0 ? sampleRate : 44100.0, out,
                        loopAllowed);
}

void PluginProcessor::startClipVoice (int layer, int key, int velocity, int channel, int sampleOffset, double rate,
                                      juce::MidiBuffer& out, bool loopAllowed)
{
    if (key < 0 || key >= numKeys)
        return;

    // The base layer launches on the grid, may join a launch late and has a
    // dry note; upper layers start at their trigger.
    const bool base = layer == 0;
    const auto& clip = sequenceFor (layer, key);
    auto& v = voiceFor (layer, key);
    double& seekMs = base ? legatoSeekMs : upperLayers[(size_t) layer - 1].legatoSeekMs;
    v.reset();

    emitLayer = layer;
    emitSourceKey = key;
    v.excludedFromCapture = captureArmed && ! liveResample.load();
    v.soundsWhenMuted = false;

    v.active = true;
    v.key = key;
    v.velocity = clampInt (velocity, 1, 127);
    v.channel = clampInt (channel, 1, 16);
    v.bpm = clip.bpm > 0.0 ? clip.bpm : 120.0;
    v.blockOffset = sampleOffset;
    v.loopAllowed = base || loopAllowed;

    // Single notes and chords play only their note-ons, with their recorded spacing.
    if (clip.isSingleNote || clip.isChord)
    {
        double previousOn = 0.0, t = 0.0;
        bool first = true;
        for (const auto& e : clip.events)
        {
            t += e.waitMs;
            if (! e.isNoteOn)
                continue;

            auto on = e;
            on.waitMs = first ? 0.0 : std::max (t - previousOn, 0.0);
            previousOn = t;
            first = false;
            v.events.push_back (on);
        }
    }
    else
    {
        v.events.assign (clip.events.begin(), clip.events.end());
        if (clip.events.size() > 1)
            v.sourceEvents.assign (clip.events.begin(), clip.events.end());
    }

    v.anchorSample = samplePosition + sampleOffset;

    if (v.events.size() > 1)
        applyPlaybackQuantize (v.events, v.anchorSample, v.bpm);

    v.isPhrase = ! clip.isSingleNote && ! clip.isChord && clip.events.size() > 1;
    v.tailMs = clip.tailMs > 0.0 ? clip.tailMs : 0.0;
    v.cycleMs = v.tailMs + sumOfWaits (v.events);

    const double loopBeats = loopLengthBeatsNow();
    if (v.isPhrase && loopBeats > 0.0 && v.loopAllowed)
    {
        const double windowMs = loopBeats * 60000.0 / std::max (v.bpm, 1.0);
        cropToLoopWindow (v.events, windowMs, timelineScratch);
        v.cycleMs = windowMs;
        v.tailMs = std::max (windowMs - sumOfWaits (v.events), 0.0);
        v.croppedToWindow = true;
    }

    const double perMs = voiceSamplesPerMs (v, layer, rate);
    const auto launch = base ? launchFor (key, sampleOffset, rate) : Launch {};
    const double trigger = (double) (samplePosition + sampleOffset);
    v.startSample = trigger + launch.delay;
    v.cycleStartSample = v.startSample;
    if (! v.events.empty())
        v.samplesToNext = launch.delay + v.events.front().waitMs * perMs;

    // Joining a launch a little late: start part-way into the phrase.
    if (launch.late > 0.0 && v.isPhrase && ! legato.load())
    {
        size_t next = 0;
        double toNext = 0.0;
        if (legatoSeek (v.events, launch.late / perMs, perMs, next, toNext, legatoOpenNotes))
        {
            v.startSample -= launch.late;
            v.cycleStartSample = v.startSample;
            v.nextIndex = next;
            v.samplesToNext = toNext;
            startOpenNotes (v, layer, legatoOpenNotes, sampleOffset, out);
        }
    }

    if (v.croppedToWindow && legato.load())
        alignToLoopWindow (v, sampleOffset, perMs, seekMs);

    // Legato hand-over: continue where the previous clip was.
    if (seekMs > 0.0 && ! clip.isSingleNote && ! clip.isChord)
    {
        size_t next = 0;
        double toNext = 0.0;
        if (legatoSeek (v.events, seekMs, perMs, next, toNext, legatoOpenNotes))
        {
            v.nextIndex = next;
            v.samplesToNext = toNext;
            v.startSample = trigger - seekMs * perMs;
            v.cycleStartSample = v.startSample;
            if (! monoMode.load() && ! suppressLegatoNotes)
                startOpenNotes (v, layer, legatoOpenNotes, sampleOffset, out);
        }
    }
    seekMs = -1.0;
    suppressLegatoNotes = false;

    // The key's own note beside its clip, when the layer is dry and the clip lacks it.
    if (base && layerDry[0].load())
    {
        bool clipHasKey = false;
        for (const auto& e : v.events)
            clipHasKey = clipHasKey || (e.isNoteOn && e.note == key);

        if (! clipHasKey)
        {
            const int t = transposeForLayer (0);
            SoundingNote n;
            n.sourceNote = key;
            n.emittedNote = shapeNote (key + t, 0);
            n.channel = v.channel;
            n.velocity = v.velocity;
            n.sourceIndex = -1;
            n.transpose = t;
            n.isDry = true;
            v.sounding.push_back (n);

            setEmitContext (v, 0);
            emitBypassCascade = true;
            emitNoteOn (out, n.channel, n.emittedNote, n.velocity, sampleOffset);
            emitBypassCascade = false;
        }
    }

    if (base)
        lastStartedKey = key;
    else
        upperLayers[(size_t) layer - 1].lastStartedKey = key;
}

void PluginProcessor::advanceVoice (Voice& v, int layer, int n, juce::MidiBuffer& out)
{
    setEmitContext (v, layer);

    int pos = v.blockOffset;
    v.blockOffset = 0;
    const double rate = sampleRate > 0.0 ? sampleRate : 44100.0;
    const int lastPos = n < 2 ? 0 : n - 1;

    while (v.active)
    {
        if (v.nextIndex >= v.events.size())
        {
            if (v.isPhrase)
                silenceVoice (v, layer, std::min (lastPos, pos), out);
            v.active = false;
            break;
        }

        if (v.samplesToNext >= (double) (n - pos))
        {
            v.samplesToNext -= (double) (n - pos);
            break;
        }

        // A hair of tolerance: a time that tempo arithmetic puts a rounding
        // error short of a sample boundary belongs on that boundary.
        const double due = v.samplesToNext + v.sampleFraction;
        const double whole = std::floor (due + 1e-7);
        v.sampleFraction = std::max (due - whole, 0.0);
        v.samplesToNext = 0.0;
        pos += (int) whole;
        const int at = clampInt (pos, 0, lastPos);

        const auto index = (size_t) v.nextIndex;
        const auto& e = v.events[index];

        if (e.isNoteOn)
        {
            voiceNoteOn (v, layer, index, at, out);
        }
        else
        {
            for (auto it = v.sounding.begin(); it != v.sounding.end(); ++it)
            {
                if (! it->isDry && it->sourceNote == e.note && it->channel == clampInt (e.channel, 1, 16))
                {
                    emitNoteOff (out, it->channel, it->emittedNote, at);
                    v.sounding.erase (it);
                    break;
                }
            }
        }

        ++v.nextIndex;

        if (v.nextIndex < v.events.size())
        {
            v.samplesToNext = v.events[(size_t) v.nextIndex].waitMs * voiceSamplesPerMs (v, layer, rate);
        }
        else if (! tryLoopWrap (v, layer, at, rate, out))
        {
            if (v.isPhrase)
                silenceVoice (v, layer, at, out);
            v.active = false;
        }

        setEmitContext (v, layer);
    }
}

void PluginProcessor::advanceLayer0Voices (int numSamples, juce::MidiBuffer& out)
{
    for (auto& v : voices)
        if (v.active)
            advanceVoice (v, 0, numSamples, out);

    for (auto& v : overlapVoices)
        if (v.active)
            advanceVoice (v, 0, numSamples, out);

    overlapVoices.removeIf ([] (const Voice& v) { return ! v.isActiveOrSounding(); });
}
