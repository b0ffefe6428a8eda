#include <cmath>

#include <gtest/gtest.h>

#include "engine/PluginProcessor.h"
#include "persistence/DataFolders.h"
#include "persistence/StateDocument.h"
#include "recording/KeyEdits.h"
#include "tests/harness/EngineHarness.h"

using qtest::EngineHarness;
using qtest::makeClip;

namespace
{
std::shared_ptr<const KeyAudio> sineAudio (int channels, int frames, double rate, int root)
{
    auto a = std::make_shared<KeyAudio>();
    a->buffer.setSize (channels, frames);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < frames; ++i)
            a->buffer.setSample (c, i, (float) (0.5 * std::sin (i * 0.05 * (c + 1))));
    a->sampleRate = rate;
    a->rootNote = root;
    a->bpm = 97.0;
    a->tailMs = 12.5;
    return a;
}

juce::MemoryBlock stateOf (PluginProcessor& p)
{
    juce::MemoryBlock block;
    p.getStateInformation (block);
    return block;
}

// A document in the binary container the host stores.
juce::MemoryBlock containerFor (const juce::String& xml)
{
    juce::MemoryBlock block;
    const auto parsed = juce::parseXML (xml);
    EXPECT_NE (parsed, nullptr) << xml;
    if (parsed != nullptr)
        juce::AudioProcessor::copyXmlToBinary (*parsed, block);
    return block;
}

void load (PluginProcessor& p, const juce::String& xml)
{
    const auto block = containerFor (xml);
    p.setStateInformation (block.getData(), (int) block.getSize());
}

struct ScopedDataFolder
{
    ScopedDataFolder()
    {
        folder = juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile ("quorvel-case", {});
        folder.createDirectory();
        previous = juce::SystemStats::getEnvironmentVariable ("QUORVEL_DATA_DIR", {});
        setenv ("QUORVEL_DATA_DIR", folder.getFullPathName().toRawUTF8(), 1);
    }
    ~ScopedDataFolder()
    {
        setenv ("QUORVEL_DATA_DIR", previous.toRawUTF8(), 1);
        folder.deleteRecursively();
    }
    juce::File folder;
    juce::String previous;
};
}

//==============================================================================
TEST (StateDocument, RoundTripKeepsEverySettingAndEveryKey)
{
    PluginProcessor a;
    a.transpose1.store (-7);
    a.transpose2.store (12);
    a.speed1Idx.store (2);
    a.speed2Idx.store (6);
    a.repeat1Rate.store (5);
    a.repeat2Rate.store (0);
    a.invert1Dir.store (1);
    a.invert2Dir.store (0);
    a.stepChordAware.store (false);
    a.sliceOffsetMs.store (12.345);
    a.inputQuantPower.store (true);
    a.inputQuantNote.store (3);
    a.inputQuantFeel.store (2);
    a.inputQuantAmount.store (-40);
    a.launchQuantPower.store (true);
    a.launchQuantNote.store (1);
    a.launchQuantFeel.store (1);
    a.loopEnabled.store (true);
    a.loopLengthIdx.store (6);
    a.keyboardInteraction.store (0);
    a.cascadeEnabled.store (false);
    a.triggerMode.store (2);
    a.liveResample.store (true);
    a.velModSource.store (4);
    a.velControlPower.store (false);
    a.velControlAmount.store (77);
    a.monoMode.store (true);
    a.legato.store (true);
    a.visibleLayers.store (4);
    a.focusedLayer.store (3);
    a.layerDry[2].store (true);
    a.layerKeysnap[1].store (false);
    a.modOctaveBase.store (36);
    a.setKeySnapRange (40, 90);
    a.scalePitchClasses[2] = a.scalePitchClasses[9] = true;
    a.keySnapScale.store (a.scaleMask());

    a.keys[60] = makeClip ({ { 60, 0, 123.456 }, { 64, 200, 50 } }, 93.5, 40.0);
    a.keys[61] = makeClip ({ { 30, 0, 10, 1, 16 } });
    a.keyAudio[61] = sineAudio (2, 4800, 48000.0, 55);
    a.keyAudio[62] = sineAudio (4, 1000, 44100.0, -1);   // audio without a clip
    for (int l = 0; l < 3; ++l)
        a.upperKeys[(size_t) l][(size_t) (70 + l)] = makeClip ({ { 80 + l, 0.0, 100.0 + l } }, 100.0 + l);

    const auto block = stateOf (a);

    PluginProcessor b;
    b.setStateInformation (block.getData(), (int) block.getSize());

    EXPECT_EQ (b.transpose1.load(), -7);
    EXPECT_EQ (b.transpose2.load(), 12);
    EXPECT_EQ (b.speed1Idx.load(), 2);
    EXPECT_EQ (b.speed2Idx.load(), 6);
    EXPECT_EQ (b.repeat1Rate.load(), 5);
    EXPECT_EQ (b.repeat2Rate.load(), 0);
    EXPECT_EQ (b.invert1Dir.load(), 1);
    EXPECT_EQ (b.invert2Dir.load(), 0);
    EXPECT_FALSE (b.stepChordAware.load());
    EXPECT_EQ (b.sliceOffsetMs.load(), 12.345);
    EXPECT_TRUE (b.inputQuantPower.load());
    EXPECT_EQ (b.inputQuantNote.load(), 3);
    EXPECT_EQ (b.inputQuantFeel.load(), 2);
    EXPECT_EQ (b.inputQuantAmount.load(), -40);
    EXPECT_TRUE (b.launchQuantPower.load());
    EXPECT_EQ (b.launchQuantNote.load(), 1);
    EXPECT_EQ (b.launchQuantFeel.load(), 1);
    EXPECT_TRUE (b.loopEnabled.load());
    EXPECT_EQ (b.loopLengthIdx.load(), 6);
    EXPECT_EQ (b.keyboardInteraction.load(), 0);
    EXPECT_FALSE (b.cascadeEnabled.load());
    EXPECT_EQ (b.triggerMode.load(), 2);
    EXPECT_TRUE (b.liveResample.load());
    EXPECT_EQ (b.velModSource.load(), 4);
    EXPECT_FALSE (b.velControlPower.load());
    EXPECT_EQ (b.velControlAmount.load(), 77);
    EXPECT_TRUE (b.monoMode.load());
    EXPECT_TRUE (b.legato.load());
    EXPECT_EQ (b.visibleLayers.load(), 4);
    EXPECT_EQ (b.focusedLayer.load(), 3);
    EXPECT_EQ (b.playLayer, 3);
    EXPECT_TRUE (b.layerDry[2].load());
    EXPECT_FALSE (b.layerKeysnap[1].load());
    EXPECT_EQ (b.modOctaveBase.load(), 36);
    EXPECT_EQ (b.appliedModOctaveBase.load(), 36);
    EXPECT_EQ (b.snapRangeStart, 40);
    EXPECT_EQ (b.snapRangeEnd, 90);
    EXPECT_EQ (b.keySnapScale.load(), (1 << 2) | (1 << 9));

    for (int k = 0; k < 128; ++k)
    {
        const auto x = a.getKeySequence (k, 0), y = b.getKeySequence (k, 0);
        EXPECT_TRUE (sameSeqEvents (x.events, y.events)) << k;
        EXPECT_EQ (x.bpm, y.bpm) << k;
        EXPECT_EQ (x.tailMs, y.tailMs) << k;
        for (int l = 1; l <= 3; ++l)
            EXPECT_TRUE (sameSeqEvents (a.getKeySequence (k, l).events, b.getKeySequence (k, l).events)) << k << " " << l;
    }

    // Audio: stereo keeps its channels and rate; four channels come back as two.
    ASSERT_NE (b.keyAudio[61], nullptr);
    EXPECT_EQ (b.keyAudio[61]->buffer.getNumChannels(), 2);
    EXPECT_EQ (b.keyAudio[61]->buffer.getNumSamples(), 4800);
    EXPECT_EQ (b.keyAudio[61]->sampleRate, 48000.0);
    EXPECT_EQ (b.keyAudio[61]->rootNote, 55);
    EXPECT_EQ (b.keyAudio[61]->bpm, 97.0);
    EXPECT_EQ (b.keyAudio[61]->tailMs, 12.5);
    EXPECT_NEAR (b.keyAudio[61]->buffer.getSample (1, 100), a.keyAudio[61]->buffer.getSample (1, 100), 1e-5);
    ASSERT_NE (b.keyAudio[62], nullptr);
    EXPECT_EQ (b.keyAudio[62]->buffer.getNumChannels(), 2);
    EXPECT_EQ (b.keyAudio[62]->rootNote, 62);
    EXPECT_EQ (b.keyAudio[62]->sampleRate, 44100.0);

    // What was loaded saves and loads again unchanged.
    const auto again = stateOf (b);
    PluginProcessor c;
    c.setStateInformation (again.getData(), (int) again.getSize());
    EXPECT_EQ (stateOf (c), again);
}

TEST (StateDocument, EdgeCasesLoadAsTheTableSays)
{
    PluginProcessor p;
    load (p, R"(<QuorvelState version="5" keySnapStart="90" keySnapEnd="40" keySnapScale="101"
                 inputQuantNote="-1" velModSource="0" cascadeEnabled="0" focusedLayer="7" visibleLayers="2"
                 modOctaveBase="200" transpose1="99">
                 <Keys>
                   <Key key="128"><E n="60" v="100" c="1" on="1" w="0"/></Key>
                   <Key key="5" bpm="5000" tail="-3"><E n="300" v="-4" c="0" on="7" w="-5"/><E n="61" on="0" w="abc"/></Key>
                   <Key bpm="100"><E n="60"/></Key>
                 </Keys>
                 <KeysUpper><Key key="9"><E n="70" v="90" c="2" on="1" w="0"/></Key></KeysUpper>
               </QuorvelState>)");

    EXPECT_EQ (p.snapRangeStart, 40);
    EXPECT_EQ (p.snapRangeEnd, 90);
    EXPECT_EQ (p.keySnapScale.load(), (1 << 0) | (1 << 2));
    EXPECT_FALSE (p.inputQuantPower.load());
    EXPECT_EQ (p.inputQuantNote.load(), 4);
    EXPECT_FALSE (p.velControlPower.load());
    EXPECT_EQ (p.velModSource.load(), 1);
    EXPECT_EQ (p.keyboardInteraction.load(), 1);
    EXPECT_FALSE (p.cascadeEnabled.load());
    EXPECT_EQ (p.focusedLayer.load(), 1);
    EXPECT_EQ (p.modOctaveBase.load(), 116);
    EXPECT_EQ (p.transpose1.load(), 24);

    const auto k5 = p.getKeySequence (5, 0);
    ASSERT_EQ (k5.events.size(), 2u);
    EXPECT_EQ (k5.events[0].note, 127);
    EXPECT_EQ (k5.events[0].velocity, 0);
    EXPECT_EQ (k5.events[0].channel, 1);
    EXPECT_TRUE (k5.events[0].isNoteOn);
    EXPECT_EQ (k5.events[0].waitMs, 0.0);
    EXPECT_EQ (k5.events[1].waitMs, 0.0);
    EXPECT_EQ (k5.bpm, 999.0);
    EXPECT_EQ (k5.tailMs, 0.0);
    // The old unnumbered upper container fills layer 1.
    EXPECT_EQ (p.getKeySequence (9, 1).events.size(), 1u);

    // Keyboard interaction present: cascade follows it, whatever the stored flag.
    load (p, R"(<QuorvelState version="4" keyboardInteraction="2" cascadeEnabled="0"/>)");
    EXPECT_TRUE (p.cascadeEnabled.load());
    EXPECT_EQ (p.keyboardInteraction.load(), 2);
    EXPECT_TRUE (p.getKeySequence (5, 0).events.empty());   // absent keys become empty
}

TEST (StateDocument, RefusedDocumentsChangeNothing)
{
    PluginProcessor p;
    p.keys[60] = makeClip ({ { 60, 0, 100 } });
    p.triggerMode.store (0);
    const auto before = stateOf (p);

    const char* refused[] = {
        R"(<QuorvelState version="3" triggerMode="2"/>)",
        R"(<QuorvelState triggerMode="2"/>)",
        R"(<QuorvelSketch version="5" triggerMode="2"/>)",
        R"(<Other version="5" triggerMode="2"/>)",
    };
    for (const char* doc : refused)
    {
        load (p, doc);
        EXPECT_EQ (stateOf (p), before) << doc;
    }

    // Garbage, truncations and bit flips of a valid state: no crash, no change.
    const auto* bytes = static_cast<const char*> (before.getData());
    const int size = (int) before.getSize();
    for (int cut = 0; cut < size; cut += std::max (1, size / 97))
        p.setStateInformation (bytes, cut);
    EXPECT_EQ (stateOf (p), before);

    juce::Random random (42);
    for (int i = 0; i < 200; ++i)
    {
        juce::MemoryBlock garbled (before);
        for (int flips = 0; flips < 8; ++flips)
            static_cast<char*> (garbled.getData())[random.nextInt (size)] ^= (char) (1 << random.nextInt (8));
        p.setStateInformation (garbled.getData(), (int) garbled.getSize());

        juce::MemoryBlock noise ((size_t) random.nextInt (400));
        random.fillBitsRandomly (noise.getData(), noise.getSize());
        p.setStateInformation (noise.getData(), (int) noise.getSize());
    }
    p.setStateInformation (nullptr, 0);
    p.setStateInformation (bytes, -5);
    SUCCEED();   // garbled text that still parses may load; what matters is no crash
}

TEST (StateDocument, BrokenAudioLeavesTheKeyWithoutAudio)
{
    EXPECT_EQ (decodeKeyAudio ("not base64 at all!", 44100, 120, 0, 60), nullptr);
    EXPECT_EQ (decodeKeyAudio (juce::Base64::toBase64 ("fLaC garbage", 12), 44100, 120, 0, 60), nullptr);
    EXPECT_EQ (decodeKeyAudio ({}, 44100, 120, 0, 60), nullptr);

    const auto text = encodeKeyAudio (*sineAudio (1, 100, 22050.0, 40));
    const auto back = decodeKeyAudio (text, 22050.0, 120, 0, 40);
    ASSERT_NE (back, nullptr);
    EXPECT_EQ (back->buffer.getNumSamples(), 100);
}

TEST (StateDocument, LoadingStateEmptiesTheUndoHistoryAndEndsSoundingNotes)
{
    EngineHarness h;
    auto& p = h.proc();
    h.noteOn (0, h.modifierKey (PluginProcessor::modRecord));
    h.noteOn (100, 64);
    h.runBlocks (2);
    ASSERT_FALSE (p.undoHistory.empty());

    load (p, R"(<QuorvelState version="5"/>)");
    EXPECT_TRUE (p.undoHistory.empty());
    EXPECT_TRUE (p.redoHistory.empty());
    const auto offs = qtest::noteOffsOf (h.runBlocks (1));
    EXPECT_EQ (offs.size(), 1u);
}

//==============================================================================
TEST (Presets, ListingSavingAndLoading)
{
    const ScopedDataFolder data;
    PluginProcessor p;
    const auto presets = PluginProcessor::getFactoryPresetsDirectory();
    ASSERT_TRUE (p.writeSketchToFile (presets.getChildFile ("Bass/Deep.sketch")));
    ASSERT_TRUE (p.writeSketchToFile (presets.getChildFile ("Init.sketch")));
    ASSERT_TRUE (p.writeSketchToFile (PluginProcessor::getUserPresetsDirectory().getChildFile ("mine.sketch")));
    EXPECT_EQ (p.getAvailablePresets(), juce::StringArray ({ "Bass/Deep", "Init", "User Presets/mine" }));

    EXPECT_TRUE (p.savePreset ("  My:Preset? "));
    EXPECT_TRUE (PluginProcessor::getUserPresetsDirectory().getChildFile ("MyPreset.sketch").existsAsFile());
    EXPECT_EQ (p.currentPresetName, "User Presets/MyPreset");
    EXPECT_TRUE (p.savePreset ("User Presets/Live"));
    EXPECT_TRUE (PluginProcessor::getUserPresetsDirectory().getChildFile ("Live.sketch").existsAsFile());
    EXPECT_FALSE (p.savePreset ("  :?* "));

    EXPECT_TRUE (p.loadPreset ("Bass/Deep"));
    EXPECT_EQ (p.currentPresetName, "Bass/Deep");
    EXPECT_TRUE (p.loadPreset ("User Presets/mine"));
    EXPECT_FALSE (p.loadPreset ("Missing"));
    EXPECT_FALSE (p.loadPreset ("Bass"));                      // a folder
    EXPECT_FALSE (p.loadPreset ("../../../../etc/passwd"));    // outside the presets folder
    EXPECT_EQ (p.currentPresetName, "User Presets/mine");

    // A write that cannot replace the target fails and leaves it as it was.
    const auto blocked = presets.getChildFile ("Blocked.sketch");
    blocked.getChildFile ("inside").create();
    EXPECT_FALSE (p.writeSketchToFile (blocked));
    EXPECT_TRUE (blocked.isDirectory());

    // A successful write replaces the whole file and leaves no temporary behind.
    ASSERT_TRUE (replaceFileWithText (presets.getChildFile ("t.txt"), "a long first text"));
    ASSERT_TRUE (replaceFileWithText (presets.getChildFile ("t.txt"), "short"));
    EXPECT_EQ (presets.getChildFile ("t.txt").loadFileAsString(), "short");
    EXPECT_EQ (presets.findChildFiles (juce::File::findFiles, false, "*temp*").size(), 0);
}

TEST (Presets, LoadingASketchIsOneUndoStep)
{
    const ScopedDataFolder data;
    EngineHarness h;
    auto& p = h.proc();
    h.setClip (60, makeClip ({ { 60, 0, 100 } }));
    h.setClip (61, makeClip ({ { 61, 0, 100 } }), 2);
    p.triggerMode.store (0);
    p.currentPresetName = "Before";
    const auto before = stateOf (p);

    // The sketch: other keys, other settings, and no container for layer 2.
    const auto file = data.folder.getChildFile ("Other.sketch");
    file.replaceWithText (R"(<?xml version="1.0"?>
        <QuorvelSketch version="3" triggerMode="2" loopEnabled="1">
          <Keys><Key key="70"><E n="72" v="100" c="1" on="1" w="0"/></Key></Keys>
          <KeysUpper1><Key key="5"><E n="50" v="100" c="1" on="1" w="0"/></Key></KeysUpper1>
        </QuorvelSketch>)");
    ASSERT_TRUE (p.loadSketchFile (file));
    EXPECT_EQ (p.currentPresetName, "Other");
    EXPECT_EQ (p.triggerMode.load(), 2);
    EXPECT_TRUE (p.getKeySequence (60, 0).events.empty());   // absent layer-0 keys are cleared
    EXPECT_EQ (p.getKeySequence (70, 0).noteOnCount, 1);
    EXPECT_EQ (p.getKeySequence (5, 1).noteOnCount, 1);
    EXPECT_EQ (p.getKeySequence (61, 2).noteOnCount, 1);     // layer 2 kept
    EXPECT_EQ (p.undoHistory.size(), 1u);

    p.undoRedoRequest.store (-1);
    h.runBlocks (1);
    EXPECT_EQ (p.currentPresetName, "Before");
    EXPECT_EQ (stateOf (p), before);

    // A state document is not a sketch.
    const auto state = data.folder.getChildFile ("State.sketch");
    state.replaceWithText (R"(<QuorvelState version="5" triggerMode="1"/>)");
    EXPECT_FALSE (p.loadSketchFile (state));
    EXPECT_FALSE (p.loadSketchFile (data.folder.getChildFile ("none.sketch")));
    EXPECT_EQ (stateOf (p), before);
}

//==============================================================================
TEST (UserSettingsFile, DefaultsSavingAndForeignFiles)
{
    const ScopedDataFolder data;
    const auto file = data.folder.getChildFile ("sub/dir/settings.xml");
    {
        UserSettings s (file);
        EXPECT_EQ (s.width, 0);
        EXPECT_TRUE (s.synthEnabled);
        EXPECT_FALSE (s.pasteHintDismissed);
        s.width = 1234;
        s.synthEnabled = false;
    }   // saved on destruction, folders created
    ASSERT_TRUE (file.existsAsFile());
    {
        UserSettings s (file);
        EXPECT_EQ (s.width, 1234);
        EXPECT_FALSE (s.synthEnabled);
    }

    file.replaceWithText (R"(<quorvelsettings><WindowSize width="900"/></quorvelsettings>)");
    {
        UserSettings s (file);
        EXPECT_EQ (s.width, 0);   // wrong case of the root: ignored
    }
    EXPECT_TRUE (juce::XmlDocument::parse (file)->hasTagName ("QuorvelSettings"));

    file.replaceWithText (R"(<QuorvelSettings><windowsize/><Synth enabled="0"/></QuorvelSettings>)");
    UserSettings s (file);
    EXPECT_EQ (s.width, 0);
    EXPECT_FALSE (s.synthEnabled);

    file.replaceWithText ("\x01\x02 not xml");
    UserSettings broken (file);
    EXPECT_EQ (broken.width, 0);
    EXPECT_EQ (UserSettings::defaultFile(), data.folder.getChildFile ("settings.xml"));
}

//==============================================================================
TEST (KeyEdits, MoveIsOneUndoStepAndInvalidKeysDoNothing)
{
    EngineHarness h;
    auto& p = h.proc();
    const auto clip = makeClip ({ { 60, 0, 100 }, { 62, 100, 100 } });
    h.setClip (60, clip);

    p.applyKeyEdits ({ { 200, clip } }, { 300 }, {}, 0);
    EXPECT_TRUE (p.undoHistory.empty());

    p.applyKeyEdits ({ { 64, clip } }, { 60 }, {}, 0);
    EXPECT_TRUE (p.getKeySequence (60, 0).events.empty());
    EXPECT_EQ (p.getKeySequence (64, 0).noteOnCount, 2);
    EXPECT_EQ (p.published.noteOnCount[64].load(), 2);
    EXPECT_TRUE (p.presetModified.load());
    ASSERT_EQ (p.undoHistory.size(), 1u);

    p.undoRedoRequest.store (-1);
    h.runBlocks (1);
    EXPECT_EQ (p.getKeySequence (60, 0).noteOnCount, 2);
    EXPECT_TRUE (p.getKeySequence (64, 0).events.empty());

    // Cleared and edited in one call: the edit wins.
    p.applyKeyEdits ({ { 66, clip } }, { 66 }, {}, 0);
    EXPECT_EQ (p.getKeySequence (66, 0).noteOnCount, 2);
}

TEST (KeyEdits, UpperLayerVoicesPlayOnWithApplyKeyEditsButStopWithMulti)
{
    EngineHarness h;
    auto& p = h.proc();
    h.focusLayer (2, 3);
    p.cascadeEnabled.store (false);
    p.keyboardInteraction.store (0);
    h.setClip (70, makeClip ({ { 80, 0, 2000 }, { 82, 2000, 100 } }), 2);
    h.noteOn (0, 70);
    h.runBlocks (2);
    ASSERT_TRUE (p.upperLayers[1].voices[70].active);

    const auto replacement = makeClip ({ { 90, 0, 100 } });
    p.applyKeyEdits ({ { 70, replacement } }, {}, {}, 2);
    h.runBlocks (2);
    EXPECT_TRUE (p.upperLayers[1].voices[70].active);

    PluginProcessor::LayerEdit edit;
    edit.layer = 2;
    edit.edits.push_back ({ 70, replacement });
    p.applyKeyEditsMulti ({ edit });
    h.runBlocks (1);
    EXPECT_FALSE (p.upperLayers[1].voices[70].isActiveOrSounding());
    EXPECT_EQ (p.undoHistory.size(), 2u);
}

TEST (KeyEdits, MultiSavesEachKeyOnceAsItWasBefore)
{
    PluginProcessor p;
    const auto a = makeClip ({ { 60, 0, 100 } });
    p.keys[60] = a;
    PluginProcessor::LayerEdit first, second;
    first.layer = 0;
    first.edits.push_back ({ 60, makeClip ({ { 61, 0, 100 } }) });
    second.layer = 0;
    second.clearKeys.push_back (60);
    p.applyKeyEditsMulti ({ first, second });
    ASSERT_EQ (p.undoHistory.size(), 1u);
    ASSERT_EQ (p.undoHistory.back().savedKeys.size(), 1u);
    EXPECT_TRUE (sameSeqEvents (p.undoHistory.back().savedKeys[0].sequence.events, a.events));
    EXPECT_TRUE (p.keys[60].events.empty());

    p.applyKeyEditsMulti ({});
    EXPECT_EQ (p.undoHistory.size(), 1u);
}

TEST (KeyEdits, MixSequenceInto)
{
    // A 1000 ms phrase at 60 bpm lands over 500 ms of a 120 bpm key.
    auto destination = makeClip ({ { 40, 0, 100 } }, 120.0, 900.0);
    const auto source = makeClip ({ { 60, 0, 100 }, { 62, 500, 500 } }, 60.0);
    mixSequenceInto (destination, source);

    std::vector<std::pair<int, double>> ons;
    double t = 0.0;
    for (const auto& e : destination.events)
    {
        t += e.waitMs;
        if (e.isNoteOn)
            ons.push_back ({ e.note, t });
    }
    ASSERT_EQ (ons.size(), 3u);
    EXPECT_EQ (ons[0].first, 40);   // equal times: the destination first
    EXPECT_EQ (ons[1].first, 60);
    EXPECT_EQ (ons[2], std::make_pair (62, 250.0));
    EXPECT_EQ (sumOfWaits (destination.events), 500.0);
    EXPECT_EQ (destination.tailMs, 500.0);   // the destination was 1000 ms long
    EXPECT_EQ (destination.bpm, 120.0);

    KeySequence empty;
    mixSequenceInto (empty, source);
    EXPECT_TRUE (sameSeqEvents (empty.events, source.events));
    EXPECT_EQ (empty.bpm, 60.0);
    auto unchanged = destination;
    mixSequenceInto (unchanged, KeySequence());
    EXPECT_TRUE (sameSeqEvents (unchanged.events, destination.events));
}
