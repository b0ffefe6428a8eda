#include "ui/toolkit/DropdownMenu.h"

#include <cmath>

namespace
{
int px (double v) { return juce::roundToInt (v); }
}

DropdownMenu::Theme& DropdownMenu::getSharedTheme()
{
    static Theme theme;
    return theme;
}

DropdownMenu::DropdownMenu() = default;

DropdownMenu::~DropdownMenu()
{
    stopTimer();
    removeKeyListener (this);
}

juce::Font DropdownMenu::menuFont() const
{
    const auto& t = getSharedTheme();
    juce::Font f (t.fontSize * scale);
    if (t.typeface != nullptr)
        f = juce::Font (t.typeface).withHeight (t.fontSize * scale);
    return f;
}

juce::String DropdownMenu::labelOf (const Item& item) const
{
    return item.prefix.isNotEmpty() ? item.prefix + "  " + item.text : item.text;
}

int DropdownMenu::widestItem (const std::vector<Item>& list, const juce::Font& font, float s) const
{
    int widest = 0;
    for (const auto& item : list)
    {
        if (item.isSeparator)
            continue;
        int w = px (font.getStringWidthFloat (labelOf (item))) + leftPad + px (24 * s);
        if (! item.subItems.empty())
            w += px (12 * s);
        widest = std::max (widest, w);
    }
    return widest;
}

DropdownMenu& DropdownMenu::rootMenu()
{
    auto* m = this;
    while (m->parentMenu != nullptr)
        m = m->parentMenu;
    return *m;
}

void DropdownMenu::showAt (juce::Point<int> screenPosition, std::vector<Item> newItems, float newScale, juce::Component* host)
{
    items = std::move (newItems);
    scale = newScale > 0.0f ? newScale : 1.0f;
    hostComponent = host;
    hoveredIndex = submenuIndex = -1;
    scrollOffset = 0;

    const auto& t = getSharedTheme();
    itemHeight = px (t.itemHeight * scale);
    separatorHeight = px (t.separatorHeight * scale);
    padding = px (t.padding * scale);
    leftPad = px (t.leftPad * scale);
    cornerRadius = px (t.cornerRadius * scale);
    shadowMargin = px (t.shadowMargin * scale);

    const auto font = menuFont();
    const int widest = widestItem (items, font, scale);
    int contentWidth = std::max (px (minWidth * scale), std::max (px (100 * scale), std::min (px (280 * scale), widest)));

    contentHeight = 0;
    for (const auto& item : items)
        contentHeight += rowHeight (item);

    bool scrolls = false;
    const int limit = px (maxHeight * scale);
    if (maxHeight > 0 && limit > 0 && limit < contentHeight)
    {
        visibleHeight = limit;
        scrolls = true;
        contentWidth += px (8 * scale);
    }
    else
    {
        visibleHeight = contentHeight;
    }

    int W = contentWidth + 2 * shadowMargin;
    int H = visibleHeight + 2 * shadowMargin + 2 * padding;
    const int gap = px (2 * scale);

    if (isSubmenu && parentMenu != nullptr)
    {
        auto& root = rootMenu();
        const auto p = root.getLocalPoint (nullptr, screenPosition);
        int x = p.x - shadowMargin, y = p.y - shadowMargin + gap;
        if (x + W > root.getWidth())
            x = root.getWidth() - W;
        if (y + H > root.getHeight())
            y = root.getHeight() - H;
        x = std::max (0, x);
        y = std::max (0, y);
        body = { 0, 0, W, H };
        setBounds (x, y, W, H);
        root.addAndMakeVisible (this);
    }
    else if (host != nullptr)
    {
        coversParent = std::any_of (items.begin(), items.end(), [] (const Item& i) { return ! i.subItems.empty(); });
        const auto p = host->getLocalPoint (nullptr, screenPosition);
        int y = p.y + gap - shadowMargin;
        int x = p.x + W - shadowMargin > host->getWidth() ? host->getWidth() - W : p.x - shadowMargin;
        x = std::max (0, x);

        if (y + H > host->getHeight())
        {
            // Shortened to the room left below, never under three rows; then it scrolls.
            const int room = std::max (3 * itemHeight, host->getHeight() - y - 2 * shadowMargin - 2 * padding);
            if (room < visibleHeight)
            {
                visibleHeight = room;
                H = room + 2 * shadowMargin + 2 * padding;
                if (! scrolls && room < contentHeight)
                    W += px (8 * scale);
            }
            if (y + H > host->getHeight())
                y = host->getHeight() - H;
        }
        y = std::max (0, y);

        if (coversParent)
        {
            body = { x, y, W, H };
            setBounds (host->getLocalBounds());
        }
        else
        {
            body = { 0, 0, W, H };
            setBounds (x, y, W, H);
        }
        setOpaque (false);
        host->addAndMakeVisible (this);
    }

    setVisible (true);
    toFront (false);
    setWantsKeyboardFocus (true);
    grabKeyboardFocus();
    addKeyListener (this);

    if (! isSubmenu)
    {
        enterModalState (true, nullptr, true);
        if (juce::ModifierKeys::getCurrentModifiersRealtime().isLeftButtonDown())
        {
            trackingPress = pressSeen = true;
            startTimer (16);
        }
    }
}

int DropdownMenu::itemAtPoint (juce::Point<int> point) const
{
    const int x0 = body.getX() + shadowMargin + padding;
    const int w = body.getWidth() - 2 * (shadowMargin + padding);
    const int top = viewportTop(), bottom = top + visibleHeight;

    int y = rowsTop();
    for (size_t i = 0; i < items.size(); ++i)
    {
        const int h = rowHeight (items[i]);
        if (! items[i].isSeparator && y + h > top && y < bottom
            && point.x >= x0 && point.x < x0 + w && point.y >= y && point.y < y + itemHeight)
            return (int) i;
        y += h;
    }
    return -1;
}

void DropdownMenu::paint (juce::Graphics& g)
{
    const auto& t = getSharedTheme();
    const auto card = body.reduced (shadowMargin).toFloat();

    for (int k = shadowMargin; k >= 1; --k)
    {
        const double f = 1.0 - (double) k / shadowMargin;
        g.setColour (juce::Colours::black.withAlpha ((juce::uint8) px (0.04 * f * f * 255.0)));
        g.fillRoundedRectangle (card.getX() - k, card.getY() - k + 1, card.getWidth() + 2 * k, card.getHeight() + 2 * k,
                                (float) (cornerRadius + k));
    }

    g.setColour (t.bg);
    g.fillRoundedRectangle (card, (float) cornerRadius);
    g.setColour (t.border);
    g.drawRoundedRectangle (card.getX() + 0.5f, card.getY() + 0.5f, card.getWidth() - 1.0f, card.getHeight() - 1.0f,
                            (float) cornerRadius, 1.0f);

    const auto font = menuFont();
    const int x0 = body.getX() + shadowMargin + padding;
    const int w = body.getWidth() - 2 * (shadowMargin + padding);
    const int top = viewportTop(), bottom = top + visibleHeight;
    {
        const juce::Graphics::ScopedSaveState save (g);
        g.reduceClipRegion (body.getX() + shadowMargin, top, body.getWidth() - 2 * shadowMargin, visibleHeight);
        g.setFont (font);

        int y = rowsTop();
        for (size_t i = 0; i < items.size(); ++i)
        {
            const auto& item = items[i];
            const int h = rowHeight (item);
            if (y + h > top && y < bottom)
            {
                if (item.isSeparator)
                {
                    g.setColour (t.border);
                    g.fillRect (body.getX() + shadowMargin + px (4 * scale), y + separatorHeight / 2,
                                body.getWidth() - 2 * shadowMargin - px (8 * scale), 1);
                }
                else
                {
                    juce::Colour c = t.text;
                    if (! item.enabled)
                        c = t.disabledText;
                    else if ((int) i == hoveredIndex)
                    {
                        g.setColour (t.hoverBg);
                        g.fillRoundedRectangle ((float) x0, (float) y, (float) w, (float) itemHeight, 4.0f * scale);
                        c = t.hoverText;
                    }
                    g.setColour (c);

                    if (item.checked)
                        g.drawText (juce::String::fromUTF8 ("\xe2\x9c\x93"), x0, y, leftPad, itemHeight,
                                    juce::Justification::centred);

                    if (! item.subItems.empty())
                    {
                        const float a = font.getAscent() * 0.5f;
                        const auto ax = (float) (x0 + w - px (12 * scale));
                        const auto cy = (float) (y + itemHeight / 2);
                        juce::Path chevron;
                        chevron.startNewSubPath (ax, cy - a / 2);
                        chevron.lineTo (ax + 0.6f * a, cy);
                        chevron.lineTo (ax, cy + a / 2);
                        g.strokePath (chevron, juce::PathStrokeType (1.5f, juce::PathStrokeType::mitered, juce::PathStrokeType::butt));
                    }

                    g.drawText (labelOf (item), x0 + leftPad, y, std::max (0, std::max (0, w - leftPad) - px (8 * scale)),
                                itemHeight, juce::Justification::centredLeft, true);
                }
            }
            y += h;
        }
    }

    if (visibleHeight < contentHeight)
    {
        const float b = (float) t.scrollbarWidth * scale;
        const float x = card.getRight() - b - 2.0f * scale;
        const auto barTop = (float) top;
        if (t.scrollbarTrack.getAlpha() != 0)
        {
            g.setColour (t.scrollbarTrack);
            g.fillRoundedRectangle (x, barTop, b, (float) visibleHeight, b / 2);
        }
        const float thumb = std::max ((float) visibleHeight / (float) contentHeight * (float) visibleHeight, 20.0f * scale);
        const float thumbY = barTop + (float) scrollOffset / (float) (contentHeight - visibleHeight) * ((float) visibleHeight - thumb);
        g.setColour (t.scrollbarThumb);
        g.fillRoundedRectangle (x, thumbY, b, thumb, b / 2);
    }
}

//==============================================================================
bool DropdownMenu::insideAimTriangle (juce::Point<float> p) const
{
    if (submenu == nullptr)
        return false;

    const auto s = submenu->getBounds().toFloat();
    const juce::Point<float> a = lastMousePos, b (s.getX() + (float) shadowMargin, s.getY()),
                             c (s.getX() + (float) shadowMargin, s.getBottom());
    auto cross = [] (juce::Point<float> u, juce::Point<float> v, juce::Point<float> q)
    { return (v.x - u.x) * (q.y - u.y) - (v.y - u.y) * (q.x - u.x); };
    const float d1 = cross (a, b, p), d2 = cross (b, c, p), d3 = cross (c, a, p);
    return (d1 >= 0 && d2 >= 0 && d3 >= 0) || (d1 <= 0 && d2 <= 0 && d3 <= 0);
}

void DropdownMenu::dropPending()
{
    pendingSubmenu = false;
    pendingIndex = -1;
    if (! trackingPress)
        stopTimer();
}

void DropdownMenu::closeSubmenu()
{
    if (submenu != nullptr)
    {
        submenu->dismiss();
        submenu.reset();
    }
    submenuIndex = -1;
}

void DropdownMenu::handleItemHover (int index)
{
    if (submenuIndex >= 0 && index != submenuIndex)
    {
        const auto p = getLocalPoint (nullptr, juce::Desktop::getMousePosition()).toFloat();
        if (insideAimTriangle ({ std::round (p.x), std::round (p.y) }))
        {
            pendingIndex = index;
            if (! pendingSubmenu)
            {
                pendingSubmenu = true;
                startTimer (16);
            }
            return;
        }
    }

    dropPending();
    setHovered (index);
}

void DropdownMenu::setHovered (int index)
{
    hoveredIndex = index;
    repaint (body);

    if (index >= 0 && index < (int) items.size() && ! items[(size_t) index].subItems.empty())
        showSubmenu (index);
    else
        closeSubmenu();
}

void DropdownMenu::showSubmenu (int index)
{
    if (index == submenuIndex)
        return;

    closeSubmenu();
    if (index < 0 || index >= (int) items.size() || items[(size_t) index].subItems.empty())
        return;

    submenuIndex = index;
    submenu = std::make_unique<DropdownMenu>();
    submenu->isSubmenu = true;
    submenu->parentMenu = this;
    submenu->maxHeight = maxHeight;

    const auto& sub = items[(size_t) index].subItems;
    const int cw = std::min (px (280 * scale), std::max (px (100 * scale), widestItem (sub, menuFont(), scale)));

    int rowTop = rowsTop();
    for (int i = 0; i < index; ++i)
        rowTop += rowHeight (items[(size_t) i]);

    juce::Point<int> origin (body.getX() + body.getWidth() - shadowMargin, rowTop);
    auto& root = rootMenu();
    const int rootRight = root.getScreenX() + root.getWidth();
    if (localPointToGlobal (origin).x + cw > rootRight)
        origin.x = body.getX() + shadowMargin - cw;

    submenu->showAt (localPointToGlobal (origin), sub, scale, hostComponent);
}

void DropdownMenu::selectItemAt (int index)
{
    if (index < 0 || index >= (int) items.size())
        return;
    const auto& item = items[(size_t) index];
    if (item.isSeparator || ! item.enabled || ! item.subItems.empty())
        return;

    const int id = item.id;
    auto& root = rootMenu();
    auto callback = std::move (root.onSelect);
    root.onSelect = nullptr;
    root.dismiss();
    if (callback)
        callback (id);
}

void DropdownMenu::dismiss()
{
    trackingPress = pendingSubmenu = false;
    pendingIndex = -1;
    stopTimer();
    closeSubmenu();
    removeKeyListener (this);
    setVisible (false);
    if (isOnDesktop())
        removeFromDesktop();
    if (! isSubmenu && isCurrentlyModal (false))
        exitModalState (0);   // the modal manager then deletes the menu
}

//==============================================================================
void DropdownMenu::timerCallback()
{
    if (trackingPress)
    {
        const auto mods = juce::ModifierKeys::getCurrentModifiersRealtime();
        auto screen = juce::Desktop::getMousePosition().toFloat();
        const float global = juce::Desktop::getInstance().getGlobalScaleFactor();
        if (global != 1.0f)
            screen /= global;
        const auto screenPoint = screen.roundToInt();
        const auto p = getLocalPoint (nullptr, screenPoint);
        const int h = itemAtPoint (p);

        DropdownMenu* targetMenu = nullptr;
        int target = -1;
        if (submenu != nullptr && submenu->isVisible())
        {
            const int c = submenu->itemAtPoint (submenu->getLocalPoint (nullptr, screenPoint));
            if (c >= 0 || submenu->getScreenBounds().contains (screenPoint))
            {
                dropPending();
                if (hoveredIndex != submenuIndex)
                {
                    hoveredIndex = submenuIndex;
                    repaint (body);
                }
                if (c >= 0 && c != submenu->hoveredIndex)
                {
                    submenu->hoveredIndex = c;
                    submenu->repaint();
                }
                targetMenu = submenu.get();
                target = c;
            }
        }
        if (targetMenu == nullptr)
        {
            if (h != hoveredIndex)
                handleItemHover (h);
            targetMenu = this;
            target = h;
        }
        lastMousePos = p.toFloat();

        if (! mods.isLeftButtonDown())
        {
            trackingPress = false;
            if (target >= 0)
            {
                targetMenu->selectItemAt (target);
                return;
            }
        }
    }

    if (pendingSubmenu)
    {
        const auto screen = juce::Desktop::getMousePosition();
        if (submenu != nullptr && submenu->isVisible() && submenu->getScreenBounds().contains (screen))
        {
            dropPending();
            lastMousePos = getLocalPoint (nullptr, screen).toFloat();
        }
        else
        {
            const auto p = getLocalPoint (nullptr, screen).toFloat();
            const juce::Point<float> rounded (std::round (p.x), std::round (p.y));
            if (submenu != nullptr && insideAimTriangle (rounded))
            {
                lastMousePos = rounded;
            }
            else
            {
                const int index = pendingIndex;
                dropPending();
                lastMousePos = rounded;
                setHovered (index);
            }
        }
    }

    if (! trackingPress && ! pendingSubmenu)
        stopTimer();
}

void DropdownMenu::mouseMove (const juce::MouseEvent& e)
{
    const int i = itemAtPoint (e.getPosition());
    if (i != hoveredIndex)
        handleItemHover (i);
    lastMousePos = e.position;
}

void DropdownMenu::mouseExit (const juce::MouseEvent&)
{
    dropPending();
    if (submenu == nullptr || ! submenu->isVisible())
    {
        hoveredIndex = -1;
        repaint (body);
    }
}

void DropdownMenu::mouseDown (const juce::MouseEvent& e)
{
    if (! body.contains (e.getPosition()) && ! isSubmenu)
        dismiss();
}

void DropdownMenu::mouseUp (const juce::MouseEvent& e)
{
    selectItemAt (itemAtPoint (e.getPosition()));
}

void DropdownMenu::mouseWheelMove (const juce::MouseEvent&, const juce::MouseWheelDetails& wheel)
{
    if (visibleHeight >= contentHeight)
        return;
    scrollOffset = juce::jlimit (0, contentHeight - visibleHeight, scrollOffset - px (itemHeight * 6 * wheel.deltaY));
    repaint (body);
}

bool DropdownMenu::hitTest (int x, int y)
{
    if (body.contains (x, y))
        return true;
    return submenu != nullptr && submenu->isVisible() && submenu->getBounds().contains (x, y);
}

bool DropdownMenu::keyPressed (const juce::KeyPress& key, juce::Component*)
{
    if (key.getKeyCode() == juce::KeyPress::escapeKey && key.getModifiers().withoutMouseButtons() == juce::ModifierKeys())
    {
        rootMenu().dismiss();
        return true;
    }
    return false;
}

void DropdownMenu::focusLost (FocusChangeType)
{
    auto* focused = juce::Component::getCurrentlyFocusedComponent();
    if (submenu != nullptr && focused != nullptr && (focused == submenu.get() || submenu->isParentOf (focused)))
        return;
    if (! isSubmenu)
        dismiss();
}

void DropdownMenu::inputAttemptWhenModal()
{
    dismiss();
}
