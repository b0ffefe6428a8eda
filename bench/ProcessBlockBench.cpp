// processBlock per block at 48 kHz with 128-sample blocks. The "rt_%" counter
// is the share of the block's real-time budget (128 / 48000 s) one block takes.
#include <benchmark/benchmark.h>

#include "engine/PluginProcessor.h"
#include "tests/harness/EngineHarness.h"

namespace
{
constexpr double rate = 48000.0;
constexpr int blockSize = 128;
constexpr double budgetSeconds = blockSize / rate;

struct Host
{
    Host()
    {
        processor.setPlayHead (&playHead);
        processor.prepareToPlay (rate, blockSize);
        audio.setSize (2, blockSize);
        midi.ensureSize (64 * 1024);
    }

    void block()
    {
        processor.processBlock (audio, midi);
        eventsSent += midi.getNumEvents();
        midi.clear();
    }

    int64_t eventsSent = 0;

    qtest::FakePlayHead playHead;
    PluginProcessor processor;
    juce::AudioBuffer<float> audio;
    juce::MidiBuffer midi;
};

KeySequence densePhrase (int key, int notes, double spacingMs)
{
    std::vector<qtest::ClipNote> list;
    for (int i = 0; i < notes; ++i)
        list.push_back ({ 36 + (key * 7 + i * 5) % 60, i * spacingMs, spacingMs * 0.75, 40 + i % 80, 1 + i % 4 });
    return qtest::makeClip (list, 120.0);
}

void report (benchmark::State& state, const Host& host)
{
    state.counters["midi_out/block"] = benchmark::Counter ((double) host.eventsSent, benchmark::Counter::kAvgIterations);
    state.counters["rt_%"] = benchmark::Counter (budgetSeconds * (double) state.iterations() / 100.0,
                                                 benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void idle (benchmark::State& state)
{
    Host host;
    for (auto _ : state)
        host.block();
    report (state, host);
}

void sixteenDenseLoops (benchmark::State& state)
{
    Host host;
    auto& p = host.processor;
    p.loopEnabled.store (true);

    const int keys[16] = { 24, 27, 30, 33, 36, 39, 42, 45, 62, 65, 68, 71, 74, 77, 80, 83 };
    for (int key : keys)
    {
        p.keys[(size_t) key] = densePhrase (key, 250, 8.0);   // 500 events, 2 s
        host.midi.addEvent (juce::MidiMessage::noteOn (1, key, (juce::uint8) 100), 0);
    }
    for (int i = 0; i < 400; ++i)
        host.block();

    host.eventsSent = 0;
    for (auto _ : state)
        host.block();
    report (state, host);
}

void allKeysLoopingWithOverlaps (benchmark::State& state)
{
    Host host;
    auto& p = host.processor;
    p.loopEnabled.store (true);

    std::vector<int> playable;
    for (int key = 0; key < 128; ++key)
    {
        if (key >= 48 && key < 60)
            continue;
        playable.push_back (key);
        p.keys[(size_t) key] = densePhrase (key, 24, 40.0);
        host.midi.addEvent (juce::MidiMessage::noteOn (1, key, (juce::uint8) 100), 0);
    }

    // One-shot retriggers keep up to 16 overlaps running.
    size_t next = 0;
    auto retrigger = [&]
    {
        for (int i = 0; i < 4; ++i, ++next)
        {
            const int key = playable[next % playable.size()];
            host.midi.addEvent (juce::MidiMessage::noteOff (1, key), 0);
            host.midi.addEvent (juce::MidiMessage::noteOn (1, key, (juce::uint8) 90), 1);
        }
    };

    for (int i = 0; i < 400; ++i)
    {
        if (i % 8 == 0)
            retrigger();
        host.block();
    }

    host.eventsSent = 0;
    int blockIndex = 0;
    for (auto _ : state)
    {
        if (++blockIndex % 8 == 0)
            retrigger();
        host.block();
    }
    state.counters["overlaps"] = (double) p.overlapVoices.size();
    report (state, host);
}

void audioVoices (benchmark::State& state, StretchProcessor::Engine engine)
{
    Host host;
    auto& p = host.processor;
    p.stretchEngine = engine;
    p.prepareToPlay (rate, blockSize);
    p.loopEnabled.store (true);

    std::vector<std::pair<int, std::shared_ptr<const KeyAudio>>> audio;
    for (int i = 0; i < 16; ++i)
    {
        auto a = std::make_shared<KeyAudio>();
        a->buffer.setSize (2, 96000);
        for (int n = 0; n < 96000; ++n)
            for (int c = 0; c < 2; ++c)
                a->buffer.setSample (c, n, (float) (0.3 * std::sin (n * (0.02 + 0.001 * i))));
        a->sampleRate = 48000.0;
        a->rootNote = i < 8 ? 60 : -1;   // eight transposed, eight at their own pitch
        audio.push_back ({ 62 + i, a });
    }
    qtest::loadAudioKeys (p, audio);
    p.loopEnabled.store (true);
    for (int i = 0; i < 16; ++i)
        host.midi.addEvent (juce::MidiMessage::noteOn (1, 62 + i, (juce::uint8) 100), i);
    for (int i = 0; i < 100; ++i)
        host.block();

    host.eventsSent = 0;
    for (auto _ : state)
        host.block();
    int transposed = 0;
    for (const auto& v : p.audioVoices)
        transposed += v.active && v.stretcherSlot >= 0 ? 1 : 0;
    state.counters["transposed"] = transposed;
    report (state, host);
}
}

BENCHMARK (idle);
BENCHMARK_CAPTURE (audioVoices, faster_R2, StretchProcessor::Engine::faster);
BENCHMARK_CAPTURE (audioVoices, finer_R3, StretchProcessor::Engine::finer);
BENCHMARK (sixteenDenseLoops);
BENCHMARK (allKeysLoopingWithOverlaps);

int main (int argc, char** argv)
{
    const auto dataFolder = qtest::useTemporaryDataFolder();
    {
        const juce::ScopedJuceInitialiser_GUI juce;
        benchmark::Initialize (&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    dataFolder.deleteRecursively();
    return 0;
}
