// Repaint cost of the editor's layout with the software renderer at scale 1.

#include <benchmark/benchmark.h>

#include "tests/harness/MouseEvents.h"
#include "ui/keyboard/KeyLayout.h"
#include "ui/keyboard/QuorvelKeyboard.h"
#include "ui/toolkit/FigmaRenderer.h"

namespace
{
struct Layout
{
    Layout()
    {
        renderer.loadDocuments();
        // Hidden until used, as in the editor.
        for (auto* name : { "save_preset_as_dialog", "confirm_change_preset", "drag_modifiers_legend", "paste_modifiers_hint" })
            if (auto* e = renderer.findElement (name))
                e->setVisible (false);
    }

    void paint (juce::Rectangle<int> area)
    {
        juce::Graphics g (canvas);
        g.reduceClipRegion (area);
        renderer.root.paintEntireComponent (g, true);
    }

    FigmaRenderer renderer;
    juce::Image canvas { juce::Image::ARGB, 1200, 1084, true, juce::SoftwareImageType() };
};

// Everything the layout draws: 336 layout keys, cards, buttons and shadows.
void fullRepaint (benchmark::State& state)
{
    Layout layout;
    const bool keyGroupsShown = state.range (0) != 0;
    for (int row = 1; row <= 4; ++row)
        layout.renderer.findElement ("keyboard_" + juce::String (row))->setVisible (keyGroupsShown);
    layout.paint (layout.canvas.getBounds());   // first paint builds the shadow caches
    for (auto _ : state)
        layout.paint (layout.canvas.getBounds());
}

// Hovering a shadowed button changes its frame once; the repaints that follow
// while it stays hovered must come from the shadow caches.
void hoverRepaint (benchmark::State& state)
{
    Layout layout;
    auto* button = layout.renderer.findElement ("record");
    const auto area = layout.renderer.root.getLocalArea (button, button->getLocalBounds()).expanded (12);
    layout.paint (layout.canvas.getBounds());
    button->mouseEnter (qtest::mouseEvent (*button, button->getLocalBounds().getCentre().toFloat()));
    layout.paint (area);
    const auto* mask = button->shadowMask.getPixelData();
    for (auto _ : state)
    {
        button->repaint();
        layout.paint (area);
    }
    state.counters["frame"] = button->frame;
    state.counters["maskRebuilt"] = button->shadowMask.getPixelData() != mask ? 1 : 0;
}

// Entering and leaving on every repaint: one shadow rebuild per frame change.
void hoverFlipRepaint (benchmark::State& state)
{
    Layout layout;
    auto* button = layout.renderer.findElement ("record");
    const auto area = layout.renderer.root.getLocalArea (button, button->getLocalBounds()).expanded (12);
    layout.paint (layout.canvas.getBounds());
    bool inside = false;
    for (auto _ : state)
    {
        inside = ! inside;
        if (inside)
            button->mouseEnter (qtest::mouseEvent (*button, button->getLocalBounds().getCentre().toFloat()));
        else
            button->mouseExit (qtest::mouseEvent (*button, button->getLocalBounds().getCentre().toFloat()));
        layout.paint (area);
    }
}
}

// One keyboard row as the editor shows it: 84 sprites at the inactive
// opacity, a third of the keys with clips.
void keyboardRepaint (benchmark::State& state)
{
    Layout layout;
    auto* group = layout.renderer.findElement ("keyboard_1");
    std::vector<QuorvelKeyboard::KeyInfo> keys;
    for (auto* child : group->getChildren())
        if (auto* e = dynamic_cast<FigmaElement*> (child))
            if (const auto key = keyForLayoutName (e->elementName))
                keys.push_back ({ key->note, key->isBlack, e->designBounds });
    QuorvelKeyboard keyboard;
    keyboard.setKeys (std::move (keys));
    keyboard.loadImages (layout.renderer);
    keyboard.setSize (group->getWidth(), group->getHeight());
    KeySequence clip;
    for (int i = 0; i < 16; ++i)
        clip.events.push_back ({ 48 + (i * 5) % 24, 100, 1, i % 2 == 0, 60.0 });
    clip.recompute();
    for (int note = 24; note < 108; note += 3)
        keyboard.setKeyData (note, clip);

    juce::Image canvas (juce::Image::ARGB, keyboard.getWidth(), keyboard.getHeight(), true, juce::SoftwareImageType());
    for (auto _ : state)
    {
        juce::Graphics g (canvas);
        keyboard.paintEntireComponent (g, true);
    }
}

BENCHMARK (fullRepaint)->Arg (1)->Arg (0)->ArgName ("keyGroups")->Unit (benchmark::kMillisecond);
BENCHMARK (hoverRepaint)->Unit (benchmark::kMicrosecond);
BENCHMARK (hoverFlipRepaint)->Unit (benchmark::kMicrosecond);
BENCHMARK (keyboardRepaint)->Unit (benchmark::kMillisecond);
