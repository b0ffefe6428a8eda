// The shipped layout document and its art, built and drawn as the editor does.

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

#include "UIBinaryData.h"
#include "ui/keyboard/KeyLayout.h"
#include "ui/toolkit/FigmaRenderer.h"

namespace
{
// Every element the keyboards and the editor look up, and the modifier
// buttons and toggles that give the mouse every command.
const char* const kLookedUpNames[] {
    "title", "preset_browser", "inc_preset", "dec_preset", "save_preset",
    "save_preset_as_dialog", "save_preset_as_text_input", "save_kit", "cancel_kit",
    "confirm_change_preset", "yes_save_changes", "no_dont_save_changes", "cancel_loading_new_preset",
    "keyboard_1", "keyboard_2", "keyboard_3", "keyboard_4",
    "modifers_track", "keysnap_handle_low", "keysnap_handle_high", "move_modifiers",
    "drag_modifiers_legend", "paste_modifiers_hint",
    "loop", "resampling", "layer", "mix", "cascade",
    "note_quantize_power", "clip_launch_power", "loop_length_power", "dynamics_power",
    "input_quantization_time_value", "input_quantization_time_unit",
    "clip_quantization_time_value", "clip_quantization_time_unit",
    "note_quantize_amt", "dynamics_control_amt", "loop_length", "dynamics_control",
    "add_keyboard", "remove_keyboard", "gate", "one_shot", "latch", "legato", "mono", "poly",
    "modifier_octave",
    "record", "resample", "undo", "redo", "step_forward", "step_backward",
    "transpose_down", "transpose_up", "invert_down", "invert_up", "slow_down", "speed_up",
    "invert_down_options", "invert_up_options", "slow_down_options", "speed_up_options",
};

// Lit by the displays: off, on, and both pressed and hovered.
const char* const kSixFrameNames[] {
    "record", "resample", "undo", "redo", "step_forward", "step_backward",
    "transpose_down", "transpose_up", "invert_down", "invert_up", "slow_down", "speed_up",
    "loop", "resampling", "layer", "mix", "cascade",
    "note_quantize_power", "clip_launch_power", "loop_length_power", "dynamics_power",
    "input_quantization_time_value", "input_quantization_time_unit",
    "clip_quantization_time_value", "clip_quantization_time_unit",
    "loop_length", "dynamics_control", "gate", "one_shot", "latch", "mono", "poly", "legato",
};

// Panels the editor hides until they are needed.
const char* const kHiddenAtStart[] { "save_preset_as_dialog", "confirm_change_preset",
                                     "drag_modifiers_legend", "paste_modifiers_hint" };

const char* const kKeySprites[] {
    "pno_key_playable_empty_white.svg", "pno_key_playable_empty_black.svg",
    "pno_key_playable_triggered_white.svg", "pno_key_playable_triggered_black.svg",
    "pno_key_keysnap_active_white.svg", "pno_key_keysnap_active_black.svg",
    "pno_key_keysnap_inactive_white.svg", "pno_key_keysnap_inactive_black.svg",
    "pno_key_modifier_record.svg", "pno_key_modifier_undo.svg", "pno_key_modifier_thru.svg",
    "pno_key_modifier_redo.svg", "pno_key_modifier_step_backward.svg", "pno_key_modifier_step_forward.svg",
    "pno_key_modifier_higher_keyboard.svg", "pno_key_modifier_lower_keyboard.svg",
    "pno_key_modifier_transpose_up.svg", "pno_key_modifier_transpose_down.svg",
    "pno_key_modifier_speed_up.svg", "pno_key_modifier_slow_down.svg",
};

juce::Rectangle<int> boundsInRoot (const FigmaRenderer& r, const juce::Component& c)
{
    return r.root.getLocalArea (&c, c.getLocalBounds());
}

bool shownInRoot (const FigmaRenderer& r, const juce::Component& c)
{
    for (auto* p = &c; p != nullptr && p != &r.root; p = p->getParentComponent())
        if (! p->isVisible())
            return false;
    return true;
}

struct ShippedLayout : ::testing::Test
{
    void SetUp() override
    {
        std::stringstream captured;
        auto* old = std::cerr.rdbuf (captured.rdbuf());
        renderer.loadDocuments();
        std::cerr.rdbuf (old);
        loadMessages = captured.str();
    }

    void hidePanels()
    {
        for (auto* name : kHiddenAtStart)
            if (auto* e = renderer.findElement (name))
                e->setVisible (false);
    }

    FigmaRenderer renderer;
    std::string loadMessages;
};
}

TEST_F (ShippedLayout, EveryLookedUpNameIsThereAndEveryArtFileParses)
{
    EXPECT_EQ (loadMessages, "");
    EXPECT_EQ (renderer.documentWidth, 1200);
    EXPECT_EQ (renderer.documentHeight, 1084);

    for (auto* name : kLookedUpNames)
        EXPECT_NE (renderer.findElement (name), nullptr) << name;
    EXPECT_NE (renderer.getTextEditor ("save_preset_as_text_input"), nullptr);

    for (auto* name : kSixFrameNames)
        if (auto* e = renderer.findElement (name))
            EXPECT_EQ (e->numFrames, 6) << name;

    // Every element with art has one drawing per frame it claims.
    for (const auto& e : renderer.ownedElements)
        if (e->numFrames >= 2 && ! e->frameDrawables.empty())
            EXPECT_EQ ((int) e->frameDrawables.size(), e->numFrames) << e->elementName;

    for (auto* file : kKeySprites)
        EXPECT_EQ (renderer.splitSvgFilmstrip (file, 2).size(), 2u) << file;
    EXPECT_EQ (renderer.splitSvgFilmstrip ("Lock.svg", 1).size(), 1u);

    for (int i = 0; i < UIBinaryData::namedResourceListSize; ++i)
    {
        const juce::String file (UIBinaryData::originalFilenames[i]);
        if (! file.endsWithIgnoreCase (".svg"))
            continue;
        int size = 0;
        const auto* data = UIBinaryData::getNamedResource (UIBinaryData::namedResourceList[i], size);
        auto xml = juce::parseXML (juce::String::fromUTF8 (data, size));
        ASSERT_NE (xml, nullptr) << file;
        EXPECT_NE (juce::Drawable::createFromSVG (*xml), nullptr) << file;
    }
    EXPECT_EQ (loadMessages, "");
}

TEST_F (ShippedLayout, KeyboardRowsHold84KeysAndStackAt226Units)
{
    std::array<FigmaElement*, 4> rows {};
    for (int row = 0; row < 4; ++row)
    {
        rows[(size_t) row] = renderer.findElement ("keyboard_" + juce::String (row + 1));
        ASSERT_NE (rows[(size_t) row], nullptr);
        std::set<int> keys;
        for (auto* child : rows[(size_t) row]->getChildren())
            if (auto* key = dynamic_cast<FigmaElement*> (child))
                if (const auto k = keyForLayoutName (key->elementName))
                    keys.insert (k->note);
        EXPECT_EQ (keys.size(), 84u);
        EXPECT_EQ (*keys.begin(), 24);
        EXPECT_EQ (*keys.rbegin(), 107);
    }
    for (int row = 1; row < 4; ++row)
        EXPECT_EQ (rows[(size_t) row - 1]->getY() - rows[(size_t) row]->getY(), 226);

    // With one row shown the window is 406 units high: the header sits above
    // the top row, and what follows the main keyboard moves up with it.
    const int shift = -3 * 226, oneRowHeight = 1084 + shift;
    const int topRowY = rows[3]->getY();
    const std::set<juce::String> movesUp { "modifers_track", "keysnap_handle_low", "keysnap_handle_high", "move_modifiers" };
    for (auto* child : renderer.root.getChildren())
    {
        auto* e = dynamic_cast<FigmaElement*> (child);
        if (e == nullptr || e->isBg || e->elementName.startsWith ("keyboard_") || e->elementName == "confirm_change_preset")
            continue;
        if (movesUp.count (e->elementName) > 0)
            EXPECT_LE (e->getBottom() + shift, oneRowHeight) << e->elementName;
        else if (e->elementName != "drag_modifiers_legend" && e->elementName != "paste_modifiers_hint")
            EXPECT_LE (e->getBottom(), e->elementName == "save_preset_as_dialog" ? oneRowHeight : topRowY) << e->elementName;
    }
    auto* question = renderer.findElement ("confirm_change_preset");
    ASSERT_NE (question, nullptr);
    for (auto* box : question->getChildren())
        EXPECT_LE (box->getBottom(), oneRowHeight);
}

TEST_F (ShippedLayout, ControlsNeitherOverlapNorLeaveTheWindow)
{
    hidePanels();
    std::vector<std::pair<juce::String, juce::Rectangle<int>>> controls;
    for (const auto& e : renderer.ownedElements)
    {
        if (! shownInRoot (renderer, *e))
            continue;
        const auto area = boundsInRoot (renderer, *e);
        EXPECT_TRUE (renderer.root.getLocalBounds().contains (area)) << e->elementName;
        if (e->numFrames >= 2)
            controls.emplace_back (e->elementName, area);
    }
    ASSERT_GT (controls.size(), 40u);
    for (size_t i = 0; i < controls.size(); ++i)
        for (size_t j = i + 1; j < controls.size(); ++j)
            EXPECT_FALSE (controls[i].second.intersects (controls[j].second))
                << controls[i].first << " overlaps " << controls[j].first;
}

TEST_F (ShippedLayout, LongestValuesFitTheirControls)
{
    const std::pair<const char*, const char*> cases[] {
        { "input_quantization_time_value", "1/32" }, { "input_quantization_time_unit", "STRAIGHT" },
        { "clip_quantization_time_value", "FREE" }, { "clip_quantization_time_unit", "TRIPLET" },
        { "note_quantize_amt", "-100%" }, { "dynamics_control_amt", "100%" },
        { "loop_length", "8 BARS" }, { "loop", "LOOPING DISABLED" }, { "resampling", "RESAMPLE LIVE ONLY" },
        { "dynamics_control", "MONO AFTERTOUCH" }, { "dynamics_control", "POLY AFTERTOUCH" },
        { "one_shot", "ONE SHOT" }, { "cascade", "CASCADE" }, { "legato", "LEGATO" },
        { "modifier_octave", "C-2" }, { "move_modifiers", "MODIFIERS" }, { "save_preset", "SAVE" },
        { "cancel_loading_new_preset", "CANCEL" }, { "preset_browser", "Melodies/Night Drive Arpeggio*" },
    };
    for (const auto& [name, text] : cases)
    {
        auto* e = renderer.findElement (name);
        ASSERT_NE (e, nullptr) << name;
        EXPECT_LE (e->textFont().getStringWidthFloat (text), (float) e->textBox().getIntersection (e->getLocalBounds()).getWidth() - 6.0f)
            << name << " cannot show " << text;
    }
}

// Writes the pictures to look at: ui-snapshots/layout-<width>x<height>.png
// in the build folder, at 1200 x 1084 and two other scales, and the two
// preset panels open over the one-row window.
TEST_F (ShippedLayout, RendersOffscreenAtThreeScales)
{
    hidePanels();
    const auto folder = juce::File (QUORVEL_SNAPSHOT_DIR);
    ASSERT_TRUE (folder.createDirectory());

    auto write = [&] (const juce::Image& image, const juce::String& name)
    {
        auto file = folder.getChildFile (name);
        file.deleteFile();
        juce::FileOutputStream out (file);
        ASSERT_TRUE (out.openedOk());
        ASSERT_TRUE (juce::PNGImageFormat().writeImageToStream (image, out));
    };

    // Lit as a new instance shows them, so the pictures show both states.
    for (auto* name : { "dynamics_power", "dynamics_control", "gate", "poly", "layer" })
    {
        auto* e = renderer.findElement (name);
        e->toggled = true;
        e->applyFrame (1);
    }

    for (const float scale : { 1.0f, 0.75f, 1.5f })
    {
        const auto image = renderer.root.createComponentSnapshot (renderer.root.getLocalBounds(), true, scale);
        EXPECT_EQ (image.getWidth(), juce::roundToInt (1200 * scale));
        EXPECT_EQ (image.getHeight(), juce::roundToInt (1084 * scale));

        // Not blank: the keys are light, the background dark.
        const juce::Image::BitmapData pixels (image, juce::Image::BitmapData::readOnly);
        const auto key = pixels.getPixelColour (juce::roundToInt (40 * scale), juce::roundToInt (1000 * scale));
        const auto bg = pixels.getPixelColour (2, 2);
        EXPECT_GT (key.getBrightness(), 0.7f);
        EXPECT_LT (bg.getBrightness(), 0.2f);
        write (image, "layout-" + juce::String (image.getWidth()) + "x" + juce::String (image.getHeight()) + ".png");
    }

    for (auto* name : kHiddenAtStart)
    {
        renderer.findElement (name)->setVisible (true);
        write (renderer.root.createComponentSnapshot ({ 0, 0, 1200, 406 }), juce::String ("panel-") + name + ".png");
        renderer.findElement (name)->setVisible (false);
    }

    // The key sprites, at rest and held, as the keyboards stretch them.
    juce::Image sheet (juce::Image::ARGB, 20 * 60, 2 * 190, true);
    {
        juce::Graphics g (sheet);
        g.fillAll (juce::Colour (0xff0e1821));
        int column = 0;
        for (auto* file : kKeySprites)
        {
            auto frames = renderer.splitSvgFilmstrip (file, 2);
            for (size_t f = 0; f < frames.size(); ++f)
                frames[f]->drawWithin (g, { column * 60 + 18.0f, f * 190 + 10.0f, 23.5f, 170.0f },
                                       juce::RectanglePlacement::stretchToFit, 1.0f);
            ++column;
        }
    }
    write (sheet, "key-sprites.png");
    EXPECT_EQ (loadMessages, "");
}
