#pragma once

#include "engine/KeySequence.h"

// Merges source into destination in place: the source keeps its real-time
// position at the destination's tempo, and at equal times destination events
// come first. The destination keeps its tempo; the tail covers the longer of
// the two.
void mixSequenceInto (KeySequence& destination, const KeySequence& source);
