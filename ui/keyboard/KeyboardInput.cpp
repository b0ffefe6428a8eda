// The keyboard's pointer, key-press and file-drag handling: it changes only
// the selection and the drop highlight; everything else goes to the editor.

#include <algorithm>
#include <utility>

#include "ui/keyboard/QuorvelKeyboard.h"

namespace
{
bool copyHeld (const juce::ModifierKeys& m) { return m.isCtrlDown() || m.isCommandDown(); }
}

int QuorvelKeyboard::keyAt (juce::Point<float> p) const
{
    auto contains = [&p] (const KeyInfo& k)
    {
        const auto& b = k.bounds;
        return b.getX() <= p.x && p.x < b.getRight() && b.getY() <= p.y && p.y < b.getBottom();
    };
    for (const bool black : { true, false })
        for (const auto& k : keys)
            if (k.isBlack == black && contains (k))
                return k.note;
    return -1;
}

void QuorvelKeyboard::selectionChanged (int anchor)
{
    if (onSelectionChanged)
        onSelectionChanged (selectedKeys, anchor);
}

void QuorvelKeyboard::clearSelection()
{
    if (selectedKeys.empty() && anchorKey < 0)
        return;
    selectedKeys.clear();
    anchorKey = -1;
    selectionChanged (-1);
}

QuorvelKeyboard::KeySet QuorvelKeyboard::keysBetween (int a, int b) const
{
    KeySet result;
    const int lo = std::min (a, b), hi = std::max (a, b);
    for (const auto& k : keys)
        if (k.note >= lo && k.note <= hi && ! inActiveZone (k.note))
            result.insert (k.note);
    return result;
}

//==============================================================================
void QuorvelKeyboard::mouseDown (const juce::MouseEvent& e)
{
    grabKeyboardFocus();
    press = {};

    const int k = keyAt (e.position);
    if (k < 0)
    {
        clearSelection();
        return;
    }

    if (inActiveZone (k))
    {
        clearSelection();
        const int i = k - modifierZoneBase;
        if (i == 1 || i == 3)   // undo and redo play as notes, so holding them repeats
        {
            mouseHeldKeys.insert (k);
            if (onNoteOn)
                onNoteOn (k, 1.0f);
        }
        else if (onModifierTap)
        {
            onModifierTap (i);
        }
        repaint();
        return;
    }

    const auto& mods = e.mods;
    press.pressedKey = k;
    if (mods.isShiftDown() && anchorKey >= 0)
    {
        press.pressArmed = true;
        press.shiftPending = true;
    }
    else if (mods.isCommandDown())
    {
        if (hasEvents (k))
        {
            press.pressArmed = true;
            if (selectedKeys.count (k) > 0)
                press.deselectPending = k;
            else
            {
                selectedKeys.insert (k);
                anchorKey = k;
            }
        }
        else
        {
            if (selectedKeys.erase (k) == 0)
                selectedKeys.insert (k);
            anchorKey = k;
        }
    }
    else
    {
        press.pressArmed = true;
        if (selectedKeys.count (k) > 0)
            press.collapseKey = k;
        else
        {
            selectedKeys = { k };
            anchorKey = k;
            press.pressedKeyEmpty = ! hasEvents (k);
        }
    }
    selectionChanged (anchorKey);
    repaint();
}

void QuorvelKeyboard::mouseDrag (const juce::MouseEvent& e)
{
    if (! press.pressArmed)
        return;
    if (! press.dragStarted)
    {
        if (juce::roundToInt (e.getDistanceFromDragStart()) < 5)
            return;
        press.dragStarted = true;
    }

    if (press.shiftPending)
    {
        press.shiftPending = false;
        if (selectedKeys.count (press.pressedKey) == 0)
        {
            selectedKeys = { press.pressedKey };
            anchorKey = press.pressedKey;
            selectionChanged (anchorKey);
        }
    }

    if (! press.pressedKeyEmpty)
    {
        press.copyMode = copyHeld (e.mods);
        press.altMode = e.mods.isAltDown();
        press.notShift = ! e.mods.isShiftDown();
        updateMouseCursor();
        press.collapseKey = -1;
        if (onKeyDrag && onKeyDrag (selectedKeys, press.pressedKey, e.getScreenPosition(), press.copyMode,
                                    press.altMode, press.notShift, false))
        {
            press.pressArmed = false;
            press.dragStarted = false;
            repaint();
        }
        return;
    }

    const int k = keyAt (e.position);
    if (k < 0)
        return;
    auto range = keysBetween (press.pressedKey, k);
    if (range != selectedKeys)
    {
        selectedKeys = std::move (range);
        selectionChanged (anchorKey);
        repaint();
    }
}

void QuorvelKeyboard::mouseUp (const juce::MouseEvent& e)
{
    if (! mouseHeldKeys.empty())
    {
        const auto held = std::exchange (mouseHeldKeys, {});
        for (int k : held)
            if (onNoteOff)
                onNoteOff (k);
        press = {};
        repaint();
        return;
    }

    if (! press.pressedKeyEmpty)
    {
        if (press.dragStarted)
        {
            if (onKeyDrag)
                onKeyDrag (selectedKeys, press.pressedKey, e.getScreenPosition(), copyHeld (e.mods) || press.copyMode,
                           e.mods.isAltDown() || press.altMode, ! e.mods.isShiftDown(), true);
        }
        else if (press.shiftPending && press.pressedKey >= 0 && anchorKey >= 0)
        {
            const auto range = keysBetween (press.pressedKey, anchorKey);
            selectedKeys.insert (range.begin(), range.end());
            selectionChanged (press.pressedKey);
        }
        else if (press.deselectPending >= 0)
        {
            selectedKeys.erase (press.deselectPending);
            if (selectedKeys.empty())
                anchorKey = -1;
            selectionChanged (anchorKey);
        }
        else if (press.collapseKey >= 0)
        {
            selectedKeys = { press.collapseKey };
            anchorKey = press.collapseKey;
            selectionChanged (anchorKey);
        }
    }

    press = {};
    updateMouseCursor();
    repaint();
}

juce::MouseCursor QuorvelKeyboard::getMouseCursor()
{
    return press.dragStarted && ! press.pressedKeyEmpty && press.copyMode ? juce::MouseCursor::CopyingCursor
                                                                          : juce::MouseCursor::NormalCursor;
}

void QuorvelKeyboard::modifierKeysChanged (const juce::ModifierKeys& mods)
{
    if (! press.dragStarted || press.pressedKeyEmpty)
        return;
    const bool copy = copyHeld (mods), alt = mods.isAltDown(), notShift = ! mods.isShiftDown();
    if (copy != press.copyMode || alt != press.altMode || notShift != press.notShift)
    {
        press.copyMode = copy;
        press.altMode = alt;
        press.notShift = notShift;
        juce::Desktop::getInstance().getMainMouseSource().showMouseCursor (getMouseCursor());
        auto screen = juce::Desktop::getInstance().getMainMouseSource().getScreenPosition();
        const float scale = juce::Desktop::getInstance().getGlobalScaleFactor();
        if (scale != 1.0f)
            screen /= scale;
        if (onKeyDrag)
            onKeyDrag (selectedKeys, press.pressedKey, screen.roundToInt(), copy, alt, notShift, false);
    }
    repaint();
}

//==============================================================================
bool QuorvelKeyboard::moveSelection (int step)
{
    KeySet moved;
    for (int k : selectedKeys)
    {
        if (findKey (k + step) == nullptr || inActiveZone (k + step))
            return true;   // handled, but the selection stays
        moved.insert (k + step);
    }
    selectedKeys = std::move (moved);
    if (anchorKey >= 0)
        anchorKey += step;
    selectionChanged (anchorKey);
    repaint();
    return true;
}

bool QuorvelKeyboard::keyPressed (const juce::KeyPress& key)
{
    if (selectedKeys.empty())
        return false;

    const auto mods = key.getModifiers();
    const auto c = juce::CharacterFunctions::toUpperCase ((juce::juce_wchar) key.getKeyCode());
    if (c == 'V' && (mods.isAltDown() || mods.isCommandDown()))
    {
        if (onPasteKeys)
            onPasteKeys (selectedKeys, ! mods.isShiftDown(), mods.isAltDown());
        return true;
    }
    if (mods.isCommandDown())
    {
        if (c == 'X' || c == 'C')
        {
            if (onCopyKeys)
                onCopyKeys (selectedKeys, c == 'X');
            return true;
        }
        return false;
    }
    if (mods.isShiftDown() || mods.isCtrlDown() || mods.isAltDown())
        return false;

    const int code = key.getKeyCode();
    if (code == juce::KeyPress::upKey) return moveSelection (12);
    if (code == juce::KeyPress::downKey) return moveSelection (-12);
    if (code == juce::KeyPress::leftKey) return moveSelection (-1);
    if (code == juce::KeyPress::rightKey) return moveSelection (1);
    if (code == juce::KeyPress::deleteKey || code == juce::KeyPress::backspaceKey)
    {
        if (onDeleteKeys)
            onDeleteKeys (selectedKeys);
        repaint();
        return true;
    }
    return false;
}

//==============================================================================
bool QuorvelKeyboard::isClipFile (const juce::String& path)
{
    return path.endsWithIgnoreCase (".mid") || path.endsWithIgnoreCase (".midi") || path.endsWithIgnoreCase (".alc");
}

bool QuorvelKeyboard::isInterestedInFileDrag (const juce::StringArray& files)
{
    return std::any_of (files.begin(), files.end(), isClipFile);
}

void QuorvelKeyboard::fileDragMove (const juce::StringArray& files, int x, int y)
{
    KeySet highlight;
    if (onExternalDragMove && onExternalDragMove (localPointToGlobal (juce::Point<int> (x, y))))
    {
        // The editor's own export drag is back over the window.
    }
    else
    {
        const int k = keyAt ({ (float) x, (float) y });
        if (k >= 0 && ! inActiveZone (k))
            highlight = onFileDragPreview ? onFileDragPreview (files, k) : KeySet { k };
    }
    if (highlight != dropHighlightKeys)
    {
        dropHighlightKeys = std::move (highlight);
        repaint();
    }
}

void QuorvelKeyboard::fileDragExit (const juce::StringArray&)
{
    if (onFileDragExit)
        onFileDragExit();
    if (! dropHighlightKeys.empty())
    {
        dropHighlightKeys.clear();
        repaint();
    }
}

void QuorvelKeyboard::filesDropped (const juce::StringArray& files, int x, int y)
{
    dropHighlightKeys.clear();
    repaint();
    const int k = keyAt ({ (float) x, (float) y });
    if (k < 0 || inActiveZone (k))
        return;
    juce::StringArray clips;
    for (const auto& f : files)
        if (isClipFile (f))
            clips.add (f);
    if (! clips.isEmpty() && onFilesDropped)
        onFilesDropped (clips, k);
}
