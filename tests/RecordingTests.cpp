#include <gtest/gtest.h>

#include "engine/PluginProcessor.h"
#include "tests/harness/EngineHarness.h"

using qtest::EngineHarness;
using qtest::makeClip;
using qtest::noteOffsOf;
using qtest::noteOnsOf;
using qtest::notesOf;
using qtest::TimedMessage;

namespace
{
using P = PluginProcessor;

struct Note
{
    int note;
    double onMs, offMs;
};

// The notes of a clip as (note, on, off) in absolute clip milliseconds.
std::vector<Note> notesOfClip (const KeySequence& s)
{
    std::vector<Note> notes;
    double t = 0.0;
    for (const auto& e : s.events)
    {
        t += e.waitMs;
        if (e.isNoteOn)
        {
            notes.push_back ({ e.note, t, -1.0 });
            continue;
        }
        for (auto& n : notes)
            if (n.note == e.note && n.offMs < 0.0)
            {
                n.offMs = t;
                break;
            }
    }
    return notes;
}

void expectClip (const KeySequence& s, const std::vector<Note>& expected, double tolerance = 1e-6)
{
    const auto actual = notesOfClip (s);
    ASSERT_EQ (actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
    {
        SCOPED_TRACE (i);
        EXPECT_EQ (actual[i].note, expected[i].note);
        EXPECT_NEAR (actual[i].onMs, expected[i].onMs, tolerance);
        EXPECT_NEAR (actual[i].offMs, expected[i].offMs, tolerance);
    }
}

// Presses and releases a key.
void tap (EngineHarness& h, int64_t at, int key, int64_t length = 4800, int velocity = 100)
{
    h.noteOn (at, key, velocity);
    h.noteOff (at + length, key);
}

int64_t ms (double milliseconds) { return (int64_t) (milliseconds * 48.0); }
}

//==============================================================================
TEST (Capture, RecordEmptiesTheLastPlayedKeyAndCommitsWhatThePluginSent)
{
    EngineHarness h;
    auto& p = h.proc();
    p.liveResample.store (true);
    const auto old = makeClip ({ { 80, 0, 100 } });
    h.setClip (70, old);
    h.setClip (72, makeClip ({ { 60, 0, 100 }, { 62, 250, 100 } }));
    p.selectedKeyRequest.store (70);
    h.runBlocks (1);

    const int record = h.modifierKey (P::modRecord);
    h.noteOn (ms (100), record);
    h.runUntil (ms (200));
    EXPECT_TRUE (p.getKeySequence (70, 0).events.empty());
    EXPECT_EQ (p.getArmedDestKeys(), std::vector<int> ({ 70 }));

    // A clip (resampled) and a plain note, then the commit 100 ms after the last note.
    const int64_t t = ms (1000);
    tap (h, t, 72);
    tap (h, t + ms (500), 64);
    h.noteOff (t + ms (700), record);
    h.runUntil (t + ms (800));

    const auto take = p.getKeySequence (70, 0);
    expectClip (take, { { 60, 0, 100 }, { 62, 250, 350 }, { 64, 500, 600 } });
    EXPECT_NEAR (take.tailMs, 100.0, 1e-6);
    EXPECT_EQ (take.bpm, 120.0);
    EXPECT_FALSE (p.captureArmed);

    // The new clip plays back exactly.
    const int64_t play = h.now() + 64;
    h.noteOn (play, 70);
    const auto out = h.runUntil (play + ms (1000));
    const auto ons = noteOnsOf (out);
    ASSERT_EQ (ons.size(), 3u);
    EXPECT_EQ (ons[0].time, play);
    EXPECT_EQ (ons[1].time, play + ms (250));
    EXPECT_EQ (ons[2].time, play + ms (500));

    // One undo restores the old content, one redo the take.
    p.undoRedoRequest.store (-1);
    h.runBlocks (1);
    EXPECT_TRUE (sameSeqEvents (p.getKeySequence (70, 0).events, old.events));
    p.undoRedoRequest.store (1);
    h.runBlocks (1);
    EXPECT_TRUE (sameSeqEvents (p.getKeySequence (70, 0).events, take.events));
}

TEST (Capture, WithoutResamplingClipsAreNotRecordedButPlayedNotesAre)
{
    EngineHarness h;
    auto& p = h.proc();
    h.setClip (72, makeClip ({ { 60, 0, 100 }, { 62, 250, 100 } }));

    const int record = h.modifierKey (P::modRecord);
    h.noteOn (0, record);
    tap (h, ms (100), 72);
    tap (h, ms (300), 65);
    h.noteOff (ms (600), record);
    h.runUntil (ms (700));
    expectClip (p.getKeySequence (60, 0), { { 65, 0, 100 } });
}

TEST (Capture, ThruRecordsThePlayedNotesThemselves)
{
    EngineHarness h;
    auto& p = h.proc();
    p.liveResample.store (true);
    h.setClip (72, makeClip ({ { 60, 0, 100 }, { 62, 250, 100 } }));

    const int record = h.modifierKey (P::modRecord);
    h.noteOn (0, record);
    h.noteOn (ms (50), h.modifierKey (P::modThru));
    tap (h, ms (100), 72);
    h.noteOff (ms (600), record);
    h.runUntil (ms (700));
    expectClip (p.getKeySequence (60, 0), { { 72, 0, 100 } });
}

TEST (Capture, HeldNoteIsClosedAtCommitAndTwoDestinationsGetTheSameTake)
{
    EngineHarness h;
    auto& p = h.proc();
    const int record = h.modifierKey (P::modRecord);
    h.noteOn (0, record);
    h.runBlocks (1);
    {
        const std::lock_guard<std::mutex> lock (p.keyDataMutex);
        p.armedDestKeys.push_back (62);
    }
    h.noteOn (ms (100), 64);
    h.noteOff (ms (400), record);   // 64 is still held
    h.runUntil (ms (500));
    expectClip (p.getKeySequence (60, 0), { { 64, 0, 300 } });
    expectClip (p.getKeySequence (62, 0), { { 64, 0, 300 } });
}

TEST (Capture, TransportStopCommits)
{
    EngineHarness h;
    auto& p = h.proc();
    h.playHead.playing = true;
    h.noteOn (ms (10), h.modifierKey (P::modRecord));
    tap (h, ms (100), 66);
    h.runUntil (ms (300));
    ASSERT_TRUE (p.captureArmed);

    h.playHead.playing = false;
    h.runBlocks (1);
    EXPECT_FALSE (p.captureArmed);
    expectClip (p.getKeySequence (60, 0), { { 66, 0, 100 } });
}

TEST (Capture, InputQuantizeAndLaunchGridTailAtCommit)
{
    EngineHarness h;
    auto& p = h.proc();
    p.inputQuantPower.store (true);
    p.inputQuantNote.store (4);   // 1/16: 125 ms
    p.launchQuantPower.store (true);
    p.launchQuantNote.store (2);  // 1/4: 500 ms

    const int record = h.modifierKey (P::modRecord);
    h.noteOn (0, record);
    tap (h, ms (1000), 64, ms (100));
    tap (h, ms (1140), 65, ms (100));
    tap (h, ms (2200), 66, ms (100));
    h.noteOff (ms (2400), record);   // 1300 ms of events from the first note, 100 ms of silence
    h.runUntil (ms (2500));

    const auto take = p.getKeySequence (60, 0);
    // 140 ms moves to 125 ms, its note-off by -15 ms as well.
    expectClip (take, { { 64, 0, 100 }, { 65, 125, 225 }, { 66, 1250, 1350 } });
    EXPECT_NEAR (sumOfWaits (take.events) + take.tailMs, 1500.0, 1e-6);
}

TEST (Capture, TakeStartsOnTheGridWhileTheHostPlays)
{
    EngineHarness h;
    auto& p = h.proc();
    h.playHead.playing = true;
    p.inputQuantPower.store (true);
    p.inputQuantNote.store (2);     // quarter notes: 500 ms
    p.inputQuantAmount.store (0);   // the grid aligns the start but moves no note

    h.noteOn (0, h.modifierKey (P::modRecord));
    tap (h, ms (1100), 64);   // 100 ms after the line at 1000 ms
    h.noteOff (ms (1500), h.modifierKey (P::modRecord));
    h.runUntil (ms (1600));
    expectClip (p.getKeySequence (60, 0), { { 64, 100, 200 } }, 0.01);

    // Without grid alignment the first note starts at once...
    EngineHarness g;
    g.noteOn (0, g.modifierKey (P::modRecord));
    tap (g, ms (300), 64);
    g.noteOff (ms (600), g.modifierKey (P::modRecord));
    g.runUntil (ms (700));
    expectClip (g.proc().getKeySequence (60, 0), { { 64, 0, 100 } });

    // ...with the launch grid and a stopped host it keeps its distance from the grid line.
    EngineHarness l;
    auto& lp = l.proc();
    lp.launchQuantPower.store (true);
    lp.launchQuantNote.store (2);
    l.setClip (40, makeClip ({ { 30, 0, 3000 } }));
    l.noteOn (0, 40);                        // anchors the grid at 0 and becomes the destination
    l.noteOn (ms (100), l.modifierKey (P::modRecord));
    tap (l, ms (1100), 64);                  // 100 ms after the line at 1000 ms
    l.noteOff (ms (1500), l.modifierKey (P::modRecord));
    l.runUntil (ms (1600));
    expectClip (lp.getKeySequence (40, 0), { { 64, 100, 200 } });
}

//==============================================================================
TEST (Capture, LoopCaptureFoldsLapsAndOverdubs)
{
    EngineHarness h;
    auto& p = h.proc();
    h.playHead.playing = true;
    p.loopEnabled.store (true);
    p.loopLengthIdx.store (3);   // 1 bar: 2000 ms

    const int record = h.modifierKey (P::modRecord);
    h.noteOn (ms (10), record);
    const int64_t t0 = ms (100);   // the take starts with the first note
    tap (h, t0, 64, ms (100));
    tap (h, t0 + ms (1000), 65, ms (100));
    h.runUntil (t0 + ms (2100));

    // After the first lap the folded loop plays from the destination.
    expectClip (p.getKeySequence (60, 0), { { 64, 0, 100 }, { 65, 1000, 1100 } }, 0.05);
    EXPECT_TRUE (p.voices[60].active);
    const auto lap2 = h.runUntil (t0 + ms (3200));
    const auto ons65 = noteOnsOf (notesOf (lap2, 65));
    ASSERT_EQ (ons65.size(), 1u);
    EXPECT_NEAR ((double) ons65[0].time, (double) (t0 + ms (3000)), 1.0);

    // Notes of later laps: 67 at 1500 ms of lap 2; 68 held over the loop end.
    tap (h, t0 + ms (3500), 67, ms (100));
    tap (h, t0 + ms (3900), 68, ms (400));
    h.noteOff (t0 + ms (5000), record);
    h.runUntil (t0 + ms (5100));
    EXPECT_FALSE (p.captureArmed);
    expectClip (p.getKeySequence (60, 0),
                { { 64, 0, 100 }, { 65, 1000, 1100 }, { 67, 1500, 1600 }, { 68, 1900, 2000 } }, 0.05);
}

TEST (Capture, UndoDuringLoopCaptureRemovesTheLastNoteAndResyncs)
{
    EngineHarness h;
    auto& p = h.proc();
    h.playHead.playing = true;
    p.loopEnabled.store (true);
    p.loopLengthIdx.store (3);

    const int record = h.modifierKey (P::modRecord);
    h.noteOn (ms (10), record);
    const int64_t t0 = ms (100);
    tap (h, t0, 64, ms (100));
    tap (h, t0 + ms (1000), 65, ms (100));
    h.noteOn (t0 + ms (1500), 66);            // still held: not removed by undo
    h.runUntil (t0 + ms (2100));
    ASSERT_EQ (notesOfClip (p.getKeySequence (60, 0)).size(), 3u);

    h.noteOn (t0 + ms (2200), h.modifierKey (P::modUndo));
    h.runUntil (t0 + ms (2300));
    const auto notes = notesOfClip (p.getKeySequence (60, 0));
    ASSERT_EQ (notes.size(), 2u);
    EXPECT_EQ (notes[0].note, 64);
    EXPECT_EQ (notes[1].note, 66);
    EXPECT_TRUE (p.captureArmed);

    // The loop plays on without the removed note.
    const auto out = h.runUntil (t0 + ms (4100));
    EXPECT_TRUE (notesOf (out, 65).empty());
    EXPECT_FALSE (noteOnsOf (notesOf (out, 64)).empty());
}

TEST (Capture, WetUndoWithOneNoteLeavesAnEmptyTakeThatHasNotStarted)
{
    EngineHarness h;
    auto& p = h.proc();
    h.noteOn (0, h.modifierKey (P::modRecord));
    tap (h, ms (100), 64);
    h.noteOn (ms (300), h.modifierKey (P::modUndo));
    h.runUntil (ms (400));
    EXPECT_TRUE (p.captureArmed);
    EXPECT_TRUE (p.captureEvents.empty());
    EXPECT_FALSE (p.takeStarted);
    EXPECT_EQ (p.undoHistory.size(), 1u);   // the history was not touched
}

TEST (Capture, LayerSwitchCommitsAndRearmsOnTheNewLayer)
{
    EngineHarness h;
    auto& p = h.proc();
    p.visibleLayers.store (2);
    const int record = h.modifierKey (P::modRecord);
    h.noteOn (0, record);
    tap (h, ms (100), 64);
    h.noteOn (ms (300), h.modifierKey (P::modHigherKeyboard));
    h.runUntil (ms (400));

    expectClip (p.getKeySequence (60, 0), { { 64, 0, 100 } });
    EXPECT_TRUE (p.captureArmed);
    EXPECT_EQ (p.captureLayer, 1);
    EXPECT_EQ (p.playLayer, 1);
    EXPECT_TRUE (p.pickDestinationOnFirstKey);

    // The first key played on the new layer becomes the destination.
    tap (h, ms (500), 70);
    h.runUntil (ms (600));
    EXPECT_EQ (p.getArmedDestKeys(), std::vector<int> ({ 70 }));

    // The record modifier is still held: its release commits.
    tap (h, ms (700), 72);
    h.noteOff (ms (1000), record);
    h.runUntil (ms (1100));
    EXPECT_FALSE (p.captureArmed);
    expectClip (p.getKeySequence (70, 1), { { 70, 0, 100 }, { 72, 200, 300 } });
}

//==============================================================================
TEST (Undo, SixtyFiveRecordingsKeepSixtyFourSteps)
{
    EngineHarness h;
    auto& p = h.proc();
    p.selectedKeyRequest.store (70);
    const int record = h.modifierKey (P::modRecord);

    int64_t t = ms (10);
    auto recordNote = [&] (int note)
    {
        h.noteOn (t, record);
        tap (h, t + ms (20), note, ms (20));
        h.noteOff (t + ms (60), record);
        t += ms (100);
        h.runUntil (t);
    };

    for (int i = 0; i < 65; ++i)
        recordNote (71 + i % 40);
    EXPECT_EQ (p.undoHistory.size(), 64u);
    EXPECT_EQ (notesOfClip (p.getKeySequence (70, 0)).front().note, 71 + 64 % 40);

    for (int i = 0; i < 64; ++i)
    {
        p.undoRedoRequest.store (-1);
        h.runBlocks (1);
    }
    EXPECT_EQ (notesOfClip (p.getKeySequence (70, 0)).front().note, 71);   // the state after the first
    p.undoRedoRequest.store (-1);
    h.runBlocks (1);
    EXPECT_EQ (notesOfClip (p.getKeySequence (70, 0)).front().note, 71);

    // Redo walks forward again; a new recording after an undo empties redo.
    p.undoRedoRequest.store (1);
    h.runBlocks (1);
    EXPECT_EQ (notesOfClip (p.getKeySequence (70, 0)).front().note, 72);
    t = h.now();
    recordNote (100);
    EXPECT_TRUE (p.redoHistory.empty());
    p.undoRedoRequest.store (1);
    h.runBlocks (1);
    EXPECT_EQ (notesOfClip (p.getKeySequence (70, 0)).front().note, 100);
}

TEST (Undo, RecordingIntoTwoKeysTakesTwoUndos)
{
    EngineHarness h;
    auto& p = h.proc();
    const auto a = makeClip ({ { 30, 0, 100 } });
    const auto b = makeClip ({ { 31, 0, 100 } });
    h.setClip (60, a);
    h.setClip (62, b);

    h.noteOn (0, h.modifierKey (P::modRecord));
    h.runBlocks (1);
    {
        const std::lock_guard<std::mutex> lock (p.keyDataMutex);
        p.armedDestKeys.push_back (62);
        juce::MidiBuffer scratch;
        p.clearDestination (62, 0, scratch);
    }
    tap (h, ms (100), 64);
    h.noteOff (ms (300), h.modifierKey (P::modRecord));
    h.runUntil (ms (400));
    ASSERT_EQ (notesOfClip (p.getKeySequence (62, 0)).front().note, 64);

    p.undoRedoRequest.store (-1);
    h.runBlocks (1);
    EXPECT_TRUE (sameSeqEvents (p.getKeySequence (62, 0).events, b.events));
    EXPECT_EQ (notesOfClip (p.getKeySequence (60, 0)).front().note, 64);
    p.undoRedoRequest.store (-1);
    h.runBlocks (1);
    EXPECT_TRUE (sameSeqEvents (p.getKeySequence (60, 0).events, a.events));
}

TEST (Undo, FullSnapshotRestoresSettingsAndForcesCascadeFromInteraction)
{
    PluginProcessor p;
    p.keys[40] = makeClip ({ { 40, 0, 100 } });
    p.keyboardInteraction.store (1);
    p.cascadeEnabled.store (true);
    p.triggerMode.store (2);
    p.currentPresetName = "Factory/Old";
    const auto snapshot = p.captureFullSnapshot();

    p.keys[40] = KeySequence();
    p.triggerMode.store (0);
    p.currentPresetName = "Other";
    juce::MidiBuffer out;
    p.applyFullSnapshot (*snapshot, 0, out);

    EXPECT_EQ (p.keys[40].noteOnCount, 1);
    EXPECT_EQ (p.triggerMode.load(), 2);
    EXPECT_EQ (p.currentPresetName, "Factory/Old");
    EXPECT_EQ (p.keyboardInteraction.load(), 1);
    EXPECT_FALSE (p.cascadeEnabled.load());
    EXPECT_EQ (p.published.noteOnCount[40].load(), 1);
}

//==============================================================================
namespace
{
// Starts a step recording: record pressed, then step forward before the take starts.
void startStepRecording (EngineHarness& h, int64_t at)
{
    h.noteOn (at, h.modifierKey (P::modRecord));
    h.noteOn (at + 10, h.modifierKey (P::modStepForward));
    h.noteOff (at + 20, h.modifierKey (P::modStepForward));
}
}

TEST (StepRecording, NotesOneAfterAnother)
{
    EngineHarness h;
    auto& p = h.proc();
    p.inputQuantPower.store (true);
    p.inputQuantNote.store (4);   // 1/16 at 120 bpm
    startStepRecording (h, 0);
    h.runBlocks (1);
    ASSERT_TRUE (p.stepRecordingActive());
    EXPECT_EQ (p.stepCellMs, 62.5);

    tap (h, ms (100), 64);
    tap (h, ms (300), 65);
    tap (h, ms (500), 67);
    h.noteOff (ms (800), h.modifierKey (P::modRecord));
    h.runUntil (ms (900));

    expectClip (p.getKeySequence (60, 0), { { 64, 0, 125 }, { 65, 125, 250 }, { 67, 250, 375 } });
    EXPECT_FALSE (p.captureArmed);
}

TEST (StepRecording, CellLengthFollowsTheTempo)
{
    struct Case
    {
        double bpm;
        bool inputQuant;
        double cell;
    };
    for (const auto& c : { Case { 120.0, false, 62.5 }, Case { 60.0, false, 125.0 }, Case { 120.0, true, 125.0 } })
    {
        EngineHarness h;
        h.playHead.bpm = c.bpm;
        h.proc().inputQuantPower.store (c.inputQuant);
        h.proc().inputQuantNote.store (3);   // 1/8
        startStepRecording (h, 0);
        h.runBlocks (1);
        EXPECT_EQ (h.proc().stepCellMs, c.cell) << c.bpm;
    }
}

TEST (StepRecording, HeldChordTiedOverTwoStepsIsSixCells)
{
    EngineHarness h;
    auto& p = h.proc();
    startStepRecording (h, 0);
    h.noteOn (ms (100), 60 + 12);
    h.noteOn (ms (110), 64 + 12);
    tap (h, ms (200), h.modifierKey (P::modStepForward), ms (20));
    tap (h, ms (300), h.modifierKey (P::modStepForward), ms (20));
    h.noteOff (ms (400), 72);
    h.noteOff (ms (410), 76);
    h.runUntil (ms (500));
    EXPECT_EQ (p.stepCursor, 6);

    h.noteOff (ms (600), h.modifierKey (P::modRecord));
    h.runUntil (ms (700));
    expectClip (p.getKeySequence (60, 0), { { 72, 0, 375 }, { 76, 0, 375 } });
}

TEST (StepRecording, RepressedNoteInsideAHeldChordStartsANewStep)
{
    EngineHarness h;
    auto& p = h.proc();
    startStepRecording (h, 0);
    h.noteOn (ms (100), 72);
    h.noteOn (ms (110), 76);
    h.noteOn (ms (200), 72);   // again, while both are held
    h.noteOff (ms (300), 72);
    h.noteOff (ms (310), 76);
    h.noteOff (ms (600), h.modifierKey (P::modRecord));
    h.runUntil (ms (700));

    // E is tied to the new cursor; a new C starts where the old step ended.
    expectClip (p.getKeySequence (60, 0), { { 72, 0, 125 }, { 76, 0, 250 }, { 72, 125, 250 } });
}

TEST (StepRecording, UndoRemovesTheLastEnteredNote)
{
    EngineHarness h;
    auto& p = h.proc();
    startStepRecording (h, 0);
    tap (h, ms (100), 64);
    h.noteOn (ms (200), 72);
    h.noteOn (ms (210), 76);
    h.noteOff (ms (300), 72);
    h.noteOff (ms (310), 76);
    tap (h, ms (400), h.modifierKey (P::modUndo), ms (10));
    h.runUntil (ms (500));
    EXPECT_EQ (p.stepNotes.size(), 2u);
    EXPECT_EQ (p.stepCursor, 2);

    h.noteOff (ms (600), h.modifierKey (P::modRecord));
    h.runUntil (ms (700));
    expectClip (p.getKeySequence (60, 0), { { 64, 0, 125 }, { 72, 125, 250 } });
}

TEST (StepPlay, FirstPressFreezesAndNextPressesWalkTheGroups)
{
    EngineHarness h;
    auto& p = h.proc();
    // Five groups: a note every 200 ms.
    h.setClip (70, makeClip ({ { 60, 0, 100 }, { 62, 200, 100 }, { 64, 400, 100 }, { 65, 600, 100 }, { 67, 800, 100 } }));
    const int stepForward = h.modifierKey (P::modStepForward);

    h.noteOn (0, 70);
    h.noteOn (ms (250), stepForward);   // inside group 1: freezes
    h.noteOff (ms (260), stepForward);
    auto out = h.runUntil (ms (1200));
    EXPECT_TRUE (p.voices[70].stepFrozen);
    EXPECT_EQ (p.stepIndex[70], 1);
    EXPECT_TRUE (noteOnsOf (notesOf (out, 64)).empty());   // the phrase stopped where it was

    const int expected[] = { 64, 65, 67, 60, 62 };   // five presses come back to group 1
    for (int i = 0; i < 5; ++i)
    {
        const int64_t at = h.now() + 10;
        h.noteOn (at, stepForward);
        h.noteOff (at + 100, stepForward);
        out = h.runUntil (at + ms (50));
        const auto ons = noteOnsOf (out);
        ASSERT_EQ (ons.size(), 1u) << i;
        EXPECT_EQ (ons[0].message.getNoteNumber(), expected[i]);
        EXPECT_EQ (ons[0].time, at);
    }
    EXPECT_EQ (p.stepIndex[70], 1);

    // Releasing the key ends the step.
    h.noteOff (h.now() + 5, 70);
    EXPECT_EQ (noteOffsOf (h.runBlocks (2)).size(), 1u);
}

TEST (StepPlay, WithoutChordAwarenessAChordStepsOneNoteAtATime)
{
    EngineHarness h;
    auto& p = h.proc();
    p.stepChordAware.store (false);
    h.setClip (70, makeClip ({ { 60, 0, 100 }, { 64, 10, 100 }, { 67, 20, 100 }, { 72, 500, 100 } }));
    const int stepForward = h.modifierKey (P::modStepForward);

    h.noteOn (0, stepForward);          // nothing plays yet: the first press has nothing to freeze
    h.noteOn (ms (100), 70);            // a key pressed while stepping plays its first step
    auto ons = noteOnsOf (h.runUntil (ms (150)));
    ASSERT_EQ (ons.size(), 1u);
    EXPECT_EQ (ons[0].message.getNoteNumber(), 60);
}

TEST (Capture, PublishesTheTakeTiming)
{
    EngineHarness h;
    auto& p = h.proc();
    h.playHead.playing = true;
    p.loopEnabled.store (true);
    p.loopLengthIdx.store (3);   // 2000 ms

    h.noteOn (0, h.modifierKey (P::modRecord));
    h.runBlocks (1);
    EXPECT_EQ (p.published.captureLoopMs.load(), 2000.0);
    EXPECT_EQ (p.published.takeElapsedMs.load(), 0.0);
    EXPECT_EQ (p.published.loopPositionMs.load(), -1.0);

    h.noteOn (ms (100), 64);
    h.runUntil (ms (2600));
    EXPECT_NEAR (p.published.takeElapsedMs.load(), 2500.0, 3.0);
    EXPECT_EQ (p.published.takeProjectedMs.load(), 2000.0);
    EXPECT_NEAR (p.published.loopPositionMs.load(), 500.0, 3.0);

    // Without a loop, the launch grid rounds the projected length up.
    EngineHarness g;
    auto& q = g.proc();
    q.launchQuantPower.store (true);
    q.launchQuantNote.store (2);   // 500 ms
    g.noteOn (0, g.modifierKey (P::modRecord));
    g.noteOn (ms (100), 64);
    g.runUntil (ms (800));
    EXPECT_NEAR (q.published.takeElapsedMs.load(), 700.0, 3.0);
    EXPECT_EQ (q.published.takeProjectedMs.load(), 1000.0);

    // Step recording publishes its cursor.
    EngineHarness s;
    startStepRecording (s, 0);
    tap (s, ms (100), 64);
    s.runUntil (ms (300));
    EXPECT_TRUE (s.proc().published.stepRecording.load());
    EXPECT_EQ (s.proc().published.stepCursorMs.load(), 125.0);
    EXPECT_EQ (s.proc().published.takeElapsedMs.load(), 125.0);
}
