#include <gtest/gtest.h>

#include "engine/PluginProcessor.h"
#include "tests/harness/EngineHarness.h"

using qtest::EngineHarness;

TEST (ProcessorShell, WhatTheHostSees)
{
    PluginProcessor p;
    EXPECT_EQ (p.getName(), "Quorvel");
    EXPECT_TRUE (p.acceptsMidi());
    EXPECT_TRUE (p.producesMidi());
    EXPECT_TRUE (p.isMidiEffect());
    EXPECT_EQ (p.getTailLengthSeconds(), 0.0);
    EXPECT_EQ (p.getNumPrograms(), 1);
    EXPECT_EQ (p.getCurrentProgram(), 0);
    EXPECT_FALSE (p.getProgramName (0).isEmpty());
    EXPECT_TRUE (p.hasEditor());

    EXPECT_EQ (p.getBusCount (true), 0);
    ASSERT_EQ (p.getBusCount (false), 1);
    EXPECT_EQ (p.getBus (false, 0)->getName(), "Output");
    EXPECT_EQ (p.getBus (false, 0)->getCurrentLayout(), juce::AudioChannelSet::stereo());
    EXPECT_TRUE (p.getBus (false, 0)->isEnabled());
}

TEST (ProcessorShell, BusLayouts)
{
    PluginProcessor p;

    struct Case
    {
        const char* name;
        juce::AudioChannelSet output;
        bool supported;
    };
    const Case cases[] = {
        { "stereo", juce::AudioChannelSet::stereo(), true },
        { "mono", juce::AudioChannelSet::mono(), true },
        { "disabled", juce::AudioChannelSet::disabled(), false },
        { "5.1", juce::AudioChannelSet::create5point1(), false },
        { "quadraphonic", juce::AudioChannelSet::quadraphonic(), false },
    };

    for (const auto& c : cases)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.outputBuses.add (c.output);
        EXPECT_EQ (p.checkBusesLayoutSupported (layout), c.supported) << c.name;
    }

    juce::AudioProcessor::BusesLayout withInput;
    withInput.inputBuses.add (juce::AudioChannelSet::stereo());
    withInput.outputBuses.add (juce::AudioChannelSet::stereo());
    EXPECT_FALSE (p.isBusesLayoutSupported (withInput));
}

TEST (ProcessorShell, InitialSettings)
{
    PluginProcessor p;
    EXPECT_EQ (p.modOctaveBase.load(), 48);
    EXPECT_EQ (p.appliedModOctaveBase.load(), 48);
    EXPECT_EQ (p.keyboardInteraction.load(), 2);
    EXPECT_TRUE (p.cascadeEnabled.load());
    EXPECT_EQ (p.triggerMode.load(), 1);
    EXPECT_EQ (p.loopLengthIdx.load(), -1);
    EXPECT_EQ (p.visibleLayers.load(), 1);
    EXPECT_EQ (p.invert2Dir.load(), 1);
    for (int layer = 0; layer < 4; ++layer)
    {
        EXPECT_TRUE (p.layerKeysnap[(size_t) layer].load());
        EXPECT_FALSE (p.layerDry[(size_t) layer].load());
    }
    EXPECT_EQ (p.keySnapStart.load(), 24);
    EXPECT_EQ (p.keySnapEnd.load(), 107);
    EXPECT_TRUE (p.scaleRescanRequested.load());
    EXPECT_EQ (p.selectedKeyRequest.load(), -2);
    EXPECT_EQ (p.lastPlayedKey, 60);
    EXPECT_EQ (p.polyPressure[77], 127);
    EXPECT_EQ (p.lastNoteOfChannel[15], -1);

    // Outside a plug-in wrapper no factory preset is loaded.
    for (const auto& k : p.keys)
        EXPECT_TRUE (k.events.empty());
}

TEST (ProcessorShell, HostThatNeverPreparesRunsAt44100)
{
    EngineHarness h ({ 48000.0, 256, false, true });
    EXPECT_EQ (h.proc().sampleRate, 44100.0);

    h.noteOn (300, 64);
    const auto out = h.runBlocks (4);
    const auto ons = qtest::noteOnsOf (out);
    ASSERT_EQ (ons.size(), 1u);
    EXPECT_EQ (ons[0].time, 300);
}

TEST (ProcessorShell, PrepareWithBadRateFallsBackTo44100)
{
    PluginProcessor p;
    p.prepareToPlay (0.0, 512);
    EXPECT_EQ (p.sampleRate, 44100.0);
    p.prepareToPlay (-48000.0, 512);
    EXPECT_EQ (p.sampleRate, 44100.0);
    p.prepareToPlay (96000.0, 64);
    EXPECT_EQ (p.sampleRate, 96000.0);
}

TEST (ProcessorShell, PrepareClearsPerformanceStateButKeepsKeys)
{
    EngineHarness h;
    auto& p = h.proc();
    KeySequence clip;
    clip.events = { { 60, 100, 1, true, 0.0 }, { 60, 0, 1, false, 100.0 } };
    h.setClip (70, clip);

    h.noteOn (0, h.modifierKey (PluginProcessor::modTransposeUp));
    h.noteOn (10, 40);
    h.runBlocks (1);
    ASSERT_TRUE (p.modifierHeld[PluginProcessor::modTransposeUp]);
    ASSERT_TRUE (p.voices[40].isActiveOrSounding());

    p.prepareToPlay (48000.0, 128);
    EXPECT_FALSE (p.modifierHeld[PluginProcessor::modTransposeUp]);
    EXPECT_FALSE (p.voices[40].isActiveOrSounding());
    EXPECT_EQ (p.outputNotes.count[0][52], 0);
    EXPECT_EQ (p.getKeySequence (70, 0).noteOnCount, 1);
}

TEST (ProcessorShell, QueriesBelowLayerOneAnswerForLayerZero)
{
    EngineHarness h;
    h.noteOn (0, 62);
    h.runBlocks (50);

    auto& p = h.proc();
    EXPECT_EQ (p.getActiveHeldKeys (-5), std::set<int> ({ 62 }));
    EXPECT_EQ (p.getActiveHeldKeys (-5), p.getActiveHeldKeys (0));
    EXPECT_TRUE (p.getActiveHeldKeys (1).empty());

    // A pass-through note has no clip index and no playhead.
    const auto indices = p.getActiveSoundingIndices (-5);
    ASSERT_EQ (indices.count (62), 1u);
    EXPECT_TRUE (indices.at (62).empty());
    EXPECT_TRUE (p.getActivePlayheads (-5).empty());

    {
        // A running phrase voice: its playhead follows the engine clock.
        const std::lock_guard<std::mutex> lock (p.keyDataMutex);
        auto& v = p.voices[70];
        v.active = true;
        v.key = 70;
        v.isPhrase = true;
        v.events = { { 60, 100, 1, true, 0.0 }, { 60, 0, 1, false, 1000.0 } };
        v.cycleMs = 1000.0;
        v.startSample = (double) p.samplePosition - 4800.0;  // 100 ms at 48 kHz
    }
    const auto heads = p.getActivePlayheads (-5);
    ASSERT_EQ (heads.count (70), 1u);
    EXPECT_NEAR (heads.at (70).front(), 100.0, 1e-9);
    EXPECT_EQ (heads, p.getActivePlayheads (0));
}
