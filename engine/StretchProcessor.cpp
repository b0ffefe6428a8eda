#include "engine/StretchProcessor.h"

#include <algorithm>

#include <rubberband/RubberBandStretcher.h>

using RubberBand::RubberBandStretcher;

StretchProcessor::StretchProcessor() = default;
StretchProcessor::~StretchProcessor() = default;

void StretchProcessor::prepare (int maximumBlockSize, double sampleRate, Engine engine)
{
    maxBlock = std::max (1, maximumBlockSize);
    // Rubber Band's default (speed-first) pitch mode: its high-consistency mode
    // would smooth retuning of a sounding voice but costs a third more.
    const auto options = RubberBandStretcher::OptionProcessRealTime
                       | (engine == Engine::finer ? RubberBandStretcher::OptionEngineFiner
                                                  : RubberBandStretcher::OptionEngineFaster);
    stretcher = std::make_unique<RubberBandStretcher> ((size_t) std::max (1.0, sampleRate), 2, options, 1.0, 1.0);
    // Room for the largest input a block feeds (four times the block at most).
    stretcher->setMaxProcessSize ((size_t) maxBlock * 4 + 16);
    prepared = true;
}

void StretchProcessor::reset()
{
    if (prepared)
        stretcher->reset();
    toDiscard = 0;
}

void StretchProcessor::setRateAndTranspose (double rate, double transposeFactor)
{
    if (! prepared)
        return;

    // Reading `rate` frames per output sample: the time ratio shortens by the
    // rate, and the pitch is raised by it so the material keeps its own pitch.
    rate = rate > 0.0 ? rate : 1.0;
    stretcher->setTimeRatio (1.0 / rate);
    stretcher->setPitchScale (std::max (1.0e-3, transposeFactor * rate));
}

void StretchProcessor::prime()
{
    if (! prepared)
        return;

    static const float silence[256] {};
    const float* channels[2] { silence, silence };
    int pad = (int) stretcher->getPreferredStartPad();
    while (pad > 0)
    {
        const int chunk = std::min (pad, 256);
        stretcher->process (channels, (size_t) chunk, false);
        pad -= chunk;
    }
    toDiscard = (int) stretcher->getStartDelay();
}

int StretchProcessor::framesWanted() const
{
    return prepared ? (int) stretcher->getSamplesRequired() : 0;
}

void StretchProcessor::process (const float* const* input, int frames)
{
    if (prepared && frames > 0)
        stretcher->process (input, (size_t) frames, false);
}

int StretchProcessor::available() const
{
    if (! prepared)
        return 0;
    const int a = stretcher->available();
    return std::max (0, a - toDiscard);
}

int StretchProcessor::retrieve (float* const* output, int frames)
{
    if (! prepared)
        return 0;

    while (toDiscard > 0 && stretcher->available() > 0)
    {
        float* scratch[2] { discardBuffer[0], discardBuffer[1] };
        const int got = (int) stretcher->retrieve (scratch, (size_t) std::min ({ toDiscard, 256, stretcher->available() }));
        if (got <= 0)
            break;
        toDiscard -= got;
    }

    if (toDiscard > 0 || frames <= 0)
        return 0;

    return (int) stretcher->retrieve (output, (size_t) std::min (frames, std::max (0, stretcher->available())));
}
