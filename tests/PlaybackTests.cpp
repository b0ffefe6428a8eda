#include <gtest/gtest.h>

#include "engine/PluginProcessor.h"
#include "tests/harness/EngineHarness.h"

using qtest::ClipNote;
using qtest::EngineHarness;
using qtest::makeClip;
using qtest::noteOffsOf;
using qtest::noteOnsOf;
using qtest::notesOf;
using qtest::TimedMessage;

namespace
{
constexpr int gate = 0, oneShot = 1, latch = 2;

struct Expected
{
    int64_t time;
    int note;
    bool on;
};

void expectNotes (const std::vector<TimedMessage>& out, const std::vector<Expected>& expected)
{
    std::vector<Expected> actual;
    for (const auto& m : out)
        if (m.message.isNoteOnOrOff())
            actual.push_back ({ m.time, m.message.getNoteNumber(), m.message.isNoteOn() });

    ASSERT_EQ (actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
    {
        SCOPED_TRACE (i);
        EXPECT_EQ (actual[i].time, expected[i].time);
        EXPECT_EQ (actual[i].note, expected[i].note);
        EXPECT_EQ (actual[i].on, expected[i].on);
    }
}

// A phrase of notes every stepMs, each lasting half a step.
KeySequence steadyPhrase (int firstNote, int count, double stepMs, double bpm = 120.0)
{
    std::vector<ClipNote> notes;
    for (int i = 0; i < count; ++i)
        notes.push_back ({ firstNote + i % 12, i * stepMs, stepMs / 2 });
    return makeClip (notes, bpm);
}
}

//==============================================================================
TEST (Voices, PhrasePlaysAtItsTempoScaledToTheHost)
{
    // Recorded at 100 bpm, played at 120: one clip millisecond lasts 100/120 ms.
    EngineHarness h;
    h.setClip (70, makeClip ({ { 60, 0, 300 }, { 62, 300, 300 } }, 100.0));
    h.noteOn (1000, 70);
    const auto out = h.runUntil (30000);
    expectNotes (out, { { 1000, 60, true }, { 13000, 60, false }, { 13000, 62, true }, { 25000, 62, false } });

    EngineHarness same;
    same.playHead.bpm = 100.0;
    same.setClip (70, makeClip ({ { 60, 0, 300 } }, 100.0));
    same.setClip (71, makeClip ({ { 60, 0, 300 }, { 62, 300, 300 } }, 100.0));
    same.noteOn (1000, 71);
    expectNotes (same.runUntil (30000), { { 1000, 60, true }, { 15400, 60, false }, { 15400, 62, true }, { 29800, 62, false } });
}

TEST (Voices, FractionalSamplesCarryBetweenEvents)
{
    // Notes every 7 ms at 44.1 kHz land on floor(7 * 44.1 * i), not on a drifting 308 * i.
    EngineHarness h ({ 44100.0, 100, true, true });
    h.setClip (70, steadyPhrase (60, 100, 7.0));
    h.noteOn (0, 70);
    const auto ons = noteOnsOf (h.runUntil (40000));
    ASSERT_EQ (ons.size(), 100u);
    EXPECT_EQ (ons[1].time, 308);
    EXPECT_EQ (ons[3].time, 926);
    EXPECT_EQ (ons[33].time, 10187);
    EXPECT_EQ (ons[99].time, 30561);
}

TEST (Voices, EventDueOnTheBlockBoundaryComesAtPositionZeroOfTheNextBlock)
{
    EngineHarness h ({ 64000.0, 128, true, true });   // 2 ms = 128 samples exactly
    h.setClip (70, makeClip ({ { 60, 0, 2 }, { 62, 2, 2 } }));
    h.noteOn (0, 70);

    expectNotes (h.runBlocks (1), { { 0, 60, true } });
    expectNotes (h.runBlocks (1), { { 128, 60, false }, { 128, 62, true } });
}

TEST (Voices, TwoEventsAtTheSameSampleKeepTheirOrder)
{
    EngineHarness h;
    h.setClip (70, makeClip ({ { 60, 0, 100 }, { 64, 100, 50 }, { 67, 100, 50 } }));
    h.noteOn (0, 70);
    expectNotes (h.runUntil (20000), { { 0, 60, true }, { 4800, 60, false }, { 4800, 64, true }, { 4800, 67, true },
                                       { 7200, 64, false }, { 7200, 67, false } });
}

TEST (Voices, ChordStartsWithItsSpacingAndHoldsUntilRelease)
{
    EngineHarness h;
    h.setClip (70, makeClip ({ { 60, 0, 500 }, { 64, 10, 500 }, { 67, 30, 500 } }));
    ASSERT_TRUE (h.proc().keys[70].isChord);

    h.noteOn (1000, 70, 90);
    h.noteOff (1000 + 48000, 70);
    const auto out = h.runUntil (60000);
    expectNotes (out, { { 1000, 60, true }, { 1480, 64, true }, { 2440, 67, true },
                        { 49000, 60, false }, { 49000, 64, false }, { 49000, 67, false } });
}

TEST (Voices, PhraseWithAMissingNoteOffEndsItsNotesAtTheEnd)
{
    EngineHarness h;
    KeySequence clip;
    clip.events = { { 60, 100, 1, true, 0.0 }, { 62, 100, 1, true, 100.0 }, { 62, 0, 1, false, 100.0 } };
    h.setClip (70, clip);
    h.noteOn (0, 70);
    expectNotes (h.runUntil (20000), { { 0, 60, true }, { 4800, 62, true }, { 9600, 62, false }, { 9600, 60, false } });
    EXPECT_TRUE (h.proc().getActiveHeldKeys (0).empty());
}

TEST (Voices, DryLayerSoundsTheKeyItselfBesideItsClip)
{
    EngineHarness h;
    h.proc().layerDry[0].store (true);
    h.setClip (70, makeClip ({ { 60, 0, 1000 }, { 62, 1000, 1000 } }));
    h.proc().triggerMode.store (gate);
    h.noteOn (0, 70);
    h.noteOff (24000, 70);
    const auto out = h.runUntil (30000);
    const auto own = notesOf (out, 70);
    ASSERT_EQ (own.size(), 2u);
    EXPECT_EQ (own[0].time, 0);
    EXPECT_EQ (own[1].time, 24000);
}

//==============================================================================
TEST (Triggering, GateCutsEverythingAtRelease)
{
    EngineHarness h;
    h.proc().triggerMode.store (gate);
    h.setClip (70, makeClip ({ { 60, 0, 1000 }, { 62, 1000, 1000 } }));
    h.noteOn (0, 70);
    h.noteOff (30000, 70);
    expectNotes (h.runUntil (120000), { { 0, 60, true }, { 30000, 60, false } });
    EXPECT_TRUE (h.proc().getActiveHeldKeys (0).empty());
}

TEST (Triggering, OneShotKeepsARetriggeredPhraseAsAnOverlap)
{
    EngineHarness h;
    auto& p = h.proc();
    h.setClip (70, makeClip ({ { 60, 0, 400 }, { 62, 400, 400 } }));
    h.noteOn (0, 70);
    h.noteOff (1000, 70);
    h.noteOn (9600, 70);
    h.noteOff (10000, 70);

    h.runUntil (9600 + 128);
    EXPECT_EQ (p.overlapVoices.size(), 1u);
    EXPECT_EQ (p.getActiveHeldKeys (0), std::set<int> ({ 70 }));

    const auto out = h.runUntil (60000);
    const auto ons62 = noteOnsOf (notesOf (h.output(), 62));
    ASSERT_EQ (ons62.size(), 2u);
    EXPECT_EQ (ons62[0].time, 19200);   // the first phrase played on
    EXPECT_EQ (ons62[1].time, 28800);
    EXPECT_TRUE (p.overlapVoices.empty());
    EXPECT_TRUE (p.getActiveHeldKeys (0).empty());

    // Every note the host received was ended.
    int balance = 0;
    for (const auto& m : h.output())
        balance += m.message.isNoteOn() ? 1 : (m.message.isNoteOff() ? -1 : 0);
    EXPECT_EQ (balance, 0);
}

TEST (Triggering, OneShotSingleNotesAndChordsStopAtRelease)
{
    EngineHarness h;
    h.setClip (70, makeClip ({ { 60, 0, 5000 } }));
    h.noteOn (0, 70);
    h.noteOff (4800, 70);
    expectNotes (h.runUntil (20000), { { 0, 60, true }, { 4800, 60, false } });
}

TEST (Triggering, LatchTogglesAndIgnoresReleases)
{
    EngineHarness h;
    auto& p = h.proc();
    p.triggerMode.store (latch);
    h.setClip (70, steadyPhrase (60, 40, 100.0));
    h.noteOn (0, 70);
    h.noteOff (1000, 70);
    h.runUntil (40000);
    EXPECT_EQ (p.getActiveHeldKeys (0), std::set<int> ({ 70 }));

    // The note of step 10 started at 48000; the press stops it and everything after.
    h.noteOn (49000, 70);
    h.noteOff (49500, 70);
    const auto out = h.runUntil (100000);
    const auto offs = noteOffsOf (out);
    ASSERT_FALSE (offs.empty());
    EXPECT_EQ (offs.back().time, 49000);
    EXPECT_EQ (offs.back().message.getNoteNumber(), 60 + 10);
    for (const auto& m : out)
        EXPECT_LE (m.time, 49000);
    EXPECT_TRUE (p.getActiveHeldKeys (0).empty());

    h.noteOn (h.now() + 10, 70);
    EXPECT_FALSE (noteOnsOf (h.runBlocks (1)).empty());
}

TEST (Triggering, LeavingLatchReleasesLatchedKeys)
{
    EngineHarness h;
    auto& p = h.proc();
    p.triggerMode.store (latch);
    h.setClip (70, makeClip ({ { 60, 0, 5000 } }));
    h.noteOn (0, 70);
    h.noteOff (100, 70);
    h.runUntil (4800);
    ASSERT_EQ (p.getActiveHeldKeys (0), std::set<int> ({ 70 }));

    p.triggerMode.store (oneShot);
    const auto offs = noteOffsOf (h.runBlocks (1));
    ASSERT_EQ (offs.size(), 1u);
    EXPECT_EQ (offs[0].time, 4864);   // sample 0 of the next block
    EXPECT_TRUE (p.getActiveHeldKeys (0).empty());
}

TEST (Triggering, MonoHandsBackToTheStillHeldKeyWithItsOwnVelocity)
{
    EngineHarness h;
    auto& p = h.proc();
    p.monoMode.store (true);
    h.setClip (60, steadyPhrase (72, 40, 100.0));
    h.setClip (62, steadyPhrase (84, 40, 100.0));

    h.noteOn (0, 60, 40);
    h.noteOn (4800, 62, 100);
    h.runUntil (4800 + 128);
    EXPECT_FALSE (p.voices[60].isActiveOrSounding());
    EXPECT_TRUE (p.voices[62].active);
    EXPECT_EQ (p.monoKey, 62);

    h.noteOff (9600, 62);
    const auto out = h.runUntil (9600 + 128);
    EXPECT_FALSE (p.voices[62].isActiveOrSounding());
    EXPECT_TRUE (p.voices[60].active);
    EXPECT_EQ (p.voices[60].velocity, 40);
    EXPECT_EQ (p.monoKey, 60);
    const auto ons = noteOnsOf (out);
    ASSERT_FALSE (ons.empty());
    EXPECT_EQ (ons.back().time, 9600);
    EXPECT_EQ (ons.back().message.getNoteNumber(), 72);   // A starts again from its beginning
}

TEST (Triggering, MonoLegatoContinuesFromTheClipPositionWithoutResounding)
{
    EngineHarness h;
    auto& p = h.proc();
    p.monoMode.store (true);
    p.legato.store (true);
    h.setClip (60, makeClip ({ { 72, 0, 1000 }, { 74, 1000, 500 } }));
    h.setClip (62, makeClip ({ { 84, 0, 2000 }, { 86, 600, 100 } }));

    h.noteOn (0, 60);
    h.noteOn (12000, 62);    // 250 ms: B continues from A's position, 84 is not sounded
    h.noteOff (24000, 62);   // 500 ms: A continues from B's position, 72 is not sounded again
    const auto out = h.runUntil (60000);

    expectNotes (out, { { 0, 72, true }, { 12000, 72, false }, { 48000, 74, true } });
}

TEST (Triggering, SeventeenthOverlapCutsTheOldest)
{
    EngineHarness h;
    auto& p = h.proc();
    h.setClip (70, makeClip ({ { 60, 0, 10000 }, { 62, 10000, 100 } }));
    for (int i = 0; i < 18; ++i)
    {
        h.noteOn (i * 1000, 70);
        h.noteOff (i * 1000 + 500, 70);
    }
    h.runUntil (18 * 1000 + 128);
    EXPECT_EQ (p.overlapVoices.size(), 16u);
    EXPECT_EQ (p.getActiveHeldKeys (0), std::set<int> ({ 70 }));
}

TEST (Triggering, ThruPassesKeysWithClipsThrough)
{
    EngineHarness h;
    h.setClip (70, makeClip ({ { 60, 0, 100 }, { 62, 100, 100 } }));
    h.noteOn (0, h.modifierKey (PluginProcessor::modThru));
    h.noteOn (100, 70);
    h.noteOff (9000, 70);
    expectNotes (h.runUntil (20000), { { 100, 70, true }, { 9000, 70, false } });
}

//==============================================================================
TEST (Timing, LaunchQuantizeWithTheHostStopped)
{
    EngineHarness h;
    auto& p = h.proc();
    p.launchQuantPower.store (true);
    p.launchQuantNote.store (2);   // 1/4: 500 ms at 120 bpm
    h.setClip (60, steadyPhrase (40, 40, 100.0));
    h.setClip (62, makeClip ({ { 72, 0, 100 }, { 73, 150, 100 } }));
    h.setClip (64, makeClip ({ { 74, 0, 50 }, { 75, 60, 50 } }));

    const int64_t t0 = 4800;
    h.noteOn (t0, 60);
    h.noteOn (t0 + 14400, 62);            // 300 ms later: waits for the line at 500 ms
    h.noteOn (t0 + 24000 + 960, 64);      // 20 ms after that line: at once, 20 ms into its clip
    const auto out = h.runUntil (t0 + 48000);

    EXPECT_EQ (noteOnsOf (notesOf (out, 40)).front().time, t0);
    EXPECT_EQ (noteOnsOf (notesOf (out, 72)).front().time, t0 + 24000);
    expectNotes (notesOf (out, 74), { { t0 + 24960, 74, true }, { t0 + 24960 + 1440, 74, false } });
    EXPECT_EQ (noteOnsOf (notesOf (out, 75)).front().time, t0 + 24960 + 1920);
}

TEST (Timing, LaunchQuantizeWithTheHostPlaying)
{
    EngineHarness h;
    auto& p = h.proc();
    h.playHead.playing = true;
    h.playHead.ppq = 3.25;
    p.launchQuantPower.store (true);
    p.launchQuantNote.store (2);
    h.setClip (60, steadyPhrase (40, 40, 100.0));
    h.setClip (62, makeClip ({ { 72, 0, 100 }, { 73, 150, 100 } }));
    h.setClip (64, makeClip ({ { 74, 0, 100 }, { 75, 150, 100 } }));

    h.noteOn (0, 60);          // anchors the grid at quarter 3.25
    h.noteOn (14400, 62);      // quarter 3.85: launches at 4.25
    h.noteOn (57600, 64);      // quarter 5.65: launches at 6.25
    const auto out = h.runUntil (96000);

    EXPECT_EQ (noteOnsOf (notesOf (out, 40)).front().time, 0);
    EXPECT_EQ (noteOnsOf (notesOf (out, 72)).front().time, 24000);
    EXPECT_EQ (noteOnsOf (notesOf (out, 74)).front().time, 72000);
}

TEST (Timing, LaunchGridReanchorsAfterSilence)
{
    EngineHarness h;
    auto& p = h.proc();
    p.launchQuantPower.store (true);
    p.launchQuantNote.store (2);
    h.setClip (62, makeClip ({ { 72, 0, 100 }, { 73, 150, 100 } }));

    h.noteOn (1000, 62);
    h.noteOff (1100, 62);
    h.noteOn (1000 + 48000 * 2 + 7000, 62);   // after more than 1.2 s of nothing: at once
    const auto ons = noteOnsOf (notesOf (h.runUntil (200000), 72));
    ASSERT_EQ (ons.size(), 2u);
    EXPECT_EQ (ons[0].time, 1000);
    EXPECT_EQ (ons[1].time, 1000 + 48000 * 2 + 7000);
}

TEST (Timing, TwoBarLoopWindowCropsAndCutsHeldNotes)
{
    EngineHarness h;
    auto& p = h.proc();
    p.loopEnabled.store (true);
    p.loopLengthIdx.store (4);   // 2 bars of 4/4: 4000 ms at 120 bpm
    h.setClip (70, makeClip ({ { 60, 0, 500 }, { 62, 3500, 1000 }, { 64, 4500, 200 } }));

    h.noteOn (0, 70);
    const auto out = h.runUntil (192000 + 128);
    expectNotes (out, { { 0, 60, true }, { 24000, 60, false }, { 168000, 62, true },
                        { 192000, 62, false }, { 192000, 60, true } });
}

TEST (Timing, OneShotLoopingPhraseFinishesItsCycleOnRelease)
{
    EngineHarness h;
    auto& p = h.proc();
    p.loopEnabled.store (true);
    p.loopLengthIdx.store (-1);   // loop on, no window: the phrase repeats whole
    h.setClip (70, makeClip ({ { 60, 0, 100 }, { 62, 200, 100 } }, 120.0, 100.0));   // 400 ms cycles

    h.noteOn (0, 70);
    h.noteOff (24000, 70);   // 500 ms, inside the second cycle
    const auto out = h.runUntil (96000);
    expectNotes (out, { { 0, 60, true }, { 4800, 60, false }, { 9600, 62, true }, { 14400, 62, false },
                        { 19200, 60, true }, { 24000, 60, false }, { 28800, 62, true }, { 33600, 62, false } });
    EXPECT_TRUE (p.getActiveHeldKeys (0).empty());
}

TEST (Timing, SpeedChangesOnTheNextLaunchGridLine)
{
    EngineHarness h;
    auto& p = h.proc();
    p.launchQuantPower.store (true);
    p.launchQuantNote.store (2);   // lines every 500 ms from the first launch
    h.setClip (70, steadyPhrase (60, 40, 100.0));

    h.noteOn (0, 70);
    h.noteOn (7200, h.modifierKey (PluginProcessor::modSpeedUp));   // 150 ms
    const auto ons = noteOnsOf (h.runUntil (40000));

    ASSERT_GE (ons.size(), 8u);
    EXPECT_EQ (ons[2].time, 9600);
    EXPECT_EQ (ons[4].time, 19200);
    EXPECT_EQ (ons[5].time, 24000);   // the grid line at 500 ms
    EXPECT_EQ (ons[6].time, 26400);   // double speed from there
    EXPECT_EQ (ons[7].time, 28800);
}

TEST (Timing, SpeedChangesAtOnceWithoutLaunchQuantize)
{
    EngineHarness h;
    h.setClip (70, steadyPhrase (60, 40, 100.0));
    h.noteOn (0, 70);
    h.noteOn (7200, h.modifierKey (PluginProcessor::modSlowDown));
    const auto ons = noteOnsOf (h.runUntil (40000));
    ASSERT_GE (ons.size(), 4u);
    EXPECT_EQ (ons[1].time, 4800);
    EXPECT_EQ (ons[2].time, 4800 + 2400 + 4800);   // the rest of the note at speed 1, then half speed
}

TEST (Timing, InputQuantizeAppliesAtPlaybackAndRequantizeFollowsSettingChanges)
{
    EngineHarness h;
    auto& p = h.proc();
    h.setClip (70, makeClip ({ { 60, 0, 50 }, { 62, 230, 50 }, { 64, 480, 50 } }));
    p.inputQuantPower.store (true);
    p.inputQuantNote.store (3);   // 1/8: 250 ms

    h.noteOn (0, 70);
    auto ons = noteOnsOf (h.runUntil (48000));
    ASSERT_EQ (ons.size(), 3u);
    EXPECT_EQ (ons[1].time, 12000);
    EXPECT_EQ (ons[2].time, 24000);

    // Turning quantize off while the phrase plays moves its remaining notes back.
    h.noteOn (48000, 70);
    h.runUntil (48000 + 6000);
    p.inputQuantPower.store (false);
    p.requantizeRequested.store (true);
    ons = noteOnsOf (h.runUntil (48000 * 2));
    ASSERT_EQ (ons.size(), 2u);
    EXPECT_EQ (ons[0].time, 48000 + 11040);
    EXPECT_EQ (ons[1].time, 48000 + 23040);
}
