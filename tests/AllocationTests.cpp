// Counts heap allocations made while processBlock runs. Lives in its own test
// program because it replaces the global allocation functions.
#include <atomic>
#include <cstdlib>
#include <cmath>
#include <functional>
#include <new>

#include <gtest/gtest.h>

#include "tests/harness/EngineHarness.h"

namespace
{
std::atomic<bool> counting { false };
std::atomic<long> allocations { 0 };

void startCounting() { counting.store (true); }
void stopCounting() { counting.store (false); }

void* allocate (std::size_t size)
{
    if (counting.load (std::memory_order_relaxed))
        allocations.fetch_add (1, std::memory_order_relaxed);

    if (void* p = std::malloc (size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
}

void* operator new (std::size_t size) { return allocate (size); }
void* operator new[] (std::size_t size) { return allocate (size); }
void* operator new (std::size_t size, const std::nothrow_t&) noexcept
{
    try { return allocate (size); } catch (...) { return nullptr; }
}
void* operator new[] (std::size_t size, const std::nothrow_t&) noexcept
{
    try { return allocate (size); } catch (...) { return nullptr; }
}
void operator delete (void* p) noexcept { std::free (p); }
void operator delete[] (void* p) noexcept { std::free (p); }
void operator delete (void* p, std::size_t) noexcept { std::free (p); }
void operator delete[] (void* p, std::size_t) noexcept { std::free (p); }

namespace
{
// A minute of busy playing: notes on many channels (some an octave down, so
// they collide), pedals, controllers, bends, pressure, transport starts and
// stops, modifier toggles, stop requests and all-notes-off.
void scheduleTraffic (qtest::EngineHarness& h, int64_t from, int64_t to)
{
    int step = 0;
    for (int64_t t = from; t < to; t += 97, ++step)
    {
        const int key = 60 + (step * 7) % 40;
        const int channel = 1 + step % 16;
        h.noteOn (t, key, 1 + step % 127, channel);
        h.noteOff (t + 500, key, channel);

        if (step % 5 == 0)
            h.controller (t + 3, 64, (step % 2) * 127, channel);
        if (step % 7 == 0)
            h.schedule (t + 5, juce::MidiMessage::pitchWheel (channel, 8192 + step));
        if (step % 11 == 0)
            h.schedule (t + 7, juce::MidiMessage::channelPressureChange (channel, step % 128));
        if (step % 13 == 0)
        {
            h.noteOn (t + 9, h.modifierKey (PluginProcessor::modTransposeDown));
            h.noteOn (t + 9, key + 12, 90, channel);
            h.noteOff (t + 400, key + 12, channel);
            h.noteOff (t + 401, h.modifierKey (PluginProcessor::modTransposeDown));
        }
    }
}
}

namespace
{
// Phrases on a third of the keys: short ones, dense 500-event ones and chords.
void putClips (qtest::EngineHarness& h)
{
    for (int key = 24; key < 108; key += 3)
    {
        if (key >= 48 && key < 60)
            continue;

        std::vector<qtest::ClipNote> notes;
        const int count = key % 2 == 0 ? 250 : 12;
        for (int i = 0; i < count; ++i)
            notes.push_back ({ 36 + (key + i * 5) % 60, i * 8.0, 6.0, 30 + i % 90, 1 + i % 3 });
        h.setClip (key, qtest::makeClip (notes, 90.0 + key, key % 5 == 0 ? 40.0 : 0.0));
    }
    h.setClip (100, qtest::makeClip ({ { 60, 0, 100 }, { 64, 10, 100 }, { 67, 20, 100 } }));
}

void runCounted (qtest::EngineHarness& h, int64_t until, const std::function<void (int)>& perBlock)
{
    h.beforeBlock = startCounting;
    h.afterBlock = stopCounting;
    for (int block = 0; h.now() < until; ++block)
    {
        perBlock (block);
        h.runBlocks (1);
    }
    h.beforeBlock = nullptr;
    h.afterBlock = nullptr;
}
}

TEST (Allocation, SteadyStateProcessBlockDoesNotAllocate)
{
    qtest::EngineHarness h ({ 48000.0, 128, true, true });
    auto& p = h.proc();

    // Warm up the paths once, outside the counted run.
    scheduleTraffic (h, 0, 48000);
    h.runUntil (48000);

    scheduleTraffic (h, 48000, 48000 * 60);
    allocations.store (0);
    runCounted (h, 48000 * 60, [&] (int block)
    {
        if (block % 700 == 0)
            h.playHead.playing = ! h.playHead.playing;
        if (block % 333 == 0)
            p.modifierToggleRequests.fetch_or (1u << PluginProcessor::modSpeedUp);
        if (block % 450 == 0)
            p.stopKeyRequests[0][0].fetch_or (1ull << 61);
        if (block % 900 == 0)
            p.allNotesOffRequested.store (true);
    });

    EXPECT_EQ (allocations.load(), 0);
    EXPECT_GT (h.output().size(), 1000u);
}

TEST (Allocation, ClipsStartingWrappingAndOverlappingDoNotAllocate)
{
    qtest::EngineHarness h ({ 48000.0, 128, true, true });
    auto& p = h.proc();
    putClips (h);
    p.loopEnabled.store (true);

    // One-shot retriggers make overlaps; the loop window, launch quantize,
    // input quantize with humanize and speed changes come and go.
    auto settings = [&] (int block)
    {
        const int phase = (block / 1500) % 4;
        p.loopLengthIdx.store (phase == 1 ? 3 : (phase == 2 ? 1 : -1));
        p.launchQuantPower.store (phase >= 2);
        p.inputQuantPower.store (phase == 3);
        p.inputQuantAmount.store (phase == 3 ? -60 : 100);
        p.legato.store (phase == 1);
        if (block % 1500 == 10)
            p.requantizeRequested.store (true);
        if (block % 900 == 0)
            p.modifierToggleRequests.fetch_or (1u << PluginProcessor::modSlowDown);
        if (block % 2000 == 0)
            h.playHead.playing = ! h.playHead.playing;
    };

    scheduleTraffic (h, 0, 48000 * 240);
    for (int block = 0; h.now() < 48000 * 60; ++block)
    {
        settings (block);
        h.runBlocks (1);
    }

    allocations.store (0);
    int block = (int) (h.now() / 128);
    runCounted (h, 48000 * 240, [&] (int) { settings (block++); });

    EXPECT_EQ (allocations.load(), 0);
    EXPECT_GT (h.output().size(), 100000u);
}

TEST (Allocation, CapturingDoesNotAllocateWithinTheReservedTake)
{
    qtest::EngineHarness h ({ 48000.0, 128, true, true });
    auto& p = h.proc();

    // Arming (which saves the destination for undo) happens outside the count;
    // so does the commit. In between, ten seconds of busy playing are captured.
    const int record = h.modifierKey (PluginProcessor::modRecord);
    h.noteOn (64, record);
    h.runUntil (256);
    ASSERT_TRUE (p.captureArmed);

    scheduleTraffic (h, 256, 48000 * 10);
    allocations.store (0);
    runCounted (h, 48000 * 10, [] (int) {});
    EXPECT_EQ (allocations.load(), 0);
    EXPECT_GT (p.captureEvents.size(), 1000u);
    EXPECT_LE (p.captureEvents.size(), PluginProcessor::captureReserveEvents);

    h.noteOff (h.now(), record);
    h.runBlocks (2);
    EXPECT_FALSE (p.captureArmed);
}

TEST (Allocation, AudioVoicesStartRenderRetuneAndEndWithoutAllocating)
{
    qtest::EngineHarness h ({ 48000.0, 128, true, true });
    auto& p = h.proc();

    std::vector<std::pair<int, std::shared_ptr<const KeyAudio>>> audio;
    for (int i = 0; i < 16; ++i)
    {
        auto a = std::make_shared<KeyAudio>();
        a->buffer.setSize (2, 24000);
        for (int n = 0; n < 24000; ++n)
            a->buffer.setSample (n % 2, n, (float) std::sin (n * 0.03));
        a->sampleRate = i % 2 == 0 ? 44100.0 : 48000.0;
        a->rootNote = i < 8 ? 60 : -1;   // eight transposed, eight at their own pitch
        audio.push_back ({ 62 + i, a });
    }
    qtest::loadAudioKeys (p, audio);

    auto traffic = [&] (int64_t from, int64_t to)
    {
        for (int64_t t = from; t < to; t += 4800)
        {
            for (int i = 0; i < 16; ++i)
                h.noteOn (t + i * 7, 62 + i, 100);
            h.noteOn (t + 1200, h.modifierKey (PluginProcessor::modTransposeUp));
            h.noteOff (t + 2400, h.modifierKey (PluginProcessor::modTransposeUp));
            for (int i = 0; i < 16; i += 3)
                h.noteOff (t + 3600 + i, 62 + i);
        }
    };

    traffic (0, 48000 * 2);
    h.runUntil (48000 * 2);
    traffic (48000 * 2, 48000 * 6);
    allocations.store (0);
    runCounted (h, 48000 * 6, [] (int) {});
    EXPECT_EQ (allocations.load(), 0);
}
