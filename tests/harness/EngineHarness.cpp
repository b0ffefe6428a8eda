#include "tests/harness/EngineHarness.h"

#include "persistence/StateDocument.h"

#include <algorithm>

namespace qtest
{
juce::Optional<juce::AudioPlayHead::PositionInfo> FakePlayHead::getPosition() const
{
    if (! hasPosition)
        return {};

    PositionInfo info;
    info.setIsPlaying (playing);
    info.setBpm (bpm);
    info.setPpqPosition (ppq);
    info.setTimeSignature (timeSignature);
    return info;
}

EngineHarness::EngineHarness() : EngineHarness (Options {}) {}

EngineHarness::EngineHarness (Options options)
    : opts (options), processor (std::make_unique<PluginProcessor>())
{
    audio.setSize (2, std::max (1, opts.blockSize));
    midi.ensureSize (64 * 1024);
    pending.reserve (4096);
    allOutput.reserve (4096);

    if (opts.withPlayHead)
        processor->setPlayHead (&playHead);

    if (opts.prepare)
        processor->prepareToPlay (opts.sampleRate, opts.blockSize);
}

void EngineHarness::setClip (int key, KeySequence clip, int layer)
{
    clip.recompute();
    auto& p = *processor;
    const std::lock_guard<std::mutex> lock (p.keyDataMutex);

    if (layer >= 1 && layer <= 3)
        p.upperKeys[(size_t) layer - 1][(size_t) key] = std::move (clip);
    else
        p.keys[(size_t) key] = std::move (clip);
}

void EngineHarness::focusLayer (int layer, int visibleLayers)
{
    processor->visibleLayers.store (visibleLayers);
    processor->focusedLayer.store (layer);
    processor->playLayer = layer;
}

void EngineHarness::schedule (int64_t time, const juce::MidiMessage& message)
{
    const auto at = std::upper_bound (pending.begin() + (std::ptrdiff_t) nextPending, pending.end(), time,
                                      [] (int64_t t, const TimedMessage& m) { return t < m.time; });
    pending.insert (at, TimedMessage { time, message });
}

void EngineHarness::noteOn (int64_t time, int key, int velocity, int channel)
{
    schedule (time, juce::MidiMessage::noteOn (channel, key, (juce::uint8) velocity));
}

void EngineHarness::noteOff (int64_t time, int key, int channel)
{
    schedule (time, juce::MidiMessage::noteOff (channel, key, (juce::uint8) 0));
}

void EngineHarness::controller (int64_t time, int number, int value, int channel)
{
    schedule (time, juce::MidiMessage::controllerEvent (channel, number, value));
}

int EngineHarness::modifierKey (int index) const
{
    return processor->appliedModOctaveBase.load() + index;
}

std::vector<TimedMessage> EngineHarness::runOneBlock()
{
    const int n = opts.blockSize;
    midi.clear();

    while (nextPending < pending.size() && pending[nextPending].time < clock + n)
    {
        const auto& m = pending[nextPending];
        midi.addEvent (m.message, (int) std::max<int64_t> (0, m.time - clock));
        ++nextPending;
    }

    if (nextPending > 4096 && nextPending * 2 > pending.size())
    {
        pending.erase (pending.begin(), pending.begin() + (std::ptrdiff_t) nextPending);
        nextPending = 0;
    }

    audio.setSize (2, n, false, false, true);
    if (beforeBlock != nullptr)
        beforeBlock();
    processor->processBlock (audio, midi);
    if (afterBlock != nullptr)
        afterBlock();

    if (captureAudio)
        for (int c = 0; c < 2; ++c)
            audioOut[(size_t) c].insert (audioOut[(size_t) c].end(), audio.getReadPointer (c), audio.getReadPointer (c) + n);

    std::vector<TimedMessage> sent;
    for (const auto meta : midi)
        sent.push_back ({ clock + meta.samplePosition, meta.getMessage() });

    clock += n;

    if (playHead.playing && playHead.ppq.hasValue())
    {
        const double bpm = playHead.bpm.hasValue() ? *playHead.bpm : 120.0;
        playHead.ppq = *playHead.ppq + n / opts.sampleRate * bpm / 60.0;
    }

    allOutput.insert (allOutput.end(), sent.begin(), sent.end());
    return sent;
}

std::vector<TimedMessage> EngineHarness::runUntil (int64_t time)
{
    std::vector<TimedMessage> sent;
    while (clock < time)
    {
        auto block = runOneBlock();
        sent.insert (sent.end(), block.begin(), block.end());
    }
    return sent;
}

std::vector<TimedMessage> EngineHarness::runBlocks (int count)
{
    return runUntil (clock + (int64_t) count * opts.blockSize);
}

void loadAudioKeys (PluginProcessor& p, const std::vector<std::pair<int, std::shared_ptr<const KeyAudio>>>& audio,
                    const std::vector<std::pair<int, KeySequence>>& clips)
{
    juce::XmlElement root ("QuorvelState");
    root.setAttribute ("version", "5");
    PluginProcessor::KeyArray sequences;
    PluginProcessor::AudioArray audioArray;
    for (const auto& [key, a] : audio)
        audioArray[(size_t) key] = a;
    for (const auto& [key, clip] : clips)
        sequences[(size_t) key] = clip;
    p.writeKeysXml (root, sequences, audioArray, "Keys");

    juce::MemoryBlock block;
    juce::AudioProcessor::copyXmlToBinary (root, block);
    p.setStateInformation (block.getData(), (int) block.getSize());
}

KeySequence makeClip (const std::vector<ClipNote>& notes, double bpm, double tailMs)
{
    KeySequence clip;
    std::vector<double> times;
    for (const auto& n : notes)
    {
        clip.events.push_back ({ n.note, n.velocity, n.channel, true, 0.0 });
        times.push_back (n.startMs);
        clip.events.push_back ({ n.note, 0, n.channel, false, 0.0 });
        times.push_back (n.startMs + n.lengthMs);
    }
    rebuildWaits (clip.events, times);
    clip.bpm = bpm;
    clip.tailMs = tailMs;
    clip.recompute();
    return clip;
}

juce::File useTemporaryDataFolder()
{
    const auto folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                            .getNonexistentChildFile ("quorvel-test-data", {});
    folder.createDirectory();
    setenv ("QUORVEL_DATA_DIR", folder.getFullPathName().toRawUTF8(), 1);
    return folder;
}

std::vector<TimedMessage> messagesWhere (const std::vector<TimedMessage>& messages,
                                         const std::function<bool (const juce::MidiMessage&)>& keep)
{
    std::vector<TimedMessage> result;
    for (const auto& m : messages)
        if (keep (m.message))
            result.push_back (m);
    return result;
}

std::vector<TimedMessage> notesOf (const std::vector<TimedMessage>& messages, int note)
{
    return messagesWhere (messages, [note] (const juce::MidiMessage& m)
                          { return (m.isNoteOn() || m.isNoteOff()) && m.getNoteNumber() == note; });
}

std::vector<TimedMessage> noteOnsOf (const std::vector<TimedMessage>& messages)
{
    return messagesWhere (messages, [] (const juce::MidiMessage& m) { return m.isNoteOn(); });
}

std::vector<TimedMessage> noteOffsOf (const std::vector<TimedMessage>& messages)
{
    return messagesWhere (messages, [] (const juce::MidiMessage& m) { return m.isNoteOff(); });
}

juce::MidiMessage makeMessage (std::initializer_list<int> bytes)
{
    std::vector<juce::uint8> data;
    for (int b : bytes)
        data.push_back ((juce::uint8) b);
    return juce::MidiMessage (data.data(), (int) data.size());
}
}
