#pragma once

#include "MainComponent.h"
#include "Widgets.h"

// Geometry and text styles that several parts of the main component share, in its 624 x 890
// design space. Internal to the main component's sources.
namespace MainComponentStyle
{
using Bounds = MainComponent::Bounds;

// The area under the block strip that the FX panel, the footswitch page and the about text share.
constexpr Bounds kPanelArea { 36, 548, 551, 270 };

// The block strip: every button starts at the strip's first slot; the refresh pass spreads them.
constexpr int kStripX = 36, kStripY = 485, kStripButtonSize = 60;

// Text colours: grey captions and values, light titles and read-outs; block labels off and on.
constexpr uint32_t kCaptionColour = 0xff959595;
constexpr uint32_t kLightTextColour = 0xffdfdfdf;
constexpr uint32_t kBlockOffTextColour = 0xff9b9b9b;
constexpr uint32_t kBlockOnTextColour = 0xff222222;
constexpr float kBlockTextHeight = 20.0f;

// juce::Justification flags.
constexpr int kCentred = 36;

// Knobs: pixels of vertical drag for the whole range, normally and with Shift held.
constexpr int kKnobDragSensitivity = 200;
constexpr int kKnobFineDragSensitivity = 1000;

inline void setTextStyle (SimpleImageButton& button, juce::Colour off, juce::Colour on, float height, bool bold = false)
{
    button._offTextColour = off;
    button._onTextColour = on;
    button._font = juce::Font (height, bold ? juce::Font::bold : juce::Font::plain);
}

// One text colour whether pressed or not.
inline void setTextStyle (SimpleImageButton& button, uint32_t colour, float height, bool bold = false)
{
    setTextStyle (button, juce::Colour (colour), juce::Colour (colour), height, bold);
}
} // namespace MainComponentStyle
