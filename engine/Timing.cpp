#include "engine/PluginProcessor.h"

#include <algorithm>
#include <cmath>

// Launch quantize, the loop window, loop wraps, playback speed and the input
// grid applied at playback.

namespace
{
double tempoOr120 (double bpm) noexcept { return bpm > 0.0 ? bpm : 120.0; }
}

double PluginProcessor::launchGridBeats() const
{
    return launchQuantPower.load() ? quantGridBeats (launchQuantNote.load(), launchQuantFeel.load()) : 0.0;
}

double PluginProcessor::inputGridBeats() const
{
    return inputQuantPower.load() ? quantGridBeats (inputQuantNote.load(), inputQuantFeel.load()) : 0.0;
}

double PluginProcessor::loopLengthBeatsNow() const
{
    return loopEnabled.load() ? loopLengthBeats (loopLengthIdx.load(), beatsPerBar) : 0.0;
}

double PluginProcessor::launchGridSamples (double rate) const
{
    return launchGridBeats() * 60.0 / tempoOr120 (hostBpm) * rate;
}

PluginProcessor::Launch PluginProcessor::launchFor (int key, int sampleOffset, double rate)
{
    const double W = launchGridSamples (rate);
    if (! (W > 0.0) || ! (rate > 0.0))
        return {};

    const double g = launchGridBeats();
    const auto X = (double) (samplePosition + sampleOffset);
    Launch result;

    // Joining a launch that just happened.
    if (launchPending && X <= pendingLaunchSample + std::min (0.5 * W, 0.05 * rate))
    {
        lastLaunchArrival = (int64_t) X;
        result.late = std::max (X - pendingLaunchSample, 0.0);
        result.delay = std::max (pendingLaunchSample - X, 0.0);
        return result;
    }

    bool fresh = X - (double) std::max (lastLaunchArrival, lastActivitySample) > 1.2 * rate;
    if (! fresh)
    {
        bool otherHeld = false;
        for (int k = 0; k < numKeys && ! otherHeld; ++k)
            otherHeld = k != key && (keyHeld[(size_t) k] || inputKeyDown[(size_t) k]);
        fresh = ! otherHeld && ! anyVoicePlaying();
    }

    double launch = X;
    if (hostIsPlaying)
    {
        const double tempo = tempoOr120 (hostBpm);
        const double P = tempo / 60.0 * (sampleOffset / rate) + hostPpq;

        if (fresh || launchAnchorPpq < 0.0)
            launchAnchorPpq = P;
        else
            launch = X + (std::ceil ((P - launchAnchorPpq) / g - 1e-9) * g + launchAnchorPpq - P) * (60.0 / tempo * rate);

        launchAnchorSample = -1;
    }
    else if (! fresh && launchAnchorSample >= 0)
    {
        const auto anchor = (double) launchAnchorSample;
        launch = std::ceil ((X - anchor) / W - 1e-9) * W + anchor;
    }
    else
    {
        launchAnchorSample = (int64_t) X;
    }

    launchPending = true;
    pendingLaunchSample = launch;
    lastLaunchArrival = (int64_t) X;
    result.delay = std::max (launch - X, 0.0);
    return result;
}

double PluginProcessor::nextLaunchGridLine (double now, double rate) const
{
    const double g = launchGridBeats();
    if (! (g > 0.0) || ! (rate > 0.0))
        return -1.0;

    if (hostIsPlaying)
    {
        const double tempo = tempoOr120 (hostBpm);
        const double P = tempo / 60.0 * ((now - (double) samplePosition) / rate) + hostPpq;
        const double anchor = std::max (launchAnchorPpq, 0.0);
        const double next = std::ceil ((P - anchor) / g - 1e-9) * g + anchor;
        return now + std::max (next - P, 0.0) * (60.0 / tempo * rate);
    }

    if (launchAnchorSample < 0)
        return now;

    const double W = launchGridSamples (rate);
    const auto anchor = (double) launchAnchorSample;
    return std::ceil ((now - anchor) / W - 1e-9) * W + anchor;
}

double PluginProcessor::globalLoopWindowStart (double a, double length, double rate) const
{
    if (! (length > 0.0) || ! (rate > 0.0))
        return -1.0;

    if (hostIsPlaying)
    {
        const double L = loopLengthBeatsNow();
        if (! (L > 0.0))
            return -1.0;

        const double tempo = tempoOr120 (hostBpm);
        const double P = tempo / 60.0 * ((a - (double) samplePosition) / rate) + hostPpq;
        const double anchor = std::max (launchAnchorPpq, 0.0);
        const double windowStartPpq = std::floor ((P - anchor) / L + 1e-6) * L + anchor;
        return a - (P - windowStartPpq) * (60.0 / tempo * rate);
    }

    if (launchAnchorSample >= 0 && launchGridBeats() > 0.0)
    {
        const auto anchor = (double) launchAnchorSample;
        return std::floor ((a - anchor) / length + 1e-6) * length + anchor;
    }

    return -1.0;
}

void PluginProcessor::applyPlaybackQuantize (std::vector<SeqEvent>& events, int64_t anchor, double bpm)
{
    const double beats = inputGridBeats();
    if (beats > 0.0 && events.size() >= 2)
        quantizeTimeline (events, beats * 60000.0 / std::max (bpm, 1.0), inputQuantAmount.load(), anchor,
                          timelineScratch);
}

void PluginProcessor::alignToLoopWindow (Voice& v, int sampleOffset, double perMs, double& seekMs)
{
    const double rate = sampleRate > 0.0 ? sampleRate : 44100.0;
    const double S = v.startSample;
    const auto trigger = (double) (samplePosition + sampleOffset);
    const double cycleSamples = v.cycleMs * perMs;
    const double w = globalLoopWindowStart (S, cycleSamples, rate);

    if (seekMs <= 0.0 && w >= 0.0)
        seekMs = (trigger - w) / perMs;

    if (seekMs > 0.0 && seekMs < sumOfWaits (v.events))
    {
        v.startSample = trigger - perMs * seekMs;
        v.cycleStartSample = v.startSample;
        return;
    }

    seekMs = -1.0;
    if (w < 0.0 || w >= S - 0.5)
        return;

    // Play what is left of the current window now, the whole clip from the next.
    auto& rest = requantizeEvents;
    rest.assign (v.events.begin(), v.events.end());
    cropToLoopWindow (rest, (w + cycleSamples - S) / perMs, timelineScratch);

    const bool keepsNoteOn = std::any_of (rest.begin(), rest.end(), [] (const SeqEvent& e) { return e.isNoteOn; });
    if (keepsNoteOn)
    {
        v.events.assign (rest.begin(), rest.end());
        v.requantizeOnWrap = true;
        v.startSample = w;
    }
    else
    {
        const double windowEnd = w + cycleSamples;
        v.startSample = windowEnd;
        if (! v.events.empty())
            v.samplesToNext = perMs * v.events.front().waitMs + (windowEnd - trigger);
    }
    v.cycleStartSample = v.startSample;
}

bool PluginProcessor::tryLoopWrap (Voice& v, int layer, int pos, double rate, juce::MidiBuffer& out)
{
    if (! loopEnabled.load() || ! v.isPhrase || v.events.empty() || v.noWrap)
        return false;
    if (layer >= 1 && ! v.loopAllowed)
        return false;

    const double perMs = voiceSamplesPerMs (v, layer, rate);
    double cycle = v.cycleMs * perMs;
    const double lastEvent = (v.cycleMs - v.tailMs) * perMs;
    const double G = launchGridSamples (rate);

    if (G > 0.0 && ! v.croppedToWindow)
    {
        const double steps = std::max (std::ceil (lastEvent / G - 1e-6), std::round (cycle / G));
        cycle = std::max (steps, 1.0) * G;
    }

    if (cycle < 1.0)
        return false;

    silenceVoice (v, layer, pos, out);
    v.nextIndex = 0;

    if (! v.sourceEvents.empty())
    {
        const bool inputGridValid = inputGridBeats() > 0.0;
        bool prepare = false;
        int64_t seed = v.anchorSample;

        if (inputQuantAmount.load() < 0 && inputGridValid)
        {
            // A humanized clip gets a fresh jitter on every cycle.
            seed = samplePosition + pos;
            prepare = true;
        }
        else if (v.requantizeOnWrap)
        {
            prepare = true;
        }

        if (prepare)
        {
            auto& list = requantizeEvents;
            list.assign (v.sourceEvents.begin(), v.sourceEvents.end());
            applyPlaybackQuantize (list, seed, v.bpm);
            if (v.croppedToWindow)
                cropToLoopWindow (list, v.cycleMs, timelineScratch);

            if (! list.empty())
            {
                v.events.assign (list.begin(), list.end());
                v.anchorSample = seed;
                if (v.croppedToWindow)
                    v.tailMs = std::max (v.cycleMs - sumOfWaits (v.events), 0.0);
                else
                    v.cycleMs = sumOfWaits (v.events) + v.tailMs;
            }
        }
        v.requantizeOnWrap = false;
    }

    const auto now = (double) (samplePosition + pos);
    const double firstWait = v.events.front().waitMs * perMs;

    if (G > 0.0 || v.croppedToWindow)
    {
        const double step = v.croppedToWindow ? cycle : G;
        double next = v.cycleStartSample + cycle;
        while (now > next)
            next += step;

        v.cycleStartSample = next;
        v.startSample = next;
        v.sampleFraction = 0.0;
        v.samplesToNext = (next - now) + firstWait;
    }
    else
    {
        const double tail = std::max (cycle - lastEvent, 0.0);
        v.samplesToNext = tail + firstWait;
        v.startSample = now + tail;
        v.cycleStartSample = v.startSample;
    }

    v.hasWrapped = true;
    return true;
}

//==============================================================================
void PluginProcessor::applyDesiredSpeed (double d, int numSamples)
{
    if (hostIsPlaying != speedSeenPlaying)
    {
        speedChangeSample = -1;
        speedSeenPlaying = hostIsPlaying;
    }

    desiredSpeed = d > 0.0 ? d : 1.0;

    if (! (launchGridBeats() > 0.0))
    {
        appliedSpeed = desiredSpeed;
        speedChangeSample = -1;
        return;
    }

    if (desiredSpeed == appliedSpeed)
    {
        speedChangeSample = -1;
        return;
    }

    if (speedChangeSample < 0)
    {
        const double line = nextLaunchGridLine ((double) samplePosition, sampleRate > 0.0 ? sampleRate : 44100.0);
        if (line < 0.0)
            return;
        speedChangeSample = std::llround (line);
    }

    if (samplePosition + numSamples > speedChangeSample)
    {
        appliedSpeed = desiredSpeed;
        speedChangeSample = -1;
    }
}

double PluginProcessor::speedMulForLayer (int layer) const
{
    if (layer != playLayer)
        return 1.0;

    if (launchGridBeats() > 0.0)
        return appliedSpeed > 0.0 ? appliedSpeed : 1.0;

    return desiredSpeed;
}

void PluginProcessor::requantizeActiveVoices (juce::MidiBuffer& out)
{
    for (auto& v : voices)
        requantizeVoice (v, 0, out);
    for (auto& v : overlapVoices)
        requantizeVoice (v, 0, out);

    for (int layer = 1; layer < numLayers; ++layer)
    {
        auto& ul = upperLayers[(size_t) layer - 1];
        for (auto& v : ul.voices)
            requantizeVoice (v, layer, out);
        for (auto& v : ul.overlapVoices)
            requantizeVoice (v, layer, out);
    }
}

void PluginProcessor::requantizeVoice (Voice& v, int layer, juce::MidiBuffer& out)
{
    if (! v.active || v.sourceEvents.size() < 2 || v.events.empty() || v.nextIndex >= v.events.size()
        || v.requantizeOnWrap)
        return;

    auto& list = requantizeEvents;
    list.assign (v.sourceEvents.begin(), v.sourceEvents.end());
    applyPlaybackQuantize (list, v.anchorSample, v.bpm);
    if (v.croppedToWindow)
        cropToLoopWindow (list, v.cycleMs, timelineScratch);

    if (list.empty() || sameSeqEvents (list, v.events))
        return;

    const double rate = sampleRate > 0.0 ? sampleRate : 44100.0;
    const double perMs = voiceSamplesPerMs (v, layer, rate);
    const double p = voiceElapsedMs (v, rate, layer);

    if (v.croppedToWindow)
        v.tailMs = std::max (v.cycleMs - sumOfWaits (list), 0.0);
    else
        v.cycleMs = sumOfWaits (list) + v.tailMs;

    if (p <= 0.0)
    {
        const double oldFirst = v.events.front().waitMs;
        v.events.assign (list.begin(), list.end());
        v.nextIndex = 0;
        v.samplesToNext = std::max (v.samplesToNext + perMs * (v.events.front().waitMs - oldFirst), 0.0);
        return;
    }

    v.events.assign (list.begin(), list.end());
    size_t next = 0;
    double toNext = 0.0;

    if (legatoSeek (v.events, p, perMs, next, toNext, legatoOpenNotes))
    {
        v.nextIndex = next;
        v.samplesToNext = toNext;
        syncSoundingToOpenNotes (v, layer, legatoOpenNotes, 0, out);
        return;
    }

    v.nextIndex = v.events.size();
    if ((layer == 0 || v.loopAllowed) && tryLoopWrap (v, layer, 0, rate, out))
        return;

    setEmitContext (v, layer);
    releaseVoiceTail (v, out, 0);
    v.active = false;
}

void PluginProcessor::clearLaunchState()
{
    launchAnchorSample = -1;
    launchAnchorPpq = -1.0;
    launchPending = false;
}
