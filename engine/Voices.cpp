#include "engine/PluginProcessor.h"

#include <algorithm>

namespace
{
// Sounding notes per voice before its list would have to grow.
constexpr size_t soundingCapacity = 32;

int clampInt (int v, int lo, int hi) noexcept { return std::min (hi, std::max (lo, v)); }
}

Voice::Voice()
{
    sounding.reserve (soundingCapacity);
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
    overlapVoices.reserve (16);
}

Voice& PluginProcessor::voiceFor (int layer, int key)
{
    const auto k = (size_t) clampInt (key, 0, numKeys - 1);
    return layer >= 1 && layer <= 3 ? upperLayers[(size_t) layer - 1].voices[k] : voices[k];
}

std::vector<Voice>& PluginProcessor::overlapsFor (int layer)
{
    return layer >= 1 && layer <= 3 ? upperLayers[(size_t) layer - 1].overlapVoices : overlapVoices;
}

const std::vector<Voice>& PluginProcessor::overlapsFor (int layer) const
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
void PluginProcessor::silenceVoice (Voice& voice, int layer, int sampleOffset, juce::MidiBuffer& out)
{
    emitLayer = layer;
    emitSourceKey = voice.key;
    emitExcludedFromCapture = voice.excludedFromCapture;
    emitSoundsWhenMuted = voice.soundsWhenMuted;

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
    emitLayer = layer;
    emitSourceKey = voice.key;
    emitExcludedFromCapture = voice.excludedFromCapture;
    emitSoundsWhenMuted = voice.soundsWhenMuted;
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
    auto& list = overlapsFor (layer);

    for (auto& v : list)
    {
        if (key == -1 || v.key == key)
        {
            silenceVoice (v, layer, sampleOffset, out);
            v.reset();
        }
    }

    // Reset voices have key -1; erase keeps the order of the others.
    list.erase (std::remove_if (list.begin(), list.end(),
                                [] (const Voice& v) { return v.key == -1 && ! v.isActiveOrSounding(); }),
                list.end());
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

    if (list.size() >= (size_t) maxOverlapsPerLayer)
    {
        silenceVoice (list.front(), layer, sampleOffset, out);
        list.erase (list.begin());
    }

    list.push_back (std::move (v));
    v = Voice();
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

    const int t = octaveTransposition();
    int wanted = clampInt (key + t, 0, 127);
    if (layerKeysnap[0].load())
        wanted = snapNote (wanted);

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

double PluginProcessor::voiceElapsedMs (const Voice& voice, double rate) const
{
    if (! voice.active || voice.events.size() <= 1 || voice.nextIndex >= voice.events.size())
        return 0.0;

    double nextMs = 0.0;
    for (size_t i = 0; i <= (size_t) voice.nextIndex; ++i)
        nextMs += voice.events[i].waitMs;

    const double perMs = rate > 0.0 ? voiceSamplesPerMs (voice, playLayer, rate) : 0.0;
    const double elapsed = nextMs - (perMs > 0.0 ? voice.samplesToNext / perMs : 0.0);
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
void PluginProcessor::startVoice (int, int, int, int, double, juce::MidiBuffer&)
{
    // Clip playback is built with the voice scheduler.
}

void PluginProcessor::advanceVoice (Voice&, int, int, juce::MidiBuffer&)
{
    // Clip playback is built with the voice scheduler.
}

void PluginProcessor::advanceLayer0Voices (int numSamples, juce::MidiBuffer& out)
{
    for (auto& v : voices)
        if (v.active)
            advanceVoice (v, 0, numSamples, out);

    for (auto& v : overlapVoices)
        if (v.active)
            advanceVoice (v, 0, numSamples, out);

    overlapVoices.erase (std::remove_if (overlapVoices.begin(), overlapVoices.end(),
                                         [] (const Voice& v) { return ! v.isActiveOrSounding(); }),
                         overlapVoices.end());
}
