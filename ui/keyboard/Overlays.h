#pragma once

#include <map>

#include <juce_gui_basics/juce_gui_basics.h>

// Curved connectors from each key driving a cascade on the layer below to the
// key it drives on the layer above, fading out when the link ends. It spans
// the whole window and never takes the mouse.
class CascadeOverlay : public juce::Component, public juce::Timer
{
public:
    struct Line
    {
        float x1 = 0, y1 = 0, x2 = 0, y2 = 0;   // start on the lower layer, end on the upper one
        bool operator== (const Line& o) const noexcept { return x1 == o.x1 && y1 == o.y1 && x2 == o.x2 && y2 == o.y2; }
        bool operator!= (const Line& o) const noexcept { return ! operator== (o); }
    };

    struct Anim
    {
        Line line;
        float fadeAlpha = 1.0f;
        bool live = true;
    };

    CascadeOverlay();

    // The sideways swing of a connector, and the connector itself.
    static float bulgeOf (const Line&) noexcept;
    static juce::Path connectorPath (const Line&);
    // The area a connector may paint, with room for its swing and dots.
    static juce::Rectangle<float> boundsOf (const Line&) noexcept;

    // One animation step at the given time; returns whether anything still moves.
    bool advance (double nowMs);

    void paint (juce::Graphics&) override;
    void timerCallback() override;

    std::map<int, Anim> anims;
    double lastTickMs = 0.0;
};

// Shades the parts of the modifier track outside the key-snap range.
class KeysnapFill : public juce::Component
{
public:
    KeysnapFill();
    void paint (juce::Graphics&) override;

    juce::Rectangle<float> lowRect, highRect;
};
