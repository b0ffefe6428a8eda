#include <gtest/gtest.h>

#include "engine/PluginProcessor.h"
#include "tests/harness/EngineHarness.h"

namespace
{
juce::File shippedPresets() { return juce::File (QUORVEL_SOURCE_DIR).getChildFile ("resources/presets"); }

const juce::XmlElement* childNamed (const juce::XmlElement& parent, const juce::String& name)
{
    for (auto* child : parent.getChildIterator())
        if (child->getTagName().equalsIgnoreCase (name))
            return child;
    return nullptr;
}
}

TEST (FactoryPresets, EveryShippedSketchLoadsWithoutASkippedElement)
{
    const auto files = shippedPresets().findChildFiles (juce::File::findFiles, true, "*.sketch");
    ASSERT_GE (files.size(), 7);

    juce::StringArray folders;
    for (const auto& file : files)
    {
        SCOPED_TRACE (file.getFullPathName().toStdString());
        if (file.getParentDirectory() != shippedPresets())
            folders.addIfNotAlreadyThere (file.getParentDirectory().getFileName());

        const auto root = juce::XmlDocument::parse (file);
        ASSERT_NE (root, nullptr);

        int keyElements = 0;
        for (const auto* name : { "Keys", "KeysUpper1", "KeysUpper2", "KeysUpper3" })
        {
            const auto* container = childNamed (*root, name);
            ASSERT_NE (container, nullptr) << name;
            PluginProcessor::KeyArray keys;
            PluginProcessor::AudioArray audio;
            EXPECT_EQ (PluginProcessor::readKeysXml (*container, keys, &audio), 0) << name;
            keyElements += container->getNumChildElements();
        }

        PluginProcessor p;
        ASSERT_TRUE (p.loadSketchFile (file));
        int keysWithContent = 0;
        for (int layer = 0; layer < 4; ++layer)
            for (int k = 0; k < 128; ++k)
                keysWithContent += p.getKeySequence (k, layer).events.empty() ? 0 : 1;
        EXPECT_EQ (keysWithContent, keyElements);

        // Every phrase is made of proper notes.
        for (int layer = 0; layer < 4; ++layer)
            for (int k = 0; k < 128; ++k)
            {
                const auto s = p.getKeySequence (k, layer);
                int open = 0;
                for (const auto& e : s.events)
                    open += e.isNoteOn ? 1 : -1;
                EXPECT_EQ (open, 0) << k;
            }
    }
    EXPECT_GE (folders.size(), 2);
    EXPECT_TRUE (shippedPresets().getChildFile ("Init.sketch").existsAsFile());
}

TEST (FactoryPresets, InitLoadsUnderAPluginWrapperAndCannotBeUndone)
{
    // What a plug-in wrapper does: the wrapper type is set while the processor is made.
    const auto presets = PluginProcessor::getFactoryPresetsDirectory();
    presets.createDirectory();
    ASSERT_TRUE (shippedPresets().getChildFile ("Init.sketch").copyFileTo (presets.getChildFile ("Init.sketch")));

    juce::AudioProcessor::setTypeOfNextNewPlugin (juce::AudioProcessor::wrapperType_VST3);
    PluginProcessor p;
    juce::AudioProcessor::setTypeOfNextNewPlugin (juce::AudioProcessor::wrapperType_Undefined);

    EXPECT_EQ (p.currentPresetName, "Init");
    EXPECT_TRUE (p.undoHistory.empty());
    EXPECT_FALSE (p.presetModified.load());
    presets.getChildFile ("Init.sketch").deleteFile();
}

//==============================================================================
namespace
{
struct Run
{
    int exitCode;
    juce::String output;
};

Run runRender (const juce::StringArray& args)
{
    juce::StringArray command { QUORVEL_RENDER_EXE };
    command.addArray (args);
    juce::ChildProcess process;
    if (! process.start (command, juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
        return { -1, "could not start" };
    const auto output = process.readAllProcessOutput();
    process.waitForProcessToFinish (60000);
    return { (int) process.getExitCode(), output };
}
}

TEST (Render, DemoPerformanceWithAFactoryPreset)
{
    const juce::TemporaryFile out (".mid");
    const auto run = runRender ({ "--preset", "Chords/Pop Progressions", "--out", out.getFile().getFullPathName(),
                                  "--rate", "48000", "--block", "128", "--bpm", "120" });
    ASSERT_EQ (run.exitCode, 0) << run.output;
    EXPECT_TRUE (run.output.contains ("32 notes")) << run.output;

    juce::MidiFile midi;
    juce::FileInputStream stream (out.getFile());
    ASSERT_TRUE (midi.readFrom (stream));
    ASSERT_EQ (midi.getNumTracks(), 1);
    EXPECT_EQ (midi.getTimeFormat(), 960);

    // The demo holds each chord key for 3.5 beats, one per bar: key 60 first (C),
    // then 69 (Am). Each chord is strummed 6 ms (about 11.5 ticks) note by note.
    std::vector<std::tuple<int, double, double>> notes;   // note, on tick, off tick
    const auto* track = midi.getTrack (0);
    for (int i = 0; i < track->getNumEvents(); ++i)
    {
        const auto* e = track->getEventPointer (i);
        if (e->message.isNoteOn() && e->noteOffObject != nullptr)
            notes.emplace_back (e->message.getNoteNumber(), e->message.getTimeStamp(),
                                e->noteOffObject->message.getTimeStamp());
    }
    ASSERT_EQ (notes.size(), 32u);

    const int firstChord[] = { 48, 52, 55, 60 }, secondChord[] = { 57, 60, 64, 69 };
    for (int i = 0; i < 4; ++i)
    {
        EXPECT_EQ (std::get<0> (notes[(size_t) i]), firstChord[i]);
        EXPECT_NEAR (std::get<1> (notes[(size_t) i]), i * 11.52, 1.0);
        EXPECT_NEAR (std::get<2> (notes[(size_t) i]), 3.5 * 960, 1.0);
        EXPECT_EQ (std::get<0> (notes[(size_t) (4 + i)]), secondChord[i]);
        EXPECT_NEAR (std::get<1> (notes[(size_t) (4 + i)]), 4 * 960 + i * 11.52, 1.0);
    }
}

TEST (Render, BadArgumentsAndFilesFailCleanly)
{
    struct Case
    {
        juce::StringArray args;
        int exitCode;
        const char* message;
    };
    const Case cases[] = {
        { { "--frobnicate" }, 2, "unknown argument" },
        { { "--rate" }, 2, "needs a value" },
        { { "--rate", "fast" }, 2, "takes a number" },
        { { "--block", "0" }, 2, "--block" },
        { { "--bpm", "5000" }, 2, "--bpm" },
        { { "--preset", "No Such Preset", "--out", "/dev/null" }, 1, "no preset" },
        { { "--in", "/nonexistent/x.mid", "--out", "/dev/null" }, 1, "cannot read" },
        { { "--sketch", "/nonexistent/x.sketch", "--out", "/dev/null" }, 1, "cannot load" },
    };

    for (const auto& c : cases)
    {
        const auto run = runRender (c.args);
        EXPECT_EQ (run.exitCode, c.exitCode) << c.args.joinIntoString (" ") << "\n" << run.output;
        EXPECT_TRUE (run.output.contains (c.message)) << run.output;
    }

    // A file that is not MIDI at all.
    const juce::TemporaryFile garbage (".mid");
    garbage.getFile().replaceWithText ("MThd but not really");
    EXPECT_EQ (runRender ({ "--in", garbage.getFile().getFullPathName(), "--out", "/dev/null" }).exitCode, 1);
}
