#pragma once

#include <functional>

#include <juce_gui_basics/juce_gui_basics.h>

#include "ui/toolkit/DropdownMenu.h"

// The embedded theme document ("theme.json"): colours, sizes and the menu font.

// "rgba(r,g,b,a)" or "#rrggbb"; anything else is transparent black.
juce::Colour parseThemeColour (const juce::String& text);

// The values the keyboard view takes from the theme.
struct KeyboardThemeValues
{
    juce::Colour recordedNoteColour { 0xFFF4B03C };
    juce::Colour darkColour { 0xFF13202B };
    juce::Colour cursorColour { 0xFF64C8FF };
    float inactiveOpacity = 0.8f;
};

using TypefaceLookup = std::function<juce::Typeface::Ptr (const juce::String& family, int weight)>;

// Reads a parsed theme document: replaces the shared menu theme (when the
// document has "menu") and fills the keyboard values.
void applyThemeDocument (const juce::var& document, DropdownMenu::Theme& menuTheme, KeyboardThemeValues& keyboard,
                         const TypefaceLookup& getTypeface);
