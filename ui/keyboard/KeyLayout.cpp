#include "ui/keyboard/KeyLayout.h"

bool isBlackKey (int note) noexcept
{
    switch (((note % 12) + 12) % 12)
    {
        case 1: case 3: case 6: case 8: case 10: return true;
        default: return false;
    }
}

std::optional<LayoutKey> keyForLayoutName (const juce::String& fullName)
{
    auto name = fullName;
    const int underscore = name.lastIndexOfChar ('_');
    if (underscore >= 1 && name.substring (underscore + 1).containsOnly ("0123456789"))
        name = name.substring (0, underscore);

    // Sharps first, so that "csharp" is not read as "c".
    static const std::pair<const char*, int> words[] {
        { "csharp", 1 }, { "dsharp", 3 }, { "fsharp", 6 }, { "gsharp", 8 }, { "asharp", 10 },
        { "c", 0 }, { "d", 2 }, { "e", 4 }, { "f", 5 }, { "g", 7 }, { "a", 9 }, { "b", 11 },
    };
    for (const auto& [word, semitone] : words)
    {
        if (! name.startsWith (word))
            continue;
        const auto octave = name.substring ((int) std::strlen (word));
        if (octave.isEmpty() || ! octave.containsOnly ("0123456789") || octave.length() > 3)
            continue;
        const int note = octave.getIntValue() * 12 + semitone + 24;
        if (note > 127)
            return std::nullopt;
        return LayoutKey { note, isBlackKey (note) };
    }

    static const std::pair<const char*, int> modifierKeys[] {
        { "pno_key_modifier_record", 48 }, { "pno_key_modifier_undo", 49 }, { "pno_key_modifier_thru", 50 },
        { "pno_key_modifier_redo", 51 }, { "pno_key_modifier_step_forward", 52 },
        { "pno_key_modifier_step_backward", 53 }, { "pno_key_modifier_transpose_down", 54 },
        { "pno_key_modifier_transpose_up", 55 }, { "pno_key_modifier_invert_down", 56 },
        { "pno_key_modifier_invert_up", 57 }, { "pno_key_modifier_slow_down", 58 },
        { "pno_key_modifier_speed_up", 59 },
    };
    for (const auto& [modifierName, note] : modifierKeys)
        if (name == modifierName)
            return LayoutKey { note, isBlackKey (note) };
    return std::nullopt;
}
