#include <gtest/gtest.h>

#include <juce_audio_formats/juce_audio_formats.h>

#include "engine/PluginProcessor.h"
#include "exchange/ClipExport.h"
#include "exchange/ClipImport.h"
#include "tests/harness/EngineHarness.h"

using qtest::makeClip;

namespace
{
struct TempDir
{
    TempDir() : dir (juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile ("qx", {}))
    {
        dir.createDirectory();
    }
    ~TempDir() { dir.deleteRecursively(); }
    juce::File file (const juce::String& name) const { return dir.getChildFile (name); }
    juce::File dir;
};

// A format-1 file: a tempo track, then note tracks with optional markers.
juce::File writeMidi (const juce::File& f, const std::vector<std::pair<juce::String, std::vector<int>>>& noteTracks,
                      double bpm = 120.0)
{
    juce::MidiFile midi;
    midi.setTicksPerQuarterNote (960);
    juce::MidiMessageSequence tempo;
    tempo.addEvent (juce::MidiMessage::tempoMetaEvent ((int) (60000000.0 / bpm)), 0);
    midi.addTrack (tempo);
    for (const auto& [marker, notes] : noteTracks)
    {
        juce::MidiMessageSequence t;
        if (marker.isNotEmpty())
            t.addEvent (juce::MidiMessage::textMetaEvent (1, marker), 0);
        double tick = 0;
        for (int n : notes)
        {
            t.addEvent (juce::MidiMessage::noteOn (1, n, (juce::uint8) 100), tick);
            t.addEvent (juce::MidiMessage::noteOff (1, n), tick + 480);
            tick += 960;
        }
        midi.addTrack (t);
    }
    f.deleteFile();
    juce::FileOutputStream out (f);
    midi.writeTo (out, 1);
    return f;
}

juce::File writeGzip (const juce::File& f, const juce::String& text)
{
    juce::MemoryOutputStream data;
    {
        juce::GZIPCompressorOutputStream gz (data, 6, juce::GZIPCompressorOutputStream::windowBitsGZIP);
        gz.writeText (text, false, false, nullptr);
    }
    f.replaceWithData (data.getData(), data.getDataSize());
    return f;
}

std::vector<double> waits (const KeySequence& s)
{
    std::vector<double> w;
    for (const auto& e : s.events)
        w.push_back (e.waitMs);
    return w;
}

const char* liveClip = R"(<Ableton><LiveSet><MidiClip Time="0"><CurrentEnd Value="4"/>
    <Notes><KeyTracks>
      <KeyTrack Id="0"><Notes>
        <MidiNoteEvent Time="0" Duration="0.5" Velocity="100"/>
        <MidiNoteEvent Time="1" Duration="0.5" Velocity="0"/>
        <MidiNoteEvent Time="2" Duration="0.5" Velocity="90" IsEnabled="false"/>
      </Notes><MidiKey Value="60"/></KeyTrack>
    </KeyTracks></Notes></MidiClip></LiveSet></Ableton>)";
}

//==============================================================================
TEST (ClipImport, MidiTracksBecomeClipsOnConsecutiveOrMarkedKeys)
{
    TempDir tmp;
    const auto one = writeMidi (tmp.file ("one.mid"), { { "", { 60, 62 } } });
    auto placed = layoutDroppedClips ({ one.getFullPathName() });
    ASSERT_EQ (placed.size(), 1u);
    EXPECT_EQ (placed[0].first, 0);
    EXPECT_EQ (placed[0].second.noteOnCount, 2);
    EXPECT_EQ (placed[0].second.bpm, 120.0);

    const auto three = writeMidi (tmp.file ("three.mid"), { { "", { 60 } }, { "", { 62 } }, { "", { 64 } } }, 90.0);
    placed = layoutDroppedClips ({ three.getFullPathName() });
    ASSERT_EQ (placed.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ (placed[(size_t) i].first, i);
    EXPECT_NEAR (placed[0].second.bpm, 90.0, 1e-3);

    const auto marked = writeMidi (tmp.file ("marked.mid"),
                                   { { "QV:0", { 60 } }, { "QV:4", { 64 } }, { "QV:7", { 67 } }, { "", { 70 } } });
    placed = layoutDroppedClips ({ marked.getFullPathName() });
    ASSERT_EQ (placed.size(), 4u);
    EXPECT_EQ (placed[0].first, 0);
    EXPECT_EQ (placed[1].first, 4);
    EXPECT_EQ (placed[2].first, 7);
    EXPECT_EQ (placed[3].first, 0);

    // Two single-clip files: the second lands on the next key up.
    placed = layoutDroppedClips ({ one.getFullPathName(), one.getFullPathName() });
    ASSERT_EQ (placed.size(), 2u);
    EXPECT_EQ (placed[1].first, 1);

    // Marked files stack above their highest marker.
    placed = layoutDroppedClips ({ marked.getFullPathName(), one.getFullPathName() });
    EXPECT_EQ (placed.back().first, 8);
}

TEST (ClipImport, LiveClip)
{
    TempDir tmp;
    const auto f = writeGzip (tmp.file ("clip.alc"), liveClip);
    const auto placed = layoutDroppedClips ({ f.getFullPathName() });
    ASSERT_EQ (placed.size(), 1u);
    const auto& s = placed[0].second;
    EXPECT_EQ (waits (s), (std::vector<double> { 0, 250, 250, 250 }));
    EXPECT_EQ (s.tailMs, 1250.0);
    EXPECT_EQ (s.bpm, 120.0);
    EXPECT_EQ (s.events[2].velocity, 1);   // velocity 0 becomes 1
    EXPECT_EQ (s.noteOnCount, 2);          // the disabled note is left out

    // A note-off and a note-on at the same time: the note-off first.
    const auto touching = writeGzip (tmp.file ("touch.alc"), R"(<MidiClip><KeyTrack><Notes>
        <MidiNoteEvent Time="0" Duration="1"/><MidiNoteEvent Time="1" Duration="1"/></Notes>
        <MidiKey Value="62"/></KeyTrack></MidiClip>)");
    const auto t = layoutDroppedClips ({ touching.getFullPathName() });
    ASSERT_EQ (t.size(), 1u);
    EXPECT_FALSE (t[0].second.events[1].isNoteOn);
    EXPECT_TRUE (t[0].second.events[2].isNoteOn);
}

TEST (ClipImport, DamagedAndHostileFilesAreSkippedWithoutTouchingTheOthers)
{
    TempDir tmp;
    juce::Random random (7);
    juce::MemoryBlock garbage (5000);
    random.fillBitsRandomly (garbage.getData(), garbage.getSize());
    tmp.file ("garbage.mid").replaceWithData (garbage.getData(), garbage.getSize());
    tmp.file ("garbage.alc").replaceWithData (garbage.getData(), garbage.getSize());
    writeGzip (tmp.file ("empty.alc"), "");
    tmp.file ("emptyfile.mid").create();
    writeGzip (tmp.file ("bomb.alc"), R"(<?xml version="1.0"?><!DOCTYPE lolz [<!ENTITY lol "lol">
        <!ENTITY lol2 "&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;">
        <!ENTITY lol3 "&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;">]>
        <MidiClip><KeyTrack><Notes><MidiNoteEvent Time="0" Duration="1"/></Notes><MidiKey Value="60"/></KeyTrack>&lol3;</MidiClip>)");
    // A gzip that expands to more than we accept.
    {
        juce::MemoryOutputStream data;
        {
            juce::GZIPCompressorOutputStream gz (data, 9, juce::GZIPCompressorOutputStream::windowBitsGZIP);
            const juce::String zeros = juce::String::repeatedString ("0", 1 << 20);
            for (int i = 0; i < 80; ++i)
                gz.writeText (zeros, false, false, nullptr);
        }
        tmp.file ("huge.alc").replaceWithData (data.getData(), data.getDataSize());
    }
    const auto good = writeMidi (tmp.file ("good.mid"), { { "", { 60 } } });

    const juce::StringArray paths { tmp.file ("garbage.mid").getFullPathName(), tmp.file ("garbage.alc").getFullPathName(),
                                    tmp.file ("empty.alc").getFullPathName(), tmp.file ("emptyfile.mid").getFullPathName(),
                                    tmp.file ("bomb.alc").getFullPathName(), tmp.file ("huge.alc").getFullPathName(),
                                    tmp.file ("missing.mid").getFullPathName(), good.getFullPathName() };
    const auto placed = layoutDroppedClips (paths);
    ASSERT_EQ (placed.size(), 1u);
    EXPECT_EQ (placed[0].first, 0);
}

TEST (ClipImport, EveryShippedTestFileYieldsItsClipsOrIsSkipped)
{
    const auto folder = juce::File (QUORVEL_SOURCE_DIR).getParentDirectory().getChildFile ("shared/testdata");
    if (! folder.isDirectory())
        GTEST_SKIP() << "no shared test data beside the project";

    int yielded = 0;
    for (const auto& f : folder.findChildFiles (juce::File::findFiles, false, "*.mid;*.midi;*.alc"))
    {
        SCOPED_TRACE (f.getFileName().toStdString());
        const auto clips = layoutDroppedClips ({ f.getFullPathName() });
        for (const auto& [offset, s] : clips)
        {
            EXPECT_GE (offset, 0);
            EXPECT_FALSE (s.events.empty());
            for (const auto& e : s.events)
            {
                EXPECT_GE (e.waitMs, 0.0);
                EXPECT_TRUE (e.note >= 0 && e.note <= 127 && e.channel >= 1 && e.channel <= 16);
            }
        }
        yielded += clips.empty() ? 0 : 1;

        // Files that read as MIDI give one clip per note track, or one.
        juce::MidiFile midi;
        juce::FileInputStream in (f);
        if (midi.readFrom (in))
        {
            int noteTracks = 0;
            for (int t = 0; t < midi.getNumTracks(); ++t)
                for (const auto* e : *midi.getTrack (t))
                    if (e->message.isNoteOn())
                    {
                        ++noteTracks;
                        break;
                    }
            EXPECT_EQ ((int) clips.size(), noteTracks < 2 ? (noteTracks > 0 ? 1 : 0) : noteTracks);
        }
    }
    EXPECT_GT (yielded, 5);
}

TEST (ClipImport, DropAppliesAsOneEditWithMergeModifierZoneAndAudio)
{
    TempDir tmp;
    qtest::EngineHarness h;
    auto& p = h.proc();
    const auto three = writeMidi (tmp.file ("three.mid"), { { "", { 60 } }, { "", { 62 } }, { "", { 64 } } });

    // Near the top the clips above 127 are dropped; on the focused layer the
    // modifier zone (48..59) is skipped.
    auto touched = applyDroppedFiles (p, { three.getFullPathName() }, 126, 0, false);
    EXPECT_EQ (touched, (std::vector<int> { 126, 127 }));
    touched = applyDroppedFiles (p, { three.getFullPathName() }, 47, 0, false);
    EXPECT_EQ (touched, (std::vector<int> { 47 }));
    EXPECT_EQ (p.undoHistory.size(), 2u);

    // Merging with the Alt key keeps what the key held.
    h.setClip (70, makeClip ({ { 40, 0, 100 } }));
    applyDroppedFiles (p, { three.getFullPathName() }, 70, 0, true);
    EXPECT_EQ (p.getKeySequence (70, 0).noteOnCount, 2);

    // An audio file attaches to the key as its audio, rooted there.
    const auto wav = tmp.file ("tone.wav");
    {
        juce::WavAudioFormat format;
        std::unique_ptr<juce::AudioFormatWriter> w (format.createWriterFor (new juce::FileOutputStream (wav), 32000.0, 3, 16, {}, 0));
        juce::AudioBuffer<float> b (3, 3200);
        b.clear();
        w->writeFromAudioSampleBuffer (b, 0, 3200);
    }
    const auto before = p.undoHistory.size();
    touched = applyDroppedFiles (p, { wav.getFullPathName(), three.getFullPathName() }, 80, 0, false);
    EXPECT_EQ (touched, (std::vector<int> { 80, 81, 82 }));
    EXPECT_EQ (p.undoHistory.size(), before + 1);
    ASSERT_NE (p.keyAudio[80], nullptr);
    EXPECT_EQ (p.keyAudio[80]->buffer.getNumChannels(), 2);
    EXPECT_EQ (p.keyAudio[80]->sampleRate, 32000.0);
    EXPECT_EQ (p.keyAudio[80]->rootNote, 80);
    EXPECT_EQ (p.getKeySequence (80, 0).noteOnCount, 1);   // the MIDI clip landed too

    // Audio files are not for the upper layers.
    touched = applyDroppedFiles (p, { wav.getFullPathName() }, 90, 1, false);
    EXPECT_TRUE (touched.empty());
}

//==============================================================================
TEST (ClipExport, TwoKeysGiveOneFileWithNamedMarkedTracksAndRoundTrip)
{
    PluginProcessor p;
    p.keys[60] = makeClip ({ { 60, 0, 100 }, { 62, 250, 100 } });
    p.keys[64] = makeClip ({ { 64, 0, 500, 90, 3 } }, 90.0);
    const auto clips = clipsForExport (p, { 60, 61, 64 }, 0);
    ASSERT_EQ (clips.size(), 2u);
    EXPECT_EQ (exportFileName (clips), "Quorvel_2_clips.mid");

    const auto file = writeExportFile (p, { 60, 61, 64 }, 0);
    ASSERT_TRUE (file.existsAsFile());
    EXPECT_EQ (file.getFileName(), "Quorvel_2_clips.mid");

    juce::MidiFile midi;
    juce::FileInputStream in (file);
    ASSERT_TRUE (midi.readFrom (in));
    ASSERT_EQ (midi.getNumTracks(), 2);
    EXPECT_EQ (midi.getTimeFormat(), 960);
    juce::StringArray names, markers;
    for (int t = 0; t < 2; ++t)
        for (const auto* e : *midi.getTrack (t))
        {
            if (e->message.isTrackNameEvent())
                names.add (e->message.getTextFromTextMetaEvent());
            else if (e->message.isTextMetaEvent() && e->message.getMetaEventType() == 1)
                markers.add (e->message.getTextFromTextMetaEvent());
        }
    EXPECT_EQ (names, juce::StringArray ({ "Quorvel C3", "Quorvel E3" }));
    EXPECT_EQ (markers, juce::StringArray ({ "QV:0", "QV:4" }));

    // Importing the export gives the same clips on the same relative keys.
    const auto back = layoutDroppedClips ({ file.getFullPathName() });
    ASSERT_EQ (back.size(), 2u);
    EXPECT_EQ (back[0].first, 0);
    EXPECT_EQ (back[1].first, 4);
    EXPECT_NEAR (back[1].second.bpm, 90.0, 1e-3);
    for (size_t i = 0; i < 2; ++i)
    {
        const auto& original = clips[i].second;
        const auto& imported = back[i].second;
        ASSERT_EQ (imported.events.size(), original.events.size());
        for (size_t j = 0; j < original.events.size(); ++j)
        {
            EXPECT_EQ (imported.events[j].note, original.events[j].note);
            EXPECT_EQ (imported.events[j].channel, original.events[j].channel);
            EXPECT_EQ (imported.events[j].isNoteOn, original.events[j].isNoteOn);
            EXPECT_NEAR (imported.events[j].waitMs, original.events[j].waitMs, 0.6);
        }
    }
    file.deleteFile();
}

TEST (ClipExport, TempoTicksTailAndNames)
{
    EXPECT_EQ (exportNoteName (60), "C3");
    EXPECT_EQ (exportNoteName (61), "C#3");
    EXPECT_EQ (exportNoteName (0), "C-2");
    EXPECT_EQ (exportNoteName (127), "G8");
    EXPECT_EQ (exportFileName ({ { 61, KeySequence() } }), "Quorvel_C#3.mid");

    // 90 bpm: 666666 us per quarter; an event 1000 ms in lands on tick 1440.
    auto slow = makeClip ({ { 60, 0, 1000 } }, 90.0);
    auto file = buildExportMidiFile ({ { 60, slow } });
    const auto* track = file.getTrack (0);
    bool sawTempo = false, sawOff = false;
    for (const auto* e : *track)
    {
        if (e->message.isTempoMetaEvent())
            sawTempo = std::lround (e->message.getTempoSecondsPerQuarterNote() * 1e6) == 666666;
        if (e->message.isNoteOff())
            sawOff = e->message.getTimeStamp() == 1440.0;
        EXPECT_FALSE (e->message.isTextMetaEvent() && e->message.getMetaEventType() == 1);   // one key: no marker
    }
    EXPECT_TRUE (sawTempo);
    EXPECT_TRUE (sawOff);

    // 120 bpm, last event at 1000 ms, tail 500: controller 102 at 2879, the end at 2880.
    auto tailed = makeClip ({ { 60, 0, 1000 } }, 120.0, 500.0);
    file = buildExportMidiFile ({ { 60, tailed } });
    track = file.getTrack (0);
    double cc = -1, end = -1;
    for (const auto* e : *track)
    {
        if (e->message.isController() && e->message.getControllerNumber() == 102)
            cc = e->message.getTimeStamp();
        if (e->message.isEndOfTrackMetaEvent())
            end = e->message.getTimeStamp();
    }
    EXPECT_EQ (cc, 2879.0);
    EXPECT_EQ (end, 2880.0);

    // Only keys with events count.
    PluginProcessor p;
    p.keys[62] = makeClip ({ { 62, 0, 100 } });
    const auto f = writeExportFile (p, { 60, 61, 62, 63, 64 }, 0);
    EXPECT_EQ (f.getFileName(), "Quorvel_D3.mid");
    f.deleteFile();
    EXPECT_EQ (writeExportFile (p, { 10, 11 }, 0), juce::File());
}

//==============================================================================
TEST (ClipText, CopyAndPasteWithTheAudioClipboard)
{
    PluginProcessor p;
    p.keys[10] = makeClip ({ { 60, 0, 100 } });
    p.keys[14] = makeClip ({ { 64, 0, 100 } }, 100.0, 30.0);
    auto audio = std::make_shared<KeyAudio>();
    audio->buffer.setSize (1, 10);
    p.keyAudio[12] = audio;

    const auto text = buildClipText (p, { 10, 11, 12, 13, 14 }, 0);
    const auto xml = juce::parseXML (text);
    ASSERT_NE (xml, nullptr);
    EXPECT_EQ (xml->getIntAttribute ("base"), 10);
    EXPECT_EQ (xml->getIntAttribute ("span"), 5);
    EXPECT_EQ (xml->getNumChildElements(), 2);   // no "Key" for the audio-only key 12
    const auto token = xml->getStringAttribute ("audioToken");
    ASSERT_EQ (token.length(), 32);
    EXPECT_TRUE (token.containsOnly ("0123456789abcdef"));
    EXPECT_EQ (token[12], '4');
    EXPECT_TRUE (juce::String ("89ab").containsChar (token[16]));
    {
        const std::lock_guard<std::mutex> lock (PluginProcessor::audioClipboardMutex);
        ASSERT_EQ (PluginProcessor::audioClipboardItems.size(), 1u);
        EXPECT_EQ (PluginProcessor::audioClipboardItems[0].keyOffset, 2);
    }

    auto decoded = decodeClipText (text, 0, 0);
    ASSERT_TRUE (decoded.has_value());
    EXPECT_EQ (decoded->base, 10);
    EXPECT_EQ (decoded->span, 5);
    ASSERT_EQ (decoded->slots.size(), 3u);
    EXPECT_EQ (decoded->slots[1].keyOffset, 2);
    EXPECT_TRUE (decoded->slots[1].hasAudio);
    EXPECT_FALSE (decoded->slots[1].hasSequence);
    EXPECT_EQ (decoded->slots[2].sequence.tailMs, 30.0);
    EXPECT_EQ (decoded->slots[2].sequence.bpm, 100.0);

    // On an upper layer the audio stays behind.
    decoded = decodeClipText (text, 0, 2);
    ASSERT_TRUE (decoded.has_value());
    EXPECT_EQ (decoded->slots.size(), 2u);

    // A token from another copy: notes only.
    const auto other = buildClipText (p, { 10, 11, 12 }, 0);
    decoded = decodeClipText (text, 0, 0);
    ASSERT_TRUE (decoded.has_value());
    for (const auto& s : decoded->slots)
        EXPECT_FALSE (s.hasAudio);
    EXPECT_NE (juce::parseXML (other)->getStringAttribute ("audioToken"), token);

    // A copy on an upper layer empties the audio clipboard.
    p.upperKeys[0][10] = makeClip ({ { 60, 0, 100 } });
    EXPECT_FALSE (juce::parseXML (buildClipText (p, { 10, 12 }, 1))->hasAttribute ("audioToken"));
    const std::lock_guard<std::mutex> lock (PluginProcessor::audioClipboardMutex);
    EXPECT_TRUE (PluginProcessor::audioClipboardItems.empty());
    EXPECT_TRUE (PluginProcessor::audioClipboardToken.isEmpty());
}

TEST (ClipText, DecodingLimitsAndRefusals)
{
    const auto decoded = decodeClipText (R"(<QuorvelClip base="20" span="2">
        <Key off="0" bpm="0"><E n="300" c="0" w="-5"/></Key>
        <Key off="3"><X v="50" on="0" w="10"/></Key></QuorvelClip>)", 5, 0);
    ASSERT_TRUE (decoded.has_value());
    EXPECT_EQ (decoded->span, 4);
    EXPECT_EQ (decoded->slots[0].sequence.bpm, 1.0);
    EXPECT_EQ (decoded->slots[0].sequence.events[0].note, 127);
    EXPECT_EQ (decoded->slots[0].sequence.events[0].channel, 1);
    EXPECT_EQ (decoded->slots[0].sequence.events[0].waitMs, 0.0);
    EXPECT_FALSE (decoded->slots[1].sequence.events[0].isNoteOn);

    EXPECT_FALSE (decodeClipText ("plain words", 0, 0).has_value());
    EXPECT_FALSE (decodeClipText ("<QuorvelState/>", 0, 0).has_value());
    EXPECT_FALSE (decodeClipText ("<QuorvelClip base=\"3\"/>", 0, 0).has_value());
    const auto noBase = decodeClipText (R"(<quorvelclip><Key><E/></Key></quorvelclip>)", 42, 0);
    ASSERT_TRUE (noBase.has_value());
    EXPECT_EQ (noBase->base, 42);
    EXPECT_EQ (noBase->span, 1);
}
