#include "exchange/ClipExport.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "engine/PluginProcessor.h"
#include "engine/Timeline.h"
#include "exchange/ClipImport.h"
#include "persistence/StateDocument.h"

juce::String exportNoteName (int key)
{
    return juce::MidiMessage::getMidiNoteName (key, true, true, 3);
}

juce::MidiFile buildExportMidiFile (const std::vector<std::pair<int, KeySequence>>& clips)
{
    juce::MidiFile file;
    file.setTicksPerQuarterNote (960);
    if (clips.empty())
        return file;

    const int lowest = clips.front().first;
    for (const auto& [key, seq] : clips)
    {
        const double bpm = seq.bpm > 0.0 ? seq.bpm : 120.0;
        const double ticksPerMs = bpm * 960.0 / 60000.0;

        juce::MidiMessageSequence track;
        track.addEvent (juce::MidiMessage::tempoMetaEvent ((int) (60000000.0 / bpm)), 0.0);
        track.addEvent (juce::MidiMessage::textMetaEvent (3, "Quorvel " + exportNoteName (key)), 0.0);
        if (clips.size() > 1)
            track.addEvent (juce::MidiMessage::textMetaEvent (1, juce::String (kQvOffsetPrefix) + juce::String (key - lowest)), 0.0);

        double t = 0.0;
        for (const auto& e : seq.events)
        {
            t += e.waitMs;
            const int channel = std::clamp (e.channel, 1, 16);
            const auto m = e.isNoteOn ? juce::MidiMessage::noteOn (channel, e.note & 127, (juce::uint8) std::min (e.velocity, 127))
                                      : juce::MidiMessage::noteOff (channel, e.note & 127, (juce::uint8) 0);
            track.addEvent (m, t * ticksPerMs);
        }
        track.updateMatchedPairs();

        if (seq.tailMs > 0.0)
        {
            const double end = std::round ((t + seq.tailMs) * ticksPerMs);
            track.addEvent (juce::MidiMessage::controllerEvent (1, 102, 0), std::max (end - 1.0, 0.0));
            track.addEvent (juce::MidiMessage::endOfTrack(), end);
        }

        // Whole ticks, as the file stores them.
        for (auto* e : track)
            e->message.setTimeStamp (std::round (e->message.getTimeStamp()));
        file.addTrack (track);
    }
    return file;
}

juce::String exportFileName (const std::vector<std::pair<int, KeySequence>>& clips)
{
    if (clips.size() == 1)
        return "Quorvel_" + exportNoteName (clips.front().first) + ".mid";
    return "Quorvel_" + juce::String ((int) clips.size()) + "_clips.mid";
}

std::vector<std::pair<int, KeySequence>> clipsForExport (const PluginProcessor& p, const std::set<int>& keys, int layer)
{
    const double gridBeats = p.inputQuantPower.load() ? quantGridBeats (p.inputQuantNote.load(), p.inputQuantFeel.load()) : 0.0;

    std::vector<std::pair<int, KeySequence>> clips;
    for (int key : keys)
    {
        if (key < 0 || key > 127)
            continue;

        auto s = p.getKeySequence (key, layer);
        if (s.events.empty())
            continue;

        if (gridBeats > 0.0 && s.events.size() >= 2)
        {
            quantizeTimeline (s.events, gridBeats * 60000.0 / std::max (s.bpm, 1.0), p.inputQuantAmount.load(), 0);
            s.recompute();
        }
        clips.push_back ({ key, std::move (s) });
    }
    return clips;
}

juce::File writeExportFile (const PluginProcessor& p, const std::set<int>& keys, int layer)
{
    const auto clips = clipsForExport (p, keys, layer);
    if (clips.empty())
        return {};

    const auto file = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile (exportFileName (clips));
    file.deleteFile();
    juce::FileOutputStream stream (file, 16384);
    if (! stream.openedOk() || ! buildExportMidiFile (clips).writeTo (stream, 1))
        return {};
    stream.flush();
    return stream.getStatus().wasOk() ? file : juce::File();
}

//==============================================================================
juce::String newAudioToken()
{
    juce::Random random;
    random.setSeedRandomly();

    uint8_t bytes[16];
    for (auto& b : bytes)
        b = (uint8_t) random.nextInt (256);
    bytes[6] = (uint8_t) ((bytes[6] & 0x0f) | 0x40);   // version 4
    bytes[8] = (uint8_t) ((bytes[8] & 0x3f) | 0x80);   // RFC 4122 variant

    return juce::String::toHexString (bytes, 16, 0);
}

juce::String buildClipText (const PluginProcessor& p, const std::set<int>& keys, int layer)
{
    if (keys.empty())
        return {};

    const int base = *keys.begin();
    juce::XmlElement root ("QuorvelClip");
    root.setAttribute ("base", base);
    root.setAttribute ("span", *keys.rbegin() - base + 1);

    std::vector<AudioClipboardItem> items;
    std::vector<std::unique_ptr<juce::XmlElement>> keyElements;

    for (int key : keys)
    {
        if (key < 0 || key > 127)
            continue;

        const auto s = p.getKeySequence (key, layer);
        std::shared_ptr<const KeyAudio> audio;
        if (layer < 1 || layer > 3)
        {
            const std::lock_guard<std::mutex> lock (p.keyDataMutex);
            audio = p.keyAudio[(size_t) key];
        }

        if (audio != nullptr)
            items.push_back ({ key - base, audio });
        if (s.events.empty())
            continue;

        auto k = std::make_unique<juce::XmlElement> ("Key");
        k->setAttribute ("off", key - base);
        k->setAttribute ("bpm", s.bpm);
        k->setAttribute ("tail", s.tailMs);
        writeEventElements (*k, s.events);
        keyElements.push_back (std::move (k));
    }

    // The audio clipboard, never locked together with the key lock.
    juce::String token;
    {
        const std::lock_guard<std::mutex> lock (PluginProcessor::audioClipboardMutex);
        PluginProcessor::audioClipboardToken = items.empty() ? juce::String() : newAudioToken();
        PluginProcessor::audioClipboardItems = std::move (items);
        token = PluginProcessor::audioClipboardToken;
    }

    if (token.isNotEmpty())
        root.setAttribute ("audioToken", token);
    for (auto& k : keyElements)
        root.addChildElement (k.release());

    return root.toString();
}

std::optional<DecodedClip> decodeClipText (const juce::String& text, int lowestSelectedKey, int layer)
{
    const auto root = juce::parseXML (text);
    if (root == nullptr || ! root->getTagName().equalsIgnoreCase ("QuorvelClip"))
        return std::nullopt;

    DecodedClip clip;
    clip.base = root->hasAttribute ("base") ? root->getStringAttribute ("base").getIntValue() : lowestSelectedKey;

    std::map<int, CopiedSlot> slots;
    for (auto* k : root->getChildIterator())
    {
        if (! k->getTagName().equalsIgnoreCase ("Key"))
            continue;

        KeySequence s;
        s.bpm = std::clamp (k->getDoubleAttribute ("bpm", 120.0), 1.0, 999.0);
        const double tail = k->getDoubleAttribute ("tail", 0.0);
        s.tailMs = tail > 0.0 && std::isfinite (tail) ? tail : 0.0;
        const int off = k->getStringAttribute ("off", "0").getIntValue();

        // Every child is an event, whatever its tag.
        for (auto* e : k->getChildIterator())
            s.events.push_back (readEventElement (*e));
        s.recompute();

        auto& slot = slots[off];
        slot.keyOffset = off;
        slot.hasSequence = true;
        slot.sequence = std::move (s);
    }

    const auto token = root->getStringAttribute ("audioToken");
    if ((layer < 1 || layer > 3) && token.isNotEmpty())
    {
        std::vector<AudioClipboardItem> items;
        {
            const std::lock_guard<std::mutex> lock (PluginProcessor::audioClipboardMutex);
            if (token == PluginProcessor::audioClipboardToken)
                items = PluginProcessor::audioClipboardItems;
        }
        for (const auto& item : items)
        {
            auto& slot = slots[item.keyOffset];
            slot.keyOffset = item.keyOffset;
            slot.hasAudio = true;
            slot.audio = item.audio;
        }
    }

    if (slots.empty())
        return std::nullopt;

    for (auto& [off, slot] : slots)
        clip.slots.push_back (std::move (slot));

    const int needed = clip.slots.back().keyOffset + 1;
    clip.span = root->hasAttribute ("span") ? std::max (root->getStringAttribute ("span").getIntValue(), needed) : needed;
    return clip;
}
