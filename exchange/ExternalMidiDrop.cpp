#include "exchange/ExternalMidiDrop.h"

#if ! JUCE_MAC
// No native overlay here: JUCE's own file drag and drop is the only path.
struct ExternalMidiDrop::Native {};

ExternalMidiDrop::ExternalMidiDrop() = default;
ExternalMidiDrop::~ExternalMidiDrop() = default;
void ExternalMidiDrop::update (juce::Component&) {}
#endif
