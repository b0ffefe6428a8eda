#include "engine/PluginProcessor.h"

#include <algorithm>

#include "engine/AudioLinkHub.h"

// The reader side of the audio link: this instance listens to its bus and
// takes what the producer wrote since the last block.

void PluginProcessor::prepareAudioLink (double, int maximumBlockSize)
{
    auto& hub = AudioLinkHub::getInstance();
    for (int n = 1; n <= AudioLinkHub::numBuses; ++n)
        hub.prepareBus (n);

    const int frames = std::max (1, maximumBlockSize);
    if (linkBuffer.getNumChannels() != 2 || linkBuffer.getNumSamples() != frames)
        linkBuffer.setSize (2, frames);

    audioLinkBus = 1;
    if (auto* bus = hub.bus (audioLinkBus); bus != nullptr && bus->ready.load())
    {
        // What was written before is skipped.
        bus->header->readPosition = bus->header->writePosition;
        bus->header->listener = 1;
    }
}

void PluginProcessor::exchangeAudioLink (int numSamples)
{
    auto* bus = AudioLinkHub::getInstance().bus (audioLinkBus);
    if (bus == nullptr || ! bus->ready.load() || numSamples <= 0)
        return;

    takeFromAudioLink (*bus, numSamples, linkBuffer);
}

void PluginProcessor::takeFromAudioLink (AudioLinkHub::Bus& bus, int numSamples, juce::AudioBuffer<float>& into)
{
    auto& h = *bus.header;
    const int capacity = h.capacity;
    if (capacity <= 0 || capacity > AudioLinkHub::capacityFrames)
        return;

    auto available = (uint64_t) h.writePosition - (uint64_t) h.readPosition;
    if (available > (uint64_t) capacity)
    {
        // The producer lapped the reader (or the read position ran ahead).
        h.readPosition = h.writePosition - capacity;
        available = (uint64_t) capacity;
    }

    const int count = (int) std::min<uint64_t> ({ available, (uint64_t) numSamples, (uint64_t) into.getNumSamples() });
    if (count <= 0)
        return;

    const auto start = (int) (((uint64_t) h.readPosition) % (uint64_t) capacity);
    const int first = std::min (count, capacity - start);
    for (int c = 0; c < 2; ++c)
    {
        const float* plane = bus.samples + (size_t) c * AudioLinkHub::capacityFrames;
        into.copyFrom (c, 0, plane + start, first);
        if (count > first)
            into.copyFrom (c, first, plane, count - first);
    }
    h.readPosition += count;
}

void PluginProcessor::releaseAudioLinkBus()
{
    if (auto* bus = AudioLinkHub::getInstance().bus (audioLinkBus); bus != nullptr && bus->ready.load())
        bus->header->listener = 0;
}
