#include "tools/render/Render.h"

#include <algorithm>
#include <cmath>

#include "engine/PluginProcessor.h"

namespace
{
constexpr double maxRenderSeconds = 60.0 * 30.0;
constexpr int outputTicksPerQuarter = 960;

struct RenderPlayHead : juce::AudioPlayHead
{
    juce::Optional<PositionInfo> getPosition() const override
    {
        PositionInfo info;
        info.setIsPlaying (playing);
        info.setBpm (bpm);
        info.setPpqPosition (ppq);
        info.setTimeSignature (TimeSignature { 4, 4 });
        return info;
    }

    bool playing = true;
    double bpm = 120.0;
    double ppq = 0.0;
};

bool isNumber (const juce::String& s)
{
    return s.isNotEmpty() && s.containsOnly ("0123456789.-") && s.getDoubleValue() == s.getDoubleValue();
}

struct TimedEvent
{
    juce::int64 sample;
    juce::MidiMessage message;
};
}

juce::File defaultPerformanceFile()
{
    return juce::File (QUORVEL_SOURCE_DIR).getChildFile ("resources/demo/demo-performance.mid");
}

juce::File findPresetFile (const juce::String& name)
{
    const juce::String userPrefix ("User Presets/");
    const bool isUser = name.startsWith (userPrefix);
    const auto installed = isUser
        ? PluginProcessor::getUserPresetsDirectory().getChildFile (name.substring (userPrefix.length()) + ".sketch")
        : PluginProcessor::getFactoryPresetsDirectory().getChildFile (name + ".sketch");
    if (installed.existsAsFile())
        return installed;

    // Not installed yet: the factory presets of the source tree.
    const auto shipped = juce::File (QUORVEL_SOURCE_DIR).getChildFile ("resources/presets").getChildFile (name + ".sketch");
    return shipped.existsAsFile() ? shipped : juce::File();
}

juce::String renderUsage()
{
    return "usage: quorvel-render [--preset NAME | --sketch FILE] [--in PERFORMANCE.mid] [--out FILE.mid]\n"
           "                      [--rate HZ] [--block SAMPLES] [--bpm TEMPO] [--playing | --stopped]\n"
           "Plays a MIDI performance through Quorvel and writes what it sends out as a MIDI file.\n"
           "Defaults: --preset \"" + juce::String (defaultRenderPreset) + "\", the demo performance,\n"
           "--out Quorvel_render.mid, --rate 48000, --block 256, --bpm 120, --playing.";
}

std::optional<RenderOptions> parseRenderArguments (const juce::StringArray& args, juce::String& error)
{
    RenderOptions o;
    o.presetName = defaultRenderPreset;
    o.performance = defaultPerformanceFile();
    o.output = juce::File::getCurrentWorkingDirectory().getChildFile ("Quorvel_render.mid");
    const auto cwd = juce::File::getCurrentWorkingDirectory();

    for (int i = 0; i < args.size(); ++i)
    {
        const auto& a = args[i];
        auto value = [&] () -> std::optional<juce::String>
        {
            if (i + 1 >= args.size())
            {
                error = a + " needs a value";
                return std::nullopt;
            }
            return args[++i];
        };

        if (a == "--playing" || a == "--stopped")
        {
            o.playing = a == "--playing";
            continue;
        }

        if (a != "--preset" && a != "--sketch" && a != "--in" && a != "--out" && a != "--rate" && a != "--block"
            && a != "--bpm")
        {
            error = "unknown argument \"" + a + "\"";
            return std::nullopt;
        }

        const auto v = value();
        if (! v)
            return std::nullopt;

        if (a == "--preset")
            o.presetName = *v;
        else if (a == "--sketch")
            o.sketchFile = cwd.getChildFile (*v);
        else if (a == "--in")
            o.performance = cwd.getChildFile (*v);
        else if (a == "--out")
            o.output = cwd.getChildFile (*v);
        else
        {
            if (! isNumber (*v))
            {
                error = a + " takes a number, not \"" + *v + "\"";
                return std::nullopt;
            }
            const double x = v->getDoubleValue();
            if (a == "--rate" && (x < 8000.0 || x > 384000.0))
                error = "--rate must lie between 8000 and 384000";
            else if (a == "--block" && (x < 1.0 || x > 8192.0 || x != std::floor (x)))
                error = "--block must be a whole number from 1 to 8192";
            else if (a == "--bpm" && (x < 1.0 || x > 999.0))
                error = "--bpm must lie between 1 and 999";
            if (error.isNotEmpty())
                return std::nullopt;

            if (a == "--rate")
                o.sampleRate = x;
            else if (a == "--block")
                o.blockSize = (int) x;
            else
                o.bpm = x;
        }
    }

    return o;
}

RenderResult renderPerformance (const RenderOptions& o)
{
    RenderResult result;

    // The performance, in engine samples.
    juce::MidiFile input;
    {
        juce::FileInputStream stream (o.performance);
        if (! stream.openedOk() || ! input.readFrom (stream))
        {
            result.error = "cannot read the MIDI file " + o.performance.getFullPathName();
            return result;
        }
    }
    input.convertTimestampTicksToSeconds();

    std::vector<TimedEvent> events;
    for (int t = 0; t < input.getNumTracks(); ++t)
        for (const auto* e : *input.getTrack (t))
            if (! e->message.isMetaEvent() && std::isfinite (e->message.getTimeStamp()))
                events.push_back ({ (juce::int64) std::llround (std::max (0.0, e->message.getTimeStamp()) * o.sampleRate),
                                    e->message });
    std::stable_sort (events.begin(), events.end(),
                      [] (const TimedEvent& a, const TimedEvent& b) { return a.sample < b.sample; });

    const juce::int64 lastSample = events.empty() ? 0 : events.back().sample;
    const auto total = lastSample + (juce::int64) (o.tailSeconds * o.sampleRate);
    if ((double) total / o.sampleRate > maxRenderSeconds)
    {
        result.error = "the performance is longer than 30 minutes";
        return result;
    }

    // The processor, as a host would run it.
    PluginProcessor processor;
    RenderPlayHead head;
    head.playing = o.playing;
    head.bpm = o.bpm;
    processor.setPlayHead (&head);
    processor.prepareToPlay (o.sampleRate, o.blockSize);

    const auto sketch = o.sketchFile != juce::File() ? o.sketchFile : findPresetFile (o.presetName);
    if (sketch == juce::File() || ! processor.loadSketchFile (sketch))
    {
        result.error = o.sketchFile != juce::File() ? "cannot load the sketch " + o.sketchFile.getFullPathName()
                                                    : "no preset named \"" + o.presetName + "\"";
        return result;
    }
    result.presetUsed = o.sketchFile != juce::File() ? sketch.getFileName() : o.presetName;

    juce::AudioBuffer<float> audio (2, o.blockSize);
    juce::MidiBuffer midi;
    juce::MidiMessageSequence out;
    const double ticksPerSample = o.bpm / 60.0 * outputTicksPerQuarter / o.sampleRate;
    size_t next = 0;

    for (juce::int64 pos = 0; pos < total; pos += o.blockSize)
    {
        midi.clear();
        while (next < events.size() && events[next].sample < pos + o.blockSize)
        {
            midi.addEvent (events[next].message, (int) (events[next].sample - pos));
            ++next;
        }

        head.ppq = (double) pos / o.sampleRate * o.bpm / 60.0;
        processor.processBlock (audio, midi);

        for (const auto meta : midi)
        {
            auto m = meta.getMessage();
            m.setTimeStamp (std::round ((double) (pos + meta.samplePosition) * ticksPerSample));
            out.addEvent (m);
            ++result.events;
            if (m.isNoteOn())
                ++result.notes;
        }
    }

    out.addEvent (juce::MidiMessage::tempoMetaEvent ((int) std::llround (60000000.0 / o.bpm)), 0.0);
    out.sort();
    out.updateMatchedPairs();

    juce::MidiFile file;
    file.setTicksPerQuarterNote (outputTicksPerQuarter);
    file.addTrack (out);

    juce::TemporaryFile temp (o.output);
    {
        juce::FileOutputStream stream (temp.getFile());
        if (! stream.openedOk() || ! file.writeTo (stream, 1))
        {
            result.error = "cannot write " + o.output.getFullPathName();
            return result;
        }
    }
    if (! temp.overwriteTargetFileWithTemporary())
    {
        result.error = "cannot write " + o.output.getFullPathName();
        return result;
    }

    result.seconds = (double) total / o.sampleRate;
    result.ok = true;
    return result;
}
