// Draws the editor's artwork, writes each image as a PNG file and packs them all into the image
// pack the application reads at start-up.
//
//   ArtworkGenerator <image directory> <pack file>
//
// Everything is drawn from code with fixed seeds and fonts, so every run writes the same bytes.
// Sizes follow where the user interface draws each image: "@2x" files hold twice the drawn size,
// the others the drawn size itself.

#include "ImagePackFormat.h"
#include "ImageResourceIds.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <vector>

namespace
{
using juce::Colour;
using juce::Graphics;
using juce::Rectangle;

// Palette.
const Colour kChassisTop (0xff2e2e33);
const Colour kChassisBottom (0xff161619);
const Colour kPanel (0xff1c1c20);
const Colour kPanelEdge (0xff3a3a40);
const Colour kInset (0xff0e0e10);
const Colour kRed (0xffcf1818);
const Colour kCaption (0xffbdbdbd);
const Colour kDim (0xff7a7a7a);
const Colour kMetalLight (0xff8c8c92);
const Colour kMetalDark (0xff2a2a2e);

const char* const kTypeface = "DejaVu Sans";

// Knob scales sweep 270 degrees, from 7:30 to 4:30 on a clock face.
constexpr float kDialStartAngle = -0.75f * juce::MathConstants<float>::pi;
constexpr float kDialEndAngle = 0.75f * juce::MathConstants<float>::pi;

// Main page geometry (design pixels): knob grid and selector switches.
constexpr int kKnobSize = 136;
constexpr int kKnobColumnPitch = 149;
constexpr int kKnobRowPitch = 185;
constexpr int kKnobLeft = 21;
constexpr int kKnobTop = 80;
constexpr int kSwitchPitch = 150;
constexpr int kSwitchLeft = 142;
constexpr int kSwitchTop = 193;
constexpr int kSwitchWidth = 40;
constexpr int kSwitchHeight = 104;

// The tab header stands at (26, 440) on the main page; its tab hot spots sit along its foot.
constexpr int kTabHeaderX = 26;
constexpr int kTabHeaderY = 440;

juce::Font font (float height, bool bold = false)
{
    return juce::Font (kTypeface, height, bold ? juce::Font::bold : juce::Font::plain);
}

juce::Point<float> pointOnCircle (juce::Point<float> centre, float radius, float angle)
{
    return { centre.x + radius * std::sin (angle), centre.y - radius * std::cos (angle) };
}

float dialAngle (int frame, int frameCount)
{
    return kDialStartAngle + (kDialEndAngle - kDialStartAngle) * (float) frame / (float) (frameCount - 1);
}

// An image of `width` x `height` design pixels at `scale` device pixels each.
juce::Image drawImage (int width, int height, int scale, const std::function<void (Graphics&)>& paint)
{
    juce::Image image (juce::Image::ARGB, width * scale, height * scale, true, juce::SoftwareImageType());
    Graphics g (image);
    g.addTransform (juce::AffineTransform::scale ((float) scale));
    paint (g);
    return image;
}

void drawEngravedText (Graphics& g, const juce::String& text, Rectangle<float> area, float height,
                       Colour colour, juce::Justification justification = juce::Justification::centred)
{
    g.setFont (font (height, true).withExtraKerningFactor (0.08f));
    g.setColour (juce::Colours::black.withAlpha (0.6f));
    g.drawText (text, area.translated (0.0f, 1.0f), justification, false);
    g.setColour (colour);
    g.drawText (text, area, justification, false);
}

// ---- Unit body ------------------------------------------------------------------------------

void paintScaleTicks (Graphics& g, juce::Point<float> centre, float inner, float outer)
{
    constexpr int kTicks = 11;
    for (int i = 0; i < kTicks; ++i)
    {
        const float angle = dialAngle (i, kTicks);
        const bool major = (i % 5) == 0;
        g.setColour (major ? kCaption : kDim);
        g.drawLine ({ pointOnCircle (centre, inner, angle), pointOnCircle (centre, major ? outer + 2.0f : outer, angle) },
                    major ? 1.6f : 1.0f);
    }
}

void paintBody (Graphics& g)
{
    const Rectangle<float> all (0.0f, 0.0f, 624.0f, 890.0f);

    g.setGradientFill ({ kChassisTop, 0.0f, 0.0f, kChassisBottom, 0.0f, 890.0f, false });
    g.fillAll();

    // Brushed finish: faint horizontal streaks from a fixed seed.
    juce::Random random (0x70a4e);
    for (int i = 0; i < 700; ++i)
    {
        const float y = random.nextFloat() * 890.0f;
        const float x = random.nextFloat() * 624.0f;
        const float length = 40.0f + random.nextFloat() * 220.0f;
        g.setColour (juce::Colours::white.withAlpha (0.012f + 0.02f * random.nextFloat()));
        g.drawLine (x, y, x + length, y, 0.5f);
    }

    g.setColour (kPanelEdge);
    g.drawRoundedRectangle (all.reduced (1.5f), 14.0f, 2.0f);

    // Top bar with the window buttons, the file menu and the save button.
    const Rectangle<float> topBar (6.0f, 4.0f, 612.0f, 44.0f);
    g.setColour (juce::Colours::black.withAlpha (0.45f));
    g.fillRoundedRectangle (topBar, 9.0f);
    g.setColour (kPanelEdge);
    g.drawRoundedRectangle (topBar, 9.0f, 1.0f);
    drawEngravedText (g, "TOVAREK", { 72.0f, 12.0f, 120.0f, 28.0f }, 20.0f, kCaption, juce::Justification::centredLeft);
    drawEngravedText (g, "MK2", { 184.0f, 12.0f, 60.0f, 28.0f }, 20.0f, kRed, juce::Justification::centredLeft);

    // Amp section: recessed plate behind the knob grid.
    const Rectangle<float> ampPlate (12.0f, 60.0f, 600.0f, 372.0f);
    g.setColour (juce::Colours::black.withAlpha (0.3f));
    g.fillRoundedRectangle (ampPlate, 12.0f);
    g.setColour (kPanelEdge.withAlpha (0.8f));
    g.drawRoundedRectangle (ampPlate, 12.0f, 1.0f);

    for (int row = 0; row < 2; ++row)
    {
        for (int column = 0; column < 4; ++column)
        {
            const juce::Point<float> centre ((float) (kKnobLeft + column * kKnobColumnPitch) + kKnobSize / 2.0f,
                                             (float) (kKnobTop + row * kKnobRowPitch) + kKnobSize / 2.0f);
            g.setColour (juce::Colours::black.withAlpha (0.5f));
            g.fillEllipse (Rectangle<float> (116.0f, 116.0f).withCentre (centre).translated (0.0f, 3.0f));
            paintScaleTicks (g, centre, 60.0f, 65.0f);
        }
    }

    // Selector switches: amp slot, cabinet slot, preset.
    const char* const switchCaptions[] = { "AMP", "CAB", "PRESET" };
    for (int i = 0; i < 3; ++i)
    {
        const float x = (float) (kSwitchLeft + i * kSwitchPitch);
        const Rectangle<float> slot (x - 4.0f, (float) kSwitchTop - 4.0f, kSwitchWidth + 8.0f, kSwitchHeight + 8.0f);
        g.setColour (kInset);
        g.fillRoundedRectangle (slot, 8.0f);
        g.setColour (kPanelEdge);
        g.drawRoundedRectangle (slot, 8.0f, 1.0f);
        // The caption sits left of the switch, in the one band that the knob scales leave free.
        drawEngravedText (g, switchCaptions[i], { x - 72.0f, 236.0f, 64.0f, 18.0f }, 12.0f, kCaption,
                          juce::Justification::centredRight);

        for (int position = 0; position < 3; ++position)
        {
            const float y = (float) kSwitchTop + (float) kSwitchHeight * (position + 0.5f) / 3.0f;
            drawEngravedText (g, juce::String (position + 1), { x + kSwitchWidth + 6.0f, y - 8.0f, 14.0f, 16.0f }, 11.0f, kDim);
        }
    }

    // The tabbed lower section is covered by the tab header; a plain plate shows at its edges.
    g.setColour (kPanel);
    g.fillRoundedRectangle ({ (float) kTabHeaderX - 2.0f, (float) kTabHeaderY - 2.0f, 576.0f, 432.0f }, 12.0f);
}

// ---- Tab headers ----------------------------------------------------------------------------

struct TabSpot
{
    const char* caption;
    Rectangle<float> bounds; // main-page coordinates of the tab's hot spot
};

const TabSpot kTabs[] = {
    { "GLOBAL",       { 30.0f, 822.0f, 192.0f, 48.0f } },
    { "FOOTSWITCHES", { 223.0f, 822.0f, 188.0f, 48.0f } },
    { "ABOUT",        { 412.0f, 822.0f, 186.0f, 48.0f } },
};

void paintTabHeader (Graphics& g, int selectedTab)
{
    const Rectangle<float> all (0.0f, 0.0f, 572.0f, 428.0f);
    g.setGradientFill ({ kPanel.brighter (0.06f), 0.0f, 0.0f, kPanel.darker (0.2f), 0.0f, 428.0f, false });
    g.fillRoundedRectangle (all, 12.0f);
    g.setColour (kPanelEdge);
    g.drawRoundedRectangle (all.reduced (0.5f), 12.0f, 1.0f);

    drawEngravedText (g, "SIGNAL CHAIN", { 16.0f, 6.0f, 200.0f, 20.0f }, 12.0f, kDim, juce::Justification::centredLeft);

    // The FX panel area (the viewport at (36, 548, 562, 270) on the main page).
    const Rectangle<float> panel (10.0f - 4.0f, 108.0f - 4.0f, 562.0f + 4.0f, 270.0f + 8.0f);
    g.setColour (kInset.withAlpha (0.7f));
    g.fillRoundedRectangle (panel, 8.0f);

    for (int i = 0; i < 3; ++i)
    {
        const auto spot = kTabs[i].bounds.translated (-(float) kTabHeaderX, -(float) kTabHeaderY).reduced (2.0f, 0.0f);
        const auto body = spot.withHeight (spot.getHeight() - 4.0f);
        const bool selected = (i == selectedTab);

        g.setColour (selected ? kPanelEdge.brighter (0.2f) : kInset);
        g.fillRoundedRectangle (body, 6.0f);
        g.setColour (kPanelEdge);
        g.drawRoundedRectangle (body, 6.0f, 1.0f);
        if (selected)
        {
            g.setColour (kRed);
            g.fillRect (body.withTop (body.getBottom() - 3.0f).reduced (10.0f, 0.0f));
        }
        drawEngravedText (g, kTabs[i].caption, body, 16.0f, selected ? juce::Colours::white : kDim);
    }
}

// ---- Knob film strips -----------------------------------------------------------------------

struct DialStyle
{
    int frameWidth;
    int frameHeight;
    juce::Point<float> centre;
    float radius;     // knob cap
    float arcRadius;  // value arc around it
    bool readoutWell; // a dark well under the knob for the value read-out
};

void paintDialFrame (Graphics& g, const DialStyle& style, float angle)
{
    const auto c = style.centre;
    const float r = style.radius;

    if (style.readoutWell)
    {
        g.setColour (kInset.withAlpha (0.85f));
        g.fillRoundedRectangle ({ 15.0f, 111.0f, 108.0f, 32.0f }, 6.0f);
    }

    // Value arc: a dim track over the whole sweep, lit red up to the pointer.
    juce::Path track;
    track.addCentredArc (c.x, c.y, style.arcRadius, style.arcRadius, 0.0f, kDialStartAngle, kDialEndAngle, true);
    g.setColour (kInset);
    g.strokePath (track, juce::PathStrokeType (4.0f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
    if (angle > kDialStartAngle)
    {
        juce::Path lit;
        lit.addCentredArc (c.x, c.y, style.arcRadius, style.arcRadius, 0.0f, kDialStartAngle, angle, true);
        g.setColour (kRed);
        g.strokePath (lit, juce::PathStrokeType (3.0f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
    }

    // Shadow, knurled skirt, then the cap with its light from above.
    g.setColour (juce::Colours::black.withAlpha (0.55f));
    g.fillEllipse (Rectangle<float> (2.0f * r + 6.0f, 2.0f * r + 6.0f).withCentre (c.translated (0.0f, 3.0f)));
    g.setGradientFill ({ kMetalLight.darker (0.4f), c.x, c.y - r, kMetalDark.darker (0.5f), c.x, c.y + r, false });
    g.fillEllipse (Rectangle<float> (2.0f * r, 2.0f * r).withCentre (c));

    constexpr int kGrips = 36;
    g.setColour (juce::Colours::black.withAlpha (0.35f));
    for (int i = 0; i < kGrips; ++i)
    {
        const float a = angle + juce::MathConstants<float>::twoPi * (float) i / kGrips;
        g.drawLine ({ pointOnCircle (c, r * 0.82f, a), pointOnCircle (c, r - 0.5f, a) }, 1.0f);
    }

    const float capRadius = r * 0.78f;
    g.setGradientFill ({ kMetalLight, c.x, c.y - capRadius, kMetalDark, c.x, c.y + capRadius, false });
    g.fillEllipse (Rectangle<float> (2.0f * capRadius, 2.0f * capRadius).withCentre (c));
    g.setColour (juce::Colours::white.withAlpha (0.12f));
    g.drawEllipse (Rectangle<float> (2.0f * capRadius, 2.0f * capRadius).withCentre (c).reduced (0.5f), 1.0f);

    // Pointer.
    g.setColour (juce::Colours::white);
    g.drawLine ({ pointOnCircle (c, capRadius * 0.25f, angle), pointOnCircle (c, capRadius - 2.0f, angle) }, r * 0.09f);
}

juce::Image drawDialFilm (const DialStyle& style, int scale)
{
    return drawImage (style.frameWidth, style.frameHeight * kDialFilmFrameCount, scale, [&] (Graphics& g) {
        for (int frame = 0; frame < kDialFilmFrameCount; ++frame)
        {
            juce::Graphics::ScopedSaveState state (g);
            g.reduceClipRegion (0, frame * style.frameHeight, style.frameWidth, style.frameHeight);
            g.setOrigin (0, frame * style.frameHeight);
            paintDialFrame (g, style, dialAngle (frame, kDialFilmFrameCount));
        }
    });
}

// ---- Switches and buttons -------------------------------------------------------------------

void paintSwitch (Graphics& g, int position)
{
    const Rectangle<float> slot (12.0f, 4.0f, 16.0f, 96.0f);
    g.setColour (juce::Colours::black);
    g.fillRoundedRectangle (slot, 8.0f);

    const float leverTop = 4.0f + 33.0f * (float) position;
    const Rectangle<float> lever (4.0f, leverTop, 32.0f, 30.0f);
    g.setColour (juce::Colours::black.withAlpha (0.5f));
    g.fillRoundedRectangle (lever.translated (0.0f, 2.0f), 6.0f);
    g.setGradientFill ({ kMetalLight.brighter (0.3f), 0.0f, lever.getY(), kMetalDark, 0.0f, lever.getBottom(), false });
    g.fillRoundedRectangle (lever, 6.0f);
    g.setColour (juce::Colours::black.withAlpha (0.4f));
    for (int i = 0; i < 3; ++i)
    {
        const float y = lever.getY() + 10.0f + 5.0f * (float) i;
        g.drawLine (lever.getX() + 7.0f, y, lever.getRight() - 7.0f, y, 1.0f);
    }
    g.setColour (kRed);
    g.fillRect (lever.getX() + 2.0f, lever.getY() + 2.0f, 3.0f, lever.getHeight() - 4.0f);
}

enum class WindowGlyph { close, maximise, minimise };

void paintWindowButton (Graphics& g, WindowGlyph glyph, bool on)
{
    const Rectangle<float> body (3.0f, 3.0f, 30.0f, 30.0f);
    g.setColour (on ? (glyph == WindowGlyph::close ? kRed : kPanelEdge.brighter (0.4f)) : kMetalDark);
    g.fillEllipse (body);
    g.setColour (on ? juce::Colours::white.withAlpha (0.5f) : kPanelEdge);
    g.drawEllipse (body.reduced (0.5f), 1.0f);

    g.setColour (on ? juce::Colours::white : kCaption);
    const auto c = body.getCentre();
    switch (glyph)
    {
        case WindowGlyph::close:
            g.drawLine (c.x - 6.0f, c.y - 6.0f, c.x + 6.0f, c.y + 6.0f, 2.0f);
            g.drawLine (c.x - 6.0f, c.y + 6.0f, c.x + 6.0f, c.y - 6.0f, 2.0f);
            break;
        case WindowGlyph::maximise:
            g.drawRect (Rectangle<float> (13.0f, 11.0f).withCentre (c), 2.0f);
            break;
        case WindowGlyph::minimise:
            g.fillRect (Rectangle<float> (13.0f, 2.0f).withCentre (c.translated (0.0f, 4.0f)));
            break;
    }
}

void paintArrow (Graphics& g, bool pointsRight, bool on)
{
    juce::Path triangle;
    if (pointsRight)
        triangle.addTriangle (5.0f, 4.0f, 17.0f, 13.0f, 5.0f, 22.0f);
    else
        triangle.addTriangle (15.0f, 4.0f, 3.0f, 13.0f, 15.0f, 22.0f);
    g.setColour (on ? kRed : kDim);
    g.fillPath (triangle);
    g.setColour (on ? juce::Colours::white.withAlpha (0.6f) : juce::Colours::black.withAlpha (0.5f));
    g.strokePath (triangle, juce::PathStrokeType (1.0f));
}

void paintPillButton (Graphics& g, Rectangle<float> body, bool on)
{
    g.setColour (on ? kRed : kMetalDark);
    g.fillRoundedRectangle (body, body.getHeight() / 2.0f);
    g.setColour (on ? juce::Colours::white.withAlpha (0.5f) : kPanelEdge.brighter (0.2f));
    g.drawRoundedRectangle (body.reduced (0.5f), body.getHeight() / 2.0f, 1.0f);
}

void paintListButton (Graphics& g, bool on)
{
    const Rectangle<float> body (1.0f, 1.0f, 50.0f, 18.0f);
    paintPillButton (g, body, on);
    g.setColour (on ? juce::Colours::white : kCaption);
    for (int i = 0; i < 3; ++i)
        g.fillRoundedRectangle (8.0f, 5.5f + 4.0f * (float) i, 11.0f, 1.6f, 0.8f);
    g.setFont (font (9.5f, true));
    g.drawText ("FILE", Rectangle<float> (20.0f, 1.0f, 28.0f, 18.0f), juce::Justification::centred, false);
}

void paintSaveButton (Graphics& g, bool on)
{
    const Rectangle<float> body (1.0f, 1.0f, 78.0f, 26.0f);
    paintPillButton (g, body, on);
    drawEngravedText (g, "SAVE", body, 13.0f, on ? juce::Colours::white : kCaption);
}

// Block buttons: the "on" picture stays light and neutral, since the editor tints it per block.
void paintFXBlock (Graphics& g, bool on)
{
    const Rectangle<float> body (3.0f, 3.0f, 60.0f, 60.0f);
    g.setColour (juce::Colours::black.withAlpha (0.6f));
    g.fillRoundedRectangle (body.translated (0.0f, 2.0f), 10.0f);
    if (on)
        g.setGradientFill ({ juce::Colours::white, 0.0f, body.getY(), Colour (0xffc8c8c8), 0.0f, body.getBottom(), false });
    else
        g.setGradientFill ({ Colour (0xff3a3a40), 0.0f, body.getY(), Colour (0xff222226), 0.0f, body.getBottom(), false });
    g.fillRoundedRectangle (body, 10.0f);
    g.setColour (on ? juce::Colours::white : kPanelEdge.brighter (0.2f));
    g.drawRoundedRectangle (body.reduced (0.5f), 10.0f, 1.0f);
}

void paintReadout (Graphics& g)
{
    const Rectangle<float> body (1.0f, 1.0f, 272.0f, 50.0f);
    g.setColour (kInset);
    g.fillRoundedRectangle (body, 7.0f);
    g.setColour (kPanelEdge);
    g.drawRoundedRectangle (body.reduced (0.5f), 7.0f, 1.0f);
    g.setColour (juce::Colours::white.withAlpha (0.04f));
    g.fillRoundedRectangle (body.reduced (3.0f).withHeight (18.0f), 5.0f);
}

void paintRedLine (Graphics& g)
{
    juce::ColourGradient glow (kRed.darker (0.6f), 0.0f, 0.0f, kRed.darker (0.6f), 566.0f, 0.0f, false);
    glow.addColour (0.5, kRed);
    g.setGradientFill (glow);
    g.fillRect (0.0f, 1.0f, 566.0f, 2.0f);
}

void paintScrollBar (Graphics& g)
{
    const Rectangle<float> track (1.0f, 0.0f, 6.0f, 270.0f);
    g.setColour (kInset);
    g.fillRoundedRectangle (track, 3.0f);
    g.setColour (kRed);
    g.fillRoundedRectangle (track.withHeight (60.0f).translated (0.0f, 4.0f).reduced (1.0f, 0.0f), 2.5f);
}

enum class AssignMark { notAssigned, assigned, invert };

void paintAssignMark (Graphics& g, AssignMark mark)
{
    const Rectangle<float> body (2.0f, 2.0f, 28.0f, 28.0f);
    switch (mark)
    {
        case AssignMark::notAssigned:
            g.setColour (kMetalDark);
            g.fillEllipse (body);
            g.setColour (kDim);
            g.drawEllipse (body.reduced (0.5f), 1.0f);
            break;
        case AssignMark::assigned:
            g.setColour (Colour (0xffe4e4e4));
            g.fillEllipse (body);
            g.setColour (juce::Colours::white);
            g.drawEllipse (body.reduced (0.5f), 1.0f);
            break;
        case AssignMark::invert:
            g.setColour (kMetalDark);
            g.fillEllipse (body);
            g.setColour (kRed);
            g.drawEllipse (body.reduced (1.0f), 2.0f);
            break;
    }
}

// ---- The set of images ----------------------------------------------------------------------

constexpr int kRetina = 2; // "@2x" files
constexpr int kPlain = 1;

std::map<unsigned, juce::Image> drawAllImages()
{
    const DialStyle largeDial { 136, 136, { 68.0f, 68.0f }, 46.0f, 55.0f, false };
    const DialStyle fxDial { 146, 156, { 73.0f, 56.0f }, 36.0f, 44.0f, true };

    std::map<unsigned, juce::Image> images;
    auto put = [&] (ImageResourceId id, juce::Image image) { images[id] = std::move (image); };

    put (kImageBody,                 drawImage (624, 890, kRetina, paintBody));
    put (kImageGlobalTab,            drawImage (572, 428, kRetina, [] (Graphics& g) { paintTabHeader (g, 0); }));
    put (kImageFootswitchesTab,      drawImage (572, 428, kRetina, [] (Graphics& g) { paintTabHeader (g, 1); }));
    put (kImageAboutTab,             drawImage (572, 428, kRetina, [] (Graphics& g) { paintTabHeader (g, 2); }));
    put (kImageLargeDialFilm,        drawDialFilm (largeDial, kRetina));
    put (kImageFXDialFilm,           drawDialFilm (fxDial, kRetina));
    put (kImageSwitchUp,             drawImage (40, 104, kRetina, [] (Graphics& g) { paintSwitch (g, 0); }));
    put (kImageSwitchCenter,         drawImage (40, 104, kRetina, [] (Graphics& g) { paintSwitch (g, 1); }));
    put (kImageSwitchDown,           drawImage (40, 104, kRetina, [] (Graphics& g) { paintSwitch (g, 2); }));
    put (kImageCloseOff,             drawImage (36, 36, kPlain, [] (Graphics& g) { paintWindowButton (g, WindowGlyph::close, false); }));
    put (kImageCloseOn,              drawImage (36, 36, kPlain, [] (Graphics& g) { paintWindowButton (g, WindowGlyph::close, true); }));
    put (kImageMaximizeOff,          drawImage (36, 36, kPlain, [] (Graphics& g) { paintWindowButton (g, WindowGlyph::maximise, false); }));
    put (kImageMaximizeOn,           drawImage (36, 36, kPlain, [] (Graphics& g) { paintWindowButton (g, WindowGlyph::maximise, true); }));
    put (kImageMinimizeOff,          drawImage (36, 36, kPlain, [] (Graphics& g) { paintWindowButton (g, WindowGlyph::minimise, false); }));
    put (kImageMinimizeOn,           drawImage (36, 36, kPlain, [] (Graphics& g) { paintWindowButton (g, WindowGlyph::minimise, true); }));
    put (kImageReadoutArrowLeftOff,  drawImage (20, 26, kRetina, [] (Graphics& g) { paintArrow (g, false, false); }));
    put (kImageReadoutArrowLeftOn,   drawImage (20, 26, kRetina, [] (Graphics& g) { paintArrow (g, false, true); }));
    put (kImageReadoutArrowRightOff, drawImage (20, 26, kRetina, [] (Graphics& g) { paintArrow (g, true, false); }));
    put (kImageReadoutArrowRightOn,  drawImage (20, 26, kRetina, [] (Graphics& g) { paintArrow (g, true, true); }));
    put (kImageListOff,              drawImage (52, 20, kRetina, [] (Graphics& g) { paintListButton (g, false); }));
    put (kImageListOn,               drawImage (52, 20, kRetina, [] (Graphics& g) { paintListButton (g, true); }));
    put (kImageSaveOff,              drawImage (80, 28, kRetina, [] (Graphics& g) { paintSaveButton (g, false); }));
    put (kImageSaveOn,               drawImage (80, 28, kRetina, [] (Graphics& g) { paintSaveButton (g, true); }));
    put (kImageFXBlockOff,           drawImage (66, 66, kRetina, [] (Graphics& g) { paintFXBlock (g, false); }));
    put (kImageFXBlockOn,            drawImage (66, 66, kRetina, [] (Graphics& g) { paintFXBlock (g, true); }));
    put (kImageFXReadout,            drawImage (274, 52, kRetina, paintReadout));
    put (kImageFXRedLine,            drawImage (566, 4, kRetina, paintRedLine));
    put (kImageFXScrollBar,          drawImage (8, 270, kRetina, paintScrollBar));
    put (kImageNotAssigned,          drawImage (32, 32, kPlain, [] (Graphics& g) { paintAssignMark (g, AssignMark::notAssigned); }));
    put (kImageAssigned,             drawImage (32, 32, kPlain, [] (Graphics& g) { paintAssignMark (g, AssignMark::assigned); }));
    put (kImageInvert,               drawImage (32, 32, kPlain, [] (Graphics& g) { paintAssignMark (g, AssignMark::invert); }));
    return images;
}

// ---- Writing --------------------------------------------------------------------------------

struct PackedFile
{
    std::string name;
    juce::MemoryBlock data;
};

// Header, then the directory, then every name, then every file's bytes.
juce::MemoryBlock buildPack (const std::vector<PackedFile>& files)
{
    using namespace ImagePackFormat;

    const size_t directoryOffset = kHeaderSize;
    size_t namesSize = 0;
    for (const auto& file : files)
        namesSize += file.name.size();

    std::vector<uint8_t> head (kHeaderSize + files.size() * kEntrySize);
    writeWord (head.data() + kHeaderDirectoryOffset, (uint32_t) directoryOffset);
    writeWord (head.data() + kHeaderEntryCount, (uint32_t) files.size());

    size_t nameOffset = head.size();
    size_t dataOffset = head.size() + namesSize;
    juce::MemoryBlock names, data;

    for (size_t k = 0; k < files.size(); ++k)
    {
        uint8_t* entry = head.data() + directoryOffset + k * kEntrySize;
        writeWord (entry + kEntryNameOffset, (uint32_t) nameOffset);
        writeWord (entry + kEntryNameLength, (uint32_t) files[k].name.size());
        writeWord (entry + kEntryDataOffset, (uint32_t) dataOffset);
        writeWord (entry + kEntryDataSize, (uint32_t) files[k].data.getSize());

        names.append (files[k].name.data(), files[k].name.size());
        data.append (files[k].data.getData(), files[k].data.getSize());
        nameOffset += files[k].name.size();
        dataOffset += files[k].data.getSize();
    }

    juce::MemoryBlock pack (head.data(), head.size());
    pack.append (names.getData(), names.getSize());
    pack.append (data.getData(), data.getSize());
    return pack;
}

bool writeFile (const juce::File& file, const juce::MemoryBlock& bytes)
{
    if (! file.replaceWithData (bytes.getData(), bytes.getSize()))
    {
        std::fprintf (stderr, "Cannot write '%s'\n", file.getFullPathName().toRawUTF8());
        return false;
    }
    return true;
}

int run (const juce::File& imageDirectory, const juce::File& packFile)
{
    if (! imageDirectory.createDirectory() || ! packFile.getParentDirectory().createDirectory())
    {
        std::fprintf (stderr, "Cannot create the output directories\n");
        return 1;
    }

    const auto images = drawAllImages();

    std::vector<PackedFile> files;
    for (const auto& entry : kImageResourceFiles)
    {
        PackedFile file { entry.fileName, {} };
        juce::MemoryOutputStream stream (file.data, false);
        juce::PNGImageFormat png;
        if (! png.writeImageToStream (images.at (entry.id), stream))
        {
            std::fprintf (stderr, "Cannot encode '%s'\n", entry.fileName);
            return 1;
        }
        stream.flush();

        if (! writeFile (imageDirectory.getChildFile (entry.fileName), file.data))
            return 1;
        files.push_back (std::move (file));
    }

    return writeFile (packFile, buildPack (files)) ? 0 : 1;
}
} // namespace

int main (int argc, char* argv[])
{
    if (argc != 3)
    {
        std::fprintf (stderr, "usage: %s <image directory> <pack file>\n", argv[0]);
        return 2;
    }

    juce::ScopedJuceInitialiser_GUI framework;
    const auto cwd = juce::File::getCurrentWorkingDirectory();
    return run (cwd.getChildFile (argv[1]), cwd.getChildFile (argv[2]));
}
