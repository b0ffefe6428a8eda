#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include <juce_core/juce_core.h>

// The process-wide owner of the 16 audio link rings: memory-mapped files that
// a producer in another process writes stereo audio into.
class AudioLinkHub
{
public:
    static constexpr int numBuses = 16;
    static constexpr int64_t fileSize = 768056;
    static constexpr int capacityFrames = 96000;
    static constexpr uint32_t readyWord = 0x514C4B31;   // "QLK1"

    // The header at the start of a ring file.
    struct Header
    {
        uint32_t state;
        int32_t version;
        int32_t channels;
        int32_t capacity;
        int64_t writePosition;
        int64_t readPosition;
        int64_t reserved1;
        int32_t reserved2;
        int32_t listener;
        int64_t zero;
    };
    static_assert (sizeof (Header) == 56, "the ring header is 56 bytes");

    struct Bus
    {
        std::atomic<bool> ready { false };
        std::unique_ptr<juce::MemoryMappedFile> mapping;
        Header* header = nullptr;
        float* samples = nullptr;
        std::mutex lock;
    };

    static AudioLinkHub& getInstance();
    static juce::File defaultFolder();

    explicit AudioLinkHub (const juce::File& folder);

    void prepareBus (int number);
    Bus* bus (int number);   // null outside 1..16
    juce::File fileFor (int number) const;

private:
    juce::File folder;
    std::array<Bus, numBuses> buses;
};
