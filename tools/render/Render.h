#pragma once

#include <optional>

#include <juce_core/juce_core.h>

// Plays a Standard MIDI File performance through the processor, with a preset
// or sketch loaded, and writes what the plug-in sends out as a MIDI file.
struct RenderOptions
{
    juce::String presetName;      // a factory or user preset; ignored when sketchFile is set
    juce::File sketchFile;
    juce::File performance;
    juce::File output;
    double sampleRate = 48000.0;
    int blockSize = 256;
    double bpm = 120.0;
    bool playing = true;          // the host transport plays while rendering
    double tailSeconds = 4.0;     // rendered after the performance's last event
};

struct RenderResult
{
    bool ok = false;
    juce::String error;
    juce::String presetUsed;
    int notes = 0;
    int events = 0;
    double seconds = 0.0;
};

inline const char* defaultRenderPreset = "Chords/Pop Progressions";
juce::File defaultPerformanceFile();
juce::File findPresetFile (const juce::String& name);

// Parses command-line words; on failure returns nothing and sets error.
std::optional<RenderOptions> parseRenderArguments (const juce::StringArray& args, juce::String& error);
RenderResult renderPerformance (const RenderOptions& options);
juce::String renderUsage();
