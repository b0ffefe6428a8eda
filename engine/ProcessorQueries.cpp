#include "engine/PluginProcessor.h"

#include <algorithm>

KeySequence PluginProcessor::getKeySequence (int key, int layer) const
{
    if (key < 0 || key >= numKeys)
        return {};

    const std::lock_guard<std::mutex> lock (keyDataMutex);
    return layer >= 1 && layer <= 3 ? upperKeys[(size_t) layer - 1][(size_t) key] : keys[(size_t) key];
}

std::set<int> PluginProcessor::getActiveHeldKeys (int layer) const
{
    layer = std::max (0, std::min (3, layer));
    std::set<int> result;
    const std::lock_guard<std::mutex> lock (keyDataMutex);

    const auto& slots = layer == 0 ? voices : upperLayers[(size_t) layer - 1].voices;
    for (int k = 0; k < numKeys; ++k)
        if (slots[(size_t) k].isActiveOrSounding())
            result.insert (k);

    for (const auto& v : overlapsFor (layer))
        if (v.isActiveOrSounding() && v.key >= 0)
            result.insert (v.key);

    return result;
}

std::map<int, std::vector<int>> PluginProcessor::getActiveSoundingIndices (int layer) const
{
    layer = std::max (0, std::min (3, layer));
    std::map<int, std::vector<int>> result;
    const std::lock_guard<std::mutex> lock (keyDataMutex);

    auto add = [&result] (const Voice& v, int key)
    {
        if (v.sounding.empty() || key < 0)
            return;

        auto& list = result[key];
        for (const auto& n : v.sounding)
            if (n.sourceIndex >= 0)
                list.push_back (n.sourceIndex);
    };

    const auto& slots = layer == 0 ? voices : upperLayers[(size_t) layer - 1].voices;
    for (int k = 0; k < numKeys; ++k)
        add (slots[(size_t) k], k);

    for (const auto& v : overlapsFor (layer))
        add (v, v.key);

    return result;
}

double PluginProcessor::voicePlayheadMs (const Voice& v, int layer) const
{
    if (! v.active || v.events.size() <= 1 || v.nextIndex >= v.events.size())
        return -1.0;

    const double rate = sampleRate > 0.0 ? sampleRate : 44100.0;

    if (v.startSample < 0.0)
        return voiceElapsedMs (v, rate, layer);

    const double perMs = voiceSamplesPerMs (v, layer, rate);
    const double p = ((double) samplePosition - v.startSample) / perMs;

    if (p < 0.0)
        return (v.hasWrapped && v.cycleMs > 0.0) ? std::max (0.0, p + v.cycleMs) : 0.0;

    return (v.isPhrase && v.cycleMs > 0.0) ? std::min (p, v.cycleMs) : p;
}

std::map<int, std::vector<double>> PluginProcessor::getActivePlayheads (int layer) const
{
    layer = std::max (0, std::min (3, layer));
    std::map<int, std::vector<double>> result;
    const std::lock_guard<std::mutex> lock (keyDataMutex);

    const bool stepKeyDown = modifierHeld[modStepBackward] || modifierHeld[modStepForward];
    const auto& slots = layer == 0 ? voices : upperLayers[(size_t) layer - 1].voices;

    for (int k = 0; k < numKeys; ++k)
    {
        const auto& v = slots[(size_t) k];

        if (v.displayPlayheadMs >= 0.0)
        {
            if (! v.sounding.empty())
                result[k].push_back (v.displayPlayheadMs);
            continue;
        }

        const double stepPos = layer >= 1 ? upperLayers[(size_t) layer - 1].stepPositionMs[(size_t) k] : -1.0;
        if (stepKeyDown && stepPos >= 0.0)
        {
            result[k].push_back (stepPos);
            continue;
        }

        const double p = voicePlayheadMs (v, layer);
        if (p >= 0.0)
            result[k].push_back (p);
    }

    const auto& overlaps = overlapsFor (layer);
    for (size_t i = overlaps.size(); i-- > 0;)
    {
        const auto& v = overlaps[i];
        const double p = voicePlayheadMs (v, layer);
        if (p >= 0.0 && v.key >= 0)
            result[v.key].push_back (p);
    }

    return result;
}
