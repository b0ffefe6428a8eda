#include "exchange/ClipImport.h"

#include <algorithm>
#include <cmath>
#include <set>

#include <juce_audio_formats/juce_audio_formats.h>

#include "engine/PluginProcessor.h"
#include "persistence/StateDocument.h"
#include "recording/KeyEdits.h"

namespace
{
// Nothing a user drops is this large; a larger or endlessly expanding file
// (a gzip or XML bomb) is skipped instead of exhausting memory.
constexpr juce::int64 maxFileBytes = 64 * 1024 * 1024;
constexpr size_t maxDecompressedBytes = 64 * 1024 * 1024;
constexpr juce::int64 maxAudioFileBytes = (juce::int64) 1 << 30;

struct Timed
{
    double time;
    juce::MidiMessage message;
};

KeySequence clipFromMessages (std::vector<Timed> messages, double bpm, double end)
{
    std::stable_sort (messages.begin(), messages.end(), [] (const Timed& a, const Timed& b) { return a.time < b.time; });

    KeySequence s;
    double previous = 0.0;
    for (const auto& m : messages)
    {
        const auto* d = m.message.getRawData();
        SeqEvent e;
        e.note = std::min (d[1] & 0xff, 127);
        e.channel = (d[0] & 0x0f) + 1;
        e.isNoteOn = m.message.isNoteOn();
        e.velocity = e.isNoteOn ? std::min ((int) d[2], 127) : 0;
        e.waitMs = std::max ((m.time - previous) * 1000.0, 0.0);
        previous = m.time;
        s.events.push_back (e);
    }

    s.bpm = std::clamp (bpm, 1.0, 999.0);
    s.tailMs = std::max ((std::max (end, previous) - previous) * 1000.0, 0.0);
    s.recompute();
    return s;
}

double firstTempo (const juce::MidiMessageSequence& track)
{
    for (const auto* e : track)
        if (e->message.isTempoMetaEvent())
        {
            const double spq = e->message.getTempoSecondsPerQuarterNote();
            if (spq > 0.0 && std::isfinite (spq))
                return 60.0 / spq;
        }
    return -1.0;
}

bool hasNoteOn (const juce::MidiMessageSequence& track)
{
    for (const auto* e : track)
        if (e->message.isNoteOn())
            return true;
    return false;
}

void addNotes (const juce::MidiMessageSequence& track, std::vector<Timed>& into)
{
    for (const auto* e : track)
        if (e->message.isNoteOnOrOff() && e->message.getRawDataSize() >= 3 && std::isfinite (e->message.getTimeStamp()))
            into.push_back ({ e->message.getTimeStamp(), e->message });
}

double lastTime (const juce::MidiMessageSequence& track)
{
    double t = 0.0;
    for (const auto* e : track)
        if (std::isfinite (e->message.getTimeStamp()))
            t = std::max (t, e->message.getTimeStamp());
    return t;
}

bool readSmallFile (const juce::File& file, juce::MemoryBlock& data)
{
    return file.existsAsFile() && file.getSize() > 0 && file.getSize() <= maxFileBytes && file.loadFileAsData (data);
}
}

int parseQvOffset (const juce::MidiMessageSequence& track)
{
    for (const auto* e : track)
    {
        const auto& m = e->message;
        if (m.isMetaEvent() && m.getMetaEventType() >= 1 && m.getMetaEventType() <= 15)
        {
            const auto text = m.getTextFromTextMetaEvent();
            if (text.startsWith (kQvOffsetPrefix))
                return text.substring (3).getIntValue();
        }
    }
    return -1;
}

std::vector<ImportedClip> midiFileToKeySequences (const juce::MidiFile& source)
{
    juce::MidiFile file (source);
    file.convertTimestampTicksToSeconds();

    double fileTempo = 120.0;
    for (int t = 0; t < file.getNumTracks(); ++t)
        if (const double bpm = firstTempo (*file.getTrack (t)); bpm > 0.0)
        {
            fileTempo = bpm;
            break;
        }

    std::vector<int> noteTracks;
    for (int t = 0; t < file.getNumTracks(); ++t)
        if (hasNoteOn (*file.getTrack (t)))
            noteTracks.push_back (t);

    std::vector<ImportedClip> clips;
    if (noteTracks.size() < 2)
    {
        std::vector<Timed> messages;
        double end = 0.0;
        for (int t = 0; t < file.getNumTracks(); ++t)
        {
            addNotes (*file.getTrack (t), messages);
            end = std::max (end, lastTime (*file.getTrack (t)));
        }

        ImportedClip c;
        c.offset = noteTracks.empty() ? -1 : parseQvOffset (*file.getTrack (noteTracks.front()));
        c.sequence = clipFromMessages (std::move (messages), fileTempo, end);
        clips.push_back (std::move (c));
        return clips;
    }

    for (int t : noteTracks)
    {
        // A track with a tempo of its own (as our export writes one per key) is
        // timed by that tempo, not by the other tracks' tempos.
        const auto& ticks = *source.getTrack (t);
        const double own = firstTempo (ticks);
        juce::MidiMessageSequence track;
        if (own > 0.0)
        {
            juce::MidiFile alone;
            alone.setTicksPerQuarterNote (std::max (1, (int) source.getTimeFormat()));
            if (source.getTimeFormat() < 0)
                alone.setSmpteTimeFormat (-(source.getTimeFormat() >> 8), source.getTimeFormat() & 0xff);
            alone.addTrack (ticks);
            alone.convertTimestampTicksToSeconds();
            track = *alone.getTrack (0);
        }
        else
        {
            track = *file.getTrack (t);
        }

        std::vector<Timed> messages;
        addNotes (track, messages);

        ImportedClip c;
        c.offset = parseQvOffset (track);
        c.sequence = clipFromMessages (std::move (messages), own > 0.0 ? own : fileTempo, lastTime (track));
        clips.push_back (std::move (c));
    }
    return clips;
}

std::vector<ImportedClip> readMidiFileClips (const juce::File& file)
{
    juce::MemoryBlock data;
    if (! readSmallFile (file, data))
        return {};

    juce::MemoryInputStream stream (data, false);
    juce::MidiFile midi;
    if (! midi.readFrom (stream, true))
        return {};
    return midiFileToKeySequences (midi);
}

//==============================================================================
void alcCollect (const juce::XmlElement& element, std::vector<AlcNote>& notes, double& maxEnd)
{
    if (element.getTagName().equalsIgnoreCase ("KeyTrack"))
    {
        const auto* midiKey = element.getChildByName ("MidiKey");
        const auto* list = element.getChildByName ("Notes");
        const int key = midiKey != nullptr ? midiKey->getIntAttribute ("Value", -1) : -1;

        if (key >= 0 && key <= 127 && list != nullptr)
        {
            for (auto* ev : list->getChildWithTagNameIterator ("MidiNoteEvent"))
            {
                if (! ev->getBoolAttribute ("IsEnabled", true))
                    continue;

                AlcNote n;
                n.start = ev->getDoubleAttribute ("Time", 0.0);
                const double duration = ev->getDoubleAttribute ("Duration", 0.0);
                if (! std::isfinite (n.start) || ! std::isfinite (duration))
                    continue;
                n.end = n.start + std::max (duration, 0.0);
                n.key = key;
                n.velocity = std::clamp ((int) std::lround (ev->getDoubleAttribute ("Velocity", 100.0)), 1, 127);
                notes.push_back (n);
                maxEnd = std::max (maxEnd, n.end);
            }
        }
    }

    for (auto* child : element.getChildIterator())
        alcCollect (*child, notes, maxEnd);
}

const juce::XmlElement* alcFindClip (const juce::XmlElement& element)
{
    if (element.getTagName().endsWithIgnoreCase ("Clip"))
        return &element;
    for (auto* child : element.getChildIterator())
        if (const auto* found = alcFindClip (*child))
            return found;
    return nullptr;
}

std::vector<ImportedClip> readLiveClip (const juce::File& file)
{
    juce::MemoryBlock data;
    if (! readSmallFile (file, data))
        return {};

    juce::MemoryOutputStream text;
    {
        juce::MemoryInputStream compressed (data, false);
        juce::GZIPDecompressorInputStream gzip (&compressed, false, juce::GZIPDecompressorInputStream::gzipFormat);
        char buffer[16384];
        for (;;)
        {
            const int got = gzip.read (buffer, (int) sizeof (buffer));
            if (got <= 0)
                break;
            text.write (buffer, (size_t) got);
            if (text.getDataSize() > maxDecompressedBytes)
                return {};
        }
    }

    const auto xmlText = text.toUTF8();
    // Live clips have no document type; one that declares entities is refused
    // rather than expanded.
    if (xmlText.isEmpty() || xmlText.contains ("<!ENTITY") || xmlText.contains ("<!DOCTYPE"))
        return {};

    const auto root = juce::parseXML (xmlText);
    if (root == nullptr)
        return {};

    std::vector<AlcNote> notes;
    double maxEnd = 0.0;
    alcCollect (*root, notes, maxEnd);
    if (notes.empty())
        return {};

    struct Ev
    {
        double time;
        bool on;
        const AlcNote* note;
    };
    std::vector<Ev> events;
    for (const auto& n : notes)
    {
        events.push_back ({ n.start, true, &n });
        events.push_back ({ n.end, false, &n });
    }
    std::stable_sort (events.begin(), events.end(), [] (const Ev& a, const Ev& b)
    {
        if (a.time != b.time)
            return a.time < b.time;
        return ! a.on && b.on;
    });

    ImportedClip clip;
    auto& s = clip.sequence;
    double previous = 0.0;
    for (const auto& e : events)
    {
        s.events.push_back ({ e.note->key, e.on ? e.note->velocity : 0, 1, e.on, std::max ((e.time - previous) * 500.0, 0.0) });
        previous = e.time;
    }

    double end = maxEnd;
    if (const auto* clipElement = alcFindClip (*root))
        if (const auto* currentEnd = clipElement->getChildByName ("CurrentEnd"))
            end = std::max (currentEnd->getDoubleAttribute ("Value", maxEnd), maxEnd);

    s.bpm = 120.0;
    s.tailMs = std::isfinite (end) ? std::max ((end - maxEnd) * 500.0, 0.0) : 0.0;
    s.recompute();
    return { clip };
}

//==============================================================================
std::vector<std::pair<int, KeySequence>> layoutDroppedClips (const juce::StringArray& paths)
{
    std::vector<std::pair<int, KeySequence>> placed;
    int base = 0;

    for (const auto& path : paths)
    {
        const juce::File file (path);
        if (isDroppableAudioFile (file))
            continue;

        auto clips = file.hasFileExtension ("alc") ? readLiveClip (file) : readMidiFileClips (file);
        clips.erase (std::remove_if (clips.begin(), clips.end(), [] (const ImportedClip& c) { return c.sequence.events.empty(); }),
                     clips.end());
        if (clips.empty())
            continue;

        int first = -1;
        for (const auto& c : clips)
            if (c.offset >= 0)
            {
                first = c.offset;
                break;
            }

        int highest = 0;
        for (size_t i = 0; i < clips.size(); ++i)
        {
            const int p = first < 0 ? (int) i : std::max (clips[i].offset, 0);
            highest = std::max (highest, p);
            placed.push_back ({ base + p, std::move (clips[i].sequence) });
        }
        base += highest + 1;
    }

    return placed;
}

bool isDroppableAudioFile (const juce::File& file)
{
    return file.hasFileExtension ("wav;wave;aif;aiff;aifc;flac");
}

std::shared_ptr<const KeyAudio> readAudioFileForKey (const juce::File& file, int key)
{
    if (! file.existsAsFile() || file.getSize() > maxAudioFileBytes)
        return nullptr;

    juce::AudioFormatManager formats;
    formats.registerFormat (new juce::WavAudioFormat(), true);
    formats.registerFormat (new juce::AiffAudioFormat(), false);
    formats.registerFormat (new juce::FlacAudioFormat(), false);

    std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (file));
    if (reader == nullptr || reader->sampleRate <= 0.0)
        return nullptr;

    // Thirty minutes at the file's rate at the most: a header may lie about its length.
    auto audio = readAudioForKey (*reader, std::min ((juce::int64) (reader->sampleRate * 60.0 * 30.0), (juce::int64) 1 << 28));
    if (audio == nullptr)
        return nullptr;

    audio->sampleRate = reader->sampleRate;
    audio->rootNote = key;
    return audio;
}

std::vector<int> applyDroppedFiles (PluginProcessor& processor, const juce::StringArray& paths, int dropKey, int layer,
                                    bool merge)
{
    const int l = layer >= 1 && layer <= 3 ? layer : 0;
    const int zone = processor.modOctaveBase.load();
    const bool skipZone = l == processor.focusedLayer.load();
    auto usable = [&] (int key) { return key >= 0 && key <= 127 && ! (skipZone && key >= zone && key < zone + 12); };

    std::vector<std::pair<int, KeySequence>> edits;
    for (auto& [offset, sequence] : layoutDroppedClips (paths))
    {
        const int key = dropKey + offset;
        if (! usable (key))
            continue;

        if (merge)
        {
            auto current = processor.getKeySequence (key, l);
            mixSequenceInto (current, sequence);
            edits.push_back ({ key, std::move (current) });
        }
        else
        {
            edits.push_back ({ key, std::move (sequence) });
        }
    }

    std::vector<std::pair<int, std::shared_ptr<const KeyAudio>>> audioEdits;
    if (l == 0)
    {
        int key = dropKey;
        for (const auto& path : paths)
        {
            const juce::File file (path);
            if (! isDroppableAudioFile (file))
                continue;
            while (key <= 127 && ! usable (key))
                ++key;
            if (key > 127)
                break;
            if (auto audio = readAudioFileForKey (file, key))
                audioEdits.push_back ({ key++, std::move (audio) });
        }
    }

    processor.applyKeyEdits (edits, {}, audioEdits, l);

    std::set<int> touched;
    for (const auto& e : edits)
        touched.insert (e.first);
    for (const auto& a : audioEdits)
        touched.insert (a.first);
    return { touched.begin(), touched.end() };
}
