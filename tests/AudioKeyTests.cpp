#include <cmath>

#include <gtest/gtest.h>

#include "engine/AudioLinkHub.h"
#include "engine/PluginProcessor.h"
#include "tests/harness/EngineHarness.h"

using qtest::EngineHarness;
using qtest::makeClip;

namespace
{
using P = PluginProcessor;

std::shared_ptr<const KeyAudio> sine (double frequency, double rate, int frames, int root = -1, int channels = 1)
{
    auto a = std::make_shared<KeyAudio>();
    a->buffer.setSize (channels, frames);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < frames; ++i)
            a->buffer.setSample (c, i, (float) (0.5 * std::sin (2.0 * juce::MathConstants<double>::pi * frequency * i / rate)));
    a->sampleRate = rate;
    a->rootNote = root;
    return a;
}

std::shared_ptr<const KeyAudio> constant (float value, double rate, int frames)
{
    auto a = std::make_shared<KeyAudio>();
    a->buffer.setSize (1, frames);
    for (int i = 0; i < frames; ++i)
        a->buffer.setSample (0, i, value);
    a->sampleRate = rate;
    return a;
}

// Fundamental from rising zero crossings over [from, to).
double measuredFrequency (const std::vector<float>& s, size_t from, size_t to, double rate)
{
    int crossings = 0;
    double first = -1.0, last = -1.0;
    for (size_t i = from + 1; i < to && i < s.size(); ++i)
    {
        if (s[i - 1] < 0.0f && s[i] >= 0.0f)
        {
            const double t = (double) (i - 1) + s[i - 1] / (s[i - 1] - s[i]);
            if (first < 0.0)
                first = t;
            last = t;
            ++crossings;
        }
    }
    return crossings > 1 ? (crossings - 1) * rate / (last - first) : 0.0;
}

size_t lastNonZero (const std::vector<float>& s)
{
    for (size_t i = s.size(); i-- > 0;)
        if (std::abs (s[i]) > 1e-6f)
            return i;
    return 0;
}
}

TEST (AudioKeys, AudioAtItsOwnRateIsResampledAndEndsInTime)
{
    EngineHarness h ({ 44100.0, 128, true, true });
    auto& p = h.proc();
    qtest::loadAudioKeys (p, { { 60, constant (0.5f, 48000.0, 4800) } });
    h.captureAudio = true;
    h.noteOn (0, 60);
    h.runBlocks (1);
    EXPECT_NEAR (p.audioVoices[60].rate, 48000.0 / 44100.0, 1e-12);

    h.runUntil (10000);
    EXPECT_FALSE (p.audioVoices[60].active);
    EXPECT_NEAR ((double) lastNonZero (h.audioOut[0]), 4800.0 / (48000.0 / 44100.0), 2.0);
    EXPECT_NEAR (h.audioOut[1][2000], 0.5f * 100.0f / 127.0f, 1e-6f);   // mono audio on both channels, at velocity gain
}

TEST (AudioKeys, RootOnItsOwnKeyPlaysUntransposed)
{
    EngineHarness h ({ 44100.0, 128, true, true });
    auto& p = h.proc();
    const auto audio = sine (441.0, 44100.0, 44100);
    qtest::loadAudioKeys (p, { { 64, audio } });
    h.captureAudio = true;
    h.noteOn (0, 64, 127);
    h.runUntil (4410);
    EXPECT_EQ (p.audioVoices[64].stretcherSlot, -1);
    for (int i = 200; i < 4000; i += 97)
        EXPECT_NEAR (h.audioOut[0][(size_t) i], audio->buffer.getSample (0, i), 1e-5f) << i;
}

TEST (AudioKeys, SevenSemitonesAboveTheRootSoundsAFifthHigher)
{
    EngineHarness h ({ 48000.0, 128, true, true });
    auto& p = h.proc();
    qtest::loadAudioKeys (p, { { 67, sine (220.0, 48000.0, 96000, 60) } });
    h.captureAudio = true;
    h.noteOn (0, 67, 127);
    h.runUntil (48000);
    EXPECT_GE (p.audioVoices[67].stretcherSlot, 0);

    const double f = measuredFrequency (h.audioOut[0], 9600, 43200, 48000.0);
    EXPECT_NEAR (f / 220.0, std::pow (2.0, 7.0 / 12.0), 0.01 * std::pow (2.0, 7.0 / 12.0));

    // Transpose up while it sounds: the voice is retuned an octave higher.
    h.noteOn (h.now(), h.modifierKey (P::modTransposeUp));
    h.runUntil (96000);
    const double g = measuredFrequency (h.audioOut[0], 48000 + 9600, 91200, 48000.0);
    EXPECT_NEAR (g / 220.0, std::pow (2.0, 19.0 / 12.0), 0.01 * std::pow (2.0, 19.0 / 12.0));
}

TEST (AudioKeys, ANinthTransposedKeyPlaysUntransposed)
{
    EngineHarness h;
    auto& p = h.proc();
    std::vector<std::pair<int, std::shared_ptr<const KeyAudio>>> audio;
    for (int i = 0; i < 9; ++i)
        audio.push_back ({ 62 + i, sine (200.0, 48000.0, 48000, 40) });
    qtest::loadAudioKeys (p, audio);
    for (int i = 0; i < 9; ++i)
        h.noteOn (10 + i, 62 + i);
    h.runBlocks (2);
    for (int i = 0; i < 8; ++i)
        EXPECT_GE (p.audioVoices[(size_t) (62 + i)].stretcherSlot, 0) << i;
    EXPECT_EQ (p.audioVoices[70].stretcherSlot, -1);
    EXPECT_TRUE (p.audioVoices[70].active);
}

TEST (AudioKeys, VelocityGivesTheGain)
{
    EngineHarness h;
    auto& p = h.proc();
    qtest::loadAudioKeys (p, { { 60, constant (1.0f, 48000.0, 4800) } });
    const std::lock_guard<std::mutex> lock (p.keyDataMutex);
    p.startAudioVoice (60, 0, 0.0, 48000.0, -1.0, false);
    EXPECT_FLOAT_EQ (p.audioVoices[60].gain, 1.0f / 127.0f);
    p.startAudioVoice (60, 200, 0.0, 48000.0, -1.0, false);
    EXPECT_FLOAT_EQ (p.audioVoices[60].gain, 1.0f);
}

TEST (AudioKeys, SlicesFollowTheClipsStepGroups)
{
    EngineHarness h ({ 44100.0, 128, true, true });
    auto& p = h.proc();
    qtest::loadAudioKeys (p, { { 60, constant (0.2f, 44100.0, 44100 * 2) } },
                          { { 60, makeClip ({ { 60, 0, 100 }, { 62, 500, 100 }, { 64, 1000, 100 } }) } });

    const std::lock_guard<std::mutex> lock (p.keyDataMutex);
    p.stepIndex[60] = 0;
    ASSERT_TRUE (p.emitAudioSlice (60, 100, 1, 44100.0));
    EXPECT_EQ (p.audioVoices[60].startFrame, 22050.0);
    EXPECT_EQ (p.audioVoices[60].endFrame, 44100.0);
    EXPECT_FALSE (p.audioVoices[60].looping);
    ASSERT_TRUE (p.emitAudioSlice (60, 100, 1, 44100.0));
    EXPECT_EQ (p.audioVoices[60].startFrame, 44100.0);
    EXPECT_EQ (p.audioVoices[60].endFrame, 88200.0);

    p.stepIndex[60] = 0;
    ASSERT_TRUE (p.emitAudioSlice (60, 100, -1, 44100.0));
    EXPECT_EQ (p.stepIndex[60], 2);
    EXPECT_EQ (p.audioVoices[60].startFrame, 44100.0);
}

TEST (AudioKeys, ReleaseDuringTheFadeInFallsFromTheCurrentLevel)
{
    EngineHarness h ({ 44100.0, 16, true, true });
    auto& p = h.proc();
    p.triggerMode.store (0);
    qtest::loadAudioKeys (p, { { 60, constant (1.0f, 44100.0, 44100) } });
    h.captureAudio = true;
    h.noteOn (0, 60, 127);
    h.noteOff (32, 60);   // the 2 ms fade-in takes 88 samples
    h.runUntil (1000);

    const auto& s = h.audioOut[0];
    const float peak = *std::max_element (s.begin(), s.end());
    EXPECT_LT (peak, 0.5f);
    const float fadeIn = 1.0f / 88.2f, release = 1.0f / 264.6f;
    for (size_t i = 1; i < s.size(); ++i)
        EXPECT_LE (std::abs (s[i] - s[i - 1]), std::max (fadeIn, release) + 1e-5f) << i;
    EXPECT_FALSE (p.audioVoices[60].active);
    EXPECT_EQ (s.back(), 0.0f);
}

TEST (AudioKeys, KeyLosingItsAudioStopsTheVoice)
{
    EngineHarness h;
    auto& p = h.proc();
    qtest::loadAudioKeys (p, { { 60, constant (1.0f, 48000.0, 48000) } });
    h.noteOn (0, 60);
    h.runBlocks (2);
    ASSERT_TRUE (p.audioVoices[60].active);
    p.applyKeyEdits ({}, { 60 }, {}, 0);
    h.runBlocks (1);
    EXPECT_FALSE (p.audioVoices[60].active);
}

//==============================================================================
namespace
{
struct ScopedHub
{
    ScopedHub() : folder (juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile ("qlink", {})),
                  hub (folder) {}
    ~ScopedHub() { folder.deleteRecursively(); }
    juce::File folder;
    AudioLinkHub hub;
};
}

TEST (AudioLink, FreshFolderGetsSixteenInitialisedRings)
{
    ScopedHub s;
    for (int n = 1; n <= 16; ++n)
        s.hub.prepareBus (n);

    for (int n = 1; n <= 16; ++n)
    {
        const auto file = s.folder.getChildFile ("bus_" + juce::String (n) + ".ring");
        ASSERT_TRUE (file.existsAsFile()) << n;
        EXPECT_EQ (file.getSize(), 768056);
        auto* bus = s.hub.bus (n);
        ASSERT_TRUE (bus->ready.load());
        EXPECT_EQ (bus->header->state, AudioLinkHub::readyWord);
        EXPECT_EQ (bus->header->version, 1);
        EXPECT_EQ (bus->header->channels, 2);
        EXPECT_EQ (bus->header->capacity, 96000);
        EXPECT_EQ (bus->header->reserved1, -1);
        EXPECT_EQ (bus->header->listener, 0);
    }
    EXPECT_EQ (s.hub.bus (0), nullptr);
    EXPECT_EQ (s.hub.bus (17), nullptr);
}

TEST (AudioLink, WrongSizedFileIsReplacedAndPreparingTwiceDoesNotRemap)
{
    ScopedHub s;
    s.folder.createDirectory();
    const auto file = s.hub.fileFor (3);
    juce::MemoryBlock junk (1000);
    junk.fillWith (0x5a);
    file.replaceWithData (junk.getData(), junk.getSize());

    s.hub.prepareBus (3);
    EXPECT_EQ (file.getSize(), 768056);
    auto* bus = s.hub.bus (3);
    ASSERT_TRUE (bus->ready.load());
    EXPECT_EQ (bus->samples[12345], 0.0f);

    const auto* mapped = bus->mapping.get();
    bus->header->writePosition = 77;
    s.hub.prepareBus (3);
    EXPECT_EQ (bus->mapping.get(), mapped);
    EXPECT_EQ (bus->header->writePosition, 77);
}

TEST (AudioLink, TakesWhatTheProducerWroteAcrossTheWrap)
{
    ScopedHub s;
    s.hub.prepareBus (1);
    auto& bus = *s.hub.bus (1);
    auto& hdr = *bus.header;
    for (int i = 0; i < 96000; ++i)
    {
        bus.samples[i] = (float) i;                 // channel 0: its index
        bus.samples[96000 + i] = (float) -i;        // channel 1
    }
    juce::AudioBuffer<float> into (2, 512);

    struct Case
    {
        int64_t write, read;
        int block;
        int64_t readAfter;
        int count;
        float first, atTen;   // channel 0 at frames 0 and 10
    };
    const Case cases[] = {
        { 200000, 0, 512, 104000 + 512, 512, 8000.0f, 8010.0f },
        { 96010, 96000, 512, 96010, 10, 0.0f, -1.0f },
        { 96010, 95990, 512, 96010, 20, 95990.0f, 0.0f },
    };
    for (const auto& c : cases)
    {
        into.clear();
        into.setSample (0, 10, -1.0f);
        hdr.writePosition = c.write;
        hdr.readPosition = c.read;
        PluginProcessor::takeFromAudioLink (bus, c.block, into);
        EXPECT_EQ (hdr.readPosition, c.readAfter) << c.write;
        EXPECT_EQ (into.getSample (0, 0), c.first);
        EXPECT_EQ (into.getSample (0, 10), c.atTen);
        EXPECT_EQ (into.getSample (1, 0), -c.first);
        if (c.count < 512)
            EXPECT_EQ (into.getSample (0, c.count + 1), 0.0f);
    }
}

TEST (AudioLink, TheProcessorListensWhilePrepared)
{
    PluginProcessor p;
    p.prepareToPlay (48000.0, 256);
    auto* bus = AudioLinkHub::getInstance().bus (1);
    ASSERT_NE (bus, nullptr);
    ASSERT_TRUE (bus->ready.load());
    EXPECT_EQ (bus->header->listener, 1);
    EXPECT_EQ (bus->header->readPosition, bus->header->writePosition);

    p.releaseResources();
    EXPECT_EQ (bus->header->listener, 0);
    p.prepareToPlay (48000.0, 256);
    EXPECT_EQ (bus->header->listener, 1);
}
