#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "engine/PluginProcessor.h"

namespace
{
SeqEvent on (int note, double waitMs) { return { note, 100, 1, true, waitMs }; }
SeqEvent off (int note, double waitMs) { return { note, 0, 1, false, waitMs }; }

KeySequence make (std::vector<SeqEvent> events)
{
    KeySequence s;
    s.events = std::move (events);
    s.recompute();
    return s;
}

struct FlagCase
{
    const char* name;
    std::vector<SeqEvent> events;
    int noteOns;
    bool single;
    bool chord;
};
}

TEST (KeySequence, DerivedFlags)
{
    const FlagCase cases[] = {
        { "empty", {}, 0, false, false },
        { "one note", { on (60, 0), off (60, 500) }, 1, true, false },
        { "chord within 50 ms", { on (60, 0), on (64, 20), on (67, 30), off (60, 400), off (64, 0), off (67, 0) }, 3, false, true },
        { "third note at 51 ms", { on (60, 0), on (64, 20), on (67, 31), off (60, 400), off (64, 0), off (67, 0) }, 3, false, false },
        { "note-on after a note-off", { on (60, 0), off (60, 0), on (64, 0), off (64, 10) }, 2, false, false },
        { "two notes, no note-offs", { on (60, 0), on (62, 50) }, 2, false, true },
        { "only note-offs", { off (60, 0), off (62, 10) }, 0, false, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto s = make (c.events);
        EXPECT_EQ (s.noteOnCount, c.noteOns);
        EXPECT_EQ (s.isSingleNote, c.single);
        EXPECT_EQ (s.isChord, c.chord);
    }
}

TEST (KeySequence, RecomputeForgetsOldFlags)
{
    auto s = make ({ on (60, 0), on (64, 10), off (60, 100), off (64, 0) });
    ASSERT_TRUE (s.isChord);

    s.events.clear();
    s.recompute();
    EXPECT_EQ (s.noteOnCount, 0);
    EXPECT_FALSE (s.isChord);
    EXPECT_FALSE (s.isSingleNote);
}

TEST (KeySequence, SameSeqEventsIsExact)
{
    const std::vector<SeqEvent> a { on (60, 0), off (60, 250.0) };
    auto b = a;
    EXPECT_TRUE (sameSeqEvents (a, b));
    EXPECT_TRUE (sameSeqEvents ({}, {}));

    b[1].waitMs += 1e-12;
    EXPECT_FALSE (sameSeqEvents (a, b));

    b = a;
    b[0].channel = 2;
    EXPECT_FALSE (sameSeqEvents (a, b));

    b = a;
    b.pop_back();
    EXPECT_FALSE (sameSeqEvents (a, b));

    std::vector<SeqEvent> withNaN { on (60, std::numeric_limits<double>::quiet_NaN()) };
    EXPECT_FALSE (sameSeqEvents (withNaN, withNaN));
}

TEST (KeySequence, GetKeySequenceRangeAndLayers)
{
    PluginProcessor p;
    p.keys[60] = make ({ on (60, 0), off (60, 100) });
    p.keys[60].bpm = 90.0;
    p.upperKeys[1][60] = make ({ on (72, 0), off (72, 100), on (74, 10), off (74, 10) });

    for (int key : { -1, 128, 1000 })
    {
        const auto s = p.getKeySequence (key, 0);
        EXPECT_TRUE (s.events.empty()) << key;
        EXPECT_EQ (s.bpm, 120.0);
        EXPECT_EQ (s.tailMs, 0.0);
    }

    EXPECT_EQ (p.getKeySequence (60, 0).bpm, 90.0);
    EXPECT_EQ (p.getKeySequence (60, 7).bpm, 90.0);   // not an upper layer: layer 0
    EXPECT_EQ (p.getKeySequence (60, -3).bpm, 90.0);
    EXPECT_EQ (p.getKeySequence (60, 2).noteOnCount, 2);
    EXPECT_TRUE (p.getKeySequence (60, 1).events.empty());
}
