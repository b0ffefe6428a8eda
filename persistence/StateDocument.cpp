#include "persistence/StateDocument.h"

#include "engine/PluginProcessor.h"

#include <algorithm>

#include <juce_audio_formats/juce_audio_formats.h>

// The state document the host stores ("QuorvelState"), whose settings and
// keys containers the sketch files share.

namespace
{
// Audio longer than this is refused on reading: a damaged or hostile FLAC
// header must not make us allocate gigabytes.
constexpr juce::int64 maxAudioFrames = (juce::int64) 1 << 26;

int clampedInt (const juce::XmlElement& e, const char* name, int fallback, int lo, int hi)
{
    const int v = e.hasAttribute (name) ? e.getIntAttribute (name) : fallback;
    return std::clamp (v, lo, hi);
}

juce::String scaleString (const std::array<bool, 12>& scale)
{
    juce::String s;
    for (bool b : scale)
        s << (b ? "1" : "0");
    return s;
}

const juce::XmlElement* childNamed (const juce::XmlElement& parent, const juce::String& name)
{
    for (auto* child : parent.getChildIterator())
        if (child->getTagName().equalsIgnoreCase (name))
            return child;
    return nullptr;
}
}

void writeEventElements (juce::XmlElement& key, const std::vector<SeqEvent>& events)
{
    for (const auto& ev : events)
    {
        auto* x = key.createNewChildElement ("E");
        x->setAttribute ("n", ev.note);
        x->setAttribute ("v", ev.velocity);
        x->setAttribute ("c", ev.channel);
        x->setAttribute ("on", ev.isNoteOn ? 1 : 0);
        x->setAttribute ("w", ev.waitMs);
    }
}

SeqEvent readEventElement (const juce::XmlElement& e)
{
    SeqEvent ev;
    ev.note = std::clamp (e.getIntAttribute ("n", 0), 0, 127);
    ev.velocity = std::clamp (e.getIntAttribute ("v", 0), 0, 127);
    ev.channel = std::clamp (e.getIntAttribute ("c", 1), 1, 16);
    ev.isNoteOn = e.getIntAttribute ("on", 1) != 0;
    const double w = e.getDoubleAttribute ("w", 0.0);
    ev.waitMs = w > 0.0 && std::isfinite (w) ? w : 0.0;
    return ev;
}

std::shared_ptr<KeyAudio> readAudioForKey (juce::AudioFormatReader& reader, juce::int64 maxFrames)
{
    if (reader.numChannels == 0 || reader.lengthInSamples <= 0 || reader.lengthInSamples > maxFrames)
        return nullptr;

    try
    {
        auto audio = std::make_shared<KeyAudio>();
        const int channels = (int) std::min (reader.numChannels, 2u);
        const int frames = (int) reader.lengthInSamples;
        audio->buffer.setSize (channels, frames);
        if (! reader.read (&audio->buffer, 0, frames, 0, true, channels > 1))
            return nullptr;
        return audio;
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}

juce::String encodeKeyAudio (const KeyAudio& audio)
{
    const int channels = audio.buffer.getNumChannels();
    const int frames = audio.buffer.getNumSamples();
    if (channels <= 0 || frames <= 0)
        return {};

    juce::MemoryBlock flacData;
    {
        juce::FlacAudioFormat flac;
        auto* stream = new juce::MemoryOutputStream (flacData, false);
        std::unique_ptr<juce::AudioFormatWriter> writer (
            flac.createWriterFor (stream, audio.sampleRate > 0.0 ? audio.sampleRate : 48000.0,
                                  (unsigned int) channels, 24, {}, 0));
        if (writer == nullptr)
        {
            delete stream;
            return {};
        }
        if (! writer->writeFromAudioSampleBuffer (audio.buffer, 0, frames))
            return {};
    }

    return juce::Base64::toBase64 (flacData.getData(), flacData.getSize());
}

std::shared_ptr<const KeyAudio> decodeKeyAudio (const juce::String& base64, double sampleRate, double bpm,
                                                double tailMs, int rootNote)
{
    juce::MemoryOutputStream decoded;
    if (base64.isEmpty() || ! juce::Base64::convertFromBase64 (decoded, base64) || decoded.getDataSize() == 0)
        return nullptr;

    juce::FlacAudioFormat flac;
    std::unique_ptr<juce::AudioFormatReader> reader (
        flac.createReaderFor (new juce::MemoryInputStream (decoded.getData(), decoded.getDataSize(), false), true));
    if (reader == nullptr)
        return nullptr;

    auto audio = readAudioForKey (*reader, maxAudioFrames);
    if (audio == nullptr)
        return nullptr;

    audio->sampleRate = sampleRate;
    audio->bpm = bpm;
    audio->tailMs = tailMs;
    audio->rootNote = rootNote;
    return audio;
}

//==============================================================================
void PluginProcessor::writeSettingsXml (juce::XmlElement& e) const
{
    e.setAttribute ("synthEnabled", 0);
    e.setAttribute ("modOctaveBase", modOctaveBase.load());
    e.setAttribute ("transpose1", transpose1.load());
    e.setAttribute ("transpose2", transpose2.load());
    e.setAttribute ("speed1Idx", speed1Idx.load());
    e.setAttribute ("speed2Idx", speed2Idx.load());
    e.setAttribute ("repeat1Rate", repeat1Rate.load());
    e.setAttribute ("repeat2Rate", repeat2Rate.load());
    e.setAttribute ("invert1Dir", invert1Dir.load());
    e.setAttribute ("invert2Dir", invert2Dir.load());
    e.setAttribute ("stepChordAware", stepChordAware.load() ? 1 : 0);
    e.setAttribute ("sliceOffsetMs", sliceOffsetMs.load());
    e.setAttribute ("inputQuantNote", inputQuantNote.load());
    e.setAttribute ("inputQuantFeel", inputQuantFeel.load());
    e.setAttribute ("inputQuantAmount", inputQuantAmount.load());
    e.setAttribute ("launchQuantNote", launchQuantNote.load());
    e.setAttribute ("launchQuantFeel", launchQuantFeel.load());
    e.setAttribute ("inputQuantPower", inputQuantPower.load() ? 1 : 0);
    e.setAttribute ("launchQuantPower", launchQuantPower.load() ? 1 : 0);
    e.setAttribute ("loopEnabled", loopEnabled.load() ? 1 : 0);
    e.setAttribute ("loopLengthIdx", loopLengthIdx.load());
    e.setAttribute ("keyboardInteraction", keyboardInteraction.load());
    e.setAttribute ("cascadeEnabled", cascadeEnabled.load() ? 1 : 0);
    e.setAttribute ("triggerMode", triggerMode.load());
    e.setAttribute ("liveResample", liveResample.load() ? 1 : 0);
    e.setAttribute ("velModSource", velModSource.load());
    e.setAttribute ("velControlPower", velControlPower.load() ? 1 : 0);
    e.setAttribute ("velControlAmount", velControlAmount.load());
    e.setAttribute ("monoMode", monoMode.load() ? 1 : 0);
    e.setAttribute ("legato", legato.load() ? 1 : 0);
    e.setAttribute ("focusedLayer", focusedLayer.load());
    e.setAttribute ("visibleLayers", visibleLayers.load());
    for (int l = 0; l < numLayers; ++l)
        e.setAttribute ("layerDry" + juce::String (l), layerDry[(size_t) l].load() ? 1 : 0);
    for (int l = 0; l < numLayers; ++l)
        e.setAttribute ("layerKeysnap" + juce::String (l), layerKeysnap[(size_t) l].load() ? 1 : 0);
    e.setAttribute ("keySnapStart", keySnapStart.load());
    e.setAttribute ("keySnapEnd", keySnapEnd.load());

    std::array<bool, 12> scale {};
    const int mask = keySnapScale.load();
    for (int i = 0; i < 12; ++i)
        scale[(size_t) i] = (mask >> i) & 1;
    e.setAttribute ("keySnapScale", scaleString (scale));
}

void PluginProcessor::readSettingsXml (const juce::XmlElement& e, bool)
{
    const int base = clampedInt (e, "modOctaveBase", 48, 0, 116);
    modOctaveBase.store (base);
    appliedModOctaveBase.store (base);

    transpose1.store (clampedInt (e, "transpose1", 0, -24, 24));
    transpose2.store (clampedInt (e, "transpose2", 0, -24, 24));
    speed1Idx.store (clampedInt (e, "speed1Idx", 4, 0, 6));
    speed2Idx.store (clampedInt (e, "speed2Idx", 4, 0, 6));
    repeat1Rate.store (clampedInt (e, "repeat1Rate", 2, 0, 5));
    repeat2Rate.store (clampedInt (e, "repeat2Rate", 2, 0, 5));
    invert1Dir.store ((e.hasAttribute ("invert1Dir") ? e.getIntAttribute ("invert1Dir") : 0) > 0 ? 1 : 0);
    invert2Dir.store ((e.hasAttribute ("invert2Dir") ? e.getIntAttribute ("invert2Dir") : 1) > 0 ? 1 : 0);
    stepChordAware.store (e.getBoolAttribute ("stepChordAware", true));
    sliceOffsetMs.store (e.getDoubleAttribute ("sliceOffsetMs", 0.0));

    const int inputNote = clampedInt (e, "inputQuantNote", 4, -1, 5);
    inputQuantNote.store (inputNote == -1 ? 4 : inputNote);
    inputQuantFeel.store (clampedInt (e, "inputQuantFeel", 0, 0, 2));
    inputQuantAmount.store (clampedInt (e, "inputQuantAmount", 100, -100, 100));
    const int launchNote = clampedInt (e, "launchQuantNote", 4, -1, 5);
    launchQuantNote.store (launchNote == -1 ? 4 : launchNote);
    launchQuantFeel.store (clampedInt (e, "launchQuantFeel", 0, 0, 2));
    inputQuantPower.store (e.getBoolAttribute ("inputQuantPower", inputNote != -1));
    launchQuantPower.store (e.getBoolAttribute ("launchQuantPower", launchNote != -1));
    loopEnabled.store (e.getBoolAttribute ("loopEnabled", false));
    loopLengthIdx.store (clampedInt (e, "loopLengthIdx", -1, -1, 7));

    if (e.hasAttribute ("keyboardInteraction"))
    {
        const int interaction = std::clamp (e.getIntAttribute ("keyboardInteraction"), 0, 2);
        keyboardInteraction.store (interaction);
        cascadeEnabled.store (interaction == 2);
    }
    else
    {
        // Older documents knew only the cascade flag.
        const bool cascade = e.getBoolAttribute ("cascadeEnabled", true);
        cascadeEnabled.store (cascade);
        keyboardInteraction.store (cascade ? 2 : 1);
    }

    triggerMode.store (clampedInt (e, "triggerMode", 1, 0, 2));
    liveResample.store (e.getBoolAttribute ("liveResample", false));
    const int source = clampedInt (e, "velModSource", 1, 0, 4);
    velModSource.store (source == 0 ? 1 : source);
    velControlPower.store (e.getBoolAttribute ("velControlPower", source != 0));
    velControlAmount.store (clampedInt (e, "velControlAmount", 50, 0, 100));
    monoMode.store (e.getBoolAttribute ("monoMode", false));
    legato.store (e.getBoolAttribute ("legato", false));

    const int visible = clampedInt (e, "visibleLayers", 1, 1, 4);
    visibleLayers.store (visible);
    focusedLayer.store (clampedInt (e, "focusedLayer", 0, 0, visible - 1));

    for (int l = 0; l < numLayers; ++l)
        layerDry[(size_t) l].store (e.getBoolAttribute ("layerDry" + juce::String (l), false));
    for (int l = 0; l < numLayers; ++l)
        layerKeysnap[(size_t) l].store (e.getBoolAttribute ("layerKeysnap" + juce::String (l), true));
}

void PluginProcessor::readKeySnapXml (const juce::XmlElement& e)
{
    int start = clampedInt (e, "keySnapStart", 24, 24, 107);
    int end = clampedInt (e, "keySnapEnd", 107, 24, 107);
    if (end < start)
        std::swap (start, end);

    const auto text = e.getStringAttribute ("keySnapScale");
    std::array<bool, 12> scale {};
    for (int i = 0; i < 12 && i < text.length(); ++i)
        scale[(size_t) i] = text[i] == '1';
    if (start <= 24 && end > 106)
        scale.fill (false);

    snapRangeStart = start;
    snapRangeEnd = end;
    scalePitchClasses = scale;
    keySnapStart.store (start);
    keySnapEnd.store (end);
    keySnapScale.store (scaleMask());
    scaleRescanRequested.store (true);
}

void PluginProcessor::writeKeysXml (juce::XmlElement& parent, const std::array<KeySequence, numKeys>& sequences,
                                    const std::array<std::shared_ptr<const KeyAudio>, numKeys>& audio,
                                    const juce::String& tagName) const
{
    auto* container = parent.createNewChildElement (tagName);

    for (int k = 0; k < numKeys; ++k)
    {
        const auto& seq = sequences[(size_t) k];
        const auto& a = audio[(size_t) k];
        const bool hasAudio = a != nullptr && a->hasFrames();
        if (seq.events.empty() && ! hasAudio)
            continue;

        auto* key = container->createNewChildElement ("Key");
        key->setAttribute ("key", k);
        key->setAttribute ("bpm", seq.bpm);
        if (seq.tailMs > 0.0)
            key->setAttribute ("tail", seq.tailMs);

        writeEventElements (*key, seq.events);

        if (hasAudio)
        {
            const auto text = encodeKeyAudio (*a);
            if (text.isNotEmpty())
            {
                auto* x = key->createNewChildElement ("Audio");
                x->setAttribute ("sr", a->sampleRate);
                x->setAttribute ("bpm", a->bpm);
                if (a->tailMs > 0.0)
                    x->setAttribute ("tail", a->tailMs);
                x->setAttribute ("root", a->rootNote < 0 ? k : a->rootNote);
                x->addTextElement (text);
            }
        }
    }
}

int PluginProcessor::readKeysXml (const juce::XmlElement& container, std::array<KeySequence, numKeys>& sequences,
                                  std::array<std::shared_ptr<const KeyAudio>, numKeys>* audio)
{
    int skipped = 0;

    for (auto* key : container.getChildIterator())
    {
        if (! key->getTagName().equalsIgnoreCase ("Key"))
        {
            ++skipped;
            continue;
        }

        const int k = key->hasAttribute ("key") ? key->getIntAttribute ("key", -1) : -1;
        if (k < 0 || k >= numKeys)
        {
            ++skipped;
            continue;
        }

        KeySequence seq;
        seq.bpm = std::clamp (key->getDoubleAttribute ("bpm", 120.0), 1.0, 999.0);
        const double tail = key->getDoubleAttribute ("tail", 0.0);
        seq.tailMs = tail > 0.0 ? tail : 0.0;
        std::shared_ptr<const KeyAudio> keyAudioValue;

        for (auto* child : key->getChildIterator())
        {
            if (child->getTagName().equalsIgnoreCase ("E"))
            {
                seq.events.push_back (readEventElement (*child));
            }
            else if (child->getTagName().equalsIgnoreCase ("Audio") && keyAudioValue == nullptr)
            {
                const double bpm = std::clamp (child->getDoubleAttribute ("bpm", 120.0), 1.0, 999.0);
                const double audioTail = child->getDoubleAttribute ("tail", 0.0);
                const int root = std::clamp (child->getIntAttribute ("root", k), 0, 127);
                keyAudioValue = decodeKeyAudio (child->getAllSubText().trim(), child->getDoubleAttribute ("sr", 44100.0),
                                                bpm, audioTail > 0.0 ? audioTail : 0.0, root);
                if (keyAudioValue == nullptr)
                    ++skipped;
            }
            else
            {
                ++skipped;
            }
        }

        seq.recompute();
        sequences[(size_t) k] = std::move (seq);
        if (audio != nullptr)
            (*audio)[(size_t) k] = keyAudioValue;
    }

    return skipped;
}

//==============================================================================
void PluginProcessor::copyKeyContent (std::array<KeySequence, numKeys>& base,
                                      std::array<std::shared_ptr<const KeyAudio>, numKeys>& audio,
                                      std::array<std::array<KeySequence, numKeys>, 3>& upper) const
{
    const std::lock_guard<std::mutex> lock (keyDataMutex);
    base = keys;
    audio = keyAudio;
    upper = upperKeys;
}

void PluginProcessor::writeDocumentKeys (juce::XmlElement& root) const
{
    // Copied under the lock, encoded outside it.
    auto base = std::make_unique<std::array<KeySequence, numKeys>>();
    auto audio = std::make_unique<std::array<std::shared_ptr<const KeyAudio>, numKeys>>();
    auto upper = std::make_unique<std::array<std::array<KeySequence, numKeys>, 3>>();
    copyKeyContent (*base, *audio, *upper);

    const std::array<std::shared_ptr<const KeyAudio>, numKeys> noAudio {};
    writeKeysXml (root, *base, *audio, "Keys");
    for (int l = 1; l <= 3; ++l)
        writeKeysXml (root, (*upper)[(size_t) l - 1], noAudio, "KeysUpper" + juce::String (l));
}

void PluginProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    juce::XmlElement root ("QuorvelState");
    root.setAttribute ("version", "5");
    writeSettingsXml (root);
    writeDocumentKeys (root);
    copyXmlToBinary (root, destData);
}

void PluginProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    const auto root = getXmlFromBinary (data, sizeInBytes);
    if (root == nullptr || ! root->getTagName().equalsIgnoreCase ("QuorvelState")
        || ! root->hasAttribute ("version") || root->getIntAttribute ("version") <= 3)
        return;

    readSettingsXml (*root, false);

    auto base = std::make_unique<std::array<KeySequence, numKeys>>();
    auto audio = std::make_unique<std::array<std::shared_ptr<const KeyAudio>, numKeys>>();
    auto upper = std::make_unique<std::array<std::array<KeySequence, numKeys>, 3>>();

    if (const auto* keysXml = childNamed (*root, "Keys"))
        readKeysXml (*keysXml, *base, audio.get());
    for (int l = 1; l <= 3; ++l)
    {
        const auto* container = childNamed (*root, "KeysUpper" + juce::String (l));
        if (container == nullptr && l == 1)
            container = childNamed (*root, "KeysUpper");   // older documents had one upper layer
        if (container != nullptr)
            readKeysXml (*container, (*upper)[(size_t) l - 1], nullptr);
    }

    const std::lock_guard<std::mutex> lock (keyDataMutex);
    keys = std::move (*base);
    keyAudio = std::move (*audio);
    upperKeys = std::move (*upper);
    resetPlaybackForNewContent();
    clearUndoHistory();
    readKeySnapXml (*root);
    for (int k = 0; k < numKeys; ++k)
        publishNoteCount (k);
    presetModified = false;
}

void PluginProcessor::resetPlaybackForNewContent()
{
    // New content replaces everything; nothing of the old may keep playing.
    for (auto& v : voices)
        v.reset();
    for (int layer = 0; layer < numLayers; ++layer)
        overlapsFor (layer).clear();
    for (auto& ul : upperLayers)
    {
        for (auto& v : ul.voices)
            v.reset();
        ul.passthroughHeld.fill (false);
        ul.stepIndex.fill (0);
        ul.stepPositionMs.fill (-1.0);
    }
    for (int layer = 0; layer < numLayers; ++layer)
        resetLayerPlayState (layer);
    resetAudioVoices();
    stepIndex.fill (0);
    keyHeld.fill (false);
    ignoreNextRelease.fill (false);
    heldKeys.clear();
    monoKey = -1;
    clearCascadeState();

    // Whatever the old content left sounding on the host is ended by the
    // audio thread at the start of its next block.
    allNotesOffRequested.store (true);

    const int visible = std::clamp (visibleLayers.load(), 1, numLayers);
    playLayer = std::clamp (focusedLayer.load(), 0, visible - 1);
}
