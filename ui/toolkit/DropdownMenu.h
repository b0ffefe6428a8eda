#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// The themed dropdown menu. So far its style, shared by every menu in the process.
class DropdownMenu
{
public:
    struct Theme
    {
        juce::Colour bg { 0xFFD4D4D4 };
        juce::Colour text { 0xFF1D1D1F };
        juce::Colour border { 0xFFC2C1C1 };
        juce::Colour hoverBg { 0x59007AFF };
        juce::Colour hoverText { 0xFFFFFFFF };
        juce::Colour disabledText { 0xFF9E9E9E };
        juce::Colour scrollbarThumb { 0x33000000 };
        juce::Colour scrollbarTrack { 0x00000000 };
        int scrollbarWidth = 6;
        float fontSize = 12.0f;
        int itemHeight = 24;
        int separatorHeight = 9;
        int padding = 4;
        int leftPad = 18;
        int cornerRadius = 6;
        int shadowMargin = 16;
        juce::Typeface::Ptr typeface;
    };

    static Theme& getSharedTheme();
};
