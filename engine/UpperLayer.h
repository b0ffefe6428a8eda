#pragma once

#include <array>
#include <vector>

#include "engine/Voice.h"

// The playing state of one upper keyboard layer (1..3).
struct UpperLayer
{
    UpperLayer();

    std::array<Voice, 128> voices;
    std::array<bool, 128> passthroughHeld {};
    std::array<int, 128> stepIndex {};
    std::array<double, 128> stepPositionMs {};
    std::vector<HeldKey> heldKeys;
    OverlapList overlapVoices;
    int monoKey = -1;
    int lastStartedKey = -1;
    double legatoSeekMs = -1.0;
};

// A note emitted on one layer that is to act on the next layer up.
struct CascadeTap
{
    bool isOn = false;
    int key = 0;
    int velocity = 0;
    int channel = 1;
    int sampleOffset = 0;
    int sourceKey = -1;
    int targetLayer = 1;
};

// A key currently driven by cascade, for the editor's overlay.
struct CascadeLink
{
    int layer = 1;
    int key = 0;
    int sourceKey = 0;
    bool hasContent = false;
};
