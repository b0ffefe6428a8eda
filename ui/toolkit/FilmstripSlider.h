#pragma once

#include <memory>
#include <vector>

#include <juce_gui_basics/juce_gui_basics.h>

// A knob whose look is a strip of pre-rendered frames, raster or vector.
class FilmstripSlider : public juce::Slider
{
public:
    FilmstripSlider (std::vector<juce::Image> rasterFrames, int numFrames);
    FilmstripSlider (std::vector<std::unique_ptr<juce::Drawable>> vectorFrames, int numFrames);
    ~FilmstripSlider() override;

    void mouseDown (const juce::MouseEvent& event) override;

    // The frame shown for a proportional value (rounded half to even).
    int frameIndexFor (double position) const;

    struct LAF : juce::LookAndFeel_V4
    {
        void drawRotarySlider (juce::Graphics&, int x, int y, int width, int height, float position,
                               float startAngle, float endAngle, juce::Slider&) override;
        FilmstripSlider* owner = nullptr;
    };

    std::vector<juce::Image> frameImages;
    std::vector<std::unique_ptr<juce::Drawable>> frameDrawables;
    int numFrames = 0;
    LAF laf;

private:
    void setUp();

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FilmstripSlider)
};
