#include "ui/toolkit/FigmaRenderer.h"

#include <cmath>
#include <iostream>

#include "ui/toolkit/FilmstripSlider.h"
#include "UIBinaryData.h"

namespace
{
int roundHalfEven (double v) { return (int) std::nearbyint (v); }

juce::String frameKey (const juce::String& file, int frames) { return file + "|" + juce::String (frames); }

juce::String typefaceKey (const juce::String& family, int weight) { return family + "|" + juce::String (weight); }

juce::Colour shadowColour (const juce::var& shadow)
{
    const auto rgb = parseHexColour (shadow["color"].toString());
    const double a = (double) shadow["alpha"];
    const auto alpha = (juce::uint8) (a <= 0.0 ? 0 : (a >= 1.0 ? 255 : juce::roundToInt (a * 255.0)));
    return rgb.withAlpha (alpha);
}

void readTextStyle (FigmaElement& e, const juce::var& style)
{
    if (style.hasProperty ("color"))
        e.textColour = parseHexColour (style["color"].toString());
    if (style.hasProperty ("fontSize"))
        e.fontSize = (float) (double) style["fontSize"];
    if (style.hasProperty ("fontFamily"))
        e.fontFamily = style["fontFamily"].toString();
    if (style.hasProperty ("fontWeight"))
        e.fontWeight = (int) style["fontWeight"];
    if (style.hasProperty ("textAlignHorizontal"))
    {
        const auto align = style["textAlignHorizontal"].toString();
        e.textJustification = align == "CENTER" ? juce::Justification::centredTop
                            : align == "RIGHT" ? juce::Justification::topRight
                                               : juce::Justification::topLeft;
    }
    if (style.hasProperty ("letterSpacing"))
        e.letterSpacing = (float) (double) style["letterSpacing"] / 100.0f;
}
}

juce::Colour parseHexColour (const juce::String& text, float alpha)
{
    if (text.isEmpty())
        return juce::Colour (0x00000000);

    const auto digits = "ff" + (text.startsWith ("#") ? text.substring (1) : text);
    auto argb = (juce::uint32) digits.getHexValue64();
    if (alpha < 1.0f)
    {
        const auto a = alpha <= 0.0f ? 0u : (juce::uint32) juce::roundToInt (alpha * 255.0f);
        argb = (argb & 0x00FFFFFFu) | (a << 24);
    }
    return juce::Colour (argb);
}

juce::MemoryBlock findEmbeddedResource (const juce::String& originalFileName)
{
    for (int i = 0; i < UIBinaryData::namedResourceListSize; ++i)
    {
        const char* id = UIBinaryData::namedResourceList[i];
        if (originalFileName != UIBinaryData::getNamedResourceOriginalFilename (id))
            continue;
        int size = 0;
        if (const char* data = UIBinaryData::getNamedResource (id, size); data != nullptr && size > 0)
            return { data, (size_t) size };
        return {};
    }
    return {};
}

FigmaRenderer::FigmaRenderer() : FigmaRenderer (findEmbeddedResource) {}

FigmaRenderer::FigmaRenderer (ResourceLookup lookup) : resources (std::move (lookup)) {}

void FigmaRenderer::loadFontsFromBinaryData()
{
    for (const auto& font : kEmbeddedFonts)
    {
        const auto data = resources (font.file);
        if (data.isEmpty())
            continue;
        if (auto typeface = juce::Typeface::createSystemTypefaceFor (data.getData(), data.getSize()))
            typefaces[typefaceKey (font.family, font.weight)] = typeface;
    }
}

juce::Typeface::Ptr FigmaRenderer::getTypeface (const juce::String& family, int weight) const
{
    const auto it = typefaces.find (typefaceKey (family, weight));
    return it != typefaces.end() ? it->second : nullptr;
}

void FigmaRenderer::applyTheme (const juce::var& document)
{
    applyThemeDocument (document, DropdownMenu::getSharedTheme(), keyboardTheme,
                        [this] (const juce::String& family, int weight) { return getTypeface (family, weight); });
}

void FigmaRenderer::loadDocuments()
{
    loadFontsFromBinaryData();

    if (const auto theme = resources ("theme.json"); ! theme.isEmpty())
        applyTheme (juce::JSON::parse (theme.toString()));

    const auto layout = resources ("figma-elements.json");
    if (layout.isEmpty())
        return;

    const auto doc = juce::JSON::parse (layout.toString());
    documentWidth = (int) doc["width"];
    documentHeight = (int) doc["height"];
    root.setSize (documentWidth, documentHeight);
    if (const auto* elements = doc["elements"].getArray())
        for (const auto& e : *elements)
            buildElement (e, root);
}

juce::Image FigmaRenderer::rasterImage (const juce::String& fileName)
{
    if (const auto it = imageCache.find (fileName); it != imageCache.end())
        return it->second;

    const auto data = resources (fileName);
    if (data.isEmpty())
        return {};
    const auto image = juce::ImageFileFormat::loadFrom (data.getData(), data.getSize());
    if (image.isValid())
        imageCache[fileName] = image;
    return image;
}

std::vector<juce::Image> FigmaRenderer::rasterFrames (const juce::String& fileName, int n, bool horizontal)
{
    const auto key = frameKey (fileName, n);
    if (const auto it = imageFrameCache.find (key); it != imageFrameCache.end())
        return it->second;

    const auto image = rasterImage (fileName);
    if (! image.isValid() || n <= 0)
        return {};

    std::vector<juce::Image> frames;
    const int w = image.getWidth(), h = image.getHeight();
    for (int i = 0; i < n; ++i)
        frames.push_back (horizontal ? image.getClippedImage ({ i * (w / n), 0, w / n, h })
                                     : image.getClippedImage ({ 0, i * (h / n), w, h / n }));
    imageFrameCache[key] = frames;
    return frames;
}

std::vector<std::unique_ptr<juce::Drawable>> FigmaRenderer::splitSvgFilmstrip (const juce::String& fileName, int numFrames)
{
    auto copies = [] (const std::vector<std::unique_ptr<juce::Drawable>>& list)
    {
        std::vector<std::unique_ptr<juce::Drawable>> out;
        for (const auto& d : list)
            out.push_back (d->createCopy());
        return out;
    };

    const auto key = frameKey (fileName, numFrames);
    if (const auto it = svgFrameCache.find (key); it != svgFrameCache.end())
        return copies (it->second);

    const auto data = resources (fileName);
    const auto xml = data.isEmpty() ? nullptr : juce::parseXML (data.toString());
    if (xml == nullptr)
    {
        std::cerr << "FigmaRenderer: failed to parse SVG XML: " << fileName << std::endl;
        return {};
    }

    std::vector<const juce::XmlElement*> nested;
    for (auto* child : xml->getChildIterator())
        if (child->hasTagName ("svg"))
            nested.push_back (child);

    std::vector<std::unique_ptr<juce::Drawable>> frames;
    if ((int) nested.size() < numFrames)
    {
        if (auto d = juce::Drawable::createFromSVG (*xml))
            frames.push_back (std::move (d));
    }
    else
    {
        for (int i = 0; i < numFrames; ++i)
        {
            const auto& child = *nested[(size_t) i];
            juce::XmlElement svg ("svg");
            svg.setAttribute ("xmlns", "http://www.w3.org/2000/svg");
            svg.setAttribute ("width", child.getStringAttribute ("width", "0"));
            svg.setAttribute ("height", child.getStringAttribute ("height", "0"));
            if (child.getStringAttribute ("viewBox").isNotEmpty())
                svg.setAttribute ("viewBox", child.getStringAttribute ("viewBox"));
            if (child.getStringAttribute ("fill").isNotEmpty())
                svg.setAttribute ("fill", child.getStringAttribute ("fill"));
            for (auto* grandchild : child.getChildIterator())
                svg.addChildElement (new juce::XmlElement (*grandchild));
            if (auto d = juce::Drawable::createFromSVG (svg))
                frames.push_back (std::move (d));
        }
    }

    auto result = copies (frames);
    svgFrameCache[key] = std::move (frames);
    return result;
}

void FigmaRenderer::applyVisuals (FigmaElement& e, const juce::var& v)
{
    if (v.hasProperty ("bg"))
    {
        const double factor = v.hasProperty ("bgOpacity") ? (double) v["bgOpacity"] : 1.0;
        e.fillColour = parseHexColour (v["bg"].toString(), (float) factor);
    }
    else if (const auto* fills = v["fills"].getArray(); fills != nullptr && ! fills->isEmpty())
    {
        e.fillColour = parseHexColour ((*fills)[0]["color"].toString());
    }

    if (const auto* strokes = v["strokes"].getArray(); strokes != nullptr && ! strokes->isEmpty())
        e.strokeColour = parseHexColour ((*strokes)[0]["color"].toString());
    if (v.hasProperty ("strokeWeight"))
        e.strokeWeight = (float) (double) v["strokeWeight"];
    if (v.hasProperty ("radius"))
        e.cornerRadius = (float) (double) v["radius"];

    if (const auto& g = v["radialGradient"]; g.isObject())
    {
        e.radialGradient = true;
        e.gradientCx = (float) (double) g["cx"];
        e.gradientCy = (float) (double) g["cy"];
        e.gradientEx = (float) (double) g["ex"];
        e.gradientEy = (float) (double) g["ey"];
        if (const auto* stops = g["stops"].getArray())
            for (const auto& stop : *stops)
            {
                const double alpha = stop.hasProperty ("alpha") ? (double) stop["alpha"] : 1.0;
                e.gradientStops.push_back ({ (float) (double) stop["pos"], parseHexColour (stop["color"].toString(), (float) alpha) });
            }
    }

    readTextStyle (e, v);
}

void FigmaRenderer::buildElement (const juce::var& d, juce::Component& parent)
{
    if (! d.isObject())
        return;

    ownedElements.push_back (std::make_unique<FigmaElement>());
    auto& e = *ownedElements.back();
    e.elementName = d["name"].toString();
    e.designBounds = { (float) (double) d["x"], (float) (double) d["y"], (float) (double) d["width"], (float) (double) d["height"] };
    e.setBounds (roundHalfEven (e.designBounds.getX()), roundHalfEven (e.designBounds.getY()),
                 roundHalfEven (e.designBounds.getWidth()), roundHalfEven (e.designBounds.getHeight()));

    e.isBg = (bool) d["isBg"];
    if (d.hasProperty ("opacity"))
        e.opacity = (float) (double) d["opacity"];
    e.numFrames = d.hasProperty ("numFrames") ? (int) d["numFrames"] : 1;
    e.isHorizontal = (bool) d["isHorizontal"];
    if (e.numFrames < 2)
        e.setInterceptsMouseClicks (false, true);

    if (const auto img = d["imgFile"].toString(); img.isNotEmpty())
    {
        if (img.endsWithIgnoreCase (".svg"))
            e.frameDrawables = splitSvgFilmstrip (img, e.numFrames);
        else if (e.numFrames < 2)
            e.singleImage = rasterImage (img);
        else
            e.frameImages = rasterFrames (img, e.numFrames, e.isHorizontal);
    }

    e.textContent = d["textContent"].toString();
    e.dynamicText = (bool) d["dynamicText"];
    if (d["visuals"].isObject())
        applyVisuals (e, d["visuals"]);

    if (const auto& s = d["shadow"]; s.isObject())
    {
        e.dropShadow = { true, shadowColour (s), juce::roundToInt ((double) s["blur"]), juce::roundToInt ((double) s["offsetX"]),
                         juce::roundToInt ((double) s["offsetY"]), juce::roundToInt ((double) s["spread"]) };
    }
    if (const auto& s = d["innerShadow"]; s.isObject())
    {
        e.innerShadow = { true, shadowColour (s), juce::roundToInt ((double) s["blur"]), juce::roundToInt ((double) s["offsetX"]),
                          juce::roundToInt ((double) s["offsetY"]) };
    }
    if (d.hasProperty ("backgroundBlur"))
    {
        e.backgroundBlur = true;
        e.backgroundBlurRadius = (float) (double) d["backgroundBlur"];
        e.setInterceptsMouseClicks (true, true);
    }

    if (const auto& t = d["text"]; t.isObject())
    {
        readTextStyle (e, t);
        if (t.hasProperty ("x") && t.hasProperty ("y") && t.hasProperty ("width") && t.hasProperty ("height"))
        {
            e.textBounds = { (int) (double) t["x"], (int) (double) t["y"], (int) (double) t["width"], (int) (double) t["height"] };
            e.hasTextBounds = true;
        }
    }

    e.typeface = getTypeface (e.fontFamily, e.fontWeight);

    // Room for the text: an element lower than its text is raised.
    if (e.fontSize > 0.0f && e.hasTextBounds)
    {
        const int needed = std::max ((int) std::ceil (e.fontSize), e.textBounds.getHeight()) + e.textBounds.getY()
                         + (int) std::ceil (e.fontSize * 0.2f);
        if (e.getHeight() < needed)
            e.setSize (e.getWidth(), needed);
    }

    elementsByName[e.elementName] = &e;
    parent.addAndMakeVisible (e);

    if (const auto* children = d["children"].getArray())
        for (const auto& child : *children)
            buildElement (child, e);

    std::unique_ptr<juce::Component> widget;
    bool isTextEditor = false;
    if (e.numFrames >= 128 && (! e.frameDrawables.empty() || ! e.frameImages.empty()))
    {
        if (! e.frameDrawables.empty())
            widget = std::make_unique<FilmstripSlider> (std::move (e.frameDrawables), e.numFrames);
        else
            widget = std::make_unique<FilmstripSlider> (e.frameImages, e.numFrames);
        e.frameDrawables.clear();
    }
    else if (e.elementName.endsWith ("_text_input"))
    {
        auto editor = std::make_unique<juce::TextEditor>();
        const float size = e.fontSize > 0.0f ? e.fontSize : 14.0f;
        editor->setFont (e.typeface != nullptr ? juce::Font (e.typeface).withHeight (size) : juce::Font (size));
        editor->setColour (juce::TextEditor::textColourId, e.textColour);
        editor->setColour (juce::TextEditor::backgroundColourId, juce::Colours::transparentBlack);
        editor->setColour (juce::TextEditor::outlineColourId, juce::Colours::transparentBlack);
        editor->setColour (juce::TextEditor::focusedOutlineColourId, juce::Colours::transparentBlack);
        editor->setJustification (e.textJustification);
        widget = std::move (editor);
        isTextEditor = true;
    }

    if (widget != nullptr)
    {
        if (isTextEditor)
            widget->setBounds (e.hasTextBounds ? juce::Rectangle<int> (e.textBounds.getX(), 0, e.getWidth() - e.textBounds.getX(), e.getHeight())
                                               : juce::Rectangle<int> (4, 2, std::max (0, e.getWidth() - 8), std::max (0, e.getHeight() - 4)));
        else
            widget->setBounds (e.getLocalBounds());
        e.addAndMakeVisible (*widget);
        widgetsByName[e.elementName] = widget.get();
        ownedWidgets.push_back (std::move (widget));
        e.textContent.clear();
        e.singleImage = {};
        e.frameImages.clear();
        e.setInterceptsMouseClicks (false, true);
    }
}

FigmaElement* FigmaRenderer::findElement (const juce::String& name) const
{
    const auto it = elementsByName.find (name);
    return it != elementsByName.end() ? it->second : nullptr;
}

juce::TextEditor* FigmaRenderer::getTextEditor (const juce::String& name) const
{
    const auto it = widgetsByName.find (name);
    return it != widgetsByName.end() ? dynamic_cast<juce::TextEditor*> (it->second) : nullptr;
}
