#pragma once

#include <memory>

#include <juce_core/juce_core.h>

#include "engine/KeySequence.h"

namespace juce { class AudioFormatReader; }

// A key's audio as Base64 text of a 24-bit FLAC file, and back (at most two
// channels; null when the text is not a readable FLAC stream).
juce::String encodeKeyAudio (const KeyAudio& audio);
std::shared_ptr<const KeyAudio> decodeKeyAudio (const juce::String& base64, double sampleRate, double bpm,
                                                double tailMs, int rootNote);

// The "E" elements of a clip (note, velocity, channel, on, wait), shared by the
// state document and the clip text.
void writeEventElements (juce::XmlElement& key, const std::vector<SeqEvent>& events);
SeqEvent readEventElement (const juce::XmlElement& e);

// Audio from a reader as a key's audio: at most two channels, and nothing
// when the reader claims more than maxFrames.
std::shared_ptr<KeyAudio> readAudioForKey (juce::AudioFormatReader& reader, juce::int64 maxFrames);
