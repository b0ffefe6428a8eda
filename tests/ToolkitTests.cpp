#include <iostream>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "tests/harness/MouseEvents.h"

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


TEST (FilmstripSlider, DragOf200PixelsCoversTheRangeAndCtrlClickDoesNothing)
{
    FilmstripSlider s (colouredFrames (128), 128);
    s.setSize (40, 40);
    const juce::Point<float> start (20, 200);
    const auto left = juce::ModifierKeys (juce::ModifierKeys::leftButtonModifier);

    s.mouseDown (qtest::mouseEvent (s, start, left, start));
    s.mouseDrag (qtest::mouseEvent (s, start.translated (0, -100), left, start));
    EXPECT_NEAR (s.getValue(), 0.5, 0.01);
    s.mouseDrag (qtest::mouseEvent (s, start.translated (0, -200), left, start));
    EXPECT_NEAR (s.getValue(), 1.0, 1e-9);
    s.mouseUp (qtest::mouseEvent (s, start.translated (0, -200), left, start));

    // A Ctrl-click starts no drag: dragging afterwards changes nothing.
    s.setValue (0.3, juce::dontSendNotification);
    const auto ctrl = juce::ModifierKeys (juce::ModifierKeys::leftButtonModifier | juce::ModifierKeys::ctrlModifier);
    s.mouseDown (qtest::mouseEvent (s, start, ctrl, start));
    EXPECT_EQ (s.getValue(), 0.3);

    // The wheel passes to the parent.
    juce::MouseWheelDetails wheel { 0.0f, 1.0f, false, false, false };
    s.mouseWheelMove (qtest::mouseEvent (s, start, {}, start), wheel);
    EXPECT_EQ (s.getValue(), 0.3);
}

//==============================================================================
#include "ui/toolkit/DropdownMenu.h"

namespace
{
// The embedded theme's menu sizes.
struct EmbeddedMenuTheme
{
    EmbeddedMenuTheme()
    {
        saved = DropdownMenu::getSharedTheme();
        auto& t = DropdownMenu::getSharedTheme();
        t.itemHeight = 24;
        t.separatorHeight = 9;
        t.padding = 4;
        t.shadowMargin = 8;
        t.leftPad = 24;
        t.fontSize = 14.0f;
    }
    ~EmbeddedMenuTheme() { DropdownMenu::getSharedTheme() = saved; }
    DropdownMenu::Theme saved;
};

std::vector<DropdownMenu::Item> numbered (int count)
{
    std::vector<DropdownMenu::Item> items;
    for (int i = 0; i < count; ++i)
    {
        DropdownMenu::Item item;
        item.text = "Item " + juce::String (i);
        item.id = i + 1;
        items.push_back (item);
    }
    return items;
}

struct Host : juce::Component
{
    Host() { setBounds (0, 0, 1200, 1084); }
};

// The centre of row i (rows of equal height, no separators before it).
juce::Point<int> rowCentre (const DropdownMenu& m, int i)
{
    return { m.body.getCentreX(), m.body.getY() + m.shadowMargin + m.padding + i * m.itemHeight + m.itemHeight / 2 };
}
}

TEST (DropdownMenuTest, HeightsScrollingAndWidth)
{
    const EmbeddedMenuTheme theme;
    Host host;

    auto* six = new DropdownMenu();
    six->showAt ({ 100, 100 }, numbered (6), 1.0f, &host);
    EXPECT_EQ (six->contentHeight, 144);
    EXPECT_EQ (six->getHeight(), 168);
    six->dismiss();

    auto* unlimited = new DropdownMenu();
    unlimited->showAt ({ 100, 100 }, numbered (20), 1.0f, &host);
    auto* limited = new DropdownMenu();
    limited->maxHeight = 360;
    limited->showAt ({ 100, 100 }, numbered (20), 1.0f, &host);
    EXPECT_EQ (limited->visibleHeight, 360);
    EXPECT_EQ (limited->getWidth(), unlimited->getWidth() + 8);

    // A wheel step of 0.25 scrolls 36 pixels; the offset stays within the content.
    limited->mouseWheelMove (qtest::mouseEvent (*limited, { 50.0f, 50.0f }), { 0.0f, -0.25f, false, false, false });
    EXPECT_EQ (limited->scrollOffset, 36);
    for (int i = 0; i < 20; ++i)
        limited->mouseWheelMove (qtest::mouseEvent (*limited, { 50.0f, 50.0f }), { 0.0f, -1.0f, false, false, false });
    EXPECT_EQ (limited->scrollOffset, 480 - 360);
    limited->mouseWheelMove (qtest::mouseEvent (*limited, { 50.0f, 50.0f }), { 0.0f, 5.0f, false, false, false });
    EXPECT_EQ (limited->scrollOffset, 0);
    limited->dismiss();
    unlimited->dismiss();
}

TEST (DropdownMenuTest, ShortenedAboveTheEditorsBottomButNeverBelowThreeRows)
{
    const EmbeddedMenuTheme theme;
    Host host;
    auto* m = new DropdownMenu();
    m->showAt ({ 100, 1000 }, numbered (10), 1.0f, &host);
    EXPECT_EQ (m->visibleHeight, 72);   // three rows
    EXPECT_LE (m->getBottom(), host.getHeight());
    EXPECT_LT (m->visibleHeight, m->contentHeight);
    m->dismiss();
}

TEST (DropdownMenuTest, ChoosingAndNotChoosing)
{
    const EmbeddedMenuTheme theme;
    Host host;
    int chosen = -1;

    auto items = numbered (4);
    items[1].enabled = false;
    items[2].isSeparator = true;
    DropdownMenu::Item folder;
    folder.text = "Folder";
    folder.subItems = numbered (2);
    items.push_back (folder);

    auto* m = new DropdownMenu();
    m->onSelect = [&] (int id) { chosen = id; };
    m->showAt ({ 100, 100 }, items, 1.0f, &host);
    EXPECT_TRUE (m->coversParent);

    m->selectItemAt (1);   // disabled
    m->selectItemAt (2);   // separator
    m->selectItemAt (4);   // has sub-items
    m->selectItemAt (99);
    EXPECT_EQ (chosen, -1);
    EXPECT_TRUE (m->isVisible());

    // Hovering the folder opens its sub-menu; Escape there closes the whole chain.
    m->handleItemHover (4);
    ASSERT_NE (m->submenu, nullptr);
    EXPECT_TRUE (m->submenu->isVisible());
    EXPECT_GT (m->submenu->getX(), m->body.getX());   // room on the right: it opens there
    m->submenu->keyPressed (juce::KeyPress (juce::KeyPress::escapeKey), m->submenu.get());
    EXPECT_FALSE (m->isVisible());
    EXPECT_EQ (chosen, -1);

    // A click on an enabled row chooses it, once.
    auto* n = new DropdownMenu();
    n->onSelect = [&] (int id) { chosen = id; };
    n->showAt ({ 100, 100 }, numbered (4), 1.0f, &host);
    n->mouseUp (qtest::mouseEvent (*n, rowCentre (*n, 3).toFloat()));
    EXPECT_EQ (chosen, 4);
    EXPECT_FALSE (n->isVisible());
}

TEST (DropdownMenuTest, SubmenuNearTheRightEdgeOpensToTheLeft)
{
    const EmbeddedMenuTheme theme;
    Host host;
    DropdownMenu::Item folder;
    folder.text = "Folder with a long name";
    folder.subItems = numbered (3);

    auto* m = new DropdownMenu();
    m->showAt ({ 1190, 100 }, { folder }, 1.0f, &host);
    m->handleItemHover (0);
    ASSERT_NE (m->submenu, nullptr);
    EXPECT_LT (m->submenu->getRight(), m->body.getRight());
    m->dismiss();
}

TEST (DropdownMenuTest, DisabledItemIsNeverHighlighted)
{
    const EmbeddedMenuTheme theme;
    Host host;
    auto items = numbered (1);
    items[0].text = "No presets saved";
    items[0].enabled = false;
    auto* m = new DropdownMenu();
    m->showAt ({ 100, 100 }, items, 1.0f, &host);
    m->handleItemHover (0);
    const auto image = m->createComponentSnapshot (m->getLocalBounds());
    const auto hover = DropdownMenu::getSharedTheme().hoverBg;
    const auto pixel = image.getPixelAt (m->body.getX() + m->shadowMargin + m->padding + 2, rowCentre (*m, 0).y);
    EXPECT_NE (pixel.getARGB(), DropdownMenu::getSharedTheme().bg.overlaidWith (hover).getARGB());
    m->dismiss();
}

//==============================================================================
#include "ui/toolkit/FigmaRenderer.h"

namespace
{
struct Resources
{
    std::map<juce::String, juce::MemoryBlock> files;

    void add (const juce::String& name, const juce::String& text) { files[name] = juce::MemoryBlock (text.toRawUTF8(), text.getNumBytesAsUTF8()); }

    FigmaRenderer::ResourceLookup lookup() const
    {
        return [this] (const juce::String& name)
        {
            const auto it = files.find (name);
            return it != files.end() ? it->second : juce::MemoryBlock();
        };
    }
};

const char* threeFrameSvg = R"(<svg xmlns="http://www.w3.org/2000/svg" width="10" height="30">
    <svg x="0" y="0" width="10" height="10" viewBox="0 0 10 10"><rect width="10" height="10" fill="#ff0000"/></svg>
    <svg x="0" y="10" width="10" height="10" viewBox="0 0 10 10"><rect width="10" height="10" fill="#00ff00"/></svg>
    <svg x="0" y="20" width="10" height="10" viewBox="0 0 10 10"><rect width="10" height="10" fill="#0000ff"/></svg></svg>)";

const char* plainSvg = R"(<svg xmlns="http://www.w3.org/2000/svg" width="10" height="20"><rect width="10" height="20" fill="#ffffff"/></svg>)";

juce::MemoryBlock pngOfSize (int w, int h)
{
    juce::Image im (juce::Image::ARGB, w, h, true);
    juce::MemoryOutputStream out;
    juce::PNGImageFormat().writeImageToStream (im, out);
    return out.getMemoryBlock();
}
}

TEST (FigmaRendererTest, ColoursAndJustification)
{
    EXPECT_EQ (parseHexColour ("").getARGB(), 0x00000000u);
    EXPECT_EQ (parseHexColour ("#13202b").getARGB(), 0xFF13202Bu);
    EXPECT_EQ (parseHexColour ("#8013202b").getAlpha(), 0x80);
    EXPECT_EQ (parseHexColour ("#13202b", 0.5f).getAlpha(), 128);
    EXPECT_EQ (parseHexColour ("#13202b", 0.0f).getAlpha(), 0);
    EXPECT_EQ (parseHexColour ("13202b").getARGB(), 0xFF13202Bu);
}

TEST (FigmaRendererTest, SvgFilmstripsAndTheFailureMessage)
{
    Resources r;
    r.add ("strip.svg", threeFrameSvg);
    r.add ("plain.svg", plainSvg);
    FigmaRenderer renderer (r.lookup());

    EXPECT_EQ (renderer.splitSvgFilmstrip ("strip.svg", 2).size(), 2u);
    EXPECT_EQ (renderer.splitSvgFilmstrip ("strip.svg", 3).size(), 3u);
    EXPECT_EQ (renderer.splitSvgFilmstrip ("strip.svg", 4).size(), 1u);   // fewer frames than asked: the whole document
    EXPECT_EQ (renderer.splitSvgFilmstrip ("plain.svg", 2).size(), 1u);
    EXPECT_EQ (renderer.splitSvgFilmstrip ("strip.svg", 2).size(), 2u);   // from the cache, as copies

    std::stringstream captured;
    auto* old = std::cerr.rdbuf (captured.rdbuf());
    EXPECT_TRUE (renderer.splitSvgFilmstrip ("missing.svg", 2).empty());
    std::cerr.rdbuf (old);
    EXPECT_EQ (captured.str(), "FigmaRenderer: failed to parse SVG XML: missing.svg\n");
}

TEST (FigmaRendererTest, BuildingElements)
{
    Resources r;
    r.add ("strip.svg", threeFrameSvg);
    r.files["knob.png"] = pngOfSize (10, 1280);
    r.files["two.png"] = pngOfSize (40, 10);
    r.add ("figma-elements.json", R"({ "width": 1200, "height": 1084, "elements": [
        { "name": "panel", "x": 10.5, "y": 11.5, "width": 300, "height": 200, "children": [
            { "name": "button", "x": 0, "y": 0, "width": 10, "height": 10, "numFrames": 3, "imgFile": "strip.svg" },
            { "name": "label", "x": 0, "y": 20, "width": 100, "height": 20, "text": { "fontSize": 12, "x": 0, "y": 10, "width": 80, "height": 14, "textAlignHorizontal": "LEFT" } },
            { "name": "centred", "text": { "textAlignHorizontal": "CENTER" } },
            { "name": "odd", "text": { "textAlignHorizontal": "JUSTIFIED" } },
            { "name": "preset_text_input", "x": 0, "y": 50, "width": 200, "height": 30, "text": { "x": 10, "y": 0, "width": 150, "height": 20 } },
            { "name": "plain_text_input", "x": 0, "y": 90, "width": 200, "height": 30 },
            { "name": "knob", "x": 0, "y": 130, "width": 10, "height": 10, "numFrames": 128, "imgFile": "knob.png" },
            { "name": "pair", "numFrames": 2, "isHorizontal": true, "imgFile": "two.png",
              "visuals": { "bg": "#102030", "bgOpacity": 0.5, "strokes": [ { "color": "#ffffff" } ], "radius": 4 },
              "shadow": { "color": "#000000", "alpha": 0.25, "blur": 4.6, "offsetY": 2 } },
            { "name": "button", "x": 5, "y": 5, "width": 1, "height": 1 },
            "not an object"
        ] } ] })");
    FigmaRenderer renderer (r.lookup());
    renderer.loadDocuments();

    EXPECT_EQ (renderer.documentWidth, 1200);
    EXPECT_EQ (renderer.root.getHeight(), 1084);

    auto* panel = renderer.findElement ("panel");
    ASSERT_NE (panel, nullptr);
    EXPECT_EQ (panel->getPosition(), juce::Point<int> (10, 12));   // halves to even
    EXPECT_EQ (panel->designBounds.getX(), 10.5f);
    bool self = true, children = false;
    panel->getInterceptsMouseClicks (self, children);
    EXPECT_FALSE (self);   // a static element lets clicks through to its children
    EXPECT_TRUE (children);

    EXPECT_EQ (renderer.findElement ("button")->getX(), 5);   // the later of two with one name
    EXPECT_EQ (renderer.findElement ("label")->getHeight(), 27);
    EXPECT_EQ (renderer.findElement ("label")->textJustification.getFlags(), juce::Justification::topLeft);
    EXPECT_EQ (renderer.findElement ("centred")->textJustification.getFlags(), juce::Justification::centredTop);
    EXPECT_EQ (renderer.findElement ("odd")->textJustification.getFlags(), juce::Justification::topLeft);

    auto* editor = renderer.getTextEditor ("preset_text_input");
    ASSERT_NE (editor, nullptr);
    EXPECT_EQ (editor->getBounds(), juce::Rectangle<int> (10, 0, 190, 30));
    EXPECT_EQ (renderer.getTextEditor ("plain_text_input")->getBounds(), juce::Rectangle<int> (4, 2, 192, 26));
    EXPECT_EQ (renderer.getTextEditor ("knob"), nullptr);
    EXPECT_EQ (renderer.getTextEditor ("nothing"), nullptr);
    EXPECT_EQ (renderer.findElement ("nothing"), nullptr);

    auto* knob = dynamic_cast<FilmstripSlider*> (renderer.widgetsByName["knob"]);
    ASSERT_NE (knob, nullptr);
    EXPECT_EQ (knob->frameImages.size(), 128u);
    EXPECT_EQ (knob->frameImages[0].getHeight(), 10);
    EXPECT_TRUE (renderer.findElement ("knob")->frameImages.empty());

    auto* pair = renderer.findElement ("pair");
    ASSERT_EQ (pair->frameImages.size(), 2u);
    EXPECT_EQ (pair->frameImages[1].getWidth(), 20);
    EXPECT_EQ (pair->fillColour.getARGB(), 0x80102030u);
    EXPECT_EQ (pair->strokeColour.getARGB(), 0xFFFFFFFFu);
    EXPECT_EQ (pair->cornerRadius, 4.0f);
    EXPECT_TRUE (pair->dropShadow.on);
    EXPECT_EQ (pair->dropShadow.colour.getARGB(), 0x40000000u);
    EXPECT_EQ (pair->dropShadow.blur, 5);

    EXPECT_EQ (renderer.ownedElements.size(), 10u);   // the non-object entry builds nothing
}

TEST (FigmaRendererTest, TypefacesAreLookedUpExactly)
{
    Resources r;
    const juce::File font ("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
    if (! font.existsAsFile())
        GTEST_SKIP() << "no font file to stand in";
    juce::MemoryBlock bytes;
    font.loadFileAsData (bytes);
    r.files["Roboto-VariableFont_wdth,wght.ttf"] = bytes;

    FigmaRenderer renderer (r.lookup());
    renderer.loadFontsFromBinaryData();
    EXPECT_NE (renderer.getTypeface ("Roboto", 400), nullptr);
    EXPECT_EQ (renderer.getTypeface ("Roboto", 700), nullptr);
    EXPECT_EQ (renderer.getTypeface ("DM Sans", 400), nullptr);
}

//==============================================================================
namespace
{
std::unique_ptr<FigmaElement> sprite (int frames)
{
    auto e = std::make_unique<FigmaElement>();
    e->numFrames = frames;
    e->setSize (20, 20);
    return e;
}
}

TEST (FigmaElementTest, ButtonFrameRules)
{
    auto b = sprite (3);
    int clicks = 0;
    b->onClick = [&] (FigmaElement&, const juce::MouseEvent&) { ++clicks; };
    const auto at = qtest::mouseEvent (*b, { 5, 5 });
    b->mouseEnter (at);
    EXPECT_EQ (b->frame, 2);
    b->mouseDown (at);
    EXPECT_EQ (b->frame, 1);
    b->mouseUp (qtest::mouseEvent (*b, { 500, 500 }));   // released outside: still a click
    EXPECT_EQ (b->frame, 2);
    EXPECT_EQ (clicks, 1);
    b->mouseExit (at);
    EXPECT_EQ (b->frame, 0);

    auto t = sprite (6);
    t->mouseEnter (at);
    EXPECT_EQ (t->frame, 4);
    t->mouseDown (at);
    EXPECT_EQ (t->frame, 2);
    t->mouseUp (at);
    EXPECT_EQ (t->frame, 5);
    EXPECT_TRUE (t->toggled);

    auto m = sprite (6);
    m->momentary = true;
    m->mouseEnter (at);
    m->mouseDown (at);
    m->mouseUp (at);
    EXPECT_EQ (m->frame, 4);
    EXPECT_FALSE (m->toggled);

    auto two = sprite (2);
    std::vector<float> values;
    two->onValueChange = [&] (FigmaElement&, float v) { values.push_back (v); };
    two->mouseDown (at);
    two->mouseUp (at);
    two->mouseDown (at);
    two->mouseUp (at);
    EXPECT_EQ (values, (std::vector<float> { 1.0f, 0.0f }));

    // Hover partners light up together.
    auto four = sprite (4);
    auto partner = sprite (4);
    four->hoverPartner = partner.get();
    four->mouseEnter (at);
    EXPECT_EQ (partner->frame, 2);
}

TEST (FigmaElementTest, KnobDragWithAndWithoutShift)
{
    auto k = sprite (128);
    float last = -1.0f;
    k->onValueChange = [&] (FigmaElement&, float v) { last = v; };
    k->mouseDown (qtest::mouseEvent (*k, { 10, 150 }));
    k->mouseDrag (qtest::mouseEvent (*k, { 10, 50 }));
    EXPECT_FLOAT_EQ (last, 0.5f);
    EXPECT_EQ (k->frame, 64);

    auto s = sprite (128);
    s->onValueChange = [&] (FigmaElement&, float v) { last = v; };
    const auto shift = juce::ModifierKeys (juce::ModifierKeys::shiftModifier);
    s->mouseDown (qtest::mouseEvent (*s, { 10, 150 }, shift));
    s->mouseDrag (qtest::mouseEvent (*s, { 10, 50 }, shift));
    EXPECT_FLOAT_EQ (last, 0.125f);
    EXPECT_EQ (s->frame, 16);
}

TEST (FigmaElementTest, HardShadowSilhouetteWithTheElementCutOut)
{
    auto e = sprite (1);
    e->setSize (10, 10);
    e->singleImage = juce::Image (juce::Image::ARGB, 10, 10, true);
    e->singleImage.clear (e->singleImage.getBounds(), juce::Colours::white);
    e->dropShadow = { true, juce::Colours::black, 0, 3, 3, 0 };
    e->rebuildShadowSource();

    const int pad = e->shadowPad;
    EXPECT_EQ (pad, 2);
    auto maskAt = [&] (int elementX, int elementY)   // the mask value that lands on an element pixel
    { return e->shadowMask.getPixelAt (elementX - 3 + pad, elementY - 3 + pad).getAlpha(); };
    EXPECT_EQ (maskAt (12, 12), 255);   // the silhouette, offset
    EXPECT_EQ (maskAt (5, 5), 0);       // cut out where the element is
    EXPECT_EQ (maskAt (14, 14), 0);     // beyond the silhouette

    // A background element paints no shadow.
    e->isBg = true;
    juce::Image canvas (juce::Image::ARGB, 30, 30, true);
    {
        juce::Graphics g (canvas);
        g.setOrigin (5, 5);
        e->paint (g);
    }
    EXPECT_EQ (canvas.getPixelAt (5 + 12, 5 + 12).getAlpha(), 0);
}

TEST (FigmaElementTest, CentredDynamicTextBoxReachesTheFartherEdge)
{
    auto e = sprite (1);
    e->setSize (100, 30);
    e->fillColour = juce::Colours::red;
    e->dynamicText = true;
    e->fontSize = 12.0f;
    e->textJustification = juce::Justification::centredTop;
    e->textBounds = { 10, 0, 20, 14 };
    e->hasTextBounds = true;
    const auto box = e->textBox();
    EXPECT_EQ (box.getX(), -60);
    EXPECT_EQ (box.getWidth(), 160);
}

namespace juce { bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages); }

TEST (FigmaElementTest, BackgroundBlurSnapshotsWhatLiesBehindWithoutItsFrontSiblings)
{
    juce::Component parent;
    parent.setSize (100, 100);
    auto behind = sprite (1), blur = sprite (1), front = sprite (1);
    behind->setBounds (0, 0, 100, 100);
    behind->fillColour = juce::Colours::red;
    blur->setBounds (20, 20, 40, 40);
    blur->backgroundBlur = true;
    blur->backgroundBlurRadius = 3.0f;
    front->setBounds (30, 30, 10, 10);
    front->fillColour = juce::Colours::lime;
    for (auto* c : { behind.get(), blur.get(), front.get() })
        parent.addAndMakeVisible (c);

    parent.createComponentSnapshot (parent.getLocalBounds());   // the first paint posts the job
    EXPECT_FALSE (blur->backdropImage.isValid());
    while (juce::dispatchNextMessageOnSystemQueue (true)) {}

    ASSERT_TRUE (blur->backdropImage.isValid());
    EXPECT_EQ (blur->backdropImage.getBounds(), juce::Rectangle<int> (0, 0, 40, 40));
    EXPECT_EQ (blur->backdropImage.getPixelAt (15, 15).getRed(), 255);   // red behind; the green sibling was hidden
    EXPECT_EQ (blur->backdropImage.getPixelAt (15, 15).getGreen(), 0);
    EXPECT_TRUE (front->isVisible());
    EXPECT_FALSE (front->backdropPending);
    EXPECT_FALSE (blur->backdropPending);

    // Shown again: the backdrop is taken anew.
    blur->setVisible (false);
    blur->setVisible (true);
    EXPECT_FALSE (blur->backdropImage.isValid());
}

TEST (FigmaRendererTest, EmbeddedResourcesAreFoundByTheirOriginalNames)
{
    EXPECT_GT (findEmbeddedResource ("theme.json").getSize(), 0u);
    EXPECT_EQ (findEmbeddedResource ("theme_json").getSize(), 0u);   // the identifier is not the file name
    EXPECT_EQ (findEmbeddedResource ("no-such-file.svg").getSize(), 0u);

    EmbeddedMenuTheme restore;
    FigmaRenderer renderer;
    renderer.loadDocuments();
    const auto& t = DropdownMenu::getSharedTheme();
    EXPECT_EQ (t.bg, juce::Colour (0xFF13202B));
    EXPECT_EQ (t.fontSize, 14.0f);
    EXPECT_EQ (t.shadowMargin, 8);
    EXPECT_EQ (renderer.keyboardTheme.cursorColour, juce::Colour (0xFF64C8FF));

    // Every font the set-up put into the table is registered under its family and weight.
    for (const auto& font : kEmbeddedFonts)
        if (findEmbeddedResource (font.file).getSize() > 0)
            EXPECT_NE (renderer.getTypeface (font.family, font.weight), nullptr) << font.file;
}
