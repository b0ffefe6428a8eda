// Loads the built Quorvel.vst3 through JUCE's VST3 hosting, as a host would,
// and checks what the host sees and what comes out of processBlock.
//
// Usage: quorvel_vst3_host_check <path to Quorvel.vst3>

#include <functional>
#include <iostream>
#include <vector>

#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivstunits.h>
#include <pluginterfaces/vst/vstspeaker.h>

namespace
{
int passed = 0, failed = 0;

void check (bool ok, const juce::String& what)
{
    (ok ? passed : failed)++;
    std::cout << (ok ? "  ok    " : "  FAIL  ") << what << std::endl;
}

template <typename A, typename B>
void checkEqual (const A& actual, const B& expected, const juce::String& what)
{
    const bool ok = actual == expected;
    check (ok, what + (ok ? juce::String() : " (got " + juce::String (actual) + ", expected " + juce::String (expected) + ")"));
}

struct Sent
{
    int pos;
    juce::MidiMessage msg;
};

std::vector<Sent> run (juce::AudioPluginInstance& plugin, int blockSize, const std::vector<Sent>& in)
{
    juce::AudioBuffer<float> audio (2, blockSize);
    audio.clear();
    juce::MidiBuffer midi;
    for (const auto& s : in)
        midi.addEvent (s.msg, s.pos);

    plugin.processBlock (audio, midi);

    std::vector<Sent> out;
    for (const auto meta : midi)
        out.push_back ({ meta.samplePosition, meta.getMessage() });
    return out;
}

int count (const std::vector<Sent>& messages, const std::function<bool (const juce::MidiMessage&)>& pred)
{
    int n = 0;
    for (const auto& s : messages)
        n += pred (s.msg) ? 1 : 0;
    return n;
}

bool layoutAccepted (juce::AudioPluginInstance& plugin, const juce::AudioChannelSet& output)
{
    auto layout = plugin.getBusesLayout();
    layout.getChannelSet (false, 0) = output;
    return plugin.checkBusesLayoutSupported (layout);
}

// The plug-in's own VST3 component, for what JUCE's host classes do not show.
Steinberg::Vst::IComponent* componentOf (juce::AudioPluginInstance& plugin)
{
    struct Visitor : juce::ExtensionsVisitor
    {
        void visitVST3Client (const VST3Client& client) override { component = client.getIComponentPtr(); }
        Steinberg::Vst::IComponent* component = nullptr;
    };

    Visitor visitor;
    plugin.getExtensions (visitor);
    return visitor.component;
}

template <typename Interface>
Interface* queryFrom (Steinberg::Vst::IComponent* component)
{
    Interface* result = nullptr;
    if (component != nullptr)
        component->queryInterface (Interface::iid, reinterpret_cast<void**> (&result));
    return result;
}

juce::String fromString128 (const Steinberg::Vst::String128 s)
{
    return juce::String (juce::CharPointer_UTF16 (reinterpret_cast<const juce::CharPointer_UTF16::CharType*> (s)));
}

// JUCE's host only lists programs that come with a program-change parameter,
// which a one-program plug-in has none of; hosts and validators read the
// program list from the component's unit info, so check it there.
void checkProgramList (juce::AudioPluginInstance& plugin)
{
    auto* units = queryFrom<Steinberg::Vst::IUnitInfo> (componentOf (plugin));
    check (units != nullptr, "component has unit info");
    if (units == nullptr)
        return;

    checkEqual ((int) units->getProgramListCount(), 1, "one program list");
    Steinberg::Vst::ProgramListInfo info {};
    if (units->getProgramListInfo (0, info) == Steinberg::kResultOk)
    {
        checkEqual ((int) info.programCount, 1, "one program");
        Steinberg::Vst::String128 name {};
        const bool named = units->getProgramName (info.id, 0, name) == Steinberg::kResultOk;
        check (named && fromString128 (name).isNotEmpty(), "the program has a name: " + fromString128 (name));
    }
    units->release();
}

// A VST3 host may deactivate any bus at will, so JUCE's host classes treat a
// disabled output as always possible. Asking the component for an empty
// output arrangement reaches the plug-in's own layout check.
void checkArrangements (juce::AudioPluginInstance& plugin)
{
    using namespace Steinberg::Vst;
    auto* processor = queryFrom<IAudioProcessor> (componentOf (plugin));
    check (processor != nullptr, "component is an audio processor");
    if (processor == nullptr)
        return;

    auto accepts = [processor] (SpeakerArrangement output)
    {
        SpeakerArrangement none = SpeakerArr::kEmpty;
        return processor->setBusArrangements (&none, 0, &output, 1) == Steinberg::kResultTrue;
    };

    check (! accepts (SpeakerArr::kEmpty), "empty output arrangement refused");
    check (! accepts (SpeakerArr::k51), "5.1 output arrangement refused");
    check (accepts (SpeakerArr::kMono), "mono output arrangement accepted");
    check (accepts (SpeakerArr::kStereo), "stereo output arrangement accepted");
    processor->release();
}

void checkDescription (const juce::PluginDescription& d)
{
    std::cout << "Description" << std::endl;
    checkEqual (d.name, juce::String ("Quorvel"), "name");
    checkEqual (d.manufacturerName, juce::String ("Pellwick"), "vendor");
    checkEqual (d.version, juce::String ("0.2.1"), "version");
    checkEqual (d.category, juce::String ("Instrument|Synth"), "category");
    check (d.isInstrument, "is an instrument");
    checkEqual (d.numInputChannels, 0, "input channels");
    checkEqual (d.numOutputChannels, 2, "output channels");
}

void checkInstance (juce::AudioPluginInstance& plugin)
{
    std::cout << "Instance" << std::endl;
    checkEqual (plugin.getName(), juce::String ("Quorvel"), "instance name");
    checkEqual (plugin.getBusCount (true), 0, "input buses");
    checkEqual (plugin.getBusCount (false), 1, "output buses");
    if (auto* bus = plugin.getBus (false, 0))
    {
        checkEqual (bus->getName(), juce::String ("Output"), "output bus name");
        check (bus->getCurrentLayout() == juce::AudioChannelSet::stereo(), "output is stereo by default");
        check (bus->isEnabledByDefault(), "output enabled by default");
    }
    check (layoutAccepted (plugin, juce::AudioChannelSet::stereo()), "stereo output accepted");
    check (layoutAccepted (plugin, juce::AudioChannelSet::mono()), "mono output accepted");
    check (! layoutAccepted (plugin, juce::AudioChannelSet::create5point1()), "5.1 output refused");
    check (plugin.acceptsMidi(), "accepts MIDI");
    check (plugin.producesMidi(), "produces MIDI");
    checkProgramList (plugin);
    checkArrangements (plugin);
    checkEqual (plugin.getTailLengthSeconds(), 0.0, "tail length");
}

void checkProcessing (juce::AudioPluginInstance& plugin)
{
    std::cout << "Processing" << std::endl;
    const int blockSize = 512;
    plugin.setPlayConfigDetails (0, 2, 48000.0, blockSize);
    plugin.prepareToPlay (48000.0, blockSize);

    // Sustain on channel 3 goes out on all 16 channels; controller 65 passes as it is.
    auto out = run (plugin, blockSize, { { 100, juce::MidiMessage::controllerEvent (3, 64, 127) },
                                         { 200, juce::MidiMessage::controllerEvent (3, 65, 90) } });
    int sustainChannels = 0;
    for (int c = 1; c <= 16; ++c)
        sustainChannels += count (out, [c] (const juce::MidiMessage& m)
                                  { return m.isController() && m.getControllerNumber() == 64
                                        && m.getChannel() == c && m.getControllerValue() == 127; }) == 1 ? 1 : 0;
    checkEqual (sustainChannels, 16, "sustain on every channel once");
    checkEqual (count (out, [] (const juce::MidiMessage& m)
                       { return m.isController() && m.getControllerNumber() == 65 && m.getChannel() == 3; }),
                1, "controller 65 passes on its own channel");
    checkEqual (count (out, [] (const juce::MidiMessage& m)
                       { return m.isController() && m.getControllerNumber() == 65 && m.getChannel() != 3; }),
                0, "controller 65 is not fanned out");

    // Key 60, and key 72 played an octave down (transpose down is key 57), start
    // note 60 at the same instant: the host gets one note-on, and one note-off
    // when the second of them ends.
    out = run (plugin, blockSize, { { 10, juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100) },
                                    { 10, juce::MidiMessage::noteOn (1, 57, (juce::uint8) 100) },
                                    { 10, juce::MidiMessage::noteOn (1, 72, (juce::uint8) 100) } });
    checkEqual (count (out, [] (const juce::MidiMessage& m) { return m.isNoteOn() && m.getNoteNumber() == 60; }),
                1, "duplicate note-on reaches the host once");
    checkEqual (count (out, [] (const juce::MidiMessage& m) { return m.isNoteOn() && m.getNoteNumber() != 60; }),
                0, "no other note sounds");

    out = run (plugin, blockSize, { { 20, juce::MidiMessage::noteOff (1, 60) } });
    checkEqual (count (out, [] (const juce::MidiMessage& m) { return m.isNoteOff(); }), 0,
                "first end of the duplicate is held back");

    out = run (plugin, blockSize, { { 30, juce::MidiMessage::noteOff (1, 72) },
                                    { 40, juce::MidiMessage::noteOff (1, 57) } });
    checkEqual (count (out, [] (const juce::MidiMessage& m) { return m.isNoteOff() && m.getNoteNumber() == 60; }),
                1, "one note-off after the second end");

    plugin.releaseResources();
}

juce::String flacBase64 (int channels, double rate, int frames)
{
    juce::AudioBuffer<float> buffer (channels, frames);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < frames; ++i)
            buffer.setSample (c, i, 0.25f * (float) std::sin (0.01 * i * (c + 1)));

    juce::MemoryBlock data;
    {
        juce::FlacAudioFormat flac;
        std::unique_ptr<juce::AudioFormatWriter> writer (
            flac.createWriterFor (new juce::MemoryOutputStream (data, false), rate, (unsigned int) channels, 24, {}, 0));
        writer->writeFromAudioSampleBuffer (buffer, 0, frames);
    }
    return juce::Base64::toBase64 (data.getData(), data.getSize());
}

// Channels and rate of the audio a state document holds on a key.
std::pair<int, double> audioInState (const juce::XmlElement& state, int key)
{
    for (auto* keys : state.getChildIterator())
        for (auto* k : keys->getChildIterator())
            if (k->getIntAttribute ("key", -1) == key)
                if (auto* audio = k->getChildByName ("Audio"))
                {
                    juce::MemoryOutputStream decoded;
                    juce::Base64::convertFromBase64 (decoded, audio->getAllSubText().trim());
                    juce::FlacAudioFormat flac;
                    std::unique_ptr<juce::AudioFormatReader> reader (flac.createReaderFor (
                        new juce::MemoryInputStream (decoded.getData(), decoded.getDataSize(), true), true));
                    if (reader != nullptr)
                        return { (int) reader->numChannels, reader->sampleRate };
                }
    return { 0, 0.0 };
}

// JUCE's VST3 host keeps a plug-in's state as the component's own bytes,
// Base64 in a "VST3PluginState" document.
juce::MemoryBlock wrapForHost (const juce::MemoryBlock& componentState)
{
    juce::XmlElement head ("VST3PluginState");
    head.createNewChildElement ("IComponent")->addTextElement (componentState.toBase64Encoding());
    juce::MemoryBlock block;
    juce::AudioProcessor::copyXmlToBinary (head, block);
    return block;
}

std::unique_ptr<juce::XmlElement> unwrapFromHost (const juce::MemoryBlock& hostState)
{
    const auto head = juce::AudioProcessor::getXmlFromBinary (hostState.getData(), (int) hostState.getSize());
    if (head == nullptr)
        return nullptr;
    const auto* component = head->getChildByName ("IComponent");
    juce::MemoryBlock bytes;
    if (component == nullptr || ! bytes.fromBase64Encoding (component->getAllSubText()))
        return nullptr;
    return juce::AudioProcessor::getXmlFromBinary (bytes.getData(), (int) bytes.getSize());
}

std::unique_ptr<juce::AudioPluginInstance> newInstance (juce::VST3PluginFormat& format, const juce::PluginDescription& d)
{
    juce::String error;
    return format.createInstanceFromDescription (d, 48000.0, 512, error);
}

// A state saved by one instance and restored into a fresh one gives back every
// setting and key, audio included.
void checkState (juce::VST3PluginFormat& format, const juce::PluginDescription& d)
{
    std::cout << "State" << std::endl;
    const auto doc = "<QuorvelState version=\"5\" triggerMode=\"0\" visibleLayers=\"3\" focusedLayer=\"2\""
                     " keyboardInteraction=\"1\" loopEnabled=\"1\" loopLengthIdx=\"5\" inputQuantAmount=\"-30\""
                     " keySnapStart=\"30\" keySnapEnd=\"100\" keySnapScale=\"000000000000\" layerDry1=\"1\">"
                     "<Keys><Key key=\"62\" bpm=\"100\"><E n=\"62\" v=\"90\" c=\"2\" on=\"1\" w=\"0\"/>"
                     "<E n=\"62\" v=\"0\" c=\"2\" on=\"0\" w=\"250.5\"/>"
                     "<Audio sr=\"48000\" root=\"60\">" + flacBase64 (2, 48000.0, 4800) + "</Audio></Key>"
                     "<Key key=\"64\"><Audio sr=\"44100\">" + flacBase64 (4, 44100.0, 1000) + "</Audio></Key></Keys>"
                     "<KeysUpper2><Key key=\"70\" tail=\"20\"><E n=\"75\" v=\"64\" c=\"1\" on=\"1\" w=\"0\"/>"
                     "<E n=\"75\" v=\"0\" c=\"1\" on=\"0\" w=\"100\"/></Key></KeysUpper2></QuorvelState>";
    const auto parsed = juce::parseXML (doc);
    juce::MemoryBlock document;
    juce::AudioProcessor::copyXmlToBinary (*parsed, document);
    const auto loaded = wrapForHost (document);

    auto a = newInstance (format, d);
    auto b = newInstance (format, d);
    if (a == nullptr || b == nullptr)
    {
        check (false, "instances for the state check");
        return;
    }

    a->setStateInformation (loaded.getData(), (int) loaded.getSize());
    juce::MemoryBlock saved;
    a->getStateInformation (saved);
    b->setStateInformation (saved.getData(), (int) saved.getSize());
    juce::MemoryBlock again;
    b->getStateInformation (again);
    check (saved.getSize() > 100 && saved == again, "a fresh instance gives back the same state");

    const auto state = unwrapFromHost (again);
    check (state != nullptr && state->hasTagName ("QuorvelState"), "the state is a QuorvelState document");
    if (state == nullptr)
        return;

    for (const auto* name : { "triggerMode", "visibleLayers", "focusedLayer", "keyboardInteraction", "loopLengthIdx",
                              "inputQuantAmount", "keySnapStart", "keySnapEnd", "keySnapScale", "layerDry1" })
        checkEqual (state->getStringAttribute (name), parsed->getStringAttribute (name), juce::String ("setting ") + name);

    const auto stereo = audioInState (*state, 62);
    checkEqual (stereo.first, 2, "stereo audio keeps two channels");
    checkEqual (stereo.second, 48000.0, "and its sample rate");
    checkEqual (audioInState (*state, 64).first, 2, "four-channel audio comes back as two");
    check (state->toString().contains ("KeysUpper2") && state->toString().contains ("n=\"75\""), "layer 2 keeps its key");

    // The restored instance plays the restored key.
    b->setPlayConfigDetails (0, 2, 48000.0, 512);
    b->prepareToPlay (48000.0, 512);
    b->setStateInformation (saved.getData(), (int) saved.getSize());
    const auto out = run (*b, 512, { { 5, juce::MidiMessage::noteOn (1, 70, (juce::uint8) 100) } });
    run (*b, 512, {});
    checkEqual (count (out, [] (const juce::MidiMessage& m) { return m.isNoteOn() && m.getNoteNumber() == 75; }),
                1, "the restored clip of layer 2 plays");
    b->releaseResources();
}
}

int main (int argc, char** argv)
{
    if (argc < 2)
    {
        std::cerr << "usage: quorvel_vst3_host_check <Quorvel.vst3>" << std::endl;
        return 2;
    }

    const juce::ScopedJuceInitialiser_GUI juce;
    const juce::File bundle (juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]));
    std::cout << "Loading " << bundle.getFullPathName() << std::endl;

    juce::VST3PluginFormat format;
    juce::OwnedArray<juce::PluginDescription> descriptions;
    format.findAllTypesForFile (descriptions, bundle.getFullPathName());
    checkEqual (descriptions.size(), 1, "one plug-in in the bundle");

    if (! descriptions.isEmpty())
    {
        checkDescription (*descriptions[0]);

        juce::String error;
        auto plugin = format.createInstanceFromDescription (*descriptions[0], 48000.0, 512, error);
        check (plugin != nullptr, "instance created " + error);

        if (plugin != nullptr)
        {
            checkInstance (*plugin);
            checkProcessing (*plugin);
        }

        checkState (format, *descriptions[0]);
    }

    std::cout << "vst3 host check: " << passed << " passed, " << failed << " failed" << std::endl;
    return failed == 0 ? 0 : 1;
}
