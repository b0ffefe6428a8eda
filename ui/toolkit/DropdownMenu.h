#pragma once

#include <functional>
#include <memory>
#include <vector>

#include <juce_gui_basics/juce_gui_basics.h>

// The editor's pop-up list: themed, scaled with the editor, opened as a modal
// child of the editor below the pressed element, with one level of sub-menus,
// scrolling, and press-drag-release choosing.
class DropdownMenu : public juce::Component, private juce::KeyListener, private juce::Timer
{
public:
    struct Theme
    {
        juce::Colour bg { 0xFFD4D4D4 };
        juce::Colour text { 0xFF1D1D1F };
        juce::Colour border { 0xFFC2C1C1 };
        juce::Colour hoverBg { 0x59007AFF };
        juce::Colour hoverText { 0xFFFFFFFF };
        juce::Colour disabledText { 0xFF9E9E9E };
        juce::Colour scrollbarThumb { 0x33000000 };
        juce::Colour scrollbarTrack { 0x00000000 };
        int scrollbarWidth = 6;
        float fontSize = 12.0f;
        int itemHeight = 24;
        int separatorHeight = 9;
        int padding = 4;
        int leftPad = 18;
        int cornerRadius = 6;
        int shadowMargin = 16;
        juce::Typeface::Ptr typeface;
    };

    struct Item
    {
        juce::String text;
        juce::String prefix;
        int id = 0;
        bool checked = false;
        bool enabled = true;
        bool isSeparator = false;
        std::vector<Item> subItems;
    };

    static Theme& getSharedTheme();

    DropdownMenu();
    ~DropdownMenu() override;

    void showAt (juce::Point<int> screenPosition, std::vector<Item> items, float scale, juce::Component* host);
    void dismiss();

    std::function<void (int)> onSelect;
    int minWidth = 0;
    int maxHeight = 0;

    // State, read by tests and by the editor's layout.
    bool isSubmenu = false;
    DropdownMenu* parentMenu = nullptr;
    bool coversParent = false;
    std::vector<Item> items;
    float scale = 1.0f;
    juce::Component* hostComponent = nullptr;
    int hoveredIndex = -1;
    int submenuIndex = -1;
    std::unique_ptr<DropdownMenu> submenu;
    juce::Rectangle<int> body;
    bool pendingSubmenu = false;
    int pendingIndex = -1;
    juce::Point<float> lastMousePos;
    bool trackingPress = false, pressSeen = false;
    int scrollOffset = 0, visibleHeight = 0, contentHeight = 0;
    int itemHeight = 24, separatorHeight = 9, padding = 4, leftPad = 18, cornerRadius = 6, shadowMargin = 16;

    int itemAtPoint (juce::Point<int> point) const;
    void handleItemHover (int index);
    void showSubmenu (int index);
    void selectItemAt (int index);

    void paint (juce::Graphics&) override;
    void mouseMove (const juce::MouseEvent&) override;
    void mouseExit (const juce::MouseEvent&) override;
    void mouseDown (const juce::MouseEvent&) override;
    void mouseUp (const juce::MouseEvent&) override;
    void mouseWheelMove (const juce::MouseEvent&, const juce::MouseWheelDetails&) override;
    bool hitTest (int x, int y) override;
    void focusLost (FocusChangeType) override;
    void inputAttemptWhenModal() override;
    bool keyPressed (const juce::KeyPress&, juce::Component*) override;
    using juce::Component::keyPressed;

private:
    void timerCallback() override;
    juce::Font menuFont() const;
    juce::String labelOf (const Item& item) const;
    int widestItem (const std::vector<Item>& list, const juce::Font& font, float s) const;
    int rowHeight (const Item& item) const { return item.isSeparator ? separatorHeight : itemHeight; }
    int rowsTop() const { return body.getY() + shadowMargin + padding - scrollOffset; }
    int viewportTop() const { return body.getY() + shadowMargin + padding; }
    DropdownMenu& rootMenu();
    bool insideAimTriangle (juce::Point<float> p) const;
    void dropPending();
    void setHovered (int index);
    void closeSubmenu();

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (DropdownMenu)
};
