#include <gtest/gtest.h>

#include "engine/PluginProcessor.h"
#include "tests/harness/EngineHarness.h"

using qtest::EngineHarness;
using qtest::makeClip;
using qtest::noteOffsOf;
using qtest::noteOnsOf;
using qtest::notesOf;

namespace
{
using P = PluginProcessor;

void setScale (PluginProcessor& p, std::initializer_list<int> pitchClasses)
{
    p.scalePitchClasses.fill (false);
    for (int pc : pitchClasses)
        p.scalePitchClasses[(size_t) pc] = true;
}

int64_t ms (double milliseconds) { return (int64_t) (milliseconds * 48.0); }
}

//==============================================================================
TEST (KeySnap, SnapNote)
{
    PluginProcessor p;

    struct Case
    {
        const char* name;
        std::vector<int> scale;
        int tonic, note, expected;
    };
    const Case cases[] = {
        { "empty scale passes", {}, 0, 61, 61 },
        { "in scale", { 0, 2 }, 0, 62, 62 },
        { "C# to D by degree", { 0, 2 }, 0, 61, 62 },
        { "F# to C below", { 0 }, 0, 66, 60 },
        { "C major: C# up to D", { 0, 2, 4, 5, 7, 9, 11 }, 0, 61, 62 },
        { "C major: F# up to G", { 0, 2, 4, 5, 7, 9, 11 }, 0, 66, 67 },
        { "A tonic: C# down to C", { 0, 2 }, 9, 61, 60 },
        { "127 searches down only", { 0 }, 0, 127, 120 },
        { "out of range is limited", { 0 }, 0, 200, 120 },
        { "nothing within an octave", { 0 }, 0, 3, 0 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        p.scalePitchClasses.fill (false);
        for (int pc : c.scale)
            p.scalePitchClasses[(size_t) pc] = true;
        p.detectedTonic = c.tonic;
        EXPECT_EQ (p.snapNote (c.note), c.expected);
    }
}

TEST (KeySnap, TonicDetection)
{
    PluginProcessor p;
    p.detectedTonic = 5;
    p.rescanScale();
    EXPECT_EQ (p.detectedTonic, 5);   // nothing to go on: unchanged

    // C major phrases.
    p.keys[60] = makeClip ({ { 60, 0, 400 }, { 64, 400, 400 }, { 67, 800, 400 }, { 72, 1200, 800 } });
    p.keys[62] = makeClip ({ { 65, 0, 200 }, { 69, 200, 200 }, { 71, 400, 200 }, { 60, 600, 600 } });
    p.rescanScale();
    EXPECT_EQ (p.detectedTonic, 0);

    // A minor, heavy on A and E, on an upper layer too.
    for (auto& k : p.keys)
        k = KeySequence();
    p.keys[57] = makeClip ({ { 57, 0, 1200 }, { 60, 0, 400 }, { 64, 400, 1200 }, { 57, 1600, 800 } });
    p.upperKeys[0][40] = makeClip ({ { 45, 0, 1600 }, { 52, 0, 1600 }, { 59, 1600, 200 }, { 62, 1800, 200 } });
    p.rescanScale();
    EXPECT_EQ (p.detectedTonic, 9);

    // The tie-break now follows A's degrees.
    setScale (p, { 0, 2 });
    EXPECT_EQ (p.snapNote (61), 60);
}

TEST (KeySnap, ScaleKeysDefineTheScale)
{
    EngineHarness h;
    auto& p = h.proc();
    p.setKeySnapRange (36, 96);

    h.noteOn (0, 28);    // E
    h.noteOn (10, 31);   // G
    h.runBlocks (1);
    EXPECT_EQ (p.keySnapScale.load(), (1 << 4) | (1 << 7));

    h.noteOff (200, 28);
    h.noteOff (210, 31);
    h.noteOn (300, 26);  // after all were up: replaces the scale
    h.runBlocks (2);
    EXPECT_EQ (p.keySnapScale.load(), 1 << 2);

    h.noteOn (h.now(), 33);   // added while 26 is held: extends it
    h.runBlocks (1);
    EXPECT_EQ (p.keySnapScale.load(), (1 << 2) | (1 << 9));
}

TEST (KeySnap, WholeRangeClearsAndRemembersTheScale)
{
    PluginProcessor p;
    p.setKeySnapRange (36, 96);
    setScale (p, { 2, 9 });
    p.setKeySnapRange (24, 107);
    EXPECT_EQ (p.scaleMask(), 0);
    EXPECT_TRUE (p.savedScaleValid);

    p.setKeySnapRange (96, 36);   // order does not matter
    EXPECT_EQ (p.snapRangeStart, 36);
    EXPECT_EQ (p.snapRangeEnd, 96);
    EXPECT_EQ (p.scaleMask(), (1 << 2) | (1 << 9));
    EXPECT_EQ (p.keySnapScale.load(), (1 << 2) | (1 << 9));

    p.setKeySnapRange (0, 500);   // limited to 24..107
    EXPECT_EQ (p.snapRangeStart, 24);
    EXPECT_EQ (p.snapRangeEnd, 107);
}

TEST (KeySnap, HeldNotesMoveWhenTheScaleChanges)
{
    EngineHarness h;
    auto& p = h.proc();
    p.setKeySnapRange (36, 96);
    h.noteOn (0, 61);
    h.runBlocks (1);

    h.noteOn (h.now() + 20, 24);   // scale key C
    const int64_t blockStart = h.now();
    const auto out = h.runBlocks (2);
    const auto offs = noteOffsOf (notesOf (out, 61));
    const auto ons = noteOnsOf (notesOf (out, 60));
    ASSERT_EQ (offs.size(), 1u);
    ASSERT_EQ (ons.size(), 1u);
    EXPECT_EQ (ons[0].time, offs[0].time);
    EXPECT_GE (offs[0].time, blockStart);

    // Its release ends the moved note.
    h.noteOff (h.now(), 61);
    const auto end = noteOffsOf (h.runBlocks (1));
    ASSERT_EQ (end.size(), 1u);
    EXPECT_EQ (end[0].message.getNoteNumber(), 60);
}

TEST (VelocityControl, SourcesAndAmount)
{
    struct Case
    {
        const char* name;
        int source, amount;
        bool power;
        int expected;   // for a clip velocity of 100, trigger velocity 20, pressure 50
    };
    const Case cases[] = {
        { "velocity at 50%", 1, 50, true, 60 },
        { "velocity at 100%", 1, 100, true, 20 },
        { "poly pressure at 100%", 4, 100, true, 50 },
        { "mod wheel at 0%", 2, 0, true, 100 },
        { "off", 1, 100, false, 100 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        EngineHarness h;
        auto& p = h.proc();
        p.velModSource.store (c.source);
        p.velControlAmount.store (c.amount);
        p.velControlPower.store (c.power);
        h.setClip (64, makeClip ({ { 72, 0, 100, 100 }, { 74, 200, 100, 100 } }));
        h.schedule (0, juce::MidiMessage::aftertouchChange (1, 64, 50));
        h.controller (0, 1, 50);
        h.noteOn (10, 64, 20);
        const auto ons = noteOnsOf (h.runUntil (ms (400)));
        ASSERT_EQ (ons.size(), 2u);
        for (const auto& on : ons)
            EXPECT_EQ (on.message.getVelocity(), c.expected);
    }

    // Poly pressure before any pressure is 127, whatever the note.
    EngineHarness h;
    h.proc().velModSource.store (4);
    h.proc().velControlAmount.store (100);
    h.setClip (64, makeClip ({ { 30, 0, 100, 10 }, { 31, 200, 100, 90 } }));
    h.noteOn (0, 64, 5);
    for (const auto& on : noteOnsOf (h.runUntil (ms (400))))
        EXPECT_EQ (on.message.getVelocity(), 127);
}

//==============================================================================
TEST (Layers, CascadeNoteIsSwallowedByAKeyWithAClipUnlessTheLayerIsDry)
{
    for (const bool dry : { false, true })
    {
        SCOPED_TRACE (dry);
        EngineHarness h;
        auto& p = h.proc();
        h.focusLayer (1, 2);
        p.layerDry[1].store (dry);
        h.setClip (60, makeClip ({ { 80, 0, 100 }, { 82, 200, 100 } }), 1);

        h.noteOn (100, 60);
        const auto out = h.runUntil (ms (400));
        EXPECT_EQ (noteOnsOf (notesOf (out, 60)).size(), dry ? 1u : 0u);
        const auto clip = noteOnsOf (notesOf (out, 80));
        ASSERT_EQ (clip.size(), 1u);
        EXPECT_EQ (clip[0].time, 100);
        EXPECT_EQ (noteOnsOf (notesOf (out, 82)).size(), 1u);
        ASSERT_EQ (p.cascadeLinks.size(), 1u);
        EXPECT_EQ (p.cascadeLinks[0].layer, 1);
        EXPECT_TRUE (p.cascadeLinks[0].hasContent);

        h.noteOff (h.now(), 60);
        h.runBlocks (1);
        EXPECT_TRUE (p.cascadeLinks.empty());
    }
}

TEST (Layers, CascadePassesLayersBelowTheFocus)
{
    EngineHarness h;
    h.focusLayer (2, 3);
    h.setClip (60, makeClip ({ { 81, 0, 100 } }), 1);   // not triggered: below the focus
    h.setClip (60, makeClip ({ { 82, 0, 100 } }), 2);

    h.noteOn (0, 60);
    const auto out = h.runUntil (ms (100));
    EXPECT_TRUE (notesOf (out, 81).empty());
    EXPECT_EQ (noteOnsOf (notesOf (out, 82)).size(), 1u);
    EXPECT_TRUE (noteOnsOf (notesOf (out, 60)).empty());
}

TEST (Layers, GateOnAnUpperLayerStopsTheClipAtTheCascadeRelease)
{
    EngineHarness h;
    auto& p = h.proc();
    p.triggerMode.store (0);
    h.focusLayer (1, 2);
    h.setClip (60, makeClip ({ { 80, 0, 1000 }, { 82, 1000, 100 } }), 1);

    h.noteOn (0, 60);
    h.noteOff (ms (300), 60);
    const auto out = h.runUntil (ms (1500));
    const auto offs = noteOffsOf (notesOf (out, 80));
    ASSERT_EQ (offs.size(), 1u);
    EXPECT_EQ (offs[0].time, ms (300));
    EXPECT_TRUE (notesOf (out, 82).empty());
}

TEST (Layers, OneShotCascadeReleaseLetsThePhrasePlayOn)
{
    EngineHarness h;
    h.focusLayer (1, 2);
    h.setClip (60, makeClip ({ { 80, 0, 100 }, { 82, 500, 100 } }), 1);
    h.noteOn (0, 60);
    h.noteOff (ms (50), 60);
    const auto out = h.runUntil (ms (800));
    EXPECT_EQ (noteOnsOf (notesOf (out, 82)).size(), 1u);
}

TEST (Layers, LoweringVisibleLayersEndsTheHiddenLayersNotesAtOnce)
{
    EngineHarness h;
    auto& p = h.proc();
    h.focusLayer (2, 3);
    h.setClip (60, makeClip ({ { 82, 0, 5000 }, { 84, 5000, 100 } }), 2);
    h.noteOn (0, 60);
    h.runUntil (ms (100));

    p.visibleLayers.store (1);
    const int64_t blockStart = h.now();
    const auto offs = noteOffsOf (notesOf (h.runBlocks (1), 82));
    ASSERT_EQ (offs.size(), 1u);
    EXPECT_EQ (offs[0].time, blockStart);
}

TEST (Layers, MixPlaysEveryVisibleLayerFromOneKey)
{
    EngineHarness h;
    auto& p = h.proc();
    p.keyboardInteraction.store (1);
    p.cascadeEnabled.store (false);
    p.visibleLayers.store (3);
    h.setClip (64, makeClip ({ { 70, 0, 100 } }), 0);
    h.setClip (64, makeClip ({ { 71, 0, 100 } }), 1);
    h.setClip (64, makeClip ({ { 72, 0, 100 } }), 2);
    h.noteOn (10, 64);
    h.noteOff (ms (200), 64);
    const auto out = h.runUntil (ms (300));
    for (int note : { 70, 71, 72 })
    {
        const auto notes = notesOf (out, note);
        ASSERT_EQ (notes.size(), 2u) << note;
        EXPECT_EQ (notes[0].time, 10);
        EXPECT_EQ (notes[1].time, ms (200));
    }
}

TEST (Layers, LayerInteractionEndsHeldNotesOnTheOtherLayers)
{
    EngineHarness h;
    auto& p = h.proc();
    p.keyboardInteraction.store (0);
    p.cascadeEnabled.store (false);
    p.visibleLayers.store (2);
    h.setClip (64, makeClip ({ { 70, 0, 100 } }), 0);
    h.setClip (64, makeClip ({ { 71, 0, 100 } }), 1);

    h.noteOn (10, 64);   // layer 0 is focused: only it plays
    h.runUntil (ms (100));
    h.focusLayer (1, 2);
    h.noteOff (ms (200), 64);
    const auto out = h.runUntil (ms (300));
    EXPECT_TRUE (notesOf (h.output(), 71).empty());
    // The layer-0 note was silenced by the mute and is not sent again at the release.
    EXPECT_EQ (noteOffsOf (notesOf (h.output(), 70)).size(), 1u);
    EXPECT_TRUE (p.getActiveHeldKeys (0).empty());
    juce::ignoreUnused (out);
}

TEST (Layers, LayerSwitchMovesAHeldClipToTheNewLayerAtTheSamePosition)
{
    EngineHarness h;
    auto& p = h.proc();
    p.keyboardInteraction.store (0);
    p.cascadeEnabled.store (false);
    p.visibleLayers.store (2);
    h.setClip (64, makeClip ({ { 70, 0, 1000 }, { 72, 1000, 100 } }), 0);
    h.setClip (64, makeClip ({ { 80, 0, 1000 }, { 82, 1000, 100 } }), 1);

    h.noteOn (0, 64);
    h.noteOn (ms (400), h.modifierKey (P::modHigherKeyboard));
    const auto out = h.runUntil (ms (1200));

    EXPECT_EQ (noteOffsOf (notesOf (out, 70)).front().time, ms (400));   // the layer-0 clip stops
    EXPECT_TRUE (notesOf (out, 72).empty());
    EXPECT_TRUE (noteOnsOf (notesOf (out, 80)).empty());                 // open there: not sounded again
    const auto next = noteOnsOf (notesOf (out, 82));
    ASSERT_EQ (next.size(), 1u);
    EXPECT_EQ (next[0].time, ms (1000));                                 // continues from the same position
    EXPECT_EQ (p.playLayer, 1);
}

TEST (Layers, UpperLayerSingleNoteClipEndsAtRelease)
{
    EngineHarness h;
    h.focusLayer (1, 2);
    h.setClip (60, makeClip ({ { 80, 0, 5000 } }), 1);
    h.noteOn (0, 60);
    h.noteOff (ms (100), 60);
    const auto offs = noteOffsOf (notesOf (h.runUntil (ms (300)), 80));
    ASSERT_EQ (offs.size(), 1u);
    EXPECT_EQ (offs[0].time, ms (100));
}
