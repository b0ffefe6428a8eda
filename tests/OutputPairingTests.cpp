#include <gtest/gtest.h>

#include "engine/OutputPairing.h"

namespace
{
struct Sent
{
    int pos;
    juce::MidiMessage msg;
};

// Runs one block through the pairing pass and returns what the host gets.
std::vector<Sent> pass (OutputNoteTable& table, int64_t blockStart, const std::vector<Sent>& in)
{
    juce::MidiBuffer buffer, result;
    for (const auto& s : in)
        buffer.addEvent (s.msg, s.pos);

    pairOutputNotes (buffer, result, table, blockStart);

    std::vector<Sent> out;
    for (const auto meta : result)
        out.push_back ({ meta.samplePosition, meta.getMessage() });
    return out;
}

juce::MidiMessage on (int ch, int key) { return juce::MidiMessage::noteOn (ch, key, (juce::uint8) 100); }
juce::MidiMessage off (int ch, int key) { return juce::MidiMessage::noteOff (ch, key, (juce::uint8) 0); }
}

TEST (OutputPairing, DuplicateAtSameInstantReachesHostOnceAndEndsAfterSecondEnd)
{
    OutputNoteTable t;
    auto out = pass (t, 0, { { 10, on (1, 60) }, { 10, on (1, 60) } });
    ASSERT_EQ (out.size(), 1u);
    EXPECT_TRUE (out[0].msg.isNoteOn());
    EXPECT_EQ (t.count[0][60], 2);

    out = pass (t, 512, { { 5, off (1, 60) } });
    EXPECT_TRUE (out.empty());

    out = pass (t, 1024, { { 7, off (1, 60) } });
    ASSERT_EQ (out.size(), 1u);
    EXPECT_TRUE (out[0].msg.isNoteOff());
    EXPECT_EQ (out[0].pos, 7);
    EXPECT_EQ (t.count[0][60], 0);
}

TEST (OutputPairing, NoteOnOverHeldNoteIsPrecededByNoteOff)
{
    OutputNoteTable t;
    pass (t, 0, { { 0, on (3, 64) } });

    const auto out = pass (t, 512, { { 20, on (3, 64) } });
    ASSERT_EQ (out.size(), 2u);
    EXPECT_TRUE (out[0].msg.isNoteOff());
    EXPECT_EQ (out[0].pos, 20);
    EXPECT_EQ (out[0].msg.getChannel(), 3);
    EXPECT_TRUE (out[1].msg.isNoteOn());
    EXPECT_EQ (out[1].pos, 20);
    EXPECT_EQ (t.count[2][64], 2);
}

TEST (OutputPairing, SameInstantIsMeasuredOnTheEngineClock)
{
    // Position 10 of two different blocks is not the same instant.
    OutputNoteTable t;
    pass (t, 0, { { 10, on (1, 60) } });
    const auto out = pass (t, 512, { { 10, on (1, 60) } });
    ASSERT_EQ (out.size(), 2u);
    EXPECT_TRUE (out[0].msg.isNoteOff());
}

TEST (OutputPairing, StrayNoteOffsAndOtherMessagesPass)
{
    OutputNoteTable t;
    const auto velocityZeroOn = juce::MidiMessage::noteOn (2, 50, (juce::uint8) 0);
    const auto bend = juce::MidiMessage::pitchWheel (1, 9000);
    const auto cc = juce::MidiMessage::controllerEvent (1, 7, 90);

    const auto out = pass (t, 0, { { 0, off (1, 60) }, { 1, velocityZeroOn }, { 2, bend }, { 3, cc } });
    ASSERT_EQ (out.size(), 4u);
    EXPECT_TRUE (out[0].msg.isNoteOff());
    EXPECT_TRUE (out[1].msg.isNoteOff());
    EXPECT_TRUE (out[2].msg.isPitchWheel());
    EXPECT_TRUE (out[3].msg.isController());
    EXPECT_EQ (t.count[0][60], 0);
    EXPECT_EQ (t.count[1][50], 0);
}

TEST (OutputPairing, ChannelsAndKeysAreIndependent)
{
    OutputNoteTable t;
    const auto out = pass (t, 0, { { 4, on (1, 60) }, { 4, on (2, 60) }, { 4, on (1, 61) } });
    EXPECT_EQ (out.size(), 3u);

    const auto offs = pass (t, 512, { { 0, off (2, 60) } });
    ASSERT_EQ (offs.size(), 1u);
    EXPECT_EQ (t.count[0][60], 1);
}
