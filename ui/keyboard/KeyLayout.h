#pragma once

#include <optional>

#include <juce_core/juce_core.h>

// Which key a child of a layout keyboard group stands for.
struct LayoutKey
{
    int note = 0;
    bool isBlack = false;
};

// Pitch classes 1, 3, 6, 8 and 10 are black keys.
bool isBlackKey (int note) noexcept;

// A key element name: a note word and octave ("c0" is 24, "fsharp3" 66),
// optionally followed by "_" and a row number ("fsharp3_2"), or one of the
// modifier-key names ("pno_key_modifier_record" is 48). Anything else names
// no key.
std::optional<LayoutKey> keyForLayoutName (const juce::String& name);
