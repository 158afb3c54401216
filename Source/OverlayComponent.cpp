#include "OverlayComponent.h"

#include <algorithm>

namespace
{
const juce::Colour kCoverColour (0xBB333333);
const juce::Colour kBoxColour (0xBB000000);
const juce::Colour kTextColour (0xFFFFFFFF);
const juce::Colour kBarBackgroundColour (0xFF222222);
const juce::Colour kBarForegroundColour (0xFF555555);
constexpr float kBoxCornerSize = 32.0f;
constexpr float kMessageBelowTitle = 35.0f;
constexpr int kBarAboveSpinner = 15;
constexpr int kMaxTextLines = 2;
constexpr float kMinimumHorizontalScale = 0.0f;

void drawCentredText (juce::Graphics& g, const juce::String& text, float fontHeight, juce::Rectangle<float> area)
{
    g.setFont (juce::Font (fontHeight));
    g.drawFittedText (text, area.getSmallestIntegerContainer(), juce::Justification::centred, kMaxTextLines,
                      kMinimumHorizontalScale);
}
} // namespace

// ---------------------------------------------------------------------------------------------
// BusySpinner

void BusySpinner::paint (juce::Graphics& g)
{
    if (_spokeCount <= 0)
        return;

    // Unit length = half the smaller side, origin at the centre.
    g.setOrigin (getWidth() / 2, getHeight() / 2);
    g.addTransform (juce::AffineTransform::scale (static_cast<float> (std::min (getWidth(), getHeight()) / 2)));

    const int n = _spokeCount;
    for (int i = 0; i < n; ++i)
    {
        const int k = (_step + i) % n;
        // k = 0 is the head; the spoke just ahead of it (k = n - 1) is the farthest behind.
        const float proportion = n > 1 ? static_cast<float> (n - 1 - k) / static_cast<float> (n - 1) : 1.0f;
        const auto angle = static_cast<float> (i * (-2.0 * juce::MathConstants<double>::pi) / n);

        juce::Graphics::ScopedSaveState saved (g);
        g.setColour (_farColour.interpolatedWith (_headColour, proportion));
        g.addTransform (juce::AffineTransform::rotation (angle));
        g.fillRoundedRectangle (-_thickness, -_outerRadius, 2.0f * _thickness, _outerRadius - _innerRadius, _thickness);
    }

    if (isShowing() && ! isTimerRunning())
        startTimer (_interval);
}

void BusySpinner::timerCallback()
{
    if (! isShowing())
    {
        stopTimer();
        return;
    }
    _step = _step + 1 >= _spokeCount ? 0 : _step + 1;
    repaint();
}

// ---------------------------------------------------------------------------------------------
// OverlayComponent

OverlayComponent::OverlayComponent()
{
    _progressBar.setColour (juce::ProgressBar::backgroundColourId, kBarBackgroundColour);
    _progressBar.setColour (juce::ProgressBar::foregroundColourId, kBarForegroundColour);
    _progressBar.setPercentageDisplay (false);
    addAndMakeVisible (_spinner);
    setWantsKeyboardFocus (true);
    addAndMakeVisible (_progressBar);
    setProgress (-1.0);
}

void OverlayComponent::paint (juce::Graphics& g)
{
    const int w = getWidth();
    const int h = getHeight();
    g.fillAll (kCoverColour);

    const juce::Rectangle<float> box (static_cast<float> (w / 2 - _boxWidth / 2), static_cast<float> (h / 2 - _boxHeight / 2),
                                      static_cast<float> (_boxWidth), static_cast<float> (_boxHeight));
    g.setColour (kBoxColour);
    g.fillRoundedRectangle (box, kBoxCornerSize);

    g.setColour (kTextColour);
    const auto titleArea = box.translated (0.0f, static_cast<float> (-_textOffset));
    drawCentredText (g, _title, _titleFontHeight, titleArea);
    drawCentredText (g, _message, _messageFontHeight, titleArea.translated (0.0f, kMessageBelowTitle));

    // Taken here rather than in showStatus: focus can only move to a component that is showing.
    if (_focusOnNextPaint)
    {
        _focusOnNextPaint = false;
        grabKeyboardFocus();
    }
}

void OverlayComponent::resized()
{
    const int w = getWidth();
    const int h = getHeight();
    const int spinnerY = (h / 2 - _spinnerSize / 2) + _textOffset / 2;
    _spinner.setBounds (w / 2 - _spinnerSize / 2, spinnerY, _spinnerSize, _spinnerSize);
    _progressBar.setBounds (w / 2 - _barWidth / 2, spinnerY - kBarAboveSpinner - _barHeight, _barWidth, _barHeight);
}

void OverlayComponent::setBusy (bool busy)
{
    _spinner.setVisible (busy);
}

void OverlayComponent::setStatusText (const juce::String& text, bool)
{
    const int lineBreak = text.indexOf ("\n");
    _title = lineBreak < 0 ? text : text.substring (0, lineBreak);
    _message = lineBreak < 0 ? juce::String() : text.substring (lineBreak + 1);
    repaint();
}

void OverlayComponent::showStatus (bool show)
{
    if (show)
        _focusOnNextPaint = true;
    setVisible (show);
}

void OverlayComponent::setProgress (double progress)
{
    _progressBar.setVisible (progress >= 0.0);
    _progress = progress;
}
