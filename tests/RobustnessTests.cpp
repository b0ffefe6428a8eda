#include <array>
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "engine/PluginProcessor.h"
#include "tests/harness/EngineHarness.h"

using qtest::EngineHarness;
using qtest::makeClip;

namespace
{
// Which notes the host holds (1) after everything sent so far, by channel and key.
std::array<std::array<int, 128>, 16> heldByHost (const std::vector<qtest::TimedMessage>& output)
{
    std::array<std::array<int, 128>, 16> held {};
    for (const auto& m : output)
        if (m.message.isNoteOnOrOff())
            held[(size_t) m.message.getChannel() - 1][(size_t) m.message.getNoteNumber()] = m.message.isNoteOn() ? 1 : 0;
    return held;
}

// Every note the host was sent has ended once every key of every layer is
// stopped and the all-notes-off request has gone through; the engine's own
// note count agrees with what the host holds.
void expectEverythingEnded (EngineHarness& h)
{
    auto& p = h.proc();
    for (auto& layer : p.stopKeyRequests)
        for (auto& mask : layer)
            mask.store (~0ull);
    h.runBlocks (1);

    const auto held = heldByHost (h.output());
    for (int c = 0; c < 16; ++c)
        for (int k = 0; k < 128; ++k)
            if (held[(size_t) c][(size_t) k] != 0)
                EXPECT_GE (p.outputNotes.count[(size_t) c][(size_t) k], 1) << "uncounted: channel " << c + 1 << " key " << k;

    p.allNotesOffRequested.store (true);
    h.runBlocks (1);

    const auto open = heldByHost (h.output());
    for (int c = 0; c < 16; ++c)
        for (int k = 0; k < 128; ++k)
            EXPECT_EQ (open[(size_t) c][(size_t) k], 0) << "channel " << c + 1 << " key " << k;
}
}

TEST (Robustness, RandomHostTrafficAndSettingChanges)
{
    EngineHarness h ({ 44100.0, 97, true, true });
    auto& p = h.proc();
    juce::Random random (1234);

    for (int k = 24; k < 108; k += 5)
        h.setClip (k, makeClip ({ { k % 12 + 60, 0, 80 }, { k % 12 + 64, 90, 200 }, { k % 12 + 67, 120, 40 } },
                                60.0 + k), k % 4);

    for (int block = 0; block < 4000; ++block)
    {
        // Messages of every kind and length, some malformed.
        const int count = random.nextInt (6);
        for (int i = 0; i < count; ++i)
        {
            const int kind = random.nextInt (10);
            const auto t = h.now() + random.nextInt (97);
            if (kind < 5)
                h.noteOn (t, random.nextInt (128), random.nextInt (128), 1 + random.nextInt (16));
            else if (kind < 8)
                h.noteOff (t, random.nextInt (128), 1 + random.nextInt (16));
            else
            {
                // Controllers (pedals among them), pressure, program changes, bends.
                const int status = 0xa0 + 0x10 * random.nextInt (5);
                const int size = status == 0xc0 || status == 0xd0 ? 2 : 3;
                juce::uint8 bytes[3] = { (juce::uint8) (status | random.nextInt (16)), (juce::uint8) random.nextInt (128),
                                         (juce::uint8) random.nextInt (128) };
                h.schedule (t, juce::MidiMessage (bytes, size));
            }
        }

        if (block % 37 == 0)
        {
            p.triggerMode.store (random.nextInt (3));
            p.monoMode.store (random.nextBool());
            p.legato.store (random.nextBool());
            p.loopEnabled.store (random.nextBool());
            p.loopLengthIdx.store (random.nextInt (9) - 1);
            p.launchQuantPower.store (random.nextBool());
            p.launchQuantNote.store (random.nextInt (6));
            p.inputQuantPower.store (random.nextBool());
            p.inputQuantAmount.store (random.nextInt (201) - 100);
            p.keyboardInteraction.store (random.nextInt (3));
            p.visibleLayers.store (1 + random.nextInt (4));
            p.velModSource.store (1 + random.nextInt (4));
            p.requantizeRequested.store (true);
        }
        if (block % 211 == 0)
            h.playHead.playing = ! h.playHead.playing;
        if (block % 173 == 0)
            p.pendingModOctaveBase.store (random.nextInt (120));
        if (block % 89 == 0)
            p.modifierToggleRequests.fetch_or (1u << random.nextInt (12));
        if (block % 301 == 0)
            p.undoRedoRequest.store (random.nextBool() ? 1 : -1);

        h.runBlocks (1);
    }

    expectEverythingEnded (h);
}

TEST (Robustness, OddBlockSizesAndRates)
{
    for (const auto& [rate, block] : { std::pair { 8000.0, 1 }, { 192000.0, 4096 }, { 44100.0, 3 } })
    {
        SCOPED_TRACE (block);
        EngineHarness h ({ rate, block, true, true });
        h.setClip (60, makeClip ({ { 60, 0, 100 }, { 62, 100, 100 } }));
        h.noteOn (0, 60);
        h.noteOn (5, 61);
        h.noteOff ((int64_t) (rate * 0.5), 61);
        const auto out = h.runUntil ((int64_t) rate);
        EXPECT_FALSE (qtest::noteOnsOf (out).empty());
        expectEverythingEnded (h);
    }
}

TEST (Robustness, EditorThreadWorksWhileTheAudioThreadPlays)
{
    PluginProcessor p;
    p.prepareToPlay (48000.0, 64);
    for (int k = 30; k < 100; ++k)
        p.keys[(size_t) k] = makeClip ({ { k, 0, 50 }, { k + 1, 60, 50 } });

    juce::MemoryBlock stateA, stateB;
    p.getStateInformation (stateA);
    for (int k = 30; k < 100; ++k)
        p.keys[(size_t) k] = makeClip ({ { k, 0, 20 }, { k + 2, 30, 20 }, { k + 3, 60, 20 } });
    p.getStateInformation (stateB);

    std::atomic<bool> running { true };
    std::atomic<int> blocks { 0 };
    std::thread audio ([&]
    {
        juce::AudioBuffer<float> buffer (2, 64);
        juce::MidiBuffer midi;
        juce::Random random (5);
        while (running.load())
        {
            midi.clear();
            midi.addEvent (juce::MidiMessage::noteOn (1, 30 + random.nextInt (70), (juce::uint8) 100), random.nextInt (64));
            midi.addEvent (juce::MidiMessage::noteOff (1, 30 + random.nextInt (70)), random.nextInt (64));
            p.processBlock (buffer, midi);
            ++blocks;
        }
    });

    // What an editor and a host do meanwhile, each under the lock for its copy.
    const auto until = juce::Time::getMillisecondCounter() + 1500;
    int loads = 0;
    while (juce::Time::getMillisecondCounter() < until)
    {
        const auto& s = (loads++ % 2 == 0) ? stateA : stateB;
        p.setStateInformation (s.getData(), (int) s.getSize());
        p.applyKeyEdits ({ { 40, makeClip ({ { 40, 0, 10 } }) } }, { 41 }, {}, 0);
        juce::ignoreUnused (p.getActivePlayheads (0), p.getActiveSoundingIndices (0), p.getActiveHeldKeys (0));
        const auto seq = p.getKeySequence (50, 0);
        EXPECT_TRUE (seq.noteOnCount == 2 || seq.noteOnCount == 3);   // one whole state or the other
        p.allNotesOffRequested.store (true);
    }

    running.store (false);
    audio.join();
    EXPECT_GT (blocks.load(), 100);
    EXPECT_GT (loads, 10);
}
