#pragma once

#include <utility>
#include <vector>

#include <juce_audio_basics/juce_audio_basics.h>

#include "engine/KeySequence.h"

class PluginProcessor;

// Files dropped on a key become clips on that key and the keys above it.

inline constexpr const char* kQvOffsetPrefix = "QV:";

// A clip read from one file, with the key position the file asks for (-1: none).
struct ImportedClip
{
    int offset = -1;
    KeySequence sequence;
};

// The number after "QV:" in the first text meta event of a track that has
// the prefix, or -1.
int parseQvOffset (const juce::MidiMessageSequence& track);

// The clips of a Standard MIDI File: one per note track, or one for the file.
std::vector<ImportedClip> midiFileToKeySequences (const juce::MidiFile& file);
std::vector<ImportedClip> readMidiFileClips (const juce::File& file);

// The clip of an Ableton Live clip file (gzip-compressed XML).
std::vector<ImportedClip> readLiveClip (const juce::File& file);

struct AlcNote
{
    double start = 0.0;
    double end = 0.0;
    int key = 60;
    int velocity = 100;
};
void alcCollect (const juce::XmlElement& element, std::vector<AlcNote>& notes, double& maxEnd);
const juce::XmlElement* alcFindClip (const juce::XmlElement& element);

// (key relative to the drop key, clip) for each clip of the files, in order.
std::vector<std::pair<int, KeySequence>> layoutDroppedClips (const juce::StringArray& paths);

// Audio files a drop may attach to layer-0 keys.
bool isDroppableAudioFile (const juce::File& file);
std::shared_ptr<const KeyAudio> readAudioFileForKey (const juce::File& file, int key);

// Applies a drop on key dropKey of a layer as one undoable edit: MIDI and Live
// clips as laid out above (merged into the keys' clips when merge is set), and
// on layer 0 audio files attached to the drop key and the keys above it.
// Returns the keys that changed.
std::vector<int> applyDroppedFiles (PluginProcessor& processor, const juce::StringArray& paths, int dropKey, int layer,
                                    bool merge);
