#include "exchange/PromisedFileDrop.h"

#include <juce_events/juce_events.h>

#if JUCE_LINUX || JUCE_MAC
 #include <syslog.h>
#endif

namespace
{
juce::Point<int> rounded (juce::Point<float> p)
{
    return { juce::roundToInt (p.x), juce::roundToInt (p.y) };
}
}

PromisedFileDrop::PromisedFileDrop (OwnerLookup ownerLookup, Poster poster)
    : owner (std::move (ownerLookup)), post (std::move (poster))
{
    if (! post)
        post = [] (std::function<void()> f) { juce::MessageManager::callAsync (std::move (f)); };
}

juce::StringArray PromisedFileDrop::promisedNames (const DragPasteboard& pasteboard)
{
    juce::StringArray names;
    for (const auto* receiver : pasteboard.promiseReceivers())
        names.addArray (receiver->fileNames());

    if (names.isEmpty())
        for (const auto* type : { "com.apple.pasteboard.promised-suggested-file-name", "com.apple.pasteboard.promised-file-name" })
            for (const auto& s : pasteboard.itemStrings (type))
                if (s.isNotEmpty())
                    names.add (s);
    return names;
}

juce::File PromisedFileDrop::dropFolder()
{
    return juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("Quorvel_dnd");
}

bool PromisedFileDrop::isDeliverable (const juce::String& path)
{
    for (const auto* ext : { ".mid", ".midi", ".alc", ".sketch" })
        if (path.endsWithIgnoreCase (ext))
            return true;
    return false;
}

int PromisedFileDrop::routeMove (const DragPasteboard& pasteboard, juce::Point<float> location)
{
    auto* target = owner ? owner() : nullptr;
    const auto names = promisedNames (pasteboard);
    if (target == nullptr || names.isEmpty())
        return 0;
    return target->dragMove (names, rounded (location)) ? 1 : 0;
}

int PromisedFileDrop::draggingEntered (const DragPasteboard& pasteboard, juce::Point<float> location)
{
    if (dndLoggingEnabled())
        dndLog (describeDrag (pasteboard));
    return routeMove (pasteboard, location);
}

int PromisedFileDrop::draggingUpdated (const DragPasteboard& pasteboard, juce::Point<float> location)
{
    return routeMove (pasteboard, location);
}

void PromisedFileDrop::draggingExited (const DragPasteboard& pasteboard, juce::Point<float> location)
{
    const auto names = promisedNames (pasteboard);
    if (auto* target = owner ? owner() : nullptr; target != nullptr && names.size() > 0)
        target->dragExit (names, rounded (location));
}

bool PromisedFileDrop::performDragOperation (const DragPasteboard& pasteboard, juce::Point<float> location)
{
    auto* target = owner ? owner() : nullptr;
    if (target == nullptr)
        return false;

    const auto receivers = pasteboard.promiseReceivers();
    if (receivers.empty())
        return false;   // plain file drags go to JUCE directly

    const auto position = rounded (location);
    target->dragExit (promisedNames (pasteboard), position);

    const auto folder = dropFolder();
    folder.createDirectory();

    for (auto* receiver : receivers)
    {
        receiver->receive (folder, [lookup = owner, poster = post, position] (const juce::String& path, const juce::String& error)
        {
            if (error.isNotEmpty())
            {
                dndLog ("promise receive error: " + error);
                return;
            }

            if (! isDeliverable (path))
            {
                dndLog ("Drop -- ignoring received file (unsupported): " + path);
                return;
            }

            dndLog ("Drop -- received file: " + path);
            // Delivered on the message thread, each file as its own drop.
            poster ([lookup, path, position]
            {
                if (auto* t = lookup ? lookup() : nullptr)
                    t->dragDrop (juce::StringArray (path), position);
            });
        });
    }
    return true;
}

//==============================================================================
bool dndLoggingEnabled()
{
    static const bool enabled = juce::SystemStats::getEnvironmentVariable ("QUORVEL_DND_LOG", {}).isNotEmpty();
    return enabled;
}

juce::File dndLogFile()
{
    return juce::File::getSpecialLocation (juce::File::userHomeDirectory).getChildFile ("Quorvel_drag.log");
}

juce::String formatDndLogLine (const juce::Time& time, const juce::String& text)
{
    return juce::String (time.getHours()) + ":" + juce::String (time.getMinutes()).paddedLeft ('0', 2) + ":"
         + juce::String (time.getSeconds()).paddedLeft ('0', 2) + "  " + text;
}

void dndLog (const juce::String& text)
{
    if (! dndLoggingEnabled())
        return;

    const auto line = formatDndLogLine (juce::Time::getCurrentTime(), text);
    dndLogFile().appendText (line + "\r\n", false, false, nullptr);
   #if JUCE_LINUX || JUCE_MAC
    syslog (LOG_INFO, "[Quorvel DnD] %s", line.toRawUTF8());
   #endif
}

juce::String describeDrag (const DragPasteboard& pasteboard)
{
    juce::String s ("draggingEntered -- pasteboard types:");
    for (const auto& type : pasteboard.types())
        s << "\n    " << type;

    const auto receivers = pasteboard.promiseReceivers();
    s << "\n  NSFilePromiseReceiver count = " << (int) receivers.size();
    for (const auto* r : receivers)
        s << "\n    fileTypes = " << r->fileTypes().joinIntoString (" ") << "\n    fileNames = " << r->fileNames().joinIntoString (" ");

    for (const auto& v : pasteboard.itemValues())
    {
        if (! v.isData)
        {
            s << "\n  " << v.type << " = " << v.text;
            continue;
        }

        const auto* bytes = static_cast<const uint8_t*> (v.data.getData());
        const auto size = v.data.getSize();
        s << "\n  BLOB " << v.type << " len=" << (int) size;
        for (size_t i = 0; i + 3 < size; ++i)
            if (bytes[i] == 'M' && bytes[i + 1] == 'T' && bytes[i + 2] == 'h' && bytes[i + 3] == 'd')
            {
                s << "  [CONTAINS MThd!]";
                break;
            }

        const size_t shown = std::min (size, (size_t) 512);
        s << "\n    hex:   " << juce::String::toHexString (bytes, (int) shown, 0);
        juce::String ascii;
        for (size_t i = 0; i < shown; ++i)
            ascii << (bytes[i] >= 32 && bytes[i] <= 126 ? (juce::juce_wchar) bytes[i] : (juce::juce_wchar) '.');
        s << "\n    ascii: " << ascii;
    }
    return s;
}
