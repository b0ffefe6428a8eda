#include "engine/AudioLinkHub.h"

#include <thread>

#if JUCE_LINUX || JUCE_MAC
 #include <sys/mman.h>
#endif

AudioLinkHub& AudioLinkHub::getInstance()
{
    static AudioLinkHub hub (defaultFolder());
    return hub;
}

juce::File AudioLinkHub::defaultFolder()
{
    return juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("Pellwick").getChildFile ("QuorvelLink");
}

AudioLinkHub::AudioLinkHub (const juce::File& f) : folder (f) {}

AudioLinkHub::Bus* AudioLinkHub::bus (int number)
{
    return number >= 1 && number <= numBuses ? &buses[(size_t) number - 1] : nullptr;
}

juce::File AudioLinkHub::fileFor (int number) const
{
    return folder.getChildFile ("bus_" + juce::String (number) + ".ring");
}

void AudioLinkHub::prepareBus (int number)
{
    auto* b = bus (number);
    if (b == nullptr || b->ready.load())
        return;

    const std::lock_guard<std::mutex> guard (b->lock);
    if (b->ready.load() || ! folder.createDirectory())
        return;

    const auto file = fileFor (number);
    if (! file.existsAsFile() || file.getSize() != fileSize)
    {
        // A zero-filled ring of the right size replaces whatever was there.
        juce::TemporaryFile temp (file, juce::TemporaryFile::useHiddenFile);
        {
            juce::FileOutputStream out (temp.getFile());
            if (! out.openedOk())
                return;
            juce::MemoryBlock zeros ((size_t) fileSize, true);
            if (! out.write (zeros.getData(), zeros.getSize()))
                return;
        }
        if (! temp.overwriteTargetFileWithTemporary())
            return;
    }

    auto mapping = std::make_unique<juce::MemoryMappedFile> (file, juce::MemoryMappedFile::readWrite, false);
    if (mapping->getData() == nullptr || (int64_t) mapping->getSize() < fileSize)
        return;

   #if JUCE_LINUX || JUCE_MAC
    madvise (mapping->getData(), (size_t) mapping->getSize(), MADV_SEQUENTIAL);
   #endif

    auto* header = static_cast<Header*> (mapping->getData());

    // Hand-shake with other processes that may map the same ring.
    if (__atomic_load_n (&header->state, __ATOMIC_ACQUIRE) != readyWord)
    {
        uint32_t expected = 0;
        if (__atomic_compare_exchange_n (&header->state, &expected, 0xFFFFFFFFu, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE))
        {
            header->version = 1;
            header->channels = 2;
            header->capacity = capacityFrames;
            header->writePosition = 0;
            header->readPosition = 0;
            header->reserved1 = -1;
            header->reserved2 = 0;
            header->listener = 0;
            __atomic_store_n (&header->state, readyWord, __ATOMIC_RELEASE);
        }
        else
        {
            for (int i = 0; i < 1000 && __atomic_load_n (&header->state, __ATOMIC_ACQUIRE) != readyWord; ++i)
                std::this_thread::sleep_for (std::chrono::milliseconds (1));
        }
    }

    b->header = header;
    b->samples = reinterpret_cast<float*> (static_cast<char*> (mapping->getData()) + sizeof (Header));
    b->mapping = std::move (mapping);
    b->ready.store (true);
}
