#include <gtest/gtest.h>

#include "engine/PluginProcessor.h"
#include "tests/harness/EngineHarness.h"

using qtest::EngineHarness;
using qtest::noteOffsOf;
using qtest::noteOnsOf;
using qtest::TimedMessage;

namespace
{
constexpr int transposeDown = PluginProcessor::modTransposeDown;
constexpr int thru = PluginProcessor::modThru;

std::vector<TimedMessage> controllersOf (const std::vector<TimedMessage>& messages)
{
    return qtest::messagesWhere (messages, [] (const juce::MidiMessage& m) { return m.isController(); });
}
}

//==============================================================================
TEST (BlockLoop, PedalsGoOutOnAllSixteenChannels)
{
    for (int pedal : { 64, 66, 67 })
    {
        SCOPED_TRACE (pedal);
        EngineHarness h;
        h.controller (200, pedal, 127, 3);
        const auto ccs = controllersOf (h.runBlocks (3));

        ASSERT_EQ (ccs.size(), 16u);
        for (int c = 0; c < 16; ++c)
        {
            EXPECT_EQ (ccs[(size_t) c].time, 200);
            EXPECT_EQ (ccs[(size_t) c].message.getChannel(), c + 1);
            EXPECT_EQ (ccs[(size_t) c].message.getControllerNumber(), pedal);
            EXPECT_EQ (ccs[(size_t) c].message.getControllerValue(), 127);
        }
    }
}

TEST (BlockLoop, OtherMessagesPassUnchanged)
{
    EngineHarness h;
    const juce::uint8 sysexData[] = { 0x7e, 0x7f, 0x06, 0x01, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66 };
    const auto sysex = juce::MidiMessage::createSysExMessage (sysexData, (int) sizeof (sysexData));

    h.controller (10, 65, 100, 3);  // portamento is not fanned out
    h.schedule (20, juce::MidiMessage::pitchWheel (2, 12000));
    h.schedule (30, juce::MidiMessage::channelPressureChange (5, 40));
    h.schedule (40, juce::MidiMessage::programChange (1, 7));
    h.schedule (50, sysex);
    h.schedule (60, juce::MidiMessage::controllerEvent (4, 1, 99));

    const auto out = h.runBlocks (1);
    ASSERT_EQ (out.size(), 6u);
    EXPECT_TRUE (out[0].message.isController());
    EXPECT_EQ (out[0].message.getControllerNumber(), 65);
    EXPECT_EQ (out[0].message.getChannel(), 3);
    EXPECT_EQ (out[1].message.getPitchWheelValue(), 12000);
    EXPECT_EQ (out[2].message.getChannelPressureValue(), 40);
    EXPECT_EQ (out[3].message.getProgramChangeNumber(), 7);
    ASSERT_TRUE (out[4].message.isSysEx());
    EXPECT_EQ (out[4].message.getRawDataSize(), sysex.getRawDataSize());
    EXPECT_EQ (out[5].message.getControllerValue(), 99);
    for (size_t i = 0; i < out.size(); ++i)
        EXPECT_EQ (out[i].time, 10 * (int) (i + 1));
}

TEST (BlockLoop, EmptyKeyPassesItsNoteAtTheExactSample)
{
    EngineHarness h;
    h.noteOn (127, 64, 90, 2);   // last sample of the first block
    h.noteOff (128, 64, 2);      // first sample of the second
    const auto out = h.runBlocks (2);

    ASSERT_EQ (out.size(), 2u);
    EXPECT_TRUE (out[0].message.isNoteOn());
    EXPECT_EQ (out[0].time, 127);
    EXPECT_EQ (out[0].message.getVelocity(), 90);
    EXPECT_EQ (out[0].message.getChannel(), 2);
    EXPECT_TRUE (out[1].message.isNoteOff());
    EXPECT_EQ (out[1].time, 128);
}

TEST (BlockLoop, DuplicateNoteAtSameInstantReachesHostOnce)
{
    // Key 60 and key 72 transposed an octave down both sound note 60 at sample 300.
    EngineHarness h;
    h.noteOn (300, 60);
    h.noteOn (300, h.modifierKey (transposeDown));
    h.noteOn (300, 72);
    h.noteOff (1000, 60);
    h.noteOff (2000, 72);
    const auto out = h.runUntil (3000);

    const auto ons = noteOnsOf (out);
    ASSERT_EQ (ons.size(), 1u);
    EXPECT_EQ (ons[0].time, 300);
    EXPECT_EQ (ons[0].message.getNoteNumber(), 60);

    const auto offs = noteOffsOf (out);
    ASSERT_EQ (offs.size(), 1u);
    EXPECT_EQ (offs[0].time, 2000);
    EXPECT_EQ (offs[0].message.getNoteNumber(), 60);
}

TEST (BlockLoop, NewNoteOverHeldNoteIsPrecededByNoteOff)
{
    EngineHarness h;
    h.noteOn (100, 60);
    h.noteOn (500, h.modifierKey (transposeDown));
    h.noteOn (700, 72);
    h.noteOff (900, 60);
    h.noteOff (1200, 72);
    const auto out = h.runUntil (1500);

    ASSERT_EQ (out.size(), 4u);
    EXPECT_TRUE (out[0].message.isNoteOn());
    EXPECT_EQ (out[0].time, 100);
    EXPECT_TRUE (out[1].message.isNoteOff());
    EXPECT_EQ (out[1].time, 700);
    EXPECT_TRUE (out[2].message.isNoteOn());
    EXPECT_EQ (out[2].time, 700);
    EXPECT_TRUE (out[3].message.isNoteOff());
    EXPECT_EQ (out[3].time, 1200);
}

//==============================================================================
TEST (BlockLoop, ModifierZoneNotesAreCommandsNotNotes)
{
    EngineHarness h;
    auto& p = h.proc();

    h.noteOn (10, h.modifierKey (thru));
    auto out = h.runBlocks (1);
    EXPECT_TRUE (out.empty());
    EXPECT_TRUE (p.modifierHeld[thru]);
    EXPECT_TRUE (p.published.modifierHeld[thru].load());

    // A note-on with velocity 0 is a release.
    h.noteOn (200, h.modifierKey (thru), 0);
    out = h.runBlocks (1);
    EXPECT_TRUE (out.empty());
    EXPECT_FALSE (p.modifierHeld[thru]);
    EXPECT_FALSE (p.published.modifierHeld[thru].load());
    EXPECT_FALSE (p.inputKeyDown[(size_t) h.modifierKey (thru)]);
}

TEST (BlockLoop, PressingALatchedModifierReleasesItAndItsReleaseDoesNothing)
{
    EngineHarness h;
    auto& p = h.proc();

    p.modifierToggleRequests.fetch_or (1u << transposeDown);
    h.runBlocks (1);
    EXPECT_TRUE (p.modifierHeld[transposeDown]);
    EXPECT_TRUE (p.published.modifierLatched[transposeDown].load());
    EXPECT_EQ (p.modifierToggleRequests.load(), 0u);

    // While latched, a physical release is ignored and notes sound an octave down.
    h.noteOff (200, h.modifierKey (transposeDown));
    h.noteOn (210, 72);
    auto ons = noteOnsOf (h.runBlocks (1));
    ASSERT_EQ (ons.size(), 1u);
    EXPECT_EQ (ons[0].message.getNoteNumber(), 60);
    EXPECT_TRUE (p.modifierHeld[transposeDown]);

    h.noteOn (300, h.modifierKey (transposeDown));
    h.runBlocks (1);
    EXPECT_FALSE (p.modifierHeld[transposeDown]);
    EXPECT_FALSE (p.published.modifierLatched[transposeDown].load());

    h.noteOff (400, h.modifierKey (transposeDown));
    h.runBlocks (1);
    EXPECT_FALSE (p.modifierHeld[transposeDown]);

    // A second toggle of an unlatched modifier latches it again; a third releases it.
    p.modifierToggleRequests.fetch_or (1u << transposeDown);
    h.runBlocks (1);
    EXPECT_TRUE (p.modifierLatched[transposeDown]);
    p.modifierToggleRequests.fetch_or (1u << transposeDown);
    h.runBlocks (1);
    EXPECT_FALSE (p.modifierHeld[transposeDown]);
}

TEST (BlockLoop, TransposeUpReleasesTransposeDown)
{
    EngineHarness h;
    auto& p = h.proc();
    h.noteOn (0, h.modifierKey (transposeDown));
    h.noteOn (10, h.modifierKey (PluginProcessor::modTransposeUp));
    h.noteOn (20, 60);
    const auto ons = noteOnsOf (h.runBlocks (1));
    EXPECT_FALSE (p.modifierHeld[transposeDown]);
    ASSERT_EQ (ons.size(), 1u);
    EXPECT_EQ (ons[0].message.getNoteNumber(), 72);
}

//==============================================================================
TEST (BlockLoop, TransportStartSilencesEverythingAtSampleZero)
{
    EngineHarness h;
    auto& p = h.proc();
    h.noteOn (50, 60);
    h.noteOn (60, 67, 100, 4);
    h.runBlocks (2);
    ASSERT_EQ (p.getActiveHeldKeys (0).size(), 2u);

    h.playHead.playing = true;
    h.playHead.ppq = 8.0;
    h.noteOn (h.now() + 30, 64);
    const int64_t blockStart = h.now();
    const auto out = h.runBlocks (1);

    const auto offs = noteOffsOf (out);
    ASSERT_EQ (offs.size(), 2u);
    for (const auto& off : offs)
        EXPECT_EQ (off.time, blockStart);

    // What is played after the start still sounds.
    const auto ons = noteOnsOf (out);
    ASSERT_EQ (ons.size(), 1u);
    EXPECT_EQ (ons[0].time, blockStart + 30);
    EXPECT_EQ (p.getActiveHeldKeys (0), std::set<int> ({ 64 }));
    EXPECT_TRUE (p.hostIsPlaying);
    EXPECT_TRUE (p.wasPlaying);

    // Staying in play does not silence again.
    EXPECT_TRUE (noteOffsOf (h.runBlocks (2)).empty());
}

TEST (BlockLoop, TransportFollowAndStopCommitsAnArmedTake)
{
    EngineHarness h;
    auto& p = h.proc();
    h.playHead.playing = true;
    h.playHead.bpm = 93.0;
    h.playHead.ppq = 3.25;
    h.playHead.timeSignature = juce::AudioPlayHead::TimeSignature { 6, 8 };
    h.runBlocks (1);
    EXPECT_EQ (p.hostBpm, 93.0);
    EXPECT_EQ (p.hostPpq, 3.25);
    EXPECT_EQ (p.beatsPerBar, 3.0);

    // Values a host must not be believed on are ignored.
    h.playHead.bpm = 0.0;
    h.playHead.timeSignature = juce::AudioPlayHead::TimeSignature { 0, 4 };
    h.runBlocks (1);
    EXPECT_EQ (p.hostBpm, 93.0);
    EXPECT_EQ (p.beatsPerBar, 3.0);

    h.noteOn (h.now(), h.modifierKey (PluginProcessor::modRecord));
    h.runBlocks (1);
    ASSERT_TRUE (p.published.captureArmed.load());

    h.playHead.playing = false;
    h.runBlocks (1);
    EXPECT_FALSE (p.captureArmed);
    EXPECT_FALSE (p.published.captureArmed.load());
}

TEST (BlockLoop, NoPlayHeadBehavesAsStoppedTransport)
{
    EngineHarness h ({ 48000.0, 128, true, false });
    auto& p = h.proc();
    h.noteOn (10, 60);
    h.runBlocks (2);
    EXPECT_FALSE (p.hostIsPlaying);
    EXPECT_EQ (p.hostBpm, 120.0);
    EXPECT_EQ (p.getActiveHeldKeys (0), std::set<int> ({ 60 }));

    // A host that answers without a position is the same.
    EngineHarness g;
    g.playHead.hasPosition = false;
    g.runBlocks (1);
    EXPECT_FALSE (g.proc().hostIsPlaying);
}

//==============================================================================
TEST (BlockLoop, ModifierZoneMove)
{
    EngineHarness h;
    auto& p = h.proc();
    h.noteOn (0, 62);
    h.noteOn (0, 60);  // lastPlayedKey 60
    h.runBlocks (1);
    ASSERT_EQ (p.lastPlayedKey, 60);

    p.pendingModOctaveBase.store (55);
    const int64_t blockStart = h.now();
    const auto out = h.runBlocks (1);

    EXPECT_EQ (p.appliedModOctaveBase.load(), 55);
    EXPECT_EQ (p.modOctaveBase.load(), 55);
    EXPECT_EQ (p.pendingModOctaveBase.load(), -1);
    EXPECT_EQ (p.lastPlayedKey, 67);
    EXPECT_EQ (p.published.lastPlayedKey.load(), 67);

    // Everything layer 0 sounded ends at sample 0.
    const auto offs = noteOffsOf (out);
    ASSERT_EQ (offs.size(), 2u);
    EXPECT_EQ (offs[0].time, blockStart);
    EXPECT_TRUE (p.getActiveHeldKeys (0).empty());

    // Key 50 is playable now, and key 60 is modifier 5 (step forward).
    h.noteOn (h.now() + 5, 50);
    h.noteOn (h.now() + 6, 60);
    const auto ons = noteOnsOf (h.runBlocks (1));
    ASSERT_EQ (ons.size(), 1u);
    EXPECT_EQ (ons[0].message.getNoteNumber(), 50);
    EXPECT_TRUE (p.modifierHeld[60 - 55]);
}

TEST (BlockLoop, ModifierZoneMoveNearTheTopAndUnchangedRequests)
{
    EngineHarness h;
    auto& p = h.proc();
    p.pendingModOctaveBase.store (48);  // no change: nothing happens
    h.noteOn (0, 40);
    h.runBlocks (1);
    EXPECT_EQ (p.getActiveHeldKeys (0), std::set<int> ({ 40 }));

    p.lastPlayedKey = 120;
    p.pendingModOctaveBase.store (116);
    h.runBlocks (1);
    EXPECT_EQ (p.appliedModOctaveBase.load(), 116);
    EXPECT_EQ (p.lastPlayedKey, 115);
    EXPECT_TRUE (p.getActiveHeldKeys (0).empty());

    // Out of range: the zone still covers twelve real keys.
    p.pendingModOctaveBase.store (125);
    h.runBlocks (1);
    EXPECT_EQ (p.appliedModOctaveBase.load(), 116);
}

//==============================================================================
TEST (BlockLoop, AllNotesOffRequest)
{
    EngineHarness h;
    auto& p = h.proc();
    h.noteOn (10, 60);
    h.noteOn (10, 64, 100, 9);
    h.runBlocks (1);

    p.allNotesOffRequested.store (true);
    const int64_t blockStart = h.now();
    const auto out = h.runBlocks (1);
    const auto offs = noteOffsOf (out);
    ASSERT_EQ (offs.size(), 2u);
    EXPECT_EQ (offs[0].time, blockStart);
    EXPECT_EQ (offs[1].time, blockStart);
    EXPECT_FALSE (p.allNotesOffRequested.load());
    EXPECT_EQ (p.outputNotes.count[0][60], 0);
    EXPECT_EQ (p.outputNotes.lastOnTime[8][64], -1);
    EXPECT_EQ (p.published.soundingChannel[60].load(), 0);

    // The key's own release afterwards still reaches the host.
    h.noteOff (h.now() + 3, 60);
    EXPECT_EQ (noteOffsOf (h.runBlocks (1)).size(), 1u);
}

TEST (BlockLoop, StopKeyRequestsSilenceThatKey)
{
    EngineHarness h;
    auto& p = h.proc();
    h.noteOn (10, 60);
    h.noteOn (10, 100);
    h.runBlocks (1);
    ASSERT_EQ (p.published.soundingChannel[100].load(), 1);

    p.stopKeyRequests[0][1].fetch_or (1ull << (100 - 64));
    const auto offs = noteOffsOf (h.runBlocks (1));
    ASSERT_EQ (offs.size(), 1u);
    EXPECT_EQ (offs[0].message.getNoteNumber(), 100);
    EXPECT_EQ (p.getActiveHeldKeys (0), std::set<int> ({ 60 }));
    EXPECT_EQ (p.stopKeyRequests[0][1].load(), 0u);
    EXPECT_EQ (p.published.soundingChannel[100].load(), 0);
}

TEST (BlockLoop, SelectedKeyRequest)
{
    EngineHarness h;
    auto& p = h.proc();

    p.selectedKeyRequest.store (64);
    h.runBlocks (1);
    EXPECT_EQ (p.lastPlayedKey, 64);
    EXPECT_EQ (p.selectedKeyRequest.load(), -2);

    p.selectedKeyRequest.store (50);  // inside the modifier zone
    h.runBlocks (1);
    EXPECT_EQ (p.lastPlayedKey, 64);

    // While a capture is armed the request waits for the capture to end.
    h.noteOn (h.now(), h.modifierKey (PluginProcessor::modRecord));
    h.runBlocks (1);
    p.selectedKeyRequest.store (70);
    h.runBlocks (1);
    EXPECT_EQ (p.lastPlayedKey, 64);
    EXPECT_EQ (p.selectedKeyRequest.load(), 70);

    h.noteOff (h.now(), h.modifierKey (PluginProcessor::modRecord));
    h.runBlocks (2);
    EXPECT_EQ (p.lastPlayedKey, 70);
}

TEST (BlockLoop, VelocitySourcesAreCapturedAndPassed)
{
    EngineHarness h;
    auto& p = h.proc();

    p.velModSource.store (4);
    h.noteOn (0, 62, 100, 2);
    h.schedule (10, juce::MidiMessage::channelPressureChange (2, 33));
    h.schedule (20, juce::MidiMessage::aftertouchChange (1, 70, 21));
    auto out = h.runBlocks (1);
    EXPECT_EQ (p.polyPressure[62], 33);
    EXPECT_EQ (p.polyPressure[70], 21);
    EXPECT_EQ (p.modSourceValue, 127);
    EXPECT_EQ (out.size(), 3u);  // the note and both pressure messages

    p.velModSource.store (3);
    h.schedule (h.now(), juce::MidiMessage::channelPressureChange (1, 44));
    h.runBlocks (1);
    EXPECT_EQ (p.modSourceValue, 44);

    p.velModSource.store (2);
    h.controller (h.now(), 1, 55);
    out = h.runBlocks (1);
    EXPECT_EQ (p.modSourceValue, 55);
    ASSERT_EQ (out.size(), 1u);
    EXPECT_EQ (out[0].message.getControllerNumber(), 1);

    // Velocity source 1 (the note's own velocity) stores nothing.
    p.velModSource.store (1);
    h.controller (h.now(), 1, 5);
    h.schedule (h.now(), juce::MidiMessage::channelPressureChange (2, 9));
    h.runBlocks (1);
    EXPECT_EQ (p.modSourceValue, 55);
    EXPECT_EQ (p.polyPressure[62], 33);
}

//==============================================================================
TEST (BlockLoop, KeySnapAdmission)
{
    PluginProcessor p;
    p.snapRangeStart = 36;
    p.snapRangeEnd = 96;

    struct Case
    {
        int key;
        bool admitted;
    };
    const Case cases[] = {
        { 36, true }, { 96, true }, { 35, false }, { 97, false },
        { 50, true },   // modifier zone
        { 10, false }, { 120, false },
    };
    for (const auto& c : cases)
        EXPECT_EQ (p.keySnapAdmits (c.key, 0), c.admitted) << c.key;

    // With the whole range, keys beyond 24..107 play too.
    p.snapRangeStart = 24;
    p.snapRangeEnd = 107;
    EXPECT_TRUE (p.keySnapAdmits (10, 0));
    EXPECT_TRUE (p.keySnapAdmits (127, 0));

    // A layer without key snap admits everything.
    p.snapRangeStart = 36;
    p.layerKeysnap[2].store (false);
    EXPECT_TRUE (p.keySnapAdmits (10, 2));
    EXPECT_FALSE (p.keySnapAdmits (10, 1));
}

TEST (BlockLoop, ScaleKeysDoNotPlay)
{
    EngineHarness h;
    auto& p = h.proc();
    p.snapRangeStart = 36;
    h.noteOn (0, 30);
    EXPECT_TRUE (h.runBlocks (1).empty());
    EXPECT_TRUE (p.scaleKeysHeld.test (30));
    EXPECT_TRUE (p.inputKeyDown[30]);

    h.noteOff (h.now(), 30);
    EXPECT_TRUE (h.runBlocks (1).empty());
    EXPECT_FALSE (p.scaleKeysHeld.test (30));
}

//==============================================================================
TEST (BlockLoop, MixInteractionFeedsEveryVisibleLayer)
{
    EngineHarness h;
    auto& p = h.proc();
    p.keyboardInteraction.store (1);
    p.cascadeEnabled.store (false);
    p.visibleLayers.store (3);

    h.noteOn (40, 64);
    const auto out = h.runBlocks (1);
    EXPECT_EQ (noteOnsOf (out).size(), 1u);
    EXPECT_EQ (p.upperInput[0].getNumEvents(), 1);
    EXPECT_EQ (p.upperInput[1].getNumEvents(), 1);
    EXPECT_EQ (p.upperInput[2].getNumEvents(), 0);
    for (const auto meta : p.upperInput[0])
    {
        EXPECT_EQ (meta.samplePosition, 40);
        EXPECT_TRUE (meta.getMessage().isNoteOn());
        EXPECT_EQ (meta.getMessage().getNoteNumber(), 64);
    }
    for (int layer = 0; layer < 4; ++layer)
        EXPECT_FALSE (p.layerOutputMuted[(size_t) layer]);
}

TEST (BlockLoop, LayerInteractionPlaysOnlyTheFocusedLayerButReleasesReachAll)
{
    EngineHarness h;
    auto& p = h.proc();
    p.keyboardInteraction.store (0);
    p.cascadeEnabled.store (false);
    h.focusLayer (1, 3);

    h.noteOn (10, 64);
    auto out = h.runBlocks (1);
    EXPECT_EQ (noteOnsOf (out).size(), 1u);   // layer 1 passes the empty key's note through
    EXPECT_EQ (p.getActiveHeldKeys (1), std::set<int> ({ 64 }));
    EXPECT_TRUE (p.getActiveHeldKeys (0).empty());
    EXPECT_EQ (p.upperInput[0].getNumEvents(), 1);
    EXPECT_EQ (p.upperInput[1].getNumEvents(), 0);
    EXPECT_EQ (p.lastPlayedKey, 64);
    EXPECT_TRUE (p.layerOutputMuted[0]);
    EXPECT_FALSE (p.layerOutputMuted[1]);
    EXPECT_TRUE (p.layerOutputMuted[2]);

    h.noteOff (h.now() + 4, 64);
    h.runBlocks (1);
    EXPECT_EQ (p.upperInput[0].getNumEvents(), 1);
    EXPECT_EQ (p.upperInput[1].getNumEvents(), 1);
    EXPECT_FALSE (p.keyHeld[64]);
}

TEST (BlockLoop, ThruOnAnUpperLayerSendsTheInputThere)
{
    EngineHarness h;
    auto& p = h.proc();
    h.focusLayer (1, 2);

    h.noteOn (0, h.modifierKey (thru));
    h.noteOn (10, 70);
    const auto out = h.runBlocks (1);
    EXPECT_EQ (noteOnsOf (out).size(), 1u);   // a pass-through sounds while its layer is muted
    EXPECT_EQ (p.getActiveHeldKeys (1), std::set<int> ({ 70 }));
    EXPECT_EQ (p.upperInput[0].getNumEvents(), 1);
    for (int layer = 0; layer < 4; ++layer)
        EXPECT_TRUE (p.layerOutputMuted[(size_t) layer]) << layer;
}

TEST (BlockLoop, CascadeInteractionOnAnUpperLayerPassesTheKeyThrough)
{
    // With cascade, a key played while layer 1 is focused sounds its own note on
    // layer 0, and the cascade carries it up.
    EngineHarness h;
    auto& p = h.proc();
    KeySequence clip;
    clip.events = { { 60, 100, 1, true, 0.0 }, { 60, 0, 1, false, 100.0 } };
    h.setClip (65, clip);
    h.focusLayer (1, 2);

    h.noteOn (10, 65);
    const auto ons = noteOnsOf (h.runBlocks (1));
    ASSERT_EQ (ons.size(), 1u);
    EXPECT_EQ (ons[0].message.getNoteNumber(), 65);
    EXPECT_EQ (p.upperInput[0].getNumEvents(), 0);
}

TEST (BlockLoop, ShrinkingVisibleLayersSilencesTheHiddenOnes)
{
    EngineHarness h;
    auto& p = h.proc();
    p.visibleLayers.store (3);
    h.runBlocks (1);
    EXPECT_EQ (p.appliedVisibleLayers, 3);

    {
        // A note sounding on layer 2.
        const std::lock_guard<std::mutex> lock (p.keyDataMutex);
        auto& v = p.upperLayers[1].voices[40];
        v.key = 40;
        v.sounding.push_back ({ 40, 40, 1, 100, -1, 0, false });
        p.upperLayers[1].passthroughHeld[40] = true;
    }

    p.visibleLayers.store (1);
    const int64_t blockStart = h.now();
    const auto offs = noteOffsOf (h.runBlocks (1));
    ASSERT_EQ (offs.size(), 1u);
    EXPECT_EQ (offs[0].time, blockStart);
    EXPECT_EQ (p.appliedVisibleLayers, 1);
    EXPECT_FALSE (p.upperLayers[1].passthroughHeld[40]);
    EXPECT_TRUE (p.getActiveHeldKeys (2).empty());
}

TEST (BlockLoop, PublishesForTheEditor)
{
    EngineHarness h;
    auto& p = h.proc();
    KeySequence clip;
    clip.events = { { 60, 100, 1, true, 0.0 }, { 64, 100, 1, true, 0.0 }, { 60, 0, 1, false, 100.0 }, { 64, 0, 1, false, 0.0 } };
    h.setClip (70, clip);
    h.setClip (50, clip);  // inside the modifier zone: published as empty

    h.noteOn (0, 66, 100, 5);
    h.runBlocks (1);
    EXPECT_EQ (p.published.noteOnCount[70].load(), 2);
    EXPECT_EQ (p.published.noteOnCount[50].load(), 0);
    EXPECT_EQ (p.published.soundingChannel[66].load(), 5);
    EXPECT_EQ (p.published.lastPlayedKey.load(), 66);
    EXPECT_EQ (p.modOctaveBase.load(), 48);

    h.noteOff (h.now(), 66, 5);
    h.runBlocks (1);
    EXPECT_EQ (p.published.soundingChannel[66].load(), 0);
}

TEST (BlockLoop, RequestsAreTakenOnce)
{
    EngineHarness h;
    auto& p = h.proc();
    p.undoRedoRequest.store (-1);
    p.requantizeRequested.store (true);
    h.runBlocks (1);
    EXPECT_EQ (p.undoRedoRequest.load(), 0);
    EXPECT_FALSE (p.requantizeRequested.load());
    EXPECT_FALSE (p.scaleRescanRequested.load());
    EXPECT_FALSE (p.modifierHeld[PluginProcessor::modUndo]);
}

TEST (BlockLoop, ZeroLengthBlocksAreHarmless)
{
    PluginProcessor p;
    p.prepareToPlay (48000.0, 128);
    juce::AudioBuffer<float> audio (2, 0);
    juce::MidiBuffer midi;
    midi.addEvent (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 0);
    p.uiKeyboardStates[0].noteOn (1, 62, 0.5f);
    p.processBlock (audio, midi);
    EXPECT_EQ (p.samplePosition, 0);
    EXPECT_EQ (p.getActiveHeldKeys (0), std::set<int> ({ 60 }));
}

TEST (BlockLoop, OnScreenKeyboardRowZeroActsLikeTheInput)
{
    EngineHarness h;
    auto& p = h.proc();
    p.uiKeyboardStates[0].noteOn (1, 63, 0.8f);
    const auto ons = noteOnsOf (h.runBlocks (1));
    ASSERT_EQ (ons.size(), 1u);
    EXPECT_EQ (ons[0].message.getNoteNumber(), 63);

    p.uiKeyboardStates[0].noteOn (1, h.modifierKey (thru), 0.8f);
    h.runBlocks (1);
    EXPECT_TRUE (p.modifierHeld[thru]);

    // Rows 1..3 play their own layers.
    p.uiKeyboardStates[2].noteOn (1, 70, 0.8f);
    EXPECT_TRUE (h.runBlocks (1).empty());
    EXPECT_EQ (p.upperInput[1].getNumEvents(), 1);
}

TEST (BlockLoop, AllNotesOffStillReachesUpperLayerNotesAfterAZoneMoveOrTransportStart)
{
    EngineHarness h;
    auto& p = h.proc();
    p.visibleLayers.store (2);
    p.keyboardInteraction.store (1);   // mix: the key sounds on layers 0 and 1
    p.cascadeEnabled.store (false);
    KeySequence held;
    held.events = { { 75, 100, 3, true, 0.0 }, { 75, 0, 3, false, 5000.0 } };
    h.setClip (70, held, 1);
    h.noteOn (0, 70, 100, 3);
    h.runBlocks (1);

    // The zone move ends layer 0's note; layer 1's note still sounds on the host.
    p.pendingModOctaveBase.store (36);
    const auto moved = noteOffsOf (h.runBlocks (1));
    ASSERT_EQ (moved.size(), 1u);
    EXPECT_EQ (moved[0].message.getNoteNumber(), 70);
    EXPECT_EQ (p.outputNotes.count[2][75], 1);

    p.allNotesOffRequested.store (true);
    const auto offs = noteOffsOf (h.runBlocks (1));
    ASSERT_EQ (offs.size(), 1u);
    EXPECT_EQ (offs[0].message.getNoteNumber(), 75);
}
