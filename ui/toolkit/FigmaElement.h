#pragma once

#include <functional>
#include <memory>
#include <vector>

#include <juce_gui_basics/juce_gui_basics.h>

// One named element of the layout document: a panel, button, label, section
// or key, with its frames, visuals, shadows and text style. Its painting and
// mouse behaviour are built on these fields.
class FigmaElement : public juce::Component
{
public:
    struct GradientStop
    {
        float position = 0.0f;
        juce::Colour colour;
    };

    struct DropShadow
    {
        bool on = false;
        juce::Colour colour;
        int blur = 0, offsetX = 0, offsetY = 0, spread = 0;
    };

    struct InnerShadow
    {
        bool on = false;
        juce::Colour colour;
        int blur = 0, offsetX = 0, offsetY = 0;
    };

    FigmaElement() = default;

    void paint (juce::Graphics&) override;
    void mouseEnter (const juce::MouseEvent&) override;
    void mouseExit (const juce::MouseEvent&) override;
    void mouseDown (const juce::MouseEvent&) override;
    void mouseDrag (const juce::MouseEvent&) override;
    void mouseUp (const juce::MouseEvent&) override;
    void mouseDoubleClick (const juce::MouseEvent&) override;
    bool hitTest (int x, int y) override;
    void visibilityChanged() override;

    void rebuildShadowSource();
    void applyFrame (int newFrame);
    bool hasAnyImage() const { return singleImage.isValid() || ! frameImages.empty() || ! frameDrawables.empty(); }
    // The text box the painting uses (for tests and for the editor's layout).
    juce::Rectangle<int> textBox() const;
    juce::Font textFont() const;

    juce::String elementName;
    juce::Rectangle<float> designBounds;
    int numFrames = 1;
    int frame = 0;
    bool hovered = false, pressed = false, toggled = false, momentary = false;
    bool isHorizontal = false;
    bool isBg = false;
    float opacity = 1.0f;

    std::vector<juce::Image> frameImages;
    juce::Image singleImage;
    std::vector<std::unique_ptr<juce::Drawable>> frameDrawables;

    juce::Colour fillColour { 0x00000000 };
    float cornerRadius = 0.0f;
    juce::Colour strokeColour { 0x00000000 };
    float strokeWeight = 0.0f;
    bool radialGradient = false;
    float gradientCx = 0.5f, gradientCy = 0.5f, gradientEx = 1.0f, gradientEy = 0.5f;
    std::vector<GradientStop> gradientStops;
    DropShadow dropShadow;
    InnerShadow innerShadow;
    bool backgroundBlur = false;
    float backgroundBlurRadius = 0.0f;

    juce::String textContent;
    bool dynamicText = false;
    juce::Colour textColour { 0xFFFFFFFF };
    float fontSize = 0.0f;
    juce::String fontFamily;
    int fontWeight = 400;
    juce::Justification textJustification { juce::Justification::centredLeft };
    float letterSpacing = 0.0f;
    juce::Typeface::Ptr typeface;
    juce::Rectangle<int> textBounds;
    bool hasTextBounds = false;

    FigmaElement* hoverPartner = nullptr;
    std::function<void (FigmaElement&, float)> onValueChange;
    std::function<void (FigmaElement&, const juce::MouseEvent&)> onDoubleClick;
    std::function<void (FigmaElement&, const juce::MouseEvent&)> onMouseDown;
    std::function<void (FigmaElement&, const juce::MouseEvent&)> onClick;
    std::function<void (FigmaElement&, const juce::MouseEvent&)> onDrag;
    std::function<bool (int, int)> hitTestFunction;

    int dragStartY = 0;
    float dragStartValue = 0.0f;

    // Caches of the shadow and blur effects, per frame.
    juce::Image shadowSource, shadowMask, innerShadowImage, backdropImage;
    int shadowSourceFrame = -1, innerShadowFrame = -1, shadowPad = 0;
    bool backdropPending = false;

private:
    void enter();
    void leave();
    void drawFrame (juce::Graphics&, float alpha) const;
    void rebuildInnerShadow();
    void postBackdropJob();

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FigmaElement)
};
