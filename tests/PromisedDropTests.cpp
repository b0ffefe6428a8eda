#include <thread>

#include <gtest/gtest.h>

#include "exchange/PromisedFileDrop.h"

namespace
{
// AppKit's part, played by the test.
struct FakeReceiver : PromiseReceiver
{
    juce::StringArray names, types { "com.ableton.live-clip" };
    juce::StringArray written;   // what the "system" writes, in order; "!" + text is an error

    juce::StringArray fileTypes() const override { return types; }
    juce::StringArray fileNames() const override { return names; }

    void receive (const juce::File& folder, Reader reader) override
    {
        receivedInto = folder;
        // The files arrive on another thread, as AppKit's queue delivers them.
        std::thread ([this, folder, reader]
        {
            for (const auto& w : written)
            {
                if (w.startsWith ("!"))
                    reader ({}, w.substring (1));
                else
                    reader (folder.getChildFile (w).getFullPathName(), {});
            }
        }).join();
    }

    juce::File receivedInto;
};

struct FakePasteboard : DragPasteboard
{
    std::vector<FakeReceiver*> receivers;
    std::map<juce::String, juce::StringArray> strings;

    juce::StringArray types() const override { return { "NSFilePromiseContentsPboardType" }; }
    std::vector<PromiseReceiver*> promiseReceivers() const override
    {
        std::vector<PromiseReceiver*> r;
        for (auto* x : receivers)
            r.push_back (x);
        return r;
    }
    juce::StringArray itemStrings (const juce::String& type) const override
    {
        const auto it = strings.find (type);
        return it != strings.end() ? it->second : juce::StringArray();
    }
    std::vector<Value> itemValues() const override
    {
        Value text { "public.utf8-plain-text", "hello", {}, false };
        Value blob { "com.example.midi", {}, juce::MemoryBlock ("xxMThdyy\x01", 9), true };
        return { text, blob };
    }
};

struct FakeTarget : DropTarget
{
    struct Call
    {
        juce::String what;
        juce::StringArray files;
        juce::Point<int> position;
    };
    std::vector<Call> calls;
    bool accepts = true;

    bool dragMove (const juce::StringArray& f, juce::Point<int> p) override { calls.push_back ({ "move", f, p }); return accepts; }
    void dragExit (const juce::StringArray& f, juce::Point<int> p) override { calls.push_back ({ "exit", f, p }); }
    void dragDrop (const juce::StringArray& f, juce::Point<int> p) override { calls.push_back ({ "drop", f, p }); }
};

struct Harness
{
    FakeTarget target;
    bool ownerAlive = true;
    std::vector<std::function<void()>> posted;
    std::mutex lock;
    PromisedFileDrop drop {
        [this] () -> DropTarget* { return ownerAlive ? &target : nullptr; },
        [this] (std::function<void()> f) { const std::lock_guard<std::mutex> g (lock); posted.push_back (std::move (f)); }
    };

    void runMessageThread()
    {
        for (auto& f : posted)
            f();
        posted.clear();
    }
};
}

TEST (PromisedDrop, HoverFeedsThePromisedNamesAndTheDropDeliversEachFile)
{
    Harness h;
    FakeReceiver receiver;
    receiver.names = { "Groove.alc" };
    receiver.written = { "Groove.alc", "Take.MID" };
    FakePasteboard pb;
    pb.receivers = { &receiver };

    EXPECT_EQ (h.drop.draggingEntered (pb, { 100.4f, 250.6f }), 1);
    ASSERT_EQ (h.target.calls.size(), 1u);
    EXPECT_EQ (h.target.calls[0].files, juce::StringArray ({ "Groove.alc" }));
    EXPECT_EQ (h.target.calls[0].position, juce::Point<int> (100, 251));
    h.target.accepts = false;
    EXPECT_EQ (h.drop.draggingUpdated (pb, { 101.0f, 250.0f }), 0);

    EXPECT_TRUE (h.drop.performDragOperation (pb, { 120.0f, 260.0f }));
    EXPECT_EQ (receiver.receivedInto, PromisedFileDrop::dropFolder());
    EXPECT_TRUE (PromisedFileDrop::dropFolder().isDirectory());
    EXPECT_EQ (PromisedFileDrop::dropFolder().getFileName(), "Quorvel_dnd");
    EXPECT_EQ (h.target.calls.back().what, "exit");   // the hover display is cleared first

    // Nothing lands until the message thread runs the deliveries, one drop per file.
    const auto before = h.target.calls.size();
    h.runMessageThread();
    ASSERT_EQ (h.target.calls.size(), before + 2);
    EXPECT_EQ (h.target.calls[before].what, "drop");
    EXPECT_TRUE (h.target.calls[before].files[0].endsWith ("Quorvel_dnd/Groove.alc"));
    EXPECT_EQ (h.target.calls[before].position, juce::Point<int> (120, 260));
    EXPECT_TRUE (h.target.calls[before + 1].files[0].endsWith ("Take.MID"));
}

TEST (PromisedDrop, UnsupportedFilesErrorsAndClosedEditorsDeliverNothing)
{
    Harness h;
    FakeReceiver receiver;
    receiver.names = { "Loop.wav" };
    receiver.written = { "Loop.wav", "!the disk is full", "Song.sketch" };
    FakePasteboard pb;
    pb.receivers = { &receiver };

    EXPECT_TRUE (h.drop.performDragOperation (pb, { 1.0f, 2.0f }));
    const auto before = h.target.calls.size();
    h.runMessageThread();
    ASSERT_EQ (h.target.calls.size(), before + 1);   // only the sketch
    EXPECT_TRUE (h.target.calls.back().files[0].endsWith ("Song.sketch"));

    // A file that arrives after the editor closed is dropped.
    receiver.written = { "Late.mid" };
    EXPECT_TRUE (h.drop.performDragOperation (pb, { 1.0f, 2.0f }));
    h.ownerAlive = false;
    const auto count = h.target.calls.size();
    h.runMessageThread();
    EXPECT_EQ (h.target.calls.size(), count);
    EXPECT_FALSE (h.drop.performDragOperation (pb, { 1.0f, 2.0f }));
}

TEST (PromisedDrop, PlainDragsAreNotOursAndNamesFallBackToPasteboardStrings)
{
    Harness h;
    FakePasteboard plain;
    EXPECT_FALSE (h.drop.performDragOperation (plain, { 0.0f, 0.0f }));
    EXPECT_EQ (h.drop.draggingEntered (plain, { 0.0f, 0.0f }), 0);   // no names: JUCE is not asked
    EXPECT_TRUE (h.target.calls.empty());

    plain.strings["com.apple.pasteboard.promised-file-name"] = { "", "Bass.mid" };
    EXPECT_EQ (PromisedFileDrop::promisedNames (plain), juce::StringArray ({ "Bass.mid" }));
}

TEST (PromisedDrop, LogLinesAndDescriptionWithLoggingOff)
{
    EXPECT_EQ (formatDndLogLine (juce::Time (2026, 11, 11, 9, 5, 7), "hello"), "9:05:07  hello");

    FakeReceiver receiver;
    receiver.names = { "A.alc", "B.alc" };
    FakePasteboard pb;
    pb.receivers = { &receiver };
    const auto text = describeDrag (pb);
    EXPECT_TRUE (text.startsWith ("draggingEntered -- pasteboard types:\n    NSFilePromiseContentsPboardType"));
    EXPECT_TRUE (text.contains ("NSFilePromiseReceiver count = 1"));
    EXPECT_TRUE (text.contains ("fileNames = A.alc B.alc"));
    EXPECT_TRUE (text.contains ("public.utf8-plain-text = hello"));
    EXPECT_TRUE (text.contains ("BLOB com.example.midi len=9  [CONTAINS MThd!]"));
    EXPECT_TRUE (text.contains ("ascii: xxMThdyy."));

    // With QUORVEL_DND_LOG unset nothing is written.
    if (dndLoggingEnabled())
        GTEST_SKIP() << "QUORVEL_DND_LOG is set";
    const auto existed = dndLogFile().existsAsFile();
    dndLog ("should not appear");
    EXPECT_EQ (dndLogFile().existsAsFile(), existed);
}
