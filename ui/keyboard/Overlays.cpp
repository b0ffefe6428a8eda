#include "ui/keyboard/Overlays.h"

namespace
{
const juce::Colour kOutline { 0xFF0C1620 };
const juce::Colour kCore { 0xFF7DDFFF };

juce::uint8 alphaByte (float a)
{
    return (juce::uint8) (a <= 0.0f ? 0 : a >= 1.0f ? 255 : juce::roundToInt (a * 255.0f));
}
}

CascadeOverlay::CascadeOverlay()
{
    setInterceptsMouseClicks (false, false);
}

float CascadeOverlay::bulgeOf (const Line& l) noexcept
{
    const float sideways = 0.025f * std::abs (l.x2 - l.x1);
    if (sideways >= 1.0f)
        return 0.0f;
    return juce::jlimit (10.0f, 34.0f, 0.22f * std::abs (l.y1 - l.y2)) * (1.0f - sideways);
}

juce::Path CascadeOverlay::connectorPath (const Line& l)
{
    const float b = bulgeOf (l), my = (l.y1 + l.y2) * 0.5f;
    juce::Path p;
    p.startNewSubPath (l.x1, l.y1);
    p.cubicTo (l.x1 + b, my, l.x2 - b, my, l.x2, l.y2);
    return p;
}

juce::Rectangle<float> CascadeOverlay::boundsOf (const Line& l) noexcept
{
    return { std::min (l.x1, l.x2) - 38.0f, std::min (l.y1, l.y2) - 6.0f,
             std::abs (l.x2 - l.x1) + 76.0f, std::abs (l.y2 - l.y1) + 12.0f };
}

void CascadeOverlay::paint (juce::Graphics& g)
{
    const juce::PathStrokeType outline (3.0f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded);
    const juce::PathStrokeType core (1.4f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded);
    for (const auto& [id, anim] : anims)
    {
        juce::ignoreUnused (id);
        const float a = anim.fadeAlpha;
        if (a <= 0.001f)
            continue;
        const auto path = connectorPath (anim.line);
        const auto outlineColour = kOutline.withAlpha (alphaByte (0.85f * a));
        const auto coreColour = kCore.withAlpha (alphaByte (a));
        g.setColour (outlineColour);
        g.strokePath (path, outline);
        g.setColour (coreColour);
        g.strokePath (path, core);
        for (const auto point : { juce::Point<float> (anim.line.x1, anim.line.y1), juce::Point<float> (anim.line.x2, anim.line.y2) })
        {
            g.setColour (outlineColour);
            g.fillEllipse (juce::Rectangle<float> (6.0f, 6.0f).withCentre (point));
            g.setColour (coreColour);
            g.fillEllipse (juce::Rectangle<float> (4.0f, 4.0f).withCentre (point));
        }
    }
}

bool CascadeOverlay::advance (double nowMs)
{
    const double dt = juce::jlimit (0.0, 100.0, nowMs - lastTickMs);
    lastTickMs = nowMs;

    // The dirty area is taken first, so it covers entries about to go.
    juce::Rectangle<float> dirty;
    for (const auto& entry : anims)
        dirty = dirty.isEmpty() ? boundsOf (entry.second.line) : dirty.getUnion (boundsOf (entry.second.line));

    bool active = false;
    for (auto it = anims.begin(); it != anims.end();)
    {
        auto& a = it->second;
        const float target = a.live ? 1.0f : 0.0f;
        const float step = (float) (dt / (a.live ? 110.0 : 150.0));
        a.fadeAlpha = a.fadeAlpha < target ? std::min (target, a.fadeAlpha + step) : std::max (target, a.fadeAlpha - step);
        if (! a.live && a.fadeAlpha <= 0.001f)
        {
            it = anims.erase (it);
            active = true;
            continue;
        }
        active = active || a.fadeAlpha != target;
        ++it;
    }

    if (! dirty.isEmpty())
        repaint (dirty.getSmallestIntegerContainer().getIntersection (getLocalBounds()));
    return active;
}

void CascadeOverlay::timerCallback()
{
    if (! advance (juce::Time::getMillisecondCounterHiRes()))
        stopTimer();
}

//==============================================================================
KeysnapFill::KeysnapFill()
{
    setInterceptsMouseClicks (false, false);
}

void KeysnapFill::paint (juce::Graphics& g)
{
    g.setColour (juce::Colour (0xFF3C9EF4));
    for (const auto& r : { lowRect, highRect })
        if (r.getWidth() > 0.0f && r.getHeight() > 0.0f)
            g.fillRect (r);
}
