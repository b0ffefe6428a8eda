#include <gtest/gtest.h>

#include "ui/toolkit/FilmstripSlider.h"
#include "ui/toolkit/Theme.h"

namespace
{
// Frames that are each one solid colour: red channel = frame index.
std::vector<juce::Image> colouredFrames (int count)
{
    std::vector<juce::Image> frames;
    for (int i = 0; i < count; ++i)
    {
        juce::Image im (juce::Image::ARGB, 4, 4, true);
        im.clear (im.getBounds(), juce::Colour ((juce::uint8) i, 0, 0));
        frames.push_back (im);
    }
    return frames;
}

int shownFrame (FilmstripSlider& s)
{
    const auto snapshot = s.createComponentSnapshot (s.getLocalBounds());
    return snapshot.getPixelAt (s.getWidth() / 2, s.getHeight() / 2).getRed();
}
}

TEST (FilmstripSlider, FrameForValueRoundsHalfToEven)
{
    FilmstripSlider s (colouredFrames (128), 128);
    s.setSize (20, 20);

    struct Case
    {
        double value;
        int frame;
    };
    for (const auto& c : { Case { 0.5, 64 }, Case { 1.0, 127 }, Case { 0.0, 0 }, Case { 0.25, 32 } })
    {
        s.setValue (c.value, juce::dontSendNotification);
        EXPECT_EQ (s.frameIndexFor (c.value), c.frame) << c.value;
        EXPECT_EQ (shownFrame (s), c.frame) << c.value;
    }

    EXPECT_EQ (s.getSliderStyle(), juce::Slider::RotaryHorizontalVerticalDrag);
    EXPECT_EQ (s.getTextBoxPosition(), juce::Slider::NoTextBox);
    EXPECT_EQ (s.getMinimum(), 0.0);
    EXPECT_EQ (s.getMaximum(), 1.0);
    EXPECT_EQ (s.getInterval(), 0.0);
    EXPECT_FALSE (s.isScrollWheelEnabled());
    EXPECT_EQ (s.getMouseDragSensitivity(), 200);
}

TEST (FilmstripSlider, FewerVectorFramesThanAskedShowTheOneThereIs)
{
    std::vector<std::unique_ptr<juce::Drawable>> frames;
    auto d = std::make_unique<juce::DrawableRectangle>();
    d->setRectangle (juce::Parallelogram<float> (juce::Rectangle<float> (0, 0, 20, 20)));
    d->setFill (juce::FillType (juce::Colour (0xff00ff00)));
    frames.push_back (std::move (d));

    FilmstripSlider s (std::move (frames), 128);
    s.setSize (20, 20);
    for (double v : { 0.0, 0.5, 1.0 })
    {
        s.setValue (v, juce::dontSendNotification);
        EXPECT_EQ (s.frameIndexFor (v), 0);
        EXPECT_EQ (s.createComponentSnapshot (s.getLocalBounds()).getPixelAt (10, 10).getGreen(), 255);
    }
}

//==============================================================================
TEST (Theme, ColourParsing)
{
    struct Case
    {
        const char* text;
        juce::uint32 argb;
    };
    const Case cases[] = {
        { "rgba(60,158,244,0.2)", 0x333C9EF4 },
        { "rgba(208,208,208,0.35)", 0x59D0D0D0 },
        { "rgba(255,255,255,0.06)", 0x0FFFFFFF },
        { "rgba(100, 200, 255, 0.95)", 0xF264C8FF },
        { "rgba(356, 0, 0, 1)", 0xFF640000 },        // only the low 8 bits
        { "rgba(1,2,3)", 0x00000000 },
        { "rgb(100, 200, 255)", 0x00000000 },
        { "#f4b03c", 0xFFF4B03C },
        { "#f4b03c00", 0x00000000 },
        { "#zzzzzz", 0x00000000 },
        { "", 0x00000000 },
    };
    for (const auto& c : cases)
        EXPECT_EQ (parseThemeColour (c.text).getARGB(), c.argb) << c.text;
}

TEST (Theme, DocumentFillsTheMenuThemeAndKeyboardValues)
{
    const auto doc = juce::JSON::parse (R"json({
        "menu": { "bg": "#13202b", "text": "#d0d0d0", "hoverBg": "rgba(60,158,244,0.2)", "hoverText": "rgb(1,2,3)",
                  "scrollbarWidth": 8, "fontFamily": "DM Sans", "fontWeight": 700, "fontSize": 14,
                  "itemHeight": 24, "padding": 4, "leftPad": 24, "cornerRadius": 6, "shadowMargin": 8 },
        "fonts": { "menuSize": 12 },
        "keyboard": { "recordedNote": "rgba(0,0,0,0)", "inactiveOpacity": 1.7 },
        "dark": "#101010",
        "cursor": { "color": "#64c8ff" },
        "_comment": "ignored" })json");

    DropdownMenu::Theme theme;
    KeyboardThemeValues keyboard;
    juce::String askedFamily;
    int askedWeight = 0;
    applyThemeDocument (doc, theme, keyboard, [&] (const juce::String& f, int w)
    {
        askedFamily = f;
        askedWeight = w;
        return juce::Typeface::Ptr();
    });

    EXPECT_EQ (theme.bg.getARGB(), 0xFF13202Bu);
    EXPECT_EQ (theme.border.getARGB(), 0x00000000u);     // missing: transparent
    EXPECT_EQ (theme.hoverText.getARGB(), 0xFFFFFFFFu);  // unparsable: the default stays
    EXPECT_EQ (theme.scrollbarWidth, 8);
    EXPECT_EQ (theme.scrollbarThumb.getARGB(), 0x33000000u);
    EXPECT_EQ (theme.separatorHeight, 0);                // missing integers read as 0
    EXPECT_EQ (theme.fontSize, 14.0f);
    EXPECT_EQ (theme.leftPad, 24);
    EXPECT_EQ (askedFamily, "DM Sans");
    EXPECT_EQ (askedWeight, 700);
    EXPECT_EQ (keyboard.recordedNoteColour.getARGB(), 0xFFF4B03Cu);   // transparent: the default stays
    EXPECT_EQ (keyboard.inactiveOpacity, 1.0f);
    EXPECT_EQ (keyboard.darkColour.getARGB(), 0xFF101010u);
    EXPECT_EQ (keyboard.cursorColour.getARGB(), 0xFF64C8FFu);

    // Without "menu" the menu theme stays as it was.
    DropdownMenu::Theme untouched;
    untouched.itemHeight = 99;
    applyThemeDocument (juce::JSON::parse ("{}"), untouched, keyboard, {});
    EXPECT_EQ (untouched.itemHeight, 99);
    EXPECT_EQ (DropdownMenu::getSharedTheme().itemHeight, 24);
}

namespace
{
juce::MouseEvent mouseAt (juce::Component& c, juce::Point<float> p, juce::ModifierKeys mods, juce::Point<float> down)
{
    auto source = juce::Desktop::getInstance().getMainMouseSource();
    return juce::MouseEvent (source, p, mods, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, &c, &c, juce::Time::getCurrentTime(),
                             down, juce::Time::getCurrentTime(), 1, false);
}
}

TEST (FilmstripSlider, DragOf200PixelsCoversTheRangeAndCtrlClickDoesNothing)
{
    FilmstripSlider s (colouredFrames (128), 128);
    s.setSize (40, 40);
    const juce::Point<float> start (20, 200);
    const auto left = juce::ModifierKeys (juce::ModifierKeys::leftButtonModifier);

    s.mouseDown (mouseAt (s, start, left, start));
    s.mouseDrag (mouseAt (s, start.translated (0, -100), left, start));
    EXPECT_NEAR (s.getValue(), 0.5, 0.01);
    s.mouseDrag (mouseAt (s, start.translated (0, -200), left, start));
    EXPECT_NEAR (s.getValue(), 1.0, 1e-9);
    s.mouseUp (mouseAt (s, start.translated (0, -200), left, start));

    // A Ctrl-click starts no drag: dragging afterwards changes nothing.
    s.setValue (0.3, juce::dontSendNotification);
    const auto ctrl = juce::ModifierKeys (juce::ModifierKeys::leftButtonModifier | juce::ModifierKeys::ctrlModifier);
    s.mouseDown (mouseAt (s, start, ctrl, start));
    EXPECT_EQ (s.getValue(), 0.3);

    // The wheel passes to the parent.
    juce::MouseWheelDetails wheel { 0.0f, 1.0f, false, false, false };
    s.mouseWheelMove (mouseAt (s, start, {}, start), wheel);
    EXPECT_EQ (s.getValue(), 0.3);
}
