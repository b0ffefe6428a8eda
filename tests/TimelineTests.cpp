#include <cmath>

#include <gtest/gtest.h>

#include "engine/Timeline.h"
#include "tests/harness/EngineHarness.h"

using qtest::makeClip;

namespace
{
std::vector<double> timesOf (const std::vector<SeqEvent>& events)
{
    std::vector<double> t;
    absoluteTimes (events, t);
    return t;
}

// Absolute time of the n-th note-on (or note-off) of a note.
double timeOf (const std::vector<SeqEvent>& events, int note, bool on, int nth = 0)
{
    const auto t = timesOf (events);
    for (size_t i = 0; i < events.size(); ++i)
        if (events[i].note == note && events[i].isNoteOn == on && nth-- == 0)
            return t[i];
    return -1.0;
}
}

TEST (Timeline, GridTables)
{
    EXPECT_EQ (quantGridBeats (2, 0), 1.0);
    EXPECT_EQ (quantGridBeats (3, 1), 0.75);
    EXPECT_NEAR (quantGridBeats (0, 2), 4.0 * 2.0 / 3.0, 1e-12);
    EXPECT_EQ (quantGridBeats (1, 9), quantGridBeats (1, 2));   // feel clamped
    EXPECT_EQ (quantGridBeats (6, 0), 0.0);
    EXPECT_EQ (quantGridBeats (-1, 0), 0.0);

    EXPECT_EQ (loopLengthBeats (0, 4.0), 0.5);
    EXPECT_EQ (loopLengthBeats (4, 4.0), 8.0);   // 2 bars of 4/4
    EXPECT_EQ (loopLengthBeats (4, 3.0), 6.0);   // 2 bars of 6/8
    EXPECT_EQ (loopLengthBeats (-1, 4.0), 0.0);
    EXPECT_EQ (loopLengthBeats (8, 4.0), 0.0);
}

TEST (Timeline, RebuildWaitsSortsStablyWithNoteOffsFirstAtEqualTimes)
{
    std::vector<SeqEvent> events {
        { 60, 100, 1, true, 0 }, { 62, 100, 1, true, 0 }, { 60, 0, 1, false, 0 }, { 64, 100, 1, true, 0 },
    };
    rebuildWaits (events, { 100.0, 50.0, 100.0, 50.0 });

    ASSERT_EQ (events.size(), 4u);
    EXPECT_EQ (events[0].note, 62);   // 50, stable before 64
    EXPECT_EQ (events[1].note, 64);
    EXPECT_FALSE (events[2].isNoteOn);   // the note-off of 60 before its note-on at 100
    EXPECT_EQ (events[3].note, 60);
    EXPECT_EQ (events[0].waitMs, 50.0);
    EXPECT_EQ (events[1].waitMs, 0.0);
    EXPECT_EQ (events[2].waitMs, 50.0);
    EXPECT_EQ (events[3].waitMs, 0.0);
}

TEST (Timeline, QuantizeMovesNoteOnsAndKeepsDurations)
{
    struct Case
    {
        int amount;
        double expectedFirst, expectedSecond;
    };
    // Grid 125 ms; notes at 10 and 230 ms.
    const Case cases[] = { { 100, 0.0, 250.0 }, { 50, 5.0, 240.0 }, { 0, 10.0, 230.0 }, { 250, 0.0, 250.0 } };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.amount);
        auto clip = makeClip ({ { 60, 10.0, 100.0 }, { 62, 230.0, 40.0 } });
        quantizeTimeline (clip.events, 125.0, c.amount, 0);
        EXPECT_NEAR (timeOf (clip.events, 60, true), c.expectedFirst, 1e-9);
        EXPECT_NEAR (timeOf (clip.events, 60, false), c.expectedFirst + 100.0, 1e-9);
        EXPECT_NEAR (timeOf (clip.events, 62, true), c.expectedSecond, 1e-9);
        EXPECT_NEAR (timeOf (clip.events, 62, false), c.expectedSecond + 40.0, 1e-9);
    }
}

TEST (Timeline, QuantizeKeepsRepeatedNotesPaired)
{
    // The same pitch twice, overlapping: each note-on keeps its own note-off.
    auto clip = makeClip ({ { 60, 10.0, 300.0 }, { 60, 130.0, 50.0 } });
    quantizeTimeline (clip.events, 125.0, 100, 0);
    const auto t = timesOf (clip.events);
    int open = 0;
    for (size_t i = 0; i < clip.events.size(); ++i)
    {
        open += clip.events[i].isNoteOn ? 1 : -1;
        EXPECT_GE (open, 0) << "a note-off before its note-on at " << t[i];
    }
    EXPECT_EQ (open, 0);
}

TEST (Timeline, NegativeAmountHumanizesDeterministically)
{
    const auto original = makeClip ({ { 60, 0.0, 50.0 }, { 62, 260.0, 50.0 }, { 64, 510.0, 50.0 } });

    auto a = original, b = original, c = original;
    quantizeTimeline (a.events, 125.0, -100, 42);
    quantizeTimeline (b.events, 125.0, -100, 42);
    quantizeTimeline (c.events, 125.0, -100, 43);

    EXPECT_TRUE (sameSeqEvents (a.events, b.events));
    EXPECT_FALSE (sameSeqEvents (a.events, c.events));

    // The first note-on is never humanized; the others move away from the grid
    // (260 -> 270, 510 -> 520) plus a jitter of at most 45 ms either way.
    EXPECT_EQ (timeOf (a.events, 60, true), 0.0);
    EXPECT_NEAR (timeOf (a.events, 62, true), 270.0, 45.0);
    EXPECT_NEAR (timeOf (a.events, 64, true), 520.0, 45.0);
    EXPECT_NEAR (timeOf (a.events, 62, false) - timeOf (a.events, 62, true), 50.0, 1e-9);
}

TEST (Timeline, HumanizedChordSpreadsAroundItsShiftedTime)
{
    const auto original = makeClip ({ { 50, 0.0, 400.0 }, { 60, 260.0, 100.0 }, { 64, 270.0, 100.0 }, { 67, 280.0, 100.0 } });
    auto clip = original;
    quantizeTimeline (clip.events, 125.0, -100, 7);
    for (const auto& [note, raw] : { std::pair { 60, 260.0 }, { 64, 270.0 }, { 67, 280.0 } })
    {
        const double shifted = raw + (std::round (raw / 125.0) * 125.0 - raw) * -1.0;
        EXPECT_NEAR (timeOf (clip.events, note, true), shifted, 24.0) << note;
    }
}

TEST (Timeline, QuantizeIgnoresBadGrids)
{
    auto clip = makeClip ({ { 60, 10.0, 100.0 } });
    const auto before = clip.events;
    quantizeTimeline (clip.events, 0.0, 100, 0);
    quantizeTimeline (clip.events, -5.0, 100, 0);
    quantizeTimeline (clip.events, std::nan (""), 100, 0);
    EXPECT_TRUE (sameSeqEvents (before, clip.events));

    std::vector<SeqEvent> empty;
    quantizeTimeline (empty, 125.0, 100, 0);
    EXPECT_TRUE (empty.empty());
}

TEST (Timeline, CropToLoopWindow)
{
    // Window 4000 ms: the note at 4500 goes, the note held from 3500 is cut at 4000.
    auto clip = makeClip ({ { 60, 0.0, 500.0 }, { 62, 3500.0, 1000.0 }, { 64, 4500.0, 200.0 }, { 65, 4000.0, 100.0 } });
    cropToLoopWindow (clip.events, 4000.0);

    EXPECT_EQ (timeOf (clip.events, 60, false), 500.0);
    EXPECT_EQ (timeOf (clip.events, 62, false), 4000.0);
    EXPECT_EQ (timeOf (clip.events, 64, true), -1.0);
    EXPECT_EQ (timeOf (clip.events, 65, true), 4000.0);   // starts exactly at the end: kept
    EXPECT_EQ (timeOf (clip.events, 65, false), 4000.0);

    // A note-off without an open note goes; a note left open stays open.
    std::vector<SeqEvent> odd { { 70, 0, 1, false, 10 }, { 71, 100, 1, true, 10 } };
    cropToLoopWindow (odd, 100.0);
    ASSERT_EQ (odd.size(), 1u);
    EXPECT_TRUE (odd[0].isNoteOn);
    EXPECT_EQ (odd[0].waitMs, 20.0);
}

TEST (Timeline, LegatoSeek)
{
    const auto clip = makeClip ({ { 60, 0.0, 300.0 }, { 62, 100.0, 100.0 }, { 64, 400.0, 100.0 } });
    std::vector<int> open;
    size_t next = 0;
    double toNext = 0.0;

    ASSERT_TRUE (legatoSeek (clip.events, 150.0, 48.0, next, toNext, open));
    // At 150 ms: 60 and 62 are open, the next event is 62's note-off at 200 ms.
    ASSERT_EQ (open.size(), 2u);
    EXPECT_EQ (clip.events[(size_t) open[0]].note, 60);
    EXPECT_EQ (clip.events[(size_t) open[1]].note, 62);
    EXPECT_FALSE (clip.events[next].isNoteOn);
    EXPECT_NEAR (toNext, 50.0 * 48.0, 1e-9);

    ASSERT_TRUE (legatoSeek (clip.events, 350.0, 48.0, next, toNext, open));
    EXPECT_TRUE (open.empty());
    EXPECT_EQ (clip.events[next].note, 64);

    EXPECT_FALSE (legatoSeek (clip.events, 0.0, 48.0, next, toNext, open));
    EXPECT_FALSE (legatoSeek (clip.events, 500.0, 48.0, next, toNext, open));
    EXPECT_FALSE (legatoSeek ({ clip.events[0] }, 10.0, 48.0, next, toNext, open));
}
