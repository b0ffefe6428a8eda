#pragma once

#include <memory>

#include <juce_core/juce_core.h>

#include "engine/KeySequence.h"

// A key's audio as Base64 text of a 24-bit FLAC file, and back (at most two
// channels; null when the text is not a readable FLAC stream).
juce::String encodeKeyAudio (const KeyAudio& audio);
std::shared_ptr<const KeyAudio> decodeKeyAudio (const juce::String& base64, double sampleRate, double bpm,
                                                double tailMs, int rootNote);
