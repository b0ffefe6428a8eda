#include "engine/PluginProcessor.h"

// Launch quantize, the loop window and playback speed. The grid and the speed
// changes on grid lines are built with the voice scheduler; until then a speed
// request takes effect at once.
void PluginProcessor::applyDesiredSpeed (double speed, int)
{
    desiredSpeed = speed;
    currentSpeed = speed;
}

double PluginProcessor::speedMulForLayer (int layer) const
{
    return layer == playLayer ? currentSpeed : 1.0;
}

void PluginProcessor::requantizeActiveVoices()
{
}

void PluginProcessor::clearLaunchState()
{
    launchAnchorHostPpq = -1.0;
    launchAnchorSample = -1;
    pendingLaunchSample = -1;
}
