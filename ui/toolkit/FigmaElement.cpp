#include "ui/toolkit/FigmaElement.h"

#include <cmath>

namespace
{
bool isButtonSprite (int n) { return n == 2 || n == 3 || n == 4 || n == 6; }
int roundHalfEven (double v) { return (int) std::nearbyint (v); }
}

//==============================================================================
// Frame rule: which frame a button sprite shows for its state.

void FigmaElement::applyFrame (int newFrame)
{
    if (newFrame != frame)
    {
        frame = newFrame;
        repaint();
    }
}

void FigmaElement::enter()
{
    if (numFrames < 2)
        return;
    hovered = true;
    const int t = toggled ? 1 : 0;
    switch (numFrames)
    {
        case 2: applyFrame (t); break;
        case 3: applyFrame (2 - (pressed ? 1 : 0)); break;
        case 4: applyFrame (t + 2); break;
        case 6: applyFrame (pressed ? t + 2 : t + 4); break;
        default: break;
    }
}

void FigmaElement::leave()
{
    if (numFrames < 2)
        return;
    hovered = pressed = false;
    if (isButtonSprite (numFrames))
        applyFrame (numFrames == 3 ? 0 : (toggled ? 1 : 0));
}

void FigmaElement::mouseEnter (const juce::MouseEvent&)
{
    enter();

    // A button made of nested elements lights up as one.
    for (auto* p = getParentComponent(); p != nullptr; p = p->getParentComponent())
        if (auto* e = dynamic_cast<FigmaElement*> (p); e != nullptr && e->numFrames >= 2 && ! e->hovered)
            e->enter();

    if (hoverPartner != nullptr && ! hoverPartner->hovered)
        hoverPartner->enter();
}

void FigmaElement::mouseExit (const juce::MouseEvent&)
{
    leave();

    const auto mouse = juce::Desktop::getMousePosition();
    for (auto* p = getParentComponent(); p != nullptr; p = p->getParentComponent())
        if (auto* e = dynamic_cast<FigmaElement*> (p); e != nullptr && e->hovered && ! e->getScreenBounds().contains (mouse))
            e->leave();

    if (hoverPartner != nullptr && hoverPartner->hovered && ! hoverPartner->getScreenBounds().contains (mouse))
    {
        auto& h = *hoverPartner;
        h.hovered = false;
        const int t = h.toggled ? 1 : 0;
        if (h.numFrames == 2 || h.numFrames == 4)
            h.applyFrame (t);
        else if (h.numFrames == 3)
            h.applyFrame (h.pressed ? 1 : 0);
        else if (h.numFrames == 6)
            h.applyFrame (h.pressed ? t + 2 : t);
    }
}

void FigmaElement::mouseDown (const juce::MouseEvent& e)
{
    if (numFrames >= 128)
    {
        dragStartY = e.getPosition().y;
        dragStartValue = (float) frame / (float) (numFrames - 1);
        return;
    }

    if (numFrames >= 2)
    {
        pressed = true;
        const int t = toggled ? 1 : 0;
        switch (numFrames)
        {
            case 2: applyFrame (t); break;
            case 3: applyFrame (1); break;
            case 4: applyFrame (hovered ? t + 2 : t); break;
            case 6: applyFrame (t + 2); break;
            default: break;
        }
    }

    if (onMouseDown)
        onMouseDown (*this, e);
}

void FigmaElement::mouseDrag (const juce::MouseEvent& e)
{
    if (numFrames < 128)
    {
        if (onDrag)
            onDrag (*this, e);
        return;
    }

    const float span = e.mods.isShiftDown() ? 800.0f : 200.0f;
    const float value = juce::jlimit (0.0f, 1.0f, dragStartValue + (float) (dragStartY - e.getPosition().y) / span);
    const int f = roundHalfEven ((numFrames - 1) * (double) value);
    if (f != frame)
    {
        frame = f;
        repaint();
        if (onValueChange)
            onValueChange (*this, value);
    }
}

void FigmaElement::mouseUp (const juce::MouseEvent& e)
{
    if (numFrames >= 2)
        pressed = false;
    if (numFrames >= 128)
        return;

    if (numFrames >= 2)
    {
        if (! momentary && (numFrames == 2 || numFrames == 4 || numFrames == 6))
            toggled = ! toggled;

        const int t = toggled ? 1 : 0;
        switch (numFrames)
        {
            case 2: applyFrame (t); break;
            case 3: applyFrame (hovered ? 2 : 0); break;
            case 4: applyFrame (hovered ? t + 2 : t); break;
            case 6: applyFrame (hovered ? t + 4 : t); break;
            default: break;
        }

        if (onClick)
            onClick (*this, e);
        else if (onValueChange)
            onValueChange (*this, toggled ? 1.0f : 0.0f);
        return;
    }

    if (onClick)
        onClick (*this, e);
    else if (onValueChange)
        onValueChange (*this, 0.0f);
}

void FigmaElement::mouseDoubleClick (const juce::MouseEvent& e)
{
    if (onDoubleClick)
        onDoubleClick (*this, e);
}

juce::Font FigmaElement::textFont() const
{
    juce::Font font = typeface != nullptr ? juce::Font (typeface).withHeight (fontSize) : juce::Font (fontSize);
    if (letterSpacing != 0.0f)
        font.setExtraKerningFactor (letterSpacing);
    return font;
}

bool FigmaElement::hitTest (int x, int y)
{
    return hitTestFunction ? hitTestFunction (x, y) : juce::Component::hitTest (x, y);
}

void FigmaElement::visibilityChanged()
{
    if (isVisible() && backgroundBlur && ! backdropPending)
        backdropImage = {};
}

//==============================================================================
void FigmaElement::drawFrame (juce::Graphics& g, float alpha) const
{
    const auto bounds = getLocalBounds().toFloat();
    if (frameDrawables.empty())
    {
        if (! frameImages.empty())
            g.drawImage (frameImages[(size_t) juce::jlimit (0, (int) frameImages.size() - 1, frame)], bounds);
        else if (singleImage.isValid())
            g.drawImage (singleImage, bounds);
    }
    else if (frameDrawables.size() == 1 && numFrames > 1)
    {
        // One drawing holding the frames as a vertical strip.
        const juce::Graphics::ScopedSaveState save (g);
        g.reduceClipRegion (getLocalBounds());
        frameDrawables.front()->draw (g, alpha, juce::AffineTransform::translation (0.0f, (float) (-frame * getHeight())));
    }
    else
    {
        frameDrawables[(size_t) juce::jlimit (0, (int) frameDrawables.size() - 1, frame)]->draw (g, alpha);
    }
}

void FigmaElement::rebuildShadowSource()
{
    const int w = std::max (1, getWidth()), h = std::max (1, getHeight());
    shadowSource = juce::Image (juce::Image::ARGB, w, h, true);
    {
        juce::Graphics g (shadowSource);
        drawFrame (g, 1.0f);
    }
    shadowSourceFrame = frame;
    if (! dropShadow.on)
        return;

    const double sigma = dropShadow.blur * 0.5;
    const int r = (int) std::ceil (3.0 * sigma);
    const int spread = std::max (dropShadow.spread, 0);
    shadowPad = r + spread + 2;
    const int mw = w + 2 * shadowPad, mh = h + 2 * shadowPad;

    std::vector<uint8_t> m ((size_t) (mw * mh), 0);
    const juce::Image::BitmapData src (shadowSource, juce::Image::BitmapData::readOnly);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (src.getPixelColour (x, y).getAlpha() > 1)
                m[(size_t) ((y + shadowPad) * mw + x + shadowPad)] = 255;

    if (spread > 0)
    {
        auto dilated = m;
        for (int y = 0; y < mh; ++y)
            for (int x = 0; x < mw; ++x)
            {
                uint8_t best = 0;
                for (int dy = -spread; dy <= spread && best < 255; ++dy)
                    for (int dx = -spread; dx <= spread && best < 255; ++dx)
                    {
                        const int xx = x + dx, yy = y + dy;
                        if (dx * dx + dy * dy <= spread * spread && xx >= 0 && yy >= 0 && xx < mw && yy < mh)
                            best = std::max (best, m[(size_t) (yy * mw + xx)]);
                    }
                dilated[(size_t) (y * mw + x)] = best;
            }
        m.swap (dilated);
    }

    if (sigma >= 0.5)
    {
        std::vector<double> k ((size_t) (2 * r + 1));
        double sum = 0.0;
        for (int d = -r; d <= r; ++d)
            sum += (k[(size_t) (d + r)] = std::exp (-(double) (d * d) / (2.0 * sigma * sigma)));
        for (auto& v : k)
            v /= sum;

        std::vector<uint8_t> tmp (m.size());
        auto clampTo = [] (double v) { return (uint8_t) juce::jlimit (0, 255, juce::roundToInt (v)); };
        for (int y = 0; y < mh; ++y)
            for (int x = 0; x < mw; ++x)
            {
                double acc = 0.0;
                for (int d = -r; d <= r; ++d)
                    acc += k[(size_t) (d + r)] * m[(size_t) (y * mw + juce::jlimit (0, mw - 1, x + d))];
                tmp[(size_t) (y * mw + x)] = clampTo (acc);
            }
        for (int y = 0; y < mh; ++y)
            for (int x = 0; x < mw; ++x)
            {
                double acc = 0.0;
                for (int d = -r; d <= r; ++d)
                    acc += k[(size_t) (d + r)] * tmp[(size_t) (juce::jlimit (0, mh - 1, y + d) * mw + x)];
                m[(size_t) (y * mw + x)] = clampTo (acc);
            }
    }

    // The shadow never shows through the element itself.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (src.getPixelColour (x, y).getAlpha() > 1)
            {
                const int xx = x + shadowPad - dropShadow.offsetX, yy = y + shadowPad - dropShadow.offsetY;
                if (xx >= 0 && yy >= 0 && xx < mw && yy < mh)
                    m[(size_t) (yy * mw + xx)] = 0;
            }

    shadowMask = juce::Image (juce::Image::SingleChannel, mw, mh, true);
    const juce::Image::BitmapData out (shadowMask, juce::Image::BitmapData::writeOnly);
    for (int y = 0; y < mh; ++y)
        for (int x = 0; x < mw; ++x)
            *out.getPixelPointer (x, y) = m[(size_t) (y * mw + x)];
}

void FigmaElement::rebuildInnerShadow()
{
    if (shadowSource.isNull() || shadowSourceFrame != frame)
        rebuildShadowSource();

    const int w = shadowSource.getWidth(), h = shadowSource.getHeight();
    const int b = std::max (0, innerShadow.blur);
    const int k = std::max (std::abs (innerShadow.offsetX), std::abs (innerShadow.offsetY));
    const int pad = b + k + 1;
    const int pw = w + 2 * pad, ph = h + 2 * pad;

    juce::Image p (juce::Image::SingleChannel, pw, ph, false);
    {
        const juce::Image::BitmapData src (shadowSource, juce::Image::BitmapData::readOnly);
        const juce::Image::BitmapData dst (p, juce::Image::BitmapData::writeOnly);
        for (int y = 0; y < ph; ++y)
            for (int x = 0; x < pw; ++x)
            {
                const int sx = x - pad, sy = y - pad;
                const bool inside = sx >= 0 && sy >= 0 && sx < w && sy < h;
                *dst.getPixelPointer (x, y) = (uint8_t) (inside ? 255 - src.getPixelColour (sx, sy).getAlpha() : 255);
            }
    }
    if (b > 0)
    {
        juce::ImageConvolutionKernel kernel (2 * b + 1);
        kernel.createGaussianBlur ((float) b);
        kernel.applyToImage (p, p, p.getBounds());
    }

    innerShadowImage = juce::Image (juce::Image::ARGB, w, h, true);
    const juce::Image::BitmapData src (shadowSource, juce::Image::BitmapData::readOnly);
    const juce::Image::BitmapData blurred (p, juce::Image::BitmapData::readOnly);
    const juce::Image::BitmapData dst (innerShadowImage, juce::Image::BitmapData::writeOnly);
    const auto c = innerShadow.colour;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
        {
            const int px = x + pad + innerShadow.offsetX, py = y + pad + innerShadow.offsetY;
            if (px < 0 || py < 0 || px >= pw || py >= ph)
                continue;
            const double a = src.getPixelColour (x, y).getAlpha() / 255.0;
            const double s = *blurred.getPixelPointer (px, py) / 255.0;
            const int v = juce::jlimit (0, 255, (int) (a * s * c.getAlpha()));
            if (v > 0)
                dst.setPixelColour (x, y, c.withAlpha ((juce::uint8) v));
        }
    innerShadowFrame = frame;
}

void FigmaElement::postBackdropJob()
{
    juce::Component::SafePointer<FigmaElement> self (this);
    juce::MessageManager::callAsync ([self]
    {
        if (self == nullptr || self->backdropPending || self->getParentComponent() == nullptr)
            return;

        auto& e = *self;
        auto* parent = e.getParentComponent();
        e.backdropPending = true;

        std::vector<juce::Component*> hidden;
        for (int i = parent->getNumChildComponents(); --i >= 0;)
        {
            auto* child = parent->getChildComponent (i);
            if (child->isVisible())
            {
                child->setVisible (false);
                hidden.push_back (child);
                if (auto* fe = dynamic_cast<FigmaElement*> (child))
                    fe->backdropPending = true;
            }
            if (child == &e)
                break;
        }

        auto snapshot = parent->createComponentSnapshot (e.getBounds());
        for (auto it = hidden.rbegin(); it != hidden.rend(); ++it)
        {
            (*it)->setVisible (true);
            if (auto* fe = dynamic_cast<FigmaElement*> (*it); fe != nullptr && fe != &e)
                fe->backdropPending = false;
        }

        const float radius = std::max (0.5f, e.backgroundBlurRadius);
        const int n = juce::roundToInt (2.0f * radius) | 1;
        juce::ImageConvolutionKernel kernel (n);
        kernel.createGaussianBlur (radius);
        auto blurred = snapshot.createCopy();
        kernel.applyToImage (blurred, snapshot, snapshot.getBounds());
        e.backdropImage = blurred;
        e.backdropPending = false;
        e.repaint();
    });
}

//==============================================================================
juce::Rectangle<int> FigmaElement::textBox() const
{
    const int w = getWidth(), h = getHeight();
    if (! hasTextBounds)
        return getLocalBounds();

    const int H = juce::roundToInt (fontSize);
    const auto& t = textBounds;
    const bool imageOrFill = hasAnyImage() || fillColour.getAlpha() != 0;

    if (dynamicText && imageOrFill)
    {
        const int top = t.getY() + t.getHeight() / 2 - H / 2;
        if (textJustification.testFlags (juce::Justification::horizontallyCentred))
        {
            const int c = t.getX() + t.getWidth() / 2;
            const int m = std::max (c, w - c);
            return { c - m, top, 2 * m, H };
        }
        if (textJustification.testFlags (juce::Justification::right))
            return { 0, top, t.getRight(), H };
        return { t.getX(), top, w - t.getX(), H };
    }
    if (dynamicText)
        return { t.getX(), t.getY(), w - t.getX(), std::max (H, t.getHeight()) + (int) std::ceil (0.2 * fontSize) };
    if (imageOrFill)
        return { t.getX(), t.getY() + t.getHeight() / 2 - H / 2, t.getWidth(), H };
    return fontSize >= (float) h ? t.withHeight (t.getHeight() + (int) std::ceil (0.5 * fontSize)) : t;
}

void FigmaElement::paint (juce::Graphics& g)
{
    const auto bounds = getLocalBounds().toFloat();
    if (opacity < 1.0f)
        g.setOpacity (opacity);

    if (backgroundBlur)
    {
        if (backdropImage.isValid())
            g.drawImageAt (backdropImage, 0, 0);
        else if (! backdropPending)
            postBackdropJob();
    }

    if (fillColour.getAlpha() != 0)
    {
        g.setColour (fillColour.withMultipliedAlpha (opacity < 1.0f ? opacity : 1.0f));
        if (cornerRadius > 0.0f)
            g.fillRoundedRectangle (bounds, cornerRadius);
        else
            g.fillRect (bounds);
    }

    if (radialGradient && ! gradientStops.empty())
    {
        const float w = bounds.getWidth(), h = bounds.getHeight();
        juce::ColourGradient gradient (gradientStops.front().colour, gradientCx * w, gradientCy * h,
                                       gradientStops.back().colour, gradientEx * w, gradientEy * h, true);
        gradient.clearColours();
        for (const auto& stop : gradientStops)
            gradient.addColour (juce::jlimit (0.0, 1.0, (double) stop.position), stop.colour);
        g.setGradientFill (gradient);
        if (cornerRadius > 0.0f)
            g.fillRoundedRectangle (bounds, cornerRadius);
        else
            g.fillRect (bounds);
        g.setColour (juce::Colours::white);
    }

    if (dropShadow.on && ! isBg)
    {
        if (shadowSource.isNull() || shadowSourceFrame != frame)
            rebuildShadowSource();
        const auto c = dropShadow.colour;
        g.setColour (opacity < 1.0f ? c.withMultipliedAlpha (opacity) : c);
        g.drawImageAt (shadowMask, dropShadow.offsetX - shadowPad, dropShadow.offsetY - shadowPad, true);
    }

    drawFrame (g, opacity);

    if (innerShadow.on)
    {
        if (innerShadowImage.isNull() || innerShadowFrame != frame)
            rebuildInnerShadow();
        g.drawImageAt (innerShadowImage, 0, 0);
    }

    if (strokeColour.getAlpha() != 0 && strokeWeight > 0.0f)
    {
        g.setColour (strokeColour);
        if (cornerRadius > 0.0f)
        {
            const auto r = bounds.reduced (strokeWeight / 2.0f);
            g.drawRoundedRectangle (r.withWidth (std::max (0.0f, r.getWidth())).withHeight (std::max (0.0f, r.getHeight())),
                                    cornerRadius, strokeWeight);
        }
        else
        {
            g.drawRect (bounds, strokeWeight);
        }
    }

    if (textContent.isNotEmpty() && fontSize > 0.0f && (dynamicText || ! hasAnyImage()))
    {
        g.setColour (opacity < 1.0f ? textColour.withMultipliedAlpha (opacity) : textColour);
        g.setFont (textFont());
        g.drawText (textContent, textBox(), textJustification, true);
    }

    if (opacity < 1.0f)
        g.setOpacity (1.0f);
}
