// The AppKit side of promised-file drops: an NSView laid over the editor's
// view that turns AppKit's pasteboard and file-promise receivers into the
// interfaces PromisedFileDrop works with. Built on macOS only.

#import <AppKit/AppKit.h>

#include "exchange/ExternalMidiDrop.h"
#include "exchange/PromisedFileDrop.h"

namespace
{
struct PeerTarget final : DropTarget
{
    explicit PeerTarget (juce::Component& c) : editor (&c) {}

    juce::ComponentPeer::DragInfo info (const juce::StringArray& files, juce::Point<int> p) const
    {
        juce::ComponentPeer::DragInfo d;
        d.files = files;
        d.position = p;
        return d;
    }

    bool dragMove (const juce::StringArray& files, juce::Point<int> p) override
    {
        auto* peer = editor != nullptr ? editor->getPeer() : nullptr;
        return peer != nullptr && peer->handleDragMove (info (files, p));
    }

    void dragExit (const juce::StringArray& files, juce::Point<int> p) override
    {
        if (auto* peer = editor != nullptr ? editor->getPeer() : nullptr)
            peer->handleDragExit (info (files, p));
    }

    void dragDrop (const juce::StringArray& files, juce::Point<int> p) override
    {
        if (auto* peer = editor != nullptr ? editor->getPeer() : nullptr)
            peer->handleDragDrop (info (files, p));
    }

    juce::Component::SafePointer<juce::Component> editor;
};

struct AppKitReceiver final : PromiseReceiver
{
    AppKitReceiver (NSFilePromiseReceiver* r, NSOperationQueue* q) : receiver (r), queue (q) {}

    static juce::StringArray strings (NSArray<NSString*>* a)
    {
        juce::StringArray s;
        for (NSString* x in a)
            s.add (juce::String::fromUTF8 (x.UTF8String));
        return s;
    }

    juce::StringArray fileTypes() const override { return strings (receiver.fileTypes); }
    juce::StringArray fileNames() const override { return strings (receiver.fileNames); }

    void receive (const juce::File& folder, Reader reader) override
    {
        NSURL* destination = [NSURL fileURLWithPath: [NSString stringWithUTF8String: folder.getFullPathName().toRawUTF8()]];
        [receiver receivePromisedFilesAtDestination: destination
                                            options: @{}
                                     operationQueue: queue
                                             reader: ^(NSURL* file, NSError* error) {
            if (error != nil)
                reader ({}, juce::String::fromUTF8 (error.localizedDescription.UTF8String));
            else
                reader (juce::String::fromUTF8 (file.path.UTF8String), {});
        }];
    }

    NSFilePromiseReceiver* receiver;
    NSOperationQueue* queue;
};

struct AppKitPasteboard final : DragPasteboard
{
    AppKitPasteboard (id<NSDraggingInfo> s, NSOperationQueue* q) : sender (s)
    {
        NSArray* found = [sender.draggingPasteboard readObjectsForClasses: @[ [NSFilePromiseReceiver class] ] options: nil];
        for (NSFilePromiseReceiver* r in found)
            owned.push_back (std::make_unique<AppKitReceiver> (r, q));
    }

    juce::StringArray types() const override { return AppKitReceiver::strings (sender.draggingPasteboard.types); }

    std::vector<PromiseReceiver*> promiseReceivers() const override
    {
        std::vector<PromiseReceiver*> r;
        for (auto& o : owned)
            r.push_back (o.get());
        return r;
    }

    juce::StringArray itemStrings (const juce::String& type) const override
    {
        juce::StringArray s;
        NSString* t = [NSString stringWithUTF8String: type.toRawUTF8()];
        for (NSPasteboardItem* item in sender.draggingPasteboard.pasteboardItems)
            if (NSString* v = [item stringForType: t])
                s.add (juce::String::fromUTF8 (v.UTF8String));
        return s;
    }

    std::vector<Value> itemValues() const override
    {
        std::vector<Value> values;
        for (NSPasteboardItem* item in sender.draggingPasteboard.pasteboardItems)
            for (NSString* t in item.types)
            {
                Value v;
                v.type = juce::String::fromUTF8 (t.UTF8String);
                if (NSString* s = [item stringForType: t])
                    v.text = juce::String::fromUTF8 (s.UTF8String);
                else if (NSData* d = [item dataForType: t])
                {
                    v.isData = true;
                    v.data = juce::MemoryBlock (d.bytes, (size_t) d.length);
                }
                values.push_back (std::move (v));
            }
        return values;
    }

    id<NSDraggingInfo> sender;
    std::vector<std::unique_ptr<AppKitReceiver>> owned;
};
}

@interface QuorvelDropOverlay : NSView
{
@public
    juce::Component* owner_;
    NSOperationQueue* promiseQueue_;
    std::unique_ptr<PeerTarget> target_;
    std::unique_ptr<PromisedFileDrop> drop_;
}
- (void) setOwner: (juce::Component*) owner;
@end

@implementation QuorvelDropOverlay
- (instancetype) initWithFrame: (NSRect) frame
{
    if ((self = [super initWithFrame: frame]))
    {
        owner_ = nullptr;
        promiseQueue_ = [[NSOperationQueue alloc] init];
    }
    return self;
}

- (void) setOwner: (juce::Component*) owner
{
    owner_ = owner;
    target_ = owner != nullptr ? std::make_unique<PeerTarget> (*owner) : nullptr;
    PeerTarget* t = target_.get();
    drop_ = std::make_unique<PromisedFileDrop> ([t] () -> DropTarget* { return t != nullptr && t->editor != nullptr ? t : nullptr; });
}

- (BOOL) isFlipped { return YES; }
- (NSView*) hitTest: (NSPoint) point { (void) point; return nil; }
- (BOOL) wantsPeriodicDraggingUpdates { return NO; }

- (juce::Point<float>) peerLocalPoint: (id<NSDraggingInfo>) sender
{
    const NSPoint p = [self.superview convertPoint: sender.draggingLocation fromView: nil];
    return { (float) std::round (p.x), (float) std::round (p.y) };
}

- (NSDragOperation) draggingEntered: (id<NSDraggingInfo>) sender
{
    if (drop_ == nullptr)
        return NSDragOperationNone;
    AppKitPasteboard pb (sender, promiseQueue_);
    return drop_->draggingEntered (pb, [self peerLocalPoint: sender]) ? NSDragOperationCopy : NSDragOperationNone;
}

- (NSDragOperation) draggingUpdated: (id<NSDraggingInfo>) sender
{
    if (drop_ == nullptr)
        return NSDragOperationNone;
    AppKitPasteboard pb (sender, promiseQueue_);
    return drop_->draggingUpdated (pb, [self peerLocalPoint: sender]) ? NSDragOperationCopy : NSDragOperationNone;
}

- (void) draggingExited: (id<NSDraggingInfo>) sender
{
    if (drop_ != nullptr && sender != nil)
    {
        AppKitPasteboard pb (sender, promiseQueue_);
        drop_->draggingExited (pb, [self peerLocalPoint: sender]);
    }
}

- (BOOL) prepareForDragOperation: (id<NSDraggingInfo>) sender { (void) sender; return YES; }

- (BOOL) performDragOperation: (id<NSDraggingInfo>) sender
{
    if (drop_ == nullptr)
        return NO;
    AppKitPasteboard pb (sender, promiseQueue_);
    return drop_->performDragOperation (pb, [self peerLocalPoint: sender]);
}
@end

struct ExternalMidiDrop::Native
{
    NSView* hostView = nil;
    QuorvelDropOverlay* overlay = nil;

    void remove()
    {
        if (overlay != nil)
        {
            [overlay setOwner: nullptr];
            [overlay removeFromSuperview];
            [overlay release];
            overlay = nil;
        }
        hostView = nil;
    }
};

ExternalMidiDrop::ExternalMidiDrop() : native (std::make_unique<Native>()) {}

ExternalMidiDrop::~ExternalMidiDrop()
{
    native->remove();
}

void ExternalMidiDrop::update (juce::Component& editor)
{
    auto* peer = editor.getPeer();
    NSView* view = peer != nullptr ? (NSView*) peer->getNativeHandle() : nil;
    if (view == native->hostView)
        return;

    native->remove();
    if (view == nil)
        return;

    auto* overlay = [[QuorvelDropOverlay alloc] initWithFrame: view.bounds];
    [overlay setOwner: &editor];
    overlay.autoresizingMask = NSViewWidthSizable | NSViewHeightSizable;
    NSMutableArray* types = [NSMutableArray arrayWithArray: [NSFilePromiseReceiver readableDraggedTypes]];
    [types addObject: NSPasteboardTypeFilePromise];
    [overlay registerForDraggedTypes: types];
    [view addSubview: overlay positioned: NSWindowAbove relativeTo: nil];
    native->hostView = view;
    native->overlay = overlay;
    dndLog ("INSTALLED overlay on NSView 0x" + juce::String::toHexString ((juce::pointer_sized_int) view));
}
