// The keyboard view: key names of the layout, the key looks, the miniature
// piano roll, toast lanes, and a keyboard drawn from the shipped sprites.

#include <gtest/gtest.h>

#include "tests/harness/MouseEvents.h"
#include "ui/keyboard/KeyLayout.h"
#include "ui/keyboard/Overlays.h"
#include "ui/keyboard/QuorvelKeyboard.h"
#include "ui/toolkit/FigmaRenderer.h"

namespace
{
SeqEvent on (int note, double wait) { return { note, 100, 1, true, wait }; }
SeqEvent off (int note, double wait) { return { note, 0, 1, false, wait }; }

KeySequence clipOf (std::vector<SeqEvent> events, double tailMs = 0.0)
{
    KeySequence k;
    k.events = std::move (events);
    k.tailMs = tailMs;
    k.recompute();
    return k;
}

// A plain row of keys 0..127, 10 units apart, so every note has a key.
std::vector<QuorvelKeyboard::KeyInfo> plainKeys()
{
    std::vector<QuorvelKeyboard::KeyInfo> keys;
    for (int note = 0; note < 128; ++note)
        keys.push_back ({ note, isBlackKey (note), { note * 10.0f, 0.0f, 10.0f, 100.0f } });
    return keys;
}

// The keys of one layout keyboard group, as the editor reads them.
std::vector<QuorvelKeyboard::KeyInfo> keysOfGroup (const FigmaElement& group)
{
    std::vector<QuorvelKeyboard::KeyInfo> keys;
    for (auto* child : group.getChildren())
        if (auto* e = dynamic_cast<FigmaElement*> (child))
            if (const auto key = keyForLayoutName (e->elementName))
                keys.push_back ({ key->note, key->isBlack, e->designBounds });
    return keys;
}
}

TEST (KeyLayoutNames, NotesRowsAndModifierKeys)
{
    const struct { const char* name; int note; bool black; } keys[] {
        { "c0", 24, false }, { "b6", 107, false }, { "fsharp3_2", 66, true }, { "csharp3_4", 61, true },
        { "c0_1", 24, false }, { "asharp6", 106, true }, { "e2_3", 52, false },
        { "pno_key_modifier_record", 48, false }, { "pno_key_modifier_undo", 49, true },
        { "pno_key_modifier_speed_up", 59, false }, { "pno_key_modifier_slow_down_1", 58, true },
    };
    for (const auto& k : keys)
    {
        const auto key = keyForLayoutName (k.name);
        ASSERT_TRUE (key.has_value()) << k.name;
        EXPECT_EQ (key->note, k.note) << k.name;
        EXPECT_EQ (key->isBlack, k.black) << k.name;
    }
    for (const char* name : { "c", "csharp", "x5", "c3a", "_1", "keyboard_1", "cs3", "c_1", "title", "g9", "" })
        EXPECT_FALSE (keyForLayoutName (name).has_value()) << name;
}

TEST (KeyboardView, OctaveLabels)
{
    EXPECT_EQ (keyview::octaveLabel (24), "0");
    EXPECT_EQ (keyview::octaveLabel (60), "3");
    EXPECT_EQ (keyview::octaveLabel (12), "-1");
    EXPECT_EQ (keyview::octaveLabel (0), "-2");
}

TEST (KeyboardView, MiniRollSpansAndLanes)
{
    const juce::Rectangle<float> inner (0.0f, 0.0f, 50.0f, 104.0f);   // margins of 2: box 46 x 100

    // A note without its note-off runs to the last event while not recording.
    auto roll = keyview::layoutMiniRoll (clipOf ({ on (60, 0), on (64, 100), off (64, 100) }), 0.0, inner);
    EXPECT_EQ (roll.box, juce::Rectangle<float> (2.0f, 2.0f, 46.0f, 100.0f));
    EXPECT_DOUBLE_EQ (roll.lengthMs, 200.0);
    ASSERT_EQ (roll.bars.size(), 2u);
    EXPECT_FLOAT_EQ (roll.bars[0].rect.getY(), 2.0f);
    EXPECT_FLOAT_EQ (roll.bars[0].rect.getHeight(), 99.0f);   // the whole length, one unit apart
    EXPECT_FLOAT_EQ (roll.bars[1].rect.getY(), 2.0f);         // starts half way up, ends at the top
    EXPECT_FLOAT_EQ (roll.bars[1].rect.getHeight(), 49.0f);
    EXPECT_EQ (roll.bars[1].eventIndex, 1);
    EXPECT_FLOAT_EQ (roll.bars[0].rect.getX(), 2.0f);          // lowest pitch at the left edge
    EXPECT_FLOAT_EQ (roll.bars[1].rect.getRight(), 2.0f + 46.0f - 1.0f);

    // One or two semitones use a range of 1: the lower note left, the other a lane from the right.
    roll = keyview::layoutMiniRoll (clipOf ({ on (60, 0), on (61, 0), off (60, 100), off (61, 0) }, 100.0), 0.0, inner);
    EXPECT_DOUBLE_EQ (roll.lengthMs, 200.0);   // the tail counts
    ASSERT_EQ (roll.bars.size(), 2u);
    EXPECT_FLOAT_EQ (roll.bars[0].rect.getX(), 2.0f);
    EXPECT_FLOAT_EQ (roll.bars[1].rect.getX(), 2.0f + 23.0f);   // lanes of 46 / 2
    EXPECT_FLOAT_EQ (roll.bars[0].rect.getBottom(), 102.0f - 1.0f);

    // Recording: an open note reaches the live span, which is the whole height.
    roll = keyview::layoutMiniRoll (clipOf ({ on (60, 0) }), 1000.0, inner);
    EXPECT_DOUBLE_EQ (roll.lengthMs, 1000.0);
    ASSERT_EQ (roll.bars.size(), 1u);
    EXPECT_FLOAT_EQ (roll.bars[0].rect.getHeight(), 99.0f);
    EXPECT_FLOAT_EQ (roll.yOf (500.0), 52.0f);
    EXPECT_FLOAT_EQ (roll.yOf (5000.0), 2.0f);   // clamped to the box

    // An empty clip still has a length of at least 1.
    EXPECT_DOUBLE_EQ (keyview::layoutMiniRoll (KeySequence(), 0.0, inner).lengthMs, 1.0);
}

TEST (KeyboardView, ToastsOfNeighboursTakeTheLowerLane)
{
    const auto boxes = keyview::layoutToasts ({ { { 10, 50 }, "+12" }, { { 20, 50 }, "+12" }, { { 30, 50 }, "+12" } }, 10.0f);
    ASSERT_EQ (boxes.size(), 3u);
    EXPECT_FLOAT_EQ (boxes[0].getCentreY(), 50.0f);
    EXPECT_FLOAT_EQ (boxes[1].getY(), 51.5f);              // overlaps the first: lower lane
    EXPECT_FLOAT_EQ (boxes[2].getCentreY(), 50.0f);        // overlaps both: back in the upper lane
    EXPECT_NEAR (boxes[0].getWidth(), 3 * 10 * 0.52 * 0.94 + 5, 1e-4);
    EXPECT_FLOAT_EQ (boxes[0].getHeight(), 15.0f);

    const auto apart = keyview::layoutToasts ({ { { 10, 50 }, "x2" }, { { 60, 50 }, "x2" } }, 10.0f);
    EXPECT_FLOAT_EQ (apart[1].getCentreY(), 50.0f);
}

TEST (KeyboardView, KeyLooksFollowKeySnapZoneAndLayer)
{
    QuorvelKeyboard kb;
    kb.setKeys (plainKeys());
    for (int note : { 19, 30, 50, 60 })
        kb.setKeyData (note, clipOf ({ on (60, 0), off (60, 100) }));
    kb.setKeySnapRange (36, 72);
    kb.keySnapScale[6] = true;   // F# is in the scale

    using S = QuorvelKeyboard::Sprite;
    auto look = [&kb] (int note) { return kb.lookOf (*kb.findKey (note)); };
    EXPECT_EQ (look (30).sprite, S::keysnapIn);      // outside the range, in the scale
    EXPECT_FALSE (look (30).showsRoll);
    EXPECT_EQ (look (29).sprite, S::keysnapOut);
    EXPECT_EQ (look (19).sprite, S::white);           // below 24: an ordinary key
    EXPECT_TRUE (look (19).showsRoll);
    EXPECT_EQ (look (60).sprite, S::white);
    EXPECT_EQ (look (50).sprite, S::modifier);        // the focused layer's modifier zone
    EXPECT_EQ (look (50).modifierIndex, 2);

    kb.keySnapEnabled = false;
    EXPECT_EQ (look (30).sprite, S::black);

    // Not the focused layer: the zone is ordinary keys with their clips, and an
    // empty key reached by a cascade lights up.
    kb.isFocusedLayer = false;
    EXPECT_EQ (look (50).sprite, S::white);
    EXPECT_TRUE (look (50).showsRoll);
    kb.setCascadeHits ({ 49, 50 });
    EXPECT_EQ (look (49).sprite, S::triggeredBlack);
    EXPECT_EQ (look (50).sprite, S::white);           // holds a clip
    EXPECT_FALSE (look (49).active);                  // cascade hits are lit only on the focused layer

    // Opacity and fading.
    kb.setLitKeys ({ 60 });
    EXPECT_TRUE (look (60).active);
    kb.fadeFilled = true;
    EXPECT_TRUE (look (60).faded);
    kb.setRecordDests ({ 60 });
    EXPECT_FALSE (look (60).faded);                   // a destination is never faded
    kb.dimmed = true;
    EXPECT_FALSE (look (60).active);
    kb.setLiveSpan (500.0);
    EXPECT_TRUE (look (61).showsRoll == false);
    kb.setRecordDests ({ 61 });
    EXPECT_TRUE (look (61).showsRoll);                // recording into an empty key
}

// Writes ui-snapshots/keyboard-states.png: the shipped main keyboard with
// clips, sounding notes, a playhead, a recording, the lit modifier zone, key
// snap, a selection, a drag ghost and toasts.
TEST (KeyboardView, DrawsTheShippedSpritesWithItsMarks)
{
    FigmaRenderer renderer;
    renderer.loadDocuments();
    auto* group = renderer.findElement ("keyboard_1");
    ASSERT_NE (group, nullptr);

    QuorvelKeyboard kb;
    kb.setKeys (keysOfGroup (*group));
    ASSERT_EQ (kb.getKeys().size(), 84u);
    kb.loadImages (renderer);
    kb.setSize (group->getWidth(), group->getHeight());

    const auto chord = clipOf ({ on (60, 0), on (64, 0), on (67, 0), off (60, 400), off (64, 0), off (67, 0) });
    const auto riff = clipOf ({ on (40, 0), off (40, 120), on (43, 10), off (43, 120), on (47, 10), off (47, 120),
                                on (45, 10), off (45, 200) }, 80.0);
    for (int note : { 36, 40, 62, 64, 65 })
        kb.setKeyData (note, chord);
    kb.setKeyData (38, clipOf ({ on (60, 0), off (60, 400) }));
    for (int note : { 41, 43, 67, 69, 71 })
        kb.setKeyData (note, riff);
    kb.setSoundingIndices ({ { 62, { 0, 1 } } });
    kb.setPlayheads ({ { 62, { 150.0 } }, { 43, { 300.0 } } });
    kb.setLitKeys ({ 62, 43 });
    kb.modifierLit[0] = true;
    kb.modifierLocked[5] = true;
    kb.setRecordDests ({ 74 });
    kb.setKeyData (74, clipOf ({ on (50, 0), off (50, 200), on (55, 50) }));
    kb.setLiveSpan (600.0);
    kb.setStepCursor (74, 450.0);
    kb.setKeySnapRange (33, 98);
    for (int pc : { 0, 4, 5, 7, 9, 11 })
        kb.keySnapScale[(size_t) pc] = true;
    kb.setSelectedKeys ({ 67, 69 });
    kb.mouseHeldKeys = { 65 };
    kb.setDragGhost ({ 79, 81 }, true, true, true, 12);

    // Drawn over the dark key bed, as in the window.
    juce::Image image (juce::Image::ARGB, juce::roundToInt (kb.getWidth() * 1.5f), juce::roundToInt (kb.getHeight() * 1.5f), true);
    {
        juce::Graphics g (image);
        g.fillAll (juce::Colour (0xff080e14));
        g.addTransform (juce::AffineTransform::scale (1.5f));
        kb.paintEntireComponent (g, true);
    }
    const auto folder = juce::File (QUORVEL_SNAPSHOT_DIR);
    ASSERT_TRUE (folder.createDirectory());
    auto file = folder.getChildFile ("keyboard-states.png");
    file.deleteFile();
    {
        juce::FileOutputStream out (file);
        ASSERT_TRUE (juce::PNGImageFormat().writeImageToStream (image, out));
    }

    auto pixel = [&] (int note, float fx, float fy)
    {
        const auto& b = kb.findKey (note)->bounds;
        return image.getPixelAt (juce::roundToInt ((b.getX() + fx * b.getWidth()) * 1.5f),
                                 juce::roundToInt ((b.getY() + fy * b.getHeight()) * 1.5f));
    };
    // A single note's bar fills the left half of its key in the recorded-note colour.
    const auto bar = pixel (38, 0.3f, 0.9f);
    EXPECT_GT (bar.getRed(), 200);
    EXPECT_LT (bar.getBlue(), 120);
    // An empty white key is light; the record destination has a red outline.
    EXPECT_GT (pixel (76, 0.5f, 0.9f).getBrightness(), 0.6f);
    const auto outline = pixel (74, 0.03f, 0.5f);
    EXPECT_GT (outline.getRed(), 150);
    EXPECT_LT (outline.getGreen(), 100);
    // Below the key-snap range D is out of the scale (grey sprite), C in it (light blue).
    EXPECT_LT (pixel (26, 0.5f, 0.9f).getBrightness() + 0.1f, pixel (24, 0.5f, 0.9f).getBrightness());
}

//==============================================================================
namespace
{
// A keyboard of keys 0..127 (10 units wide) that logs what it raises.
struct KeyboardInput : ::testing::Test
{
    KeyboardInput()
    {
        kb.setKeys (plainKeys());
        kb.setSize (1280, 100);
        for (int note : { 62, 64, 65 })
            kb.setKeyData (note, clipOf ({ on (60, 0), off (60, 100) }));
        kb.onNoteOn = [this] (int k, float v) { log.push_back ("on " + juce::String (k) + " " + juce::String (v)); };
        kb.onNoteOff = [this] (int k) { log.push_back ("off " + juce::String (k)); };
        kb.onModifierTap = [this] (int i) { log.push_back ("tap " + juce::String (i)); };
        kb.onSelectionChanged = [this] (const QuorvelKeyboard::KeySet&, int anchor) { lastAnchor = anchor; ++selectionEvents; };
        kb.onKeyDrag = [this] (const QuorvelKeyboard::KeySet& keys, int pressed, juce::Point<int>, bool copy, bool, bool,
                               bool released)
        {
            log.push_back (juce::String ("drag ") + juce::String ((int) keys.size()) + " from " + juce::String (pressed)
                           + (copy ? " copy" : "") + (released ? " released" : ""));
            return false;
        };
        kb.onDeleteKeys = [this] (const QuorvelKeyboard::KeySet& keys) { log.push_back ("delete " + juce::String ((int) keys.size())); };
        kb.onCopyKeys = [this] (const QuorvelKeyboard::KeySet&, bool cut) { log.push_back (cut ? "cut" : "copy"); };
        kb.onPasteKeys = [this] (const QuorvelKeyboard::KeySet&, bool notShift, bool alt)
        { log.push_back (juce::String ("paste") + (notShift ? " transpose" : "") + (alt ? " mix" : "")); };
        kb.onFilesDropped = [this] (const juce::StringArray& files, int key)
        { log.push_back ("drop " + files.joinIntoString (",") + " on " + juce::String (key)); };
    }

    static juce::Point<float> at (int note) { return { note * 10.0f + 5.0f, 50.0f }; }

    void press (int note, juce::ModifierKeys mods = {}) { kb.mouseDown (qtest::mouseEvent (kb, at (note), mods)); }
    void dragTo (int from, juce::Point<float> p, juce::ModifierKeys mods = {})
    {
        kb.mouseDrag (qtest::mouseEvent (kb, p, mods, at (from)));
    }
    void release (int from, juce::Point<float> p, juce::ModifierKeys mods = {})
    {
        kb.mouseUp (qtest::mouseEvent (kb, p, mods, at (from)));
    }
    void click (int note, juce::ModifierKeys mods = {})
    {
        press (note, mods);
        release (note, at (note), mods);
    }

    QuorvelKeyboard kb;
    std::vector<juce::String> log;
    int lastAnchor = -2, selectionEvents = 0;
    const juce::ModifierKeys shift { juce::ModifierKeys::shiftModifier };
    const juce::ModifierKeys command { juce::ModifierKeys::commandModifier };
};

QuorvelKeyboard::KeySet range (int lo, int hi)
{
    QuorvelKeyboard::KeySet s;
    for (int k = lo; k <= hi; ++k)
        s.insert (k);
    return s;
}
}

TEST_F (KeyboardInput, DraggingFromAnEmptyKeySelectsARange)
{
    press (70);
    EXPECT_EQ (kb.selectedKeys, range (70, 70));
    dragTo (70, at (77));
    EXPECT_EQ (kb.selectedKeys, range (70, 77));
    dragTo (70, at (72));
    EXPECT_EQ (kb.selectedKeys, range (70, 72));
    dragTo (70, at (56));   // across the modifier zone, which is left out
    EXPECT_EQ (kb.selectedKeys, range (60, 70));
    release (70, at (56));
    EXPECT_EQ (kb.anchorKey, 70);
    EXPECT_TRUE (log.empty());   // a range selection is no key drag
}

TEST_F (KeyboardInput, PressingASelectedKeyCollapsesOnReleaseOrDragsTheSelection)
{
    kb.setSelectedKeys ({ 62, 64, 65 });
    click (64);
    EXPECT_EQ (kb.selectedKeys, (QuorvelKeyboard::KeySet { 64 }));
    EXPECT_EQ (kb.anchorKey, 64);

    kb.setSelectedKeys ({ 62, 64, 65 });
    press (64);
    dragTo (64, at (64).translated (3, 0));   // under 5 units: no drag yet
    EXPECT_TRUE (log.empty());
    dragTo (64, at (66), command);
    release (64, at (66));
    EXPECT_EQ (log, (std::vector<juce::String> { "drag 3 from 64 copy", "drag 3 from 64 copy released" }));
    EXPECT_EQ (kb.selectedKeys.size(), 3u);   // no collapse after a drag
}

TEST_F (KeyboardInput, ShiftAndCommandClicks)
{
    click (66);
    click (70, shift);
    EXPECT_EQ (kb.selectedKeys, range (66, 70));
    EXPECT_EQ (lastAnchor, 70);      // reported with the clicked key
    EXPECT_EQ (kb.anchorKey, 66);    // the stored anchor stays

    // Command on an empty selected key removes it at once.
    press (68, command);
    EXPECT_EQ (kb.selectedKeys.count (68), 0u);
    release (68, at (68), command);

    // Command on a selected key with a clip removes it on release without a drag.
    kb.setSelectedKeys ({ 62, 64 });
    press (64, command);
    EXPECT_EQ (kb.selectedKeys.count (64), 1u);
    release (64, at (64), command);
    EXPECT_EQ (kb.selectedKeys, (QuorvelKeyboard::KeySet { 62 }));

    // Command on an unselected key with a clip adds it.
    click (65, command);
    EXPECT_EQ (kb.selectedKeys, (QuorvelKeyboard::KeySet { 62, 65 }));

    // A click on no key clears everything.
    kb.mouseDown (qtest::mouseEvent (kb, { 5.0f, 150.0f }));
    EXPECT_TRUE (kb.selectedKeys.empty());
    EXPECT_EQ (kb.anchorKey, -1);
}

TEST_F (KeyboardInput, ModifierZoneKeysPlayOrTap)
{
    click (49);   // index 1: undo, played as a note
    click (48);   // index 0: record, a tap
    EXPECT_EQ (log, (std::vector<juce::String> { "on 49 1", "off 49", "tap 0" }));

    kb.isFocusedLayer = false;   // not the focused layer: ordinary keys
    click (48);
    EXPECT_EQ (kb.selectedKeys, (QuorvelKeyboard::KeySet { 48 }));
}

TEST_F (KeyboardInput, KeyPresses)
{
    EXPECT_FALSE (kb.keyPressed (juce::KeyPress (juce::KeyPress::deleteKey)));   // nothing selected: passed on

    kb.setSelectedKeys ({ 120 });
    EXPECT_TRUE (kb.keyPressed (juce::KeyPress (juce::KeyPress::upKey)));       // 132 is no key: stays
    EXPECT_EQ (kb.selectedKeys, (QuorvelKeyboard::KeySet { 120 }));
    EXPECT_TRUE (kb.keyPressed (juce::KeyPress (juce::KeyPress::downKey)));
    EXPECT_EQ (kb.selectedKeys, (QuorvelKeyboard::KeySet { 108 }));
    kb.setSelectedKeys ({ 60 });
    EXPECT_TRUE (kb.keyPressed (juce::KeyPress (juce::KeyPress::leftKey)));     // 59 is in the zone: stays
    EXPECT_EQ (kb.selectedKeys, (QuorvelKeyboard::KeySet { 60 }));
    EXPECT_FALSE (kb.keyPressed (juce::KeyPress (juce::KeyPress::rightKey, juce::ModifierKeys::shiftModifier, 0)));

    EXPECT_TRUE (kb.keyPressed (juce::KeyPress ('c', juce::ModifierKeys::commandModifier, 0)));
    EXPECT_TRUE (kb.keyPressed (juce::KeyPress ('X', juce::ModifierKeys::commandModifier, 0)));
    EXPECT_TRUE (kb.keyPressed (juce::KeyPress ('v', juce::ModifierKeys::altModifier, 0)));
    EXPECT_TRUE (kb.keyPressed (juce::KeyPress ('v', juce::ModifierKeys::commandModifier | juce::ModifierKeys::shiftModifier, 0)));
    EXPECT_FALSE (kb.keyPressed (juce::KeyPress ('z', juce::ModifierKeys::commandModifier, 0)));
    EXPECT_TRUE (kb.keyPressed (juce::KeyPress (juce::KeyPress::backspaceKey)));
    EXPECT_EQ (log, (std::vector<juce::String> { "copy", "cut", "paste transpose mix", "paste", "delete 1" }));
}

TEST_F (KeyboardInput, FileDragsTakeOnlyClipFiles)
{
    EXPECT_FALSE (kb.isInterestedInFileDrag ({ "/tmp/a.wav" }));
    EXPECT_TRUE (kb.isInterestedInFileDrag ({ "/tmp/a.wav", "/tmp/B.MID" }));

    kb.fileDragMove ({ "/tmp/B.MID" }, 705, 50);
    EXPECT_EQ (kb.dropHighlightKeys, (QuorvelKeyboard::KeySet { 70 }));
    kb.onFileDragPreview = [] (const juce::StringArray&, int key) { return QuorvelKeyboard::KeySet { key, key + 1 }; };
    kb.fileDragMove ({ "/tmp/B.MID" }, 705, 50);
    EXPECT_EQ (kb.dropHighlightKeys, (QuorvelKeyboard::KeySet { 70, 71 }));
    kb.fileDragMove ({ "/tmp/B.MID" }, 485, 50);   // the modifier zone
    EXPECT_TRUE (kb.dropHighlightKeys.empty());

    kb.filesDropped ({ "/tmp/a.wav", "/tmp/B.MID", "/tmp/c.alc" }, 705, 50);
    kb.filesDropped ({ "/tmp/B.MID" }, 485, 50);
    kb.filesDropped ({ "/tmp/a.wav" }, 705, 50);
    EXPECT_EQ (log, (std::vector<juce::String> { "drop /tmp/B.MID,/tmp/c.alc on 70" }));
}

//==============================================================================
TEST (CascadeOverlayTest, BulgeOfConnectors)
{
    using Line = CascadeOverlay::Line;
    EXPECT_FLOAT_EQ (CascadeOverlay::bulgeOf (Line { 100, 300, 100, 200 }), 22.0f);
    EXPECT_FLOAT_EQ (CascadeOverlay::bulgeOf (Line { 100, 220, 100, 200 }), 10.0f);    // the lower clamp
    EXPECT_FLOAT_EQ (CascadeOverlay::bulgeOf (Line { 100, 400, 100, 200 }), 34.0f);    // the upper clamp
    EXPECT_FLOAT_EQ (CascadeOverlay::bulgeOf (Line { 100, 300, 140, 200 }), 0.0f);     // 40 apart: a plain curve
    EXPECT_FLOAT_EQ (CascadeOverlay::bulgeOf (Line { 100, 300, 120, 200 }), 11.0f);    // half the swing at 20 apart

    // The control points of the S-curve.
    const auto path = CascadeOverlay::connectorPath (Line { 100, 300, 100, 200 });
    juce::Path::Iterator it (path);
    ASSERT_TRUE (it.next());
    ASSERT_TRUE (it.next());
    ASSERT_EQ (it.elementType, juce::Path::Iterator::cubicTo);
    EXPECT_FLOAT_EQ (it.x1, 122.0f);
    EXPECT_FLOAT_EQ (it.y1, 250.0f);
    EXPECT_FLOAT_EQ (it.x2, 78.0f);
    EXPECT_FLOAT_EQ (it.y2, 250.0f);
}

TEST (CascadeOverlayTest, FadingOutAndRemoval)
{
    CascadeOverlay overlay;
    overlay.setSize (400, 400);
    overlay.anims[1] = { { 100, 300, 100, 200 }, 1.0f, false };
    overlay.anims[2] = { { 200, 300, 200, 200 }, 0.5f, true };
    overlay.lastTickMs = 1000.0;

    // A late tick counts as 100 ms at most.
    EXPECT_TRUE (overlay.advance (1300.0));
    EXPECT_NEAR (overlay.anims[1].fadeAlpha, 1.0f - 100.0f / 150.0f, 1e-5);
    EXPECT_FLOAT_EQ (overlay.anims[2].fadeAlpha, 1.0f);   // fades in, never past full

    double now = 1300.0;
    while (overlay.anims.count (1) > 0 && now < 2000.0)
        overlay.advance (now += 10.0);
    EXPECT_NEAR (now - 1300.0, 50.0, 10.0);   // the remaining third of 150 ms
    EXPECT_EQ (overlay.anims.size(), 1u);
    EXPECT_FALSE (overlay.advance (now + 10.0));   // nothing moves any more: the timer may stop
    overlay.anims.clear();
    EXPECT_FALSE (overlay.advance (now + 20.0));
}

TEST (KeysnapFillTest, DrawsOnlyRectanglesWithArea)
{
    KeysnapFill fill;
    fill.setSize (100, 10);
    auto shown = [&fill] (int x) { return fill.createComponentSnapshot (fill.getLocalBounds()).getPixelAt (x, 5).getAlpha(); };
    EXPECT_EQ (shown (5), 0);
    fill.lowRect = { 0, 0, 20, 10 };
    fill.highRect = { 80, 0, 0, 10 };
    EXPECT_EQ (shown (5), 255);
    EXPECT_EQ (shown (90), 0);
    EXPECT_EQ (fill.createComponentSnapshot (fill.getLocalBounds()).getPixelAt (5, 5), juce::Colour (0xFF3C9EF4));
}
