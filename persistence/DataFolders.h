#pragma once

#include <juce_core/juce_core.h>

// The per-machine folder that holds the settings file and the presets
// ("Pellwick"/"Quorvel" below the shared data folder). On macOS that is the
// shared documents folder; elsewhere $XDG_DATA_HOME (default ~/.local/share).
// The environment variable QUORVEL_DATA_DIR, when set, replaces the whole path.
juce::File getQuorvelDataFolder();

// Writes text to a file through a temporary file that replaces it only once
// the text is complete, so a failed write leaves the previous file intact.
bool replaceFileWithText (const juce::File& file, const juce::String& text);
