#pragma once

#include <memory>

namespace RubberBand { class RubberBandStretcher; }

// A pitch shifter for one audio voice: Rubber Band's real-time stretcher for
// two channels. Made and prepared outside the audio thread; process() does
// not allocate.
class StretchProcessor
{
public:
    enum class Engine { faster, finer };

    StretchProcessor();
    ~StretchProcessor();

    void prepare (int maximumBlockSize, double sampleRate, Engine engine = Engine::faster);
    void reset();
    bool isPrepared() const noexcept { return prepared; }

    // Frames the voice plays per output sample (audio rate / host rate) and the
    // transposition factor (2^(semitones / 12)).
    void setRateAndTranspose (double rate, double transposeFactor);

    // Primes a fresh voice: the library's start pad of silence, and the count
    // of its start delay to drop from the output.
    void prime();

    // Input frames the stretcher wants before it can produce more output.
    int framesWanted() const;
    void process (const float* const* input, int frames);
    int available() const;
    // Retrieves up to `frames` output frames, after dropping the start delay; returns how many it wrote.
    int retrieve (float* const* output, int frames);

private:
    std::unique_ptr<RubberBand::RubberBandStretcher> stretcher;
    bool prepared = false;
    int maxBlock = 1;
    int toDiscard = 0;
    float discardBuffer[2][256] {};
};
