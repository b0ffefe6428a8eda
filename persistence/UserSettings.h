#pragma once

#include <juce_core/juce_core.h>

// Preferences that belong to the user rather than to a host project:
// "settings.xml" in the Quorvel data folder, shared by every instance.
class UserSettings
{
public:
    UserSettings();
    explicit UserSettings (const juce::File& settingsFile);
    ~UserSettings();

    UserSettings (const UserSettings&) = delete;
    UserSettings& operator= (const UserSettings&) = delete;

    void load();
    void save() const;

    static juce::File defaultFile();

    juce::File file;
    int width = 0;
    bool synthEnabled = true;
    bool pasteHintDismissed = false;
};
