#pragma once

#include <juce_core/juce_core.h>

// The per-user settings file. Reading and writing it is built with the
// settings file format; until then the values stay at their defaults.
class UserSettings
{
public:
    UserSettings();

    void load();
    void save() const;

    juce::File file;
    int width = 0;
    bool synthEnabled = true;
    bool pasteHintDismissed = false;
};
