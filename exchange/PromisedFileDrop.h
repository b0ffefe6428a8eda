#pragma once

#include <functional>
#include <memory>
#include <vector>

#include <juce_core/juce_core.h>
#include <juce_graphics/juce_graphics.h>

// Drops of promised files (written only after the drop, as some hosts drag
// clips out of their arrangement): the logic of the native drop overlay,
// against small interfaces that stand for the platform's pasteboard and the
// editor's drop target. The macOS adapter lives in platform/mac.

// One file promise on the dragging pasteboard.
class PromiseReceiver
{
public:
    virtual ~PromiseReceiver() = default;
    virtual juce::StringArray fileTypes() const = 0;
    virtual juce::StringArray fileNames() const = 0;

    // Asks for the promised files to be written into folder. The reader is
    // called once per file, possibly on another thread, with the file's path,
    // or with an error text instead.
    using Reader = std::function<void (const juce::String& path, const juce::String& error)>;
    virtual void receive (const juce::File& folder, Reader reader) = 0;
};

// The dragging pasteboard, as far as a drop needs it.
class DragPasteboard
{
public:
    struct Value
    {
        juce::String type;
        juce::String text;        // for string values
        juce::MemoryBlock data;   // for data values
        bool isData = false;
    };

    virtual ~DragPasteboard() = default;
    virtual juce::StringArray types() const = 0;
    virtual std::vector<PromiseReceiver*> promiseReceivers() const = 0;
    // The string values of a type on every pasteboard item.
    virtual juce::StringArray itemStrings (const juce::String& type) const = 0;
    // Every item's values, for the diagnostic log.
    virtual std::vector<Value> itemValues() const = 0;
};

// Where promised drags go in the editor: its native peer's file-drag handling.
class DropTarget
{
public:
    virtual ~DropTarget() = default;
    virtual bool dragMove (const juce::StringArray& files, juce::Point<int> position) = 0;
    virtual void dragExit (const juce::StringArray& files, juce::Point<int> position) = 0;
    virtual void dragDrop (const juce::StringArray& files, juce::Point<int> position) = 0;
};

class PromisedFileDrop
{
public:
    // owner: the editor's target, looked up again whenever it is needed (a
    // drop that arrives after the editor closed finds none). post: runs a
    // delivery on the message thread.
    using OwnerLookup = std::function<DropTarget*()>;
    using Poster = std::function<void (std::function<void()>)>;

    explicit PromisedFileDrop (OwnerLookup owner, Poster post = {});

    // The drag callbacks; the results are the drag operations (1 copy, 0 none).
    int draggingEntered (const DragPasteboard& pasteboard, juce::Point<float> location);
    int draggingUpdated (const DragPasteboard& pasteboard, juce::Point<float> location);
    void draggingExited (const DragPasteboard& pasteboard, juce::Point<float> location);
    bool performDragOperation (const DragPasteboard& pasteboard, juce::Point<float> location);

    static juce::StringArray promisedNames (const DragPasteboard& pasteboard);
    static juce::File dropFolder();
    static bool isDeliverable (const juce::String& path);

private:
    int routeMove (const DragPasteboard& pasteboard, juce::Point<float> location);

    OwnerLookup owner;
    Poster post;
};

// The optional drag log ("Quorvel_drag.log" in the home folder), on when the
// environment variable QUORVEL_DND_LOG is set to something (decided once).
bool dndLoggingEnabled();
void dndLog (const juce::String& text);
juce::String formatDndLogLine (const juce::Time& time, const juce::String& text);
juce::String describeDrag (const DragPasteboard& pasteboard);
juce::File dndLogFile();
