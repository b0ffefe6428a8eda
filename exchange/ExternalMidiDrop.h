#pragma once

#include <memory>

#include <juce_gui_basics/juce_gui_basics.h>

// Owns the native drop overlay laid over the editor's view, which accepts
// promised files (macOS only; elsewhere it does nothing). The editor calls
// update() on every timer tick so the overlay follows a new native view.
class ExternalMidiDrop
{
public:
    ExternalMidiDrop();
    ~ExternalMidiDrop();

    void update (juce::Component& editor);

private:
    struct Native;
    std::unique_ptr<Native> native;
};
