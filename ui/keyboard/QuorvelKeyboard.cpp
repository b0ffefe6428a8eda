#include "ui/keyboard/QuorvelKeyboard.h"

#include "ui/toolkit/FigmaRenderer.h"

namespace
{
const char* const kModifierArt[12] {
    "pno_key_modifier_record.svg", "pno_key_modifier_undo.svg", "pno_key_modifier_thru.svg",
    "pno_key_modifier_redo.svg", "pno_key_modifier_step_backward.svg", "pno_key_modifier_step_forward.svg",
    "pno_key_modifier_higher_keyboard.svg", "pno_key_modifier_lower_keyboard.svg",
    "pno_key_modifier_transpose_up.svg", "pno_key_modifier_transpose_down.svg",
    "pno_key_modifier_speed_up.svg", "pno_key_modifier_slow_down.svg",
};

const juce::Colour kRecordRed { 0xFFFF2424 };
const juce::Colour kLime { 0xFF32CD32 };

juce::Rectangle<float> inset (juce::Rectangle<float> r, float by)
{
    return { r.getX() + by, r.getY() + by, std::max (0.0f, r.getWidth() - 2 * by), std::max (0.0f, r.getHeight() - 2 * by) };
}

// A highlight: a translucent fill inside the key and an outline of the same colour.
void drawMarkedKey (juce::Graphics& g, juce::Rectangle<float> b, juce::Colour c, juce::uint8 fillAlpha,
                    float outlineInset, float radius)
{
    g.setColour (c.withAlpha (fillAlpha));
    g.fillRoundedRectangle (inset (b, 1.0f), radius);
    g.setColour (c);
    g.drawRoundedRectangle (inset (b, outlineInset), radius, 2.0f);
}

// Selection, drag and drop marks share one radius: 0.18 of the inner width.
float markRadius (juce::Rectangle<float> b)
{
    return 0.18f * std::max (0.0f, b.getWidth() - 2.0f);
}
}

//==============================================================================
juce::String keyview::octaveLabel (int note)
{
    // Floor division, so notes below 24 are numbered below 0.
    return juce::String ((int) std::floor (note / 12.0) - 2);
}

float keyview::MiniRoll::yOf (double ms) const noexcept
{
    return box.getBottom() - (float) juce::jlimit (0.0, 1.0, ms / lengthMs) * box.getHeight();
}

keyview::MiniRoll keyview::layoutMiniRoll (const KeySequence& clip, double liveSpanMs, juce::Rectangle<float> inner)
{
    MiniRoll roll;
    const auto& events = clip.events;
    std::vector<double> times (events.size());
    double t = 0.0;
    for (size_t i = 0; i < events.size(); ++i)
        times[i] = (t += events[i].waitMs);
    const double total = events.empty() ? 0.0 : times.back();
    const bool recording = liveSpanMs > 0.0;

    struct Span { int index; double start, end; int note; };
    std::vector<Span> spans;
    int lo = 128, hi = -1;
    for (size_t i = 0; i < events.size(); ++i)
    {
        const auto& on = events[i];
        if (! on.isNoteOn)
            continue;
        double end = recording ? std::max ({ liveSpanMs, total, times[i] }) : total;
        for (size_t j = i + 1; j < events.size(); ++j)
            if (! events[j].isNoteOn && events[j].note == on.note && events[j].channel == on.channel)
            {
                end = times[j];
                break;
            }
        spans.push_back ({ (int) i, times[i], end, on.note });
        lo = std::min (lo, on.note);
        hi = std::max (hi, on.note);
    }

    roll.lengthMs = std::max (1.0, recording ? std::max (liveSpanMs, total) : total + std::max (clip.tailMs, 0.0));
    const float s = std::min (0.12f * inner.getWidth(), 2.0f);
    roll.box = inset (inner, s);
    const float bx = roll.box.getX(), by = roll.box.getY(), bw = roll.box.getWidth(), bh = roll.box.getHeight();
    const float bottom = roll.box.getBottom();

    const int range = (hi - lo) < 2 ? 1 : hi - lo;
    const float lane = std::max (bw / (float) (range + 1), 2.0f);
    for (const auto& span : spans)
    {
        const float left = bx + (float) (span.note - lo) / (float) range * (bw - lane);
        const float d = std::max ((float) ((span.end - span.start) / roll.lengthMs) * bh, 2.0f);
        const float top = std::max (bottom - (float) (span.start / roll.lengthMs) * bh - d, by);
        roll.bars.push_back ({ { left, top, std::max (lane - 1.0f, 1.0f), std::max (d - 1.0f, 1.5f) }, span.index });
    }
    return roll;
}

std::vector<juce::Rectangle<float>> keyview::layoutToasts (const std::vector<Toast>& toasts, float f)
{
    std::vector<juce::Rectangle<float>> boxes;
    float laneRight[2] { -1.0e9f, -1.0e9f };
    for (const auto& toast : toasts)
    {
        const float w = (float) toast.text.length() * f * 0.52f * 0.94f + 5.0f, h = f + 5.0f;
        auto box = juce::Rectangle<float> (w, h).withCentre (toast.centre);
        int lane = 0;
        if (box.getX() <= laneRight[0] + 2.0f)
        {
            const auto lower = box.withY (toast.centre.y + 1.5f);
            if (lower.getX() > laneRight[1] + 2.0f)
            {
                box = lower;
                lane = 1;
            }
        }
        laneRight[lane] = box.getRight();
        boxes.push_back (box);
    }
    return boxes;
}

//==============================================================================
QuorvelKeyboard::QuorvelKeyboard()
{
    indexOfNote.fill (-1);
    setWantsKeyboardFocus (true);
    setOpaque (false);
}

QuorvelKeyboard::~QuorvelKeyboard() = default;

void QuorvelKeyboard::setKeys (std::vector<KeyInfo> keyList)
{
    keys = std::move (keyList);
    indexOfNote.fill (-1);
    for (size_t i = 0; i < keys.size(); ++i)
        if (juce::isPositiveAndBelow (keys[i].note, 128))
            indexOfNote[(size_t) keys[i].note] = (int) i;
    repaint();
}

const QuorvelKeyboard::KeyInfo* QuorvelKeyboard::findKey (int note) const noexcept
{
    if (! juce::isPositiveAndBelow (note, 128) || indexOfNote[(size_t) note] < 0)
        return nullptr;
    return &keys[(size_t) indexOfNote[(size_t) note]];
}

void QuorvelKeyboard::loadImages (FigmaRenderer& renderer)
{
    auto load = [&renderer] (const char* file, int frames) { return renderer.splitSvgFilmstrip (file, frames); };
    whiteKey = load ("pno_key_playable_empty_white.svg", 2);
    blackKey = load ("pno_key_playable_empty_black.svg", 2);
    triggeredWhite = load ("pno_key_playable_triggered_white.svg", 2);
    triggeredBlack = load ("pno_key_playable_triggered_black.svg", 2);
    snapInWhite = load ("pno_key_keysnap_active_white.svg", 2);
    snapInBlack = load ("pno_key_keysnap_active_black.svg", 2);
    snapOutWhite = load ("pno_key_keysnap_inactive_white.svg", 2);
    snapOutBlack = load ("pno_key_keysnap_inactive_black.svg", 2);
    for (size_t i = 0; i < modifierArt.size(); ++i)
        modifierArt[i] = load (kModifierArt[i], 2);
    lockBadge = load ("Lock.svg", 1);

    recordedNoteColour = renderer.keyboardTheme.recordedNoteColour;
    darkColour = renderer.keyboardTheme.darkColour;
    cursorColour = renderer.keyboardTheme.cursorColour;
    inactiveOpacity = renderer.keyboardTheme.inactiveOpacity;
    labelTypeface = renderer.getTypeface ("DM Sans", 700);
    repaint();
}

//==============================================================================
void QuorvelKeyboard::repaintKey (int key)
{
    if (const auto* k = findKey (key))
        repaint (k->bounds.expanded (2.0f).getSmallestIntegerContainer());
}

void QuorvelKeyboard::repaintKeys (const KeySet& a, const KeySet& b)
{
    for (int key : a)
        if (b.count (key) == 0)
            repaintKey (key);
    for (int key : b)
        if (a.count (key) == 0)
            repaintKey (key);
}

template <typename Map>
void QuorvelKeyboard::repaintChangedEntries (const Map& before, const Map& after)
{
    for (const auto& [key, value] : before)
    {
        const auto it = after.find (key);
        if (it == after.end() || it->second != value)
            repaintKey (key);
    }
    for (const auto& entry : after)
        if (before.count (entry.first) == 0)
            repaintKey (entry.first);
}

void QuorvelKeyboard::setKeyData (int key, const KeySequence& clip)
{
    const auto it = keyData.find (key);
    if (it != keyData.end() && sameSeqEvents (it->second.events, clip.events) && it->second.tailMs == clip.tailMs)
        return;
    keyData[key] = clip;
    repaintKey (key);
}

void QuorvelKeyboard::clearKeyData (int key)
{
    if (keyData.erase (key) > 0)
        repaintKey (key);
}

void QuorvelKeyboard::setSoundingIndices (const std::map<int, std::vector<int>>& indices)
{
    if (indices == soundingIndices)
        return;
    auto before = std::move (soundingIndices);
    soundingIndices = indices;
    repaintChangedEntries (before, soundingIndices);
}

void QuorvelKeyboard::setPlayheads (const std::map<int, std::vector<double>>& positions)
{
    if (positions == playheads)
        return;
    auto before = std::move (playheads);
    playheads = positions;
    repaintChangedEntries (before, playheads);
}

void QuorvelKeyboard::setRecordDests (const KeySet& keySet)
{
    if (keySet == recordDests)
        return;
    auto before = std::move (recordDests);
    recordDests = keySet;
    repaintKeys (before, recordDests);
}

void QuorvelKeyboard::setCascadeHits (const KeySet& keySet)
{
    if (keySet == cascadeHits)
        return;
    auto before = std::move (cascadeHits);
    cascadeHits = keySet;
    repaintKeys (before, cascadeHits);
}

void QuorvelKeyboard::setLitKeys (const KeySet& keySet)
{
    if (keySet == litKeys)
        return;
    auto before = std::move (litKeys);
    litKeys = keySet;
    repaintKeys (before, litKeys);
}

void QuorvelKeyboard::setLiveSpan (double ms)
{
    if (ms == liveSpan)
        return;
    liveSpan = ms;
    for (int key : recordDests)
        repaintKey (key);
}

void QuorvelKeyboard::setStepCursor (int key, double positionMs)
{
    if (key == stepCursorKey && juce::approximatelyEqual (positionMs, stepCursorPos))
        return;
    repaintKey (stepCursorKey);
    stepCursorKey = key;
    stepCursorPos = positionMs;
    repaintKey (key);
}

void QuorvelKeyboard::setProspectiveDest (int key)
{
    if (key == prospectiveDest)
        return;
    repaintKey (prospectiveDest);
    prospectiveDest = key;
    repaintKey (key);
}

void QuorvelKeyboard::setKeySnapRange (int low, int high)
{
    if (low == keySnapLow && high == keySnapHigh)
        return;
    // Keys between the old and the new edges change their sprite.
    const int from = std::min (low, keySnapLow), to = std::max (high, keySnapHigh);
    const int innerFrom = std::max (low, keySnapLow), innerTo = std::min (high, keySnapHigh);
    keySnapLow = low;
    keySnapHigh = high;
    for (int key = std::max (from, 0); key <= std::min (to, 127); ++key)
        if (key < innerFrom || key > innerTo)
            repaintKey (key);
}

void QuorvelKeyboard::setDragGhost (const KeySet& keySet, bool isCopy, bool isValid, bool showOffset, int offset)
{
    if (keySet == dragGhostKeys && isCopy == ghostIsCopy && isValid == ghostIsValid && showOffset == ghostShowOffset
        && offset == ghostOffset)
        return;
    dragGhostKeys = keySet;
    ghostIsCopy = isCopy;
    ghostIsValid = isValid;
    ghostShowOffset = showOffset;
    ghostOffset = offset;
    repaint();
}

void QuorvelKeyboard::setEffectDropGhost (int key, const juce::String& label)
{
    if (key == effectDropKey && label == effectLabel)
        return;
    effectDropKey = key;
    effectLabel = label;
    repaint();
}

void QuorvelKeyboard::setEffectDropSourceBadges (const KeySet& keySet, const juce::String& label)
{
    if (keySet == effectSourceKeys && label == effectLabel)
        return;
    effectSourceKeys = keySet;
    effectLabel = label;
    repaint();
}

void QuorvelKeyboard::setSelectedKeys (const KeySet& keySet)
{
    selectedKeys = keySet;
    repaint();
}

void QuorvelKeyboard::showToasts (std::map<int, juce::String> texts, int milliseconds)
{
    toasts = std::move (texts);
    startTimer (milliseconds);
    repaint();
}

void QuorvelKeyboard::timerCallback()
{
    toasts.clear();
    stopTimer();
    repaint();
}

//==============================================================================
bool QuorvelKeyboard::inActiveZone (int note) const noexcept
{
    return isFocusedLayer && note >= modifierZoneBase && note <= modifierZoneBase + 11;
}

bool QuorvelKeyboard::hasEvents (int key) const
{
    const auto it = keyData.find (key);
    return it != keyData.end() && ! it->second.events.empty();
}

QuorvelKeyboard::KeyLook QuorvelKeyboard::lookOf (const KeyInfo& key) const
{
    KeyLook look;
    const int note = key.note;
    look.held = mouseHeldKeys.count (note) > 0;
    const bool dest = recordDests.count (note) > 0;
    const bool hit = cascadeHits.count (note) > 0;
    look.active = ! dimmed && (look.held || litKeys.count (note) > 0 || dest || (isFocusedLayer && hit));

    if (note >= 24 && note <= 107 && keySnapEnabled && (note < keySnapLow || note > keySnapHigh))
    {
        look.sprite = keySnapScale[(size_t) (note % 12)] ? Sprite::keysnapIn : Sprite::keysnapOut;
        return look;
    }
    if (inActiveZone (note))
    {
        look.sprite = Sprite::modifier;
        look.modifierIndex = juce::jlimit (0, 11, note - modifierZoneBase);
        return look;
    }

    const bool filled = hasEvents (note);
    const bool recording = liveSpan > 0.0 && dest;
    look.sprite = key.isBlack ? Sprite::black : Sprite::white;
    if (! isFocusedLayer && ! filled && ! recording && hit)
        look.sprite = key.isBlack ? Sprite::triggeredBlack : Sprite::triggeredWhite;
    look.faded = filled && ! dest && fadeFilled;
    look.showsRoll = filled || recording;
    return look;
}

void QuorvelKeyboard::drawSprite (juce::Graphics& g, const Frames& frames, int frame, const KeyInfo& key, float opacity) const
{
    if (frames.empty())
    {
        g.setColour (key.isBlack ? juce::Colours::black : juce::Colours::white);
        g.fillRect (key.bounds);
        g.setColour (juce::Colours::grey);
        g.drawRect (key.bounds, 0.5f);
        return;
    }
    const auto& drawable = frames[(size_t) juce::jlimit (0, (int) frames.size() - 1, frame)];
    // A drawable below full opacity goes through a layer as large as the clip:
    // keep that to the key, not the whole keyboard.
    const juce::Graphics::ScopedSaveState save (g);
    if (opacity < 1.0f)
        g.reduceClipRegion (key.bounds.getSmallestIntegerContainer());
    drawable->drawWithin (g, key.bounds, juce::RectanglePlacement::stretchToFit, opacity);
}

void QuorvelKeyboard::drawKey (juce::Graphics& g, const KeyInfo& key) const
{
    const auto look = lookOf (key);
    const float opacity = look.active ? 1.0f : inactiveOpacity;
    const int heldFrame = look.held ? 1 : 0;
    const auto& b = key.bounds;

    switch (look.sprite)
    {
        case Sprite::keysnapIn:
            drawSprite (g, key.isBlack ? snapInBlack : snapInWhite, heldFrame, key, opacity);
            return;
        case Sprite::keysnapOut:
            drawSprite (g, key.isBlack ? snapOutBlack : snapOutWhite, heldFrame, key, opacity);
            return;
        case Sprite::modifier:
        {
            const auto i = (size_t) look.modifierIndex;
            const bool lit = look.held || modifierLit[i];
            drawSprite (g, modifierArt[i], lit ? 1 : 0, key, lit ? 1.0f : inactiveOpacity);
            if (modifierLocked[i] && ! lockBadge.empty())
            {
                const float u = std::min (0.7f * b.getWidth(), 0.22f * b.getHeight());
                const juce::Rectangle<float> badge (b.getCentreX() - 0.375f * u, b.getY() + std::max (0.05f * b.getHeight(), 2.0f),
                                                    0.75f * u, u);
                lockBadge.front()->drawWithin (g, badge, juce::RectanglePlacement::stretchToFit, 1.0f);
            }
            return;
        }
        case Sprite::white: drawSprite (g, whiteKey, heldFrame, key, opacity); break;
        case Sprite::black: drawSprite (g, blackKey, heldFrame, key, opacity); break;
        case Sprite::triggeredWhite: drawSprite (g, triggeredWhite, heldFrame, key, opacity); break;
        case Sprite::triggeredBlack: drawSprite (g, triggeredBlack, heldFrame, key, opacity); break;
    }

    if (look.active && ! look.faded)
    {
        g.setColour (juce::Colours::white.withAlpha ((juce::uint8) (key.isBlack ? 0x24 : 0x1A)));
        g.fillRect (inset (b, 1.5f));
    }
    if (look.showsRoll)
    {
        const auto it = keyData.find (key.note);
        drawMiniMidi (g, key, it != keyData.end() ? &it->second : nullptr, opacity, look.faded ? 0.25f : 1.0f);
    }
}

void QuorvelKeyboard::drawMiniMidi (juce::Graphics& g, const KeyInfo& key, const KeySequence* clip, float opacity,
                                    float noteFactor) const
{
    static const KeySequence empty;
    const auto roll = keyview::layoutMiniRoll (clip != nullptr ? *clip : empty, liveSpan, inset (key.bounds, 1.5f));

    const auto sounding = soundingIndices.find (key.note);
    auto isSounding = [&] (int index)
    {
        return sounding != soundingIndices.end()
            && std::find (sounding->second.begin(), sounding->second.end(), index) != sounding->second.end();
    };

    const auto noteColour = recordedNoteColour.withAlpha (
        (juce::uint8) std::min (255, juce::roundToInt (opacity * noteFactor * recordedNoteColour.getAlpha())));
    for (const auto& bar : roll.bars)
    {
        if (isSounding (bar.eventIndex))
        {
            g.setColour (darkColour);
            g.fillRect (bar.rect.expanded (0.5f));
            g.setColour (cursorColour);
        }
        else
        {
            g.setColour (noteColour);
        }
        g.fillRect (bar.rect);
    }

    const auto& box = roll.box;
    if (const auto it = playheads.find (key.note); it != playheads.end())
    {
        g.setColour (cursorColour.withAlpha ((juce::uint8) 0xBF));
        for (double p : it->second)
            g.fillRect (box.getX(), roll.yOf (p) - 0.5f, box.getWidth(), 1.0f);
    }
    if (key.note == stepCursorKey)
    {
        g.setColour (cursorColour);
        g.fillRect (box.getX(), roll.yOf (stepCursorPos) - 0.75f, box.getWidth(), 1.5f);
    }
}

float QuorvelKeyboard::toastFontSize() const
{
    for (const auto& k : keys)
        if (! k.isBlack)
            return juce::jlimit (8.0f, 12.0f, k.bounds.getWidth() * 0.5f);
    return juce::jlimit (8.0f, 12.0f, 0.09f * (float) getHeight());
}

void QuorvelKeyboard::drawToasts (juce::Graphics& g, const std::vector<keyview::Toast>& list) const
{
    const float f = toastFontSize();
    const auto boxes = keyview::layoutToasts (list, f);
    juce::Font font = (labelTypeface != nullptr ? juce::Font (labelTypeface) : juce::Font (f, juce::Font::bold)).withHeight (f);
    font.setHorizontalScale (0.94f);
    g.setFont (font);
    for (size_t i = 0; i < boxes.size(); ++i)
    {
        g.setColour (juce::Colour (0xFF13202B));
        g.fillRoundedRectangle (boxes[i], 2.0f);
        g.setColour (juce::Colours::white.withAlpha ((juce::uint8) 0x26));
        g.drawRoundedRectangle (boxes[i], 2.0f, 1.0f);
        g.setColour (juce::Colour (0xFFF4B03C));
        g.drawText (list[i].text, boxes[i], juce::Justification::centred, false);
    }
}

void QuorvelKeyboard::drawToastsForKeys (juce::Graphics& g, const KeySet& keySet, const juce::String& text) const
{
    std::vector<keyview::Toast> list;
    for (int note : keySet)
        if (const auto* k = findKey (note); k != nullptr && text.isNotEmpty())
            list.push_back ({ k->bounds.getCentre(), text });
    drawToasts (g, list);
}

void QuorvelKeyboard::drawGhostKeys (juce::Graphics& g, const KeySet& keySet, juce::Colour c, juce::uint8 fillAlpha) const
{
    for (int note : keySet)
        if (const auto* k = findKey (note))
            drawMarkedKey (g, k->bounds, c, fillAlpha, 2.0f, markRadius (k->bounds));
}

void QuorvelKeyboard::paint (juce::Graphics& g)
{
    const auto clip = g.getClipBounds().toFloat();
    auto visible = [&clip] (const KeyInfo& k) { return clip.intersects (k.bounds.expanded (2.0f)); };
    auto eachKey = [&] (auto&& fn)
    {
        for (const auto& k : keys)
            if (! k.isBlack && visible (k))
                fn (k);
        for (const auto& k : keys)
            if (k.isBlack && visible (k))
                fn (k);
    };

    eachKey ([&] (const KeyInfo& k) { drawKey (g, k); });

    // Octave numbers on the C keys.
    eachKey ([&] (const KeyInfo& k)
    {
        if (k.note % 12 != 0 || inActiveZone (k.note))
            return;
        const auto& b = k.bounds;
        const float height = 0.104f * b.getHeight();
        g.setFont (labelTypeface != nullptr ? juce::Font (labelTypeface).withHeight (height) : juce::Font (height, juce::Font::bold));
        g.setColour (juce::Colours::black);
        g.drawText (keyview::octaveLabel (k.note),
                    juce::Rectangle<float> (b.getX() + 0.3f * b.getWidth(), b.getY() + 0.82f * b.getHeight(),
                                            0.6f * b.getWidth(), 0.16f * b.getHeight()),
                    juce::Justification::centredLeft, false);
    });

    if (dimmed)
        eachKey ([&] (const KeyInfo& k)
        {
            g.setColour (juce::Colours::black.withAlpha ((juce::uint8) 0x38));
            g.fillRoundedRectangle (k.bounds, 0.18f * k.bounds.getWidth());
        });

    for (int note : selectedKeys)
        if (const auto* k = findKey (note))
            drawMarkedKey (g, k->bounds, juce::Colours::white, 0x4C, 2.0f, markRadius (k->bounds));

    // Record destinations and the key a recording would go to.
    eachKey ([&] (const KeyInfo& k)
    {
        if (inActiveZone (k.note))
            return;
        const auto& b = k.bounds;
        const float radius = 0.18f * b.getWidth();
        if (recordDests.count (k.note) > 0)
        {
            const auto r = inset (b, 0.9f);
            g.setColour (darkColour);
            g.drawRoundedRectangle (r, radius, 3.0f);
            g.setColour (kRecordRed);
            g.drawRoundedRectangle (r, radius, 1.8f);
        }
        else if (k.note == prospectiveDest)
        {
            g.setColour (kRecordRed.withAlpha ((juce::uint8) 0x38));
            g.fillRoundedRectangle (inset (b, 0.5f), radius);
        }
    });

    if (! isFocusedLayer)
        for (int note : cascadeHits)
            if (const auto* k = findKey (note); k != nullptr && hasEvents (note))
            {
                g.setColour (juce::Colour (0x47F5C400));
                g.fillRect (k->bounds);
            }

    if (! dragGhostKeys.empty())
    {
        const auto c = ! ghostIsValid ? juce::Colour (0xFFFF0000) : ghostIsCopy ? kLime : cursorColour;
        drawGhostKeys (g, dragGhostKeys, c, 0x40);
        if (ghostShowOffset && ghostIsValid && ghostOffset != 0)
            drawToastsForKeys (g, dragGhostKeys, (ghostOffset > 0 ? "+" : "-") + juce::String (std::abs (ghostOffset)));
    }

    if (const auto* k = findKey (effectDropKey))
    {
        drawMarkedKey (g, k->bounds, cursorColour, 0x4C, 1.5f, 0.18f * k->bounds.getWidth());
        if (effectLabel.isNotEmpty())
            drawToasts (g, { { k->bounds.getCentre(), effectLabel } });
    }
    drawToastsForKeys (g, effectSourceKeys, effectLabel);

    drawGhostKeys (g, dropHighlightKeys, kLime, 0x4C);

    std::vector<keyview::Toast> list;
    for (const auto& [note, text] : toasts)
        if (const auto* k = findKey (note); k != nullptr && text.isNotEmpty())
            list.push_back ({ k->bounds.getCentre(), text });
    drawToasts (g, list);
}
