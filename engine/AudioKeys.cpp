#include "engine/PluginProcessor.h"

#include <algorithm>
#include <cmath>

// Keys of layer 0 that hold audio play it through audio voices: resampled to
// the host rate, faded in and out, and transposed through a pool of eight
// pitch shifters when the key lies away from the audio's root.

void PluginProcessor::prepareAudioKeys (double rate, int maximumBlockSize)
{
    audioMaxBlock = std::max (1, maximumBlockSize);
    for (auto& s : stretchers)
        s.prepare (audioMaxBlock, rate, stretchEngine);

    stretchInput.setSize (2, 4 * audioMaxBlock + 16);
    stretchOutput.setSize (2, audioMaxBlock);
    resetAudioVoices();
}

void PluginProcessor::resetAudioVoices()
{
    for (auto& v : audioVoices)
        v = AudioKeyVoice();
    for (auto& s : stretchers)
        s.reset();
    stretcherBusy.fill (false);
}

bool PluginProcessor::audioVoiceActive (int key) const
{
    return key >= 0 && key < numKeys && audioVoices[(size_t) key].active;
}

int PluginProcessor::audioShift (int key, const KeyAudio& audio) const
{
    const int root = audio.rootNote < 0 ? key : audio.rootNote;
    return key - root + transposeForLayer (0);
}

void PluginProcessor::endAudioVoice (AudioKeyVoice& v)
{
    if (v.stretcherSlot >= 0)
        stretcherBusy[(size_t) v.stretcherSlot] = false;
    v = AudioKeyVoice();
}

void PluginProcessor::startAudioVoice (int key, int velocity, double startFrame, double hostSampleRate, double endFrame,
                                       bool slice)
{
    if (key < 0 || key >= numKeys)
        return;

    const auto audio = keyAudio[(size_t) key];
    if (audio == nullptr || ! audio->hasFrames())
        return;

    const auto N = (double) audio->buffer.getNumSamples();
    const double start = std::clamp (startFrame, 0.0, N);
    const double end = endFrame < 0.0 ? N : std::clamp (endFrame, start, N);
    const double h = hostSampleRate > 0.0 ? hostSampleRate : 44100.0;
    const double a = audio->sampleRate > 0.0 ? audio->sampleRate : h;

    auto& v = audioVoices[(size_t) key];
    endAudioVoice (v);
    v.active = true;
    v.key = key;
    v.position = start;
    v.startFrame = start;
    v.endFrame = end;
    v.rate = a / h;
    v.velocity = std::clamp (velocity, 1, 127);
    v.gain = (float) v.velocity / 127.0f;
    v.fade = 0.0f;
    v.fadeStep = 1.0f / (float) std::max (0.002 * h, 1.0);
    v.looping = loopEnabled.load() && ! slice && end - start > 1.0;

    if (slice)
        return;

    const int shift = audioShift (key, *audio);
    if (shift == 0)
        return;

    // A free, prepared pitch shifter, or none: then the voice plays at the audio's own pitch.
    for (int slot = 0; slot < numStretchers; ++slot)
    {
        if (stretcherBusy[(size_t) slot])
            continue;
        if (! stretchers[(size_t) slot].isPrepared())
            break;

        stretcherBusy[(size_t) slot] = true;
        v.stretcherSlot = slot;
        v.transposeFactor = std::pow (2.0, shift / 12.0);
        auto& s = stretchers[(size_t) slot];
        s.reset();
        s.setRateAndTranspose (v.rate, v.transposeFactor);
        s.prime();
        break;
    }
}

bool PluginProcessor::emitAudioSlice (int key, int velocity, int step, double hostSampleRate)
{
    if (key < 0 || key >= numKeys)
        return false;

    const auto audio = keyAudio[(size_t) key];
    if (audio == nullptr || ! audio->hasFrames())
        return false;

    buildStepGroups (keys[(size_t) key], stepChordAware.load(), stepGroups);
    const int c = (int) stepGroups.count();
    if (c == 0)
        return false;

    const int d = stepIndex[(size_t) key];
    const int index = d < 0 ? 0 : (((d + step) % c) + c) % c;
    const double r = (audio->sampleRate > 0.0 ? audio->sampleRate : 44100.0) * 0.001;
    const auto N = (double) audio->buffer.getNumSamples();
    const double offset = sliceOffsetMs.load();
    const auto& t = stepGroups.groupTimes;

    const double startF = std::clamp (std::trunc (r * offset + r * (t[(size_t) index] - t[0])), 0.0, N);
    double endF = N;
    if (index + 1 < c)
        endF = std::clamp (std::trunc (r * offset + r * (t[(size_t) index + 1] - t[0])), startF, N);

    startAudioVoice (key, velocity, startF, hostSampleRate, endF, true);
    stepIndex[(size_t) key] = index;
    stepPositionMs[(size_t) key] = t[(size_t) index];
    return true;
}

void PluginProcessor::releaseAudioVoice (int key)
{
    if (key < 0 || key >= numKeys)
        return;

    auto& v = audioVoices[(size_t) key];
    if (! v.active || v.releasing)
        return;

    v.releasing = true;
    const double rate = sampleRate > 0.0 ? sampleRate : 44100.0;
    v.fadeStep = -1.0f / (float) std::max (0.006 * rate, 1.0);
}

namespace
{
// Advances a voice's fade by one sample; false when a release has finished.
bool advanceFade (PluginProcessor::AudioKeyVoice& v)
{
    v.fade += v.fadeStep;
    if (v.releasing)
        return v.fade > 0.0f;

    if (v.fade >= 1.0f)
    {
        v.fade = 1.0f;
        v.fadeStep = 0.0f;
    }
    return true;
}
}

void PluginProcessor::renderAudioKeys (juce::AudioBuffer<float>& out)
{
    const int n = out.getNumSamples();
    const int outChannels = out.getNumChannels();
    if (n <= 0 || outChannels <= 0)
        return;

    for (int k = 0; k < numKeys; ++k)
    {
        auto& v = audioVoices[(size_t) k];
        if (! v.active)
            continue;

        // Our own reference: the editor may replace the key's audio at any time.
        const auto audio = keyAudio[(size_t) k];
        if (audio == nullptr || ! audio->hasFrames())
        {
            endAudioVoice (v);
            continue;
        }

        const auto& src = audio->buffer;
        const int N = src.getNumSamples();
        const int srcChannels = src.getNumChannels();

        if (v.stretcherSlot < 0)
        {
            const double last = std::min ((double) N, v.endFrame) - 1.0;
            for (int i = 0; i < n; ++i)
            {
                if (v.position >= last)
                {
                    if (v.looping && loopEnabled.load() && v.endFrame - v.startFrame > 1.0)
                    {
                        v.position = v.startFrame - v.endFrame + v.position;
                    }
                    else
                    {
                        v.active = false;
                        break;
                    }
                }

                if (! advanceFade (v))
                {
                    v.active = false;
                    break;
                }

                const int idx = (int) v.position;
                const auto f = (float) (v.position - idx);
                const int next = std::min (idx + 1, N - 1);
                for (int c = 0; c < outChannels; ++c)
                {
                    const float* s = src.getReadPointer (std::min (c, srcChannels - 1));
                    const float value = s[idx] + (s[next] - s[idx]) * f;
                    out.addSample (c, i, v.gain * v.fade * value);
                }
                v.position += v.rate;
            }
        }
        else
        {
            auto& st = stretchers[(size_t) v.stretcherSlot];

            // Transpose up or down retunes a sounding voice.
            const double factor = std::pow (2.0, audioShift (k, *audio) / 12.0);
            if (factor != v.transposeFactor)
            {
                v.transposeFactor = factor;
                st.setRateAndTranspose (v.rate, factor);
            }

            const int wanted = std::min (n, stretchOutput.getNumSamples());
            const int inputRoom = stretchInput.getNumSamples();
            int fed = 0;

            // Feed what the shifter asks for until it can give a block; a
            // shortfall is played as silence.
            while (st.available() < wanted && fed < inputRoom)
            {
                const int chunk = std::clamp (st.framesWanted(), 1, inputRoom - fed);
                for (int c = 0; c < 2; ++c)
                {
                    const float* s = src.getReadPointer (std::min (c, srcChannels - 1));
                    float* dst = stretchInput.getWritePointer (c, fed);
                    for (int i = 0; i < chunk; ++i)
                    {
                        const auto frame = (int64_t) v.position + i;
                        dst[i] = frame >= 0 && frame < N ? s[frame] : 0.0f;
                    }
                }
                const float* in[2] { stretchInput.getReadPointer (0, fed), stretchInput.getReadPointer (1, fed) };
                st.process (in, chunk);
                v.position += chunk;
                fed += chunk;
            }

            float* outPtrs[2] { stretchOutput.getWritePointer (0), stretchOutput.getWritePointer (1) };
            const int got = st.retrieve (outPtrs, wanted);
            for (int c = 0; c < 2; ++c)
                std::fill (outPtrs[c] + std::max (got, 0), outPtrs[c] + wanted, 0.0f);

            for (int i = 0; i < wanted; ++i)
            {
                if (! advanceFade (v))
                {
                    v.active = false;
                    break;
                }
                out.addSample (0, i, v.gain * v.fade * outPtrs[0][i]);
                for (int c = 1; c < outChannels; ++c)
                    out.addSample (c, i, v.gain * v.fade * outPtrs[1][i]);
            }

            v.outputElapsed += wanted;
            if (! (v.looping && loopEnabled.load())
                && v.outputElapsed >= std::max (v.endFrame - v.startFrame, 1.0) / v.rate)
                v.active = false;
        }

        if (! v.active)
            endAudioVoice (v);
    }
}
