#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace qtest
{
// A synthetic mouse event on a component at p (its own coordinates), pressed
// at downAt (p when not given), for driving components without a display.
inline juce::MouseEvent mouseEvent (juce::Component& c, juce::Point<float> p, juce::ModifierKeys mods = {},
                                    juce::Optional<juce::Point<float>> downAt = {})
{
    auto source = juce::Desktop::getInstance().getMainMouseSource();
    const auto now = juce::Time::getCurrentTime();
    return juce::MouseEvent (source, p, mods, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, &c, &c, now,
                             downAt.hasValue() ? *downAt : p, now, 1, false);
}
}
