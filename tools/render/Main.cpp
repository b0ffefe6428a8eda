// quorvel-render: the main job without a host.
#include <iostream>

#include <juce_events/juce_events.h>

#include "tools/render/Render.h"

int main (int argc, char** argv)
{
    juce::StringArray args;
    for (int i = 1; i < argc; ++i)
        args.add (juce::String::fromUTF8 (argv[i]));

    if (args.contains ("--help") || args.contains ("-h"))
    {
        std::cout << renderUsage() << std::endl;
        return 0;
    }

    juce::String error;
    const auto options = parseRenderArguments (args, error);
    if (! options)
    {
        std::cerr << "quorvel-render: " << error << "\n" << renderUsage() << std::endl;
        return 2;
    }

    const juce::ScopedJuceInitialiser_GUI juce;
    const auto result = renderPerformance (*options);
    if (! result.ok)
    {
        std::cerr << "quorvel-render: " << result.error << std::endl;
        return 1;
    }

    std::cout << "quorvel-render: " << options->performance.getFileName() << " with \"" << result.presetUsed << "\" at "
              << options->sampleRate << " Hz, " << options->blockSize << "-sample blocks, " << options->bpm << " bpm, transport "
              << (options->playing ? "playing" : "stopped") << ": " << result.notes << " notes (" << result.events
              << " events, " << juce::String (result.seconds, 1) << " s) -> " << options->output.getFullPathName() << std::endl;
    return 0;
}
