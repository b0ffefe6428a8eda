#include "ui/toolkit/FilmstripSlider.h"

#include <cmath>

namespace
{
int roundHalfToEven (double x)
{
    return (int) std::nearbyint (x);   // the default rounding mode rounds halves to even
}
}

FilmstripSlider::FilmstripSlider (std::vector<juce::Image> rasterFrames, int frames)
    : frameImages (std::move (rasterFrames)), numFrames (frames)
{
    setUp();
}

FilmstripSlider::FilmstripSlider (std::vector<std::unique_ptr<juce::Drawable>> vectorFrames, int frames)
    : frameDrawables (std::move (vectorFrames)), numFrames (frames)
{
    setUp();
}

FilmstripSlider::~FilmstripSlider()
{
    setLookAndFeel (nullptr);
}

void FilmstripSlider::setUp()
{
    setSliderStyle (juce::Slider::RotaryHorizontalVerticalDrag);
    setTextBoxStyle (juce::Slider::NoTextBox, false, 0, 0);
    setRange (0.0, 1.0, 0.0);
    setScrollWheelEnabled (false);
    setMouseDragSensitivity (200);
    laf.owner = this;
    setLookAndFeel (&laf);
}

int FilmstripSlider::frameIndexFor (double position) const
{
    const int index = roundHalfToEven ((numFrames - 1) * position);
    if (! frameDrawables.empty())
        return juce::jlimit (0, (int) frameDrawables.size() - 1, index);
    return juce::jlimit (0, std::max (0, numFrames - 1), index);
}

void FilmstripSlider::mouseDown (const juce::MouseEvent& event)
{
    if (! (event.mods.isCtrlDown() || event.mods.isCommandDown()))
    {
        juce::Slider::mouseDown (event);
        return;
    }

    // Ctrl- or Cmd-click starts no drag; it does what a double-click does.
    if (isEnabled())
        mouseDoubleClick (event);
}

void FilmstripSlider::LAF::drawRotarySlider (juce::Graphics& g, int x, int y, int width, int height, float position,
                                             float, float, juce::Slider&)
{
    if (owner == nullptr)
        return;

    const int index = owner->frameIndexFor (position);
    if (! owner->frameDrawables.empty())
    {
        const juce::Graphics::ScopedSaveState save (g);
        g.setOrigin (x, y);
        owner->frameDrawables[(size_t) index]->draw (g, 1.0f);
    }
    else if (index < (int) owner->frameImages.size())
    {
        g.drawImage (owner->frameImages[(size_t) index], juce::Rectangle<float> ((float) x, (float) y, (float) width, (float) height));
    }
}
