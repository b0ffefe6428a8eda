#include "ui/toolkit/Theme.h"

juce::Colour parseThemeColour (const juce::String& text)
{
    if (text.startsWith ("rgba("))
    {
        const auto inner = text.substring (5, text.length() - 1);
        juce::StringArray parts;
        parts.addTokens (inner, ",", {});
        if (parts.size() != 4)
            return juce::Colour (0x00000000);

        const auto r = (juce::uint32) parts[0].trim().getIntValue() & 0xff;
        const auto g = (juce::uint32) parts[1].trim().getIntValue() & 0xff;
        const auto b = (juce::uint32) parts[2].trim().getIntValue() & 0xff;
        const auto a = (juce::uint32) (int) (parts[3].trim().getDoubleValue() * 255.0) & 0xff;
        return juce::Colour ((a << 24) | (r << 16) | (g << 8) | b);
    }

    if (text.length() == 7 && text.startsWith ("#") && text.substring (1).containsOnly ("0123456789abcdefABCDEF"))
        return juce::Colour (0xFF000000u | (juce::uint32) text.substring (1).getHexValue32());

    return juce::Colour (0x00000000);
}

void applyThemeDocument (const juce::var& root, DropdownMenu::Theme& shared, KeyboardThemeValues& keyboard,
                         const TypefaceLookup& getTypeface)
{
    auto colour = [] (const juce::var& object, const char* key) { return parseThemeColour (object[key].toString()); };

    if (const auto& menu = root["menu"]; menu.isObject())
    {
        DropdownMenu::Theme t;
        t.bg = colour (menu, "bg");
        t.text = colour (menu, "text");
        t.border = colour (menu, "border");
        t.hoverBg = colour (menu, "hoverBg");
        if (const auto c = colour (menu, "hoverText"); c.getAlpha() != 0)
            t.hoverText = c;
        if (menu.hasProperty ("scrollbarThumb"))
            t.scrollbarThumb = colour (menu, "scrollbarThumb");
        if (menu.hasProperty ("scrollbarTrack"))
            t.scrollbarTrack = colour (menu, "scrollbarTrack");
        if (menu.hasProperty ("scrollbarWidth"))
            t.scrollbarWidth = (int) menu["scrollbarWidth"];
        t.itemHeight = (int) menu["itemHeight"];
        t.separatorHeight = (int) menu["separatorHeight"];
        t.padding = (int) menu["padding"];
        t.leftPad = (int) menu["leftPad"];
        t.cornerRadius = (int) menu["cornerRadius"];
        t.shadowMargin = (int) menu["shadowMargin"];
        if (const auto& fonts = root["fonts"]; fonts.isObject())
            t.fontSize = (float) (int) fonts["menuSize"];

        const juce::String family = menu.hasProperty ("fontFamily") ? menu["fontFamily"].toString() : juce::String ("DM Sans");
        const int weight = menu.hasProperty ("fontWeight") ? (int) menu["fontWeight"] : 400;
        if (menu.hasProperty ("fontSize"))
            t.fontSize = (float) (double) menu["fontSize"];
        t.typeface = getTypeface ? getTypeface (family, weight) : nullptr;
        shared = t;
    }

    if (const auto& kb = root["keyboard"]; kb.isObject())
    {
        if (kb.hasProperty ("recordedNote"))
            if (const auto c = colour (kb, "recordedNote"); c.getAlpha() != 0)
                keyboard.recordedNoteColour = c;
        if (kb.hasProperty ("inactiveOpacity"))
            keyboard.inactiveOpacity = juce::jlimit (0.0f, 1.0f, (float) (double) kb["inactiveOpacity"]);
    }

    if (const auto c = parseThemeColour (root["dark"].toString()); c.getAlpha() != 0)
        keyboard.darkColour = c;

    if (const auto& cursor = root["cursor"]; cursor.isObject())
        if (const auto c = colour (cursor, "color"); c.getAlpha() != 0)
            keyboard.cursorColour = c;
}
