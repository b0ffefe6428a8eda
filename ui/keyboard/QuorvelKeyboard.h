#pragma once

#include <array>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>
#include <vector>

#include <juce_gui_basics/juce_gui_basics.h>

#include "engine/KeySequence.h"

class FigmaRenderer;

// Geometry of the keyboard's drawings, as free functions the tests can call.
namespace keyview
{
// The octave number written on a C key: note 24 is "0", 12 is "-1".
juce::String octaveLabel (int note);

struct MiniRollBar
{
    juce::Rectangle<float> rect;   // as drawn (already one unit shorter than the span)
    int eventIndex = -1;           // the note-on that starts it
};

struct MiniRoll
{
    juce::Rectangle<float> box;    // the drawing area inside the key's margins
    double lengthMs = 1.0;         // the time the box height stands for
    std::vector<MiniRollBar> bars;

    // Height on the box of a time, from the bottom up, clamped to the box.
    float yOf (double ms) const noexcept;
};

// The miniature piano roll of a clip in a key's inner box: time runs up from
// the bottom, pitch left to right. liveSpanMs > 0 while the key records.
MiniRoll layoutMiniRoll (const KeySequence& clip, double liveSpanMs, juce::Rectangle<float> inner);

struct Toast
{
    juce::Point<float> centre;     // the key's centre
    juce::String text;
};

// Boxes of short labels over keys, in two lanes so neighbours do not overlap.
std::vector<juce::Rectangle<float>> layoutToasts (const std::vector<Toast>& toasts, float fontSize);
}

// The on-screen piano of one keyboard layer: keys from SVG sprites, each with
// a miniature piano roll of its clip, sounding notes, playheads, the step
// cursor, octave numbers, the modifier zone and overlays for selection,
// record destinations, cascade hits, drag previews and toasts. It holds no
// engine state: the editor pushes everything through the setters. The mouse,
// key presses and file drags change only its selection and drop highlight and
// reach the editor through the callbacks.
class QuorvelKeyboard : public juce::Component, public juce::FileDragAndDropTarget, private juce::Timer
{
public:
    struct KeyInfo
    {
        int note = 0;
        bool isBlack = false;
        juce::Rectangle<float> bounds;
    };

    using KeySet = std::set<int>;

    QuorvelKeyboard();
    ~QuorvelKeyboard() override;

    // The keys, in layout order (white and black mixed).
    void setKeys (std::vector<KeyInfo> keyList);
    const std::vector<KeyInfo>& getKeys() const noexcept { return keys; }
    const KeyInfo* findKey (int note) const noexcept;

    // Sprites, theme values and the label font from the editor's renderer.
    void loadImages (FigmaRenderer& renderer);

    // Each setter repaints only the keys whose look changed.
    void setKeyData (int key, const KeySequence& clip);
    void clearKeyData (int key);
    void setSoundingIndices (const std::map<int, std::vector<int>>& indices);
    void setPlayheads (const std::map<int, std::vector<double>>& positions);
    void setRecordDests (const KeySet& keySet);
    void setCascadeHits (const KeySet& keySet);
    void setLitKeys (const KeySet& keySet);
    void setLiveSpan (double ms);
    void setStepCursor (int key, double positionMs);
    void setProspectiveDest (int key);
    void setKeySnapRange (int low, int high);
    void setDragGhost (const KeySet& keySet, bool isCopy, bool isValid, bool showOffset, int offset);
    void setEffectDropGhost (int key, const juce::String& label);
    void setEffectDropSourceBadges (const KeySet& keySet, const juce::String& label);
    void setSelectedKeys (const KeySet& keySet);

    // Shows the toasts for a while, then clears them.
    void showToasts (std::map<int, juce::String> texts, int milliseconds);

    // Which sprite a key is drawn with, and how.
    enum class Sprite { white, black, triggeredWhite, triggeredBlack, keysnapIn, keysnapOut, modifier };
    struct KeyLook
    {
        Sprite sprite = Sprite::white;
        int modifierIndex = -1;    // 0..11 for a modifier-zone key
        bool held = false;
        bool active = false;       // drawn at full opacity
        bool faded = false;        // its notes at a quarter of their opacity
        bool showsRoll = false;
    };
    KeyLook lookOf (const KeyInfo& key) const;

    void paint (juce::Graphics&) override;

    // The key under a point: black keys first, then white; -1 for none.
    int keyAt (juce::Point<float> p) const;

    void mouseDown (const juce::MouseEvent&) override;
    void mouseDrag (const juce::MouseEvent&) override;
    void mouseUp (const juce::MouseEvent&) override;
    juce::MouseCursor getMouseCursor() override;
    bool keyPressed (const juce::KeyPress&) override;
    void modifierKeysChanged (const juce::ModifierKeys&) override;
    bool isInterestedInFileDrag (const juce::StringArray& files) override;
    void fileDragMove (const juce::StringArray& files, int x, int y) override;
    void fileDragExit (const juce::StringArray& files) override;
    void filesDropped (const juce::StringArray& files, int x, int y) override;

    std::function<void (int key, float velocity)> onNoteOn;
    std::function<void (int key)> onNoteOff;
    std::function<void (int zoneIndex)> onModifierTap;
    std::function<void (const KeySet& keys, int anchor)> onSelectionChanged;
    std::function<void (const KeySet& keys)> onDeleteKeys;
    std::function<void (const KeySet& keys, bool cut)> onCopyKeys;
    std::function<void (const KeySet& keys, bool notShift, bool alt)> onPasteKeys;
    std::function<void (const juce::StringArray& files, int key)> onFilesDropped;
    std::function<bool (juce::Point<int> screenPosition)> onExternalDragMove;
    std::function<void()> onFileDragExit;
    std::function<KeySet (const juce::StringArray& files, int key)> onFileDragPreview;
    // Returns true when the editor has taken the gesture over.
    std::function<bool (const KeySet& keys, int pressedKey, juce::Point<int> screenPosition, bool copy, bool alt,
                        bool notShift, bool released)> onKeyDrag;

    // State written by the editor (it repaints afterwards) and by the
    // keyboard's own pointer handling.
    std::unordered_map<int, KeySequence> keyData;
    std::map<int, std::vector<int>> soundingIndices;
    std::map<int, std::vector<double>> playheads;
    KeySet mouseHeldKeys, recordDests, cascadeHits, litKeys;
    double liveSpan = 0.0;
    KeySet selectedKeys;
    int anchorKey = -1;
    KeySet dragGhostKeys;
    bool ghostIsCopy = false, ghostIsValid = true, ghostShowOffset = true;
    int ghostOffset = 0;
    KeySet dropHighlightKeys;
    int effectDropKey = -1;
    juce::String effectLabel;
    KeySet effectSourceKeys;
    std::map<int, juce::String> toasts;
    int modifierZoneBase = 48;
    bool isFocusedLayer = true;
    bool dimmed = false;
    bool fadeFilled = false;
    std::array<bool, 12> modifierLit {}, modifierLocked {};
    int prospectiveDest = -1;
    int stepCursorKey = -1;
    double stepCursorPos = 0.0;
    bool keySnapEnabled = true;
    int keySnapLow = 24, keySnapHigh = 107;
    std::array<bool, 12> keySnapScale {};
    juce::Colour recordedNoteColour { 0xFFF4B03C }, darkColour { 0xFF13202B }, cursorColour { 0xFF64C8FF };
    float inactiveOpacity = 0.8f;
    juce::Typeface::Ptr labelTypeface;

private:
    struct PressState
    {
        bool pressArmed = false, dragStarted = false, pressedKeyEmpty = false;
        bool copyMode = false, altMode = false, notShift = true;
        int pressedKey = -1, collapseKey = -1, deselectPending = -1;
        bool shiftPending = false;
    };

    void selectionChanged (int anchor);
    void clearSelection();
    KeySet keysBetween (int a, int b) const;   // both included, the active zone left out
    bool moveSelection (int step);
    static bool isClipFile (const juce::String& path);

    PressState press;

    using Frames = std::vector<std::unique_ptr<juce::Drawable>>;

    void timerCallback() override;
    void repaintKey (int key);
    void repaintKeys (const KeySet& a, const KeySet& b);   // the keys in one set and not the other
    template <typename Map> void repaintChangedEntries (const Map& before, const Map& after);

    bool inActiveZone (int note) const noexcept;
    bool hasEvents (int key) const;
    void drawKey (juce::Graphics&, const KeyInfo&) const;
    void drawSprite (juce::Graphics&, const Frames&, int frame, const KeyInfo&, float opacity) const;
    void drawMiniMidi (juce::Graphics&, const KeyInfo&, const KeySequence* clip, float opacity, float noteFactor) const;
    void drawGhostKeys (juce::Graphics&, const KeySet&, juce::Colour, juce::uint8 fillAlpha) const;
    void drawToasts (juce::Graphics&, const std::vector<keyview::Toast>&) const;
    void drawToastsForKeys (juce::Graphics&, const KeySet&, const juce::String& text) const;
    float toastFontSize() const;

    std::vector<KeyInfo> keys;
    std::array<int, 128> indexOfNote;
    Frames whiteKey, blackKey, triggeredWhite, triggeredBlack, snapInWhite, snapInBlack, snapOutWhite, snapOutBlack;
    std::array<Frames, 12> modifierArt;
    Frames lockBadge;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (QuorvelKeyboard)
};
