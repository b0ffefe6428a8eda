#pragma once

#include <functional>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

#include <juce_gui_basics/juce_gui_basics.h>

#include "ui/toolkit/FigmaElement.h"
#include "ui/toolkit/Theme.h"

// Builds the editor's window from the embedded layout document: a tree of
// named FigmaElements with their images, frames, visuals, text style and
// widgets, found afterwards by name.
class FigmaRenderer
{
public:
    // Bytes of an embedded resource by its original file name; empty when missing.
    using ResourceLookup = std::function<juce::MemoryBlock (const juce::String& originalFileName)>;

    // Reads the embedded resource table.
    FigmaRenderer();
    explicit FigmaRenderer (ResourceLookup resources);

    void loadFontsFromBinaryData();
    juce::Typeface::Ptr getTypeface (const juce::String& family, int weight) const;
    void applyTheme (const juce::var& document);
    void loadDocuments();
    void buildElement (const juce::var& description, juce::Component& parent);
    void applyVisuals (FigmaElement& element, const juce::var& visuals);
    std::vector<std::unique_ptr<juce::Drawable>> splitSvgFilmstrip (const juce::String& fileName, int numFrames);

    FigmaElement* findElement (const juce::String& name) const;
    juce::TextEditor* getTextEditor (const juce::String& name) const;

    juce::Component root;
    int documentWidth = 800, documentHeight = 414;
    std::vector<std::unique_ptr<FigmaElement>> ownedElements;
    std::unordered_map<juce::String, FigmaElement*> elementsByName;
    std::unordered_map<juce::String, juce::Component*> widgetsByName;
    std::vector<std::unique_ptr<juce::Component>> ownedWidgets;
    std::unordered_map<juce::String, juce::Typeface::Ptr> typefaces;

    KeyboardThemeValues keyboardTheme;

private:
    juce::Image rasterImage (const juce::String& fileName);
    std::vector<juce::Image> rasterFrames (const juce::String& fileName, int numFrames, bool horizontal);

    ResourceLookup resources;
    std::unordered_map<juce::String, juce::Image> imageCache;
    std::unordered_map<juce::String, std::vector<juce::Image>> imageFrameCache;
    std::unordered_map<juce::String, std::vector<std::unique_ptr<juce::Drawable>>> svgFrameCache;
};

// An embedded resource (UIBinaryData) by its original file name; empty when missing.
juce::MemoryBlock findEmbeddedResource (const juce::String& originalFileName);

// A layout colour: "#rrggbb" (opaque) or "#aarrggbb", with an alpha factor
// that replaces the alpha when below 1. Empty text is transparent black.
juce::Colour parseHexColour (const juce::String& text, float alpha = 1.0f);

// The fonts the renderer registers: file, family, weight key (410: italic).
struct EmbeddedFont
{
    const char* file;
    const char* family;
    int weight;
};
inline constexpr EmbeddedFont kEmbeddedFonts[] {
    { "DMSans-VariableFont_opsz,wght.ttf", "DM Sans", 400 },
    { "DMSans-Bold.ttf", "DM Sans", 700 },
    { "DMSans-Italic-VariableFont_opsz,wght.ttf", "DM Sans", 410 },
    { "Roboto-VariableFont_wdth,wght.ttf", "Roboto", 400 },
};
