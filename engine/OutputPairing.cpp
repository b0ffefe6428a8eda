#include "engine/OutputPairing.h"

void pairOutputNotes (const juce::MidiBuffer& in, juce::MidiBuffer& result,
                      OutputNoteTable& table, int64_t blockStartTime)
{
    result.clear();

    for (const auto meta : in)
    {
        const auto* d = meta.data;
        const int pos = meta.samplePosition;
        const int type = meta.numBytes >= 3 ? (d[0] & 0xf0) : 0;

        if (type != 0x90 && type != 0x80)
        {
            result.addEvent (d, meta.numBytes, pos);
            continue;
        }

        const int ch = d[0] & 0x0f;
        const int key = d[1] & 0x7f;
        auto& count = table.count[(size_t) ch][(size_t) key];

        if (type == 0x90 && d[2] > 0)
        {
            const int64_t t = blockStartTime + pos;
            auto& lastOn = table.lastOnTime[(size_t) ch][(size_t) key];

            if (count >= 1 && lastOn == t)
            {
                ++count;  // a second source starting the same note at the same instant
                continue;
            }

            if (count >= 1)
            {
                const uint8_t off[3] = { (uint8_t) (0x80 | ch), (uint8_t) key, 0 };
                result.addEvent (off, 3, pos);
            }

            result.addEvent (d, meta.numBytes, pos);
            ++count;
            lastOn = t;
        }
        else
        {
            if (count >= 1)
            {
                --count;
                if (count > 0)
                    continue;
            }

            result.addEvent (d, meta.numBytes, pos);
        }
    }
}
