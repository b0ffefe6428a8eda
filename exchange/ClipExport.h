#pragma once

#include <optional>
#include <set>
#include <vector>

#include <juce_audio_basics/juce_audio_basics.h>

#include "engine/KeySequence.h"

class PluginProcessor;

// Taking clips out of the plug-in: a type-1 MIDI file for the system's file
// drag, and the "QuorvelClip" text for the clipboard.

// "C3" for key 60 (sharps, middle C in octave 3).
juce::String exportNoteName (int key);

// One track per key (ascending), with tempo, name, and a "QV:" marker when
// more than one key is exported.
juce::MidiFile buildExportMidiFile (const std::vector<std::pair<int, KeySequence>>& clips);

// "Quorvel_C3.mid" or "Quorvel_3_clips.mid".
juce::String exportFileName (const std::vector<std::pair<int, KeySequence>>& clips);

// The keys' clips as the export takes them: input quantize applied, empty keys left out.
std::vector<std::pair<int, KeySequence>> clipsForExport (const PluginProcessor& processor, const std::set<int>& keys,
                                                         int layer);

// Writes the export file into the temporary folder; the file, or none when
// nothing was exported or the write failed.
juce::File writeExportFile (const PluginProcessor& processor, const std::set<int>& keys, int layer);

// A fresh version-4 UUID as 32 lower-case hex digits.
juce::String newAudioToken();

// The clip text of a copy; replaces the process-wide audio clipboard.
juce::String buildClipText (const PluginProcessor& processor, const std::set<int>& keys, int layer);

struct CopiedSlot
{
    int keyOffset = 0;
    bool hasSequence = false;
    KeySequence sequence;
    bool hasAudio = false;
    std::shared_ptr<const KeyAudio> audio;
};

struct DecodedClip
{
    int base = 0;
    int span = 1;
    std::vector<CopiedSlot> slots;   // ascending keyOffset, one per offset
};

// Reads a clip text; nothing when it is not a "QuorvelClip" document or holds no slot.
std::optional<DecodedClip> decodeClipText (const juce::String& text, int lowestSelectedKey, int layer);
