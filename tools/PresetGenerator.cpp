// Writes the factory presets (".sketch" files) and the demo performance.
//
// Usage: quorvel-make-presets <presets folder> <demo performance .mid>
//
// The presets are built through the processor itself, so they are exactly
// what the plug-in reads and writes.

#include <functional>
#include <iostream>

#include <juce_audio_basics/juce_audio_basics.h>

#include "engine/PluginProcessor.h"
#include "engine/Timeline.h"

namespace
{
struct N
{
    int note;
    double beat;     // start, in beats
    double length;   // in beats
    int velocity = 100;
    int channel = 1;
};

// A clip from notes placed in beats at the clip's tempo.
KeySequence clip (const std::vector<N>& notes, double bpm, double lengthBeats = 0.0)
{
    const double msPerBeat = 60000.0 / bpm;
    KeySequence s;
    std::vector<double> times;
    for (const auto& n : notes)
    {
        s.events.push_back ({ n.note, n.velocity, n.channel, true, 0.0 });
        times.push_back (n.beat * msPerBeat);
        s.events.push_back ({ n.note, 0, n.channel, false, 0.0 });
        times.push_back ((n.beat + n.length) * msPerBeat);
    }
    rebuildWaits (s.events, times);
    s.bpm = bpm;
    if (lengthBeats > 0.0)
        s.tailMs = std::max (lengthBeats * msPerBeat - sumOfWaits (s.events), 0.0);
    s.recompute();
    return s;
}

std::vector<N> transposed (std::vector<N> notes, int semitones)
{
    for (auto& n : notes)
        n.note += semitones;
    return notes;
}

// A chord struck with a slight strum, held while the key is.
KeySequence chord (std::initializer_list<int> notes, int velocity = 96)
{
    std::vector<N> list;
    double strum = 0.0;
    for (int n : notes)
    {
        list.push_back ({ n, strum, 4.0, velocity });
        strum += 0.012;   // 6 ms apart at 120 bpm
        velocity = std::max (60, velocity - 6);
    }
    return clip (list, 120.0);
}

bool write (PluginProcessor& p, const juce::File& folder, const juce::String& name)
{
    const auto file = folder.getChildFile (name + ".sketch");
    const bool ok = p.writeSketchToFile (file);
    std::cout << (ok ? "wrote " : "FAILED ") << file.getFullPathName() << std::endl;
    return ok;
}

using Builder = std::function<void (PluginProcessor&)>;

void popProgressions (PluginProcessor& p)
{
    // The diatonic chords of C major on the white keys from middle C, their
    // sevenths on the black keys, and low inversions on 36..47.
    const int white[] = { 60, 62, 64, 65, 67, 69, 71, 72, 74, 76, 77, 79 };
    const std::vector<std::vector<int>> triads {
        { 48, 52, 55, 60 }, { 50, 53, 57, 62 }, { 52, 55, 59, 64 }, { 53, 57, 60, 65 },
        { 55, 59, 62, 67 }, { 57, 60, 64, 69 }, { 59, 62, 65, 71 }, { 60, 64, 67, 72 },
        { 62, 65, 69, 74 }, { 64, 67, 71, 76 }, { 65, 69, 72, 77 }, { 67, 71, 74, 79 },
    };
    for (size_t i = 0; i < std::size (white); ++i)
    {
        std::vector<N> list;
        double strum = 0.0;
        int velocity = 100;
        for (int n : triads[i])
        {
            list.push_back ({ n, strum, 4.0, velocity });
            strum += 0.012;
            velocity -= 7;
        }
        p.keys[(size_t) white[i]] = clip (list, 120.0);
    }

    p.keys[61] = chord ({ 48, 55, 59, 64 });        // Cmaj7
    p.keys[63] = chord ({ 50, 57, 60, 65 });        // Dm7
    p.keys[66] = chord ({ 53, 57, 64, 69 });        // Fmaj7
    p.keys[68] = chord ({ 55, 59, 65, 71 });        // G7
    p.keys[70] = chord ({ 57, 64, 67, 72 });        // Am7
    for (int k = 36; k < 48; ++k)
        p.keys[(size_t) k] = chord ({ k - 12 + 24, k + 7, k + 12 });   // open fifths for pads
    p.velControlAmount.store (40);
}

void jazzVoicings (PluginProcessor& p)
{
    // ii-V-I in four keys, rootless voicings with a bass note.
    const int tonics[] = { 0, 5, 10, 3 };   // C, F, Bb, Eb
    int key = 60;
    for (int tonic : tonics)
    {
        const int b = 36 + tonic;
        p.keys[(size_t) key++] = chord ({ b + 2, b + 14, b + 17, b + 21, b + 24 });        // ii9
        p.keys[(size_t) key++] = chord ({ b + 7, b + 17, b + 21, b + 23, b + 28 });        // V13
        p.keys[(size_t) key++] = chord ({ b, b + 16, b + 19, b + 23, b + 26 });            // Imaj9
    }
    for (int k = 72; k < 84; ++k)
        p.keys[(size_t) k] = chord ({ k - 24, k - 14, k - 10, k - 5 });                // m11 shells
    p.triggerMode.store (0);
    p.velControlAmount.store (60);
}

void funkBass (PluginProcessor& p)
{
    // One-bar sixteenth-note lines at 100 bpm, transposed over the octave.
    const std::vector<N> riff {
        { 0, 0.0, 0.2, 118 }, { 0, 0.75, 0.2, 80 }, { 12, 1.0, 0.15, 100 }, { 10, 1.5, 0.2, 90 },
        { 0, 2.0, 0.4, 115 }, { 7, 2.75, 0.2, 85 }, { 10, 3.25, 0.2, 95 }, { 12, 3.5, 0.25, 105 },
    };
    for (int k = 36; k < 48; ++k)
        p.keys[(size_t) k] = clip (transposed (riff, k - 12), 100.0, 4.0);
    const std::vector<N> slap {
        { 0, 0.0, 0.1, 127 }, { 12, 0.5, 0.1, 110 }, { 0, 0.75, 0.1, 90 }, { 3, 1.25, 0.2, 100 },
        { 5, 1.75, 0.2, 100 }, { 12, 2.5, 0.1, 120 }, { 7, 3.0, 0.3, 100 }, { 5, 3.5, 0.2, 90 },
    };
    for (int k = 60; k < 72; ++k)
        p.keys[(size_t) k] = clip (transposed (slap, k - 24), 100.0, 4.0);
    p.loopEnabled.store (true);
    p.loopLengthIdx.store (3);   // one bar
    p.launchQuantPower.store (true);
    p.launchQuantNote.store (2);
    p.monoMode.store (true);
}

void walkingBass (PluginProcessor& p)
{
    // Two-bar walking lines over common changes, at 120 bpm.
    const std::vector<std::vector<int>> lines {
        { 36, 40, 43, 45, 38, 41, 45, 44 },   // C - Dm
        { 41, 45, 48, 46, 43, 47, 50, 49 },   // F - G
        { 45, 48, 52, 51, 38, 41, 45, 44 },   // Am - Dm
        { 43, 47, 50, 49, 36, 38, 40, 42 },   // G - C
    };
    int key = 60;
    for (int transpose : { 0, 2, 4, 5, 7, 9 })
    {
        for (size_t l = 0; l < 2 && key < 72; ++l, ++key)
        {
            std::vector<N> notes;
            const auto& line = lines[(size_t) (key % (int) lines.size())];
            for (size_t i = 0; i < line.size(); ++i)
                notes.push_back ({ line[i] + transpose, (double) i, 0.85, i % 4 == 0 ? 110 : 92 });
            p.keys[(size_t) key] = clip (notes, 120.0, 8.0);
        }
    }
    p.loopEnabled.store (true);
    p.loopLengthIdx.store (4);   // two bars
}

void drumKit (PluginProcessor& p)
{
    // Layer 0: patterns whose notes are drum keys; they cascade into layer 1,
    // where each drum key holds a little figure on channel 10.
    constexpr int ch = 10, kick = 36, snare = 38, hat = 42, open = 46, clap = 39, tom = 45;
    auto pattern = [&] (const std::vector<std::pair<int, double>>& hits, double bars)
    {
        std::vector<N> notes;
        for (const auto& [note, beat] : hits)
            notes.push_back ({ note, beat, 0.1, 100, ch });
        return clip (notes, 110.0, bars * 4.0);
    };

    std::vector<std::pair<int, double>> basic;
    for (int i = 0; i < 8; ++i)
        basic.push_back ({ hat, i * 0.5 });
    basic.insert (basic.end(), { { kick, 0.0 }, { snare, 1.0 }, { kick, 2.0 }, { kick, 2.5 }, { snare, 3.0 } });
    p.keys[60] = pattern (basic, 1.0);
    p.keys[62] = pattern ({ { kick, 0.0 }, { hat, 0.5 }, { snare, 1.0 }, { hat, 1.5 }, { kick, 1.75 }, { kick, 2.0 },
                            { open, 2.5 }, { snare, 3.0 }, { hat, 3.5 }, { clap, 3.75 } }, 1.0);
    p.keys[64] = pattern ({ { kick, 0.0 }, { kick, 1.0 }, { kick, 2.0 }, { kick, 3.0 }, { clap, 1.0 }, { clap, 3.0 },
                            { open, 0.5 }, { open, 1.5 }, { open, 2.5 }, { open, 3.5 } }, 1.0);
    p.keys[65] = pattern ({ { tom, 0.0 }, { tom, 0.25 }, { tom, 0.5 }, { snare, 0.75 }, { snare, 1.0 }, { snare, 1.25 },
                            { kick, 1.5 }, { open, 1.5 } }, 0.5);   // fill

    // Layer 1: what each drum note becomes.
    p.upperKeys[0][hat] = clip ({ { hat, 0.0, 0.1, 90, ch }, { hat, 0.25, 0.1, 55, ch } }, 110.0);
    p.upperKeys[0][kick] = clip ({ { kick, 0.0, 0.2, 120, ch } }, 110.0);
    p.upperKeys[0][snare] = clip ({ { snare, 0.0, 0.1, 110, ch }, { snare, 0.125, 0.05, 40, ch } }, 110.0);
    p.upperKeys[0][open] = clip ({ { open, 0.0, 0.4, 85, ch } }, 110.0);
    p.upperKeys[0][clap] = clip ({ { clap, 0.0, 0.1, 100, ch }, { clap, 0.02, 0.1, 70, ch } }, 110.0);

    p.visibleLayers.store (2);
    p.keyboardInteraction.store (2);
    p.cascadeEnabled.store (true);
    p.loopEnabled.store (true);
    p.loopLengthIdx.store (3);
    p.launchQuantPower.store (true);
    p.launchQuantNote.store (1);   // half notes
    p.layerKeysnap[0].store (false);
    p.layerKeysnap[1].store (false);
}

void arpeggios (PluginProcessor& p)
{
    // Sixteenth-note arpeggios over each chord of A minor, looping per bar.
    const std::vector<std::vector<int>> chords {
        { 57, 60, 64 }, { 53, 57, 60 }, { 48, 52, 55 }, { 55, 59, 62 },
        { 50, 53, 57 }, { 52, 56, 59 }, { 57, 60, 64, 67 }, { 53, 57, 60, 64 },
        { 60, 64, 67, 71 }, { 55, 59, 62, 65 }, { 52, 55, 59, 62 }, { 56, 59, 62, 65 },
    };
    for (int i = 0; i < 12; ++i)
    {
        const auto& c = chords[(size_t) i];
        std::vector<int> order (c.begin(), c.end());
        order.push_back (c[0] + 12);
        for (size_t j = c.size(); j-- > 1;)
            order.push_back (c[j]);
        std::vector<N> notes;
        for (int s = 0; s < 16; ++s)
            notes.push_back ({ order[(size_t) s % order.size()] + 12, s * 0.25, 0.2, s % 4 == 0 ? 108 : 80 });
        p.keys[(size_t) (60 + i)] = clip (notes, 120.0, 4.0);
    }
    p.loopEnabled.store (true);
    p.loopLengthIdx.store (3);
    p.launchQuantPower.store (true);
    p.launchQuantNote.store (2);
    p.legato.store (true);
}

void melodicHooks (PluginProcessor& p)
{
    // Short hooks in C major; with key snap the scale keys below 36 recolour them.
    const std::vector<std::vector<N>> hooks {
        { { 72, 0, 0.5 }, { 74, 0.5, 0.5 }, { 76, 1, 1 }, { 79, 2, 0.5 }, { 76, 2.5, 0.5 }, { 74, 3, 1 } },
        { { 67, 0, 0.75 }, { 69, 0.75, 0.25 }, { 72, 1, 1.5 }, { 71, 2.5, 0.5 }, { 69, 3, 0.5 }, { 67, 3.5, 0.5 } },
        { { 76, 0, 0.25 }, { 77, 0.25, 0.25 }, { 79, 0.5, 0.5 }, { 84, 1, 1 }, { 83, 2, 0.5 }, { 79, 2.5, 1.5 } },
        { { 64, 0, 1 }, { 65, 1, 0.5 }, { 67, 1.5, 0.5 }, { 72, 2, 1 }, { 71, 3, 0.5 }, { 67, 3.5, 0.5 } },
    };
    for (int i = 0; i < 12; ++i)
    {
        std::vector<N> notes;
        for (auto n : hooks[(size_t) i % hooks.size()])
        {
            n.note += (i / 4) * 2 - 2;
            n.velocity = 96;
            notes.push_back (n);
        }
        p.keys[(size_t) (60 + i)] = clip (notes, 120.0, 4.0);
    }
    p.setKeySnapRange (36, 96);
    for (int pc : { 0, 2, 4, 5, 7, 9, 11 })
        p.scalePitchClasses[(size_t) pc] = true;
    p.keySnapScale.store (p.scaleMask());
}

// The demo performance: chords of "Chords/Pop Progressions", one bar each,
// with a pedal under the last two.
void writeDemo (const juce::File& file)
{
    juce::MidiMessageSequence track;
    const int ppq = 960;
    track.addEvent (juce::MidiMessage::tempoMetaEvent (500000), 0);
    track.addEvent (juce::MidiMessage::timeSignatureMetaEvent (4, 4), 0);
    const int keys[] = { 60, 69, 65, 67, 60, 64, 66, 68 };
    for (int i = 0; i < (int) std::size (keys); ++i)
    {
        const double start = i * 4.0 * ppq, end = start + 3.5 * ppq;
        track.addEvent (juce::MidiMessage::noteOn (1, keys[i], (juce::uint8) 100), start);
        track.addEvent (juce::MidiMessage::noteOff (1, keys[i]), end);
    }
    track.addEvent (juce::MidiMessage::controllerEvent (1, 64, 127), 24.0 * ppq);
    track.addEvent (juce::MidiMessage::controllerEvent (1, 64, 0), 31.9 * ppq);
    track.updateMatchedPairs();

    juce::MidiFile midi;
    midi.setTicksPerQuarterNote (ppq);
    midi.addTrack (track);
    file.getParentDirectory().createDirectory();
    file.deleteFile();
    juce::FileOutputStream out (file);
    const bool ok = out.openedOk() && midi.writeTo (out, 1);
    std::cout << (ok ? "wrote " : "FAILED ") << file.getFullPathName() << std::endl;
}
}

int main (int argc, char** argv)
{
    if (argc < 3)
    {
        std::cerr << "usage: quorvel-make-presets <presets folder> <demo performance .mid>" << std::endl;
        return 2;
    }

    const juce::ScopedJuceInitialiser_GUI juce;
    const juce::File folder (juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]));
    const std::pair<const char*, Builder> presets[] = {
        { "Init", [] (PluginProcessor&) {} },
        { "Chords/Pop Progressions", popProgressions },
        { "Chords/Jazz Voicings", jazzVoicings },
        { "Bass/Funk Lines", funkBass },
        { "Bass/Walking Lines", walkingBass },
        { "Drums/Cascade Kit", drumKit },
        { "Arps/Minor Arpeggios", arpeggios },
        { "Melodies/Hooks in C", melodicHooks },
    };

    bool ok = true;
    for (const auto& [name, build] : presets)
    {
        PluginProcessor p;
        build (p);
        ok = write (p, folder, name) && ok;
    }

    writeDemo (juce::File::getCurrentWorkingDirectory().getChildFile (argv[2]));
    return ok ? 0 : 1;
}
