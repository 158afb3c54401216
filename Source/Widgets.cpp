#include "Widgets.h"

#include <algorithm>
#include <cmath>

namespace
{
// Texts on buttons and labels wrap onto at most this many lines, squeezed as the framework likes.
constexpr int kMaxTextLines = 2;
constexpr float kMinimumHorizontalScale = 0.0f;

// Clamps to [0, 1]; a NaN (a zero range, or a NaN from the unit) counts as 0, so the frame
// arithmetic never converts a NaN to an integer.
double clampUnit (double t)
{
    if (! (t > 0.0))
        return 0.0;
    return std::min (t, 1.0);
}

int sensitivityFor (const juce::MouseEvent& event, int normal, int fine)
{
    return event.mods.isShiftDown() ? fine : normal;
}

void drawText (juce::Graphics& g, const juce::Component& c, const juce::String& text,
               juce::Colour colour, const juce::Font& font, juce::Justification justification)
{
    g.setColour (colour);
    g.setFont (font);
    g.drawFittedText (text, 0, 0, c.getWidth(), c.getHeight(), justification, kMaxTextLines,
                      kMinimumHorizontalScale);
}
} // namespace

// ---------------------------------------------------------------------------------------------
// FilmStripKnob

void FilmStripKnob::setFilmStrip (juce::Image strip, int columns, int rows, int frameCount)
{
    _filmStrip = std::move (strip);
    _columns = columns;
    // A strip without cells draws nothing, instead of dividing by zero.
    _cellWidth = columns > 0 ? _filmStrip.getWidth() / columns : 0;
    _cellHeight = rows > 0 ? _filmStrip.getHeight() / rows : 0;
    _frameCount = frameCount < 0 ? rows * columns : frameCount;
    setValue (_value);
}

double FilmStripKnob::normalisedValue() const
{
    return clampUnit ((_value - _minValue) / (_maxValue - _minValue));
}

void FilmStripKnob::setValue (double value)
{
    _value = value;
    const double t = normalisedValue();
    // Rounds half up; a frame count of 0 still lands on frame 0.
    const int frame = std::max (0, static_cast<int> ((_frameCount - 1) * t + 0.5));
    if (_columns > 0)
    {
        _cellX = (frame % _columns) * _cellWidth;
        _cellY = (frame / _columns) * _cellHeight;
    }
    else
    {
        _cellX = 0;
        _cellY = 0;
    }
    repaint();
}

void FilmStripKnob::paint (juce::Graphics& g)
{
    if (! _filmStrip.isValid() || _cellWidth <= 0 || _cellHeight <= 0 || getWidth() <= 0)
        return;

    // The cell keeps its aspect ratio, fitted into the bounds and centred.
    const int w = getWidth();
    const int h = getHeight();
    const float cellAspect = static_cast<float> (_cellHeight) / static_cast<float> (_cellWidth);
    const float boundsAspect = static_cast<float> (h) / static_cast<float> (w);
    int drawnWidth = w;
    int drawnHeight = h;
    if (boundsAspect < cellAspect)
        drawnWidth = static_cast<int> (static_cast<float> (h) / cellAspect);
    else
        drawnHeight = static_cast<int> (static_cast<float> (w) * cellAspect);

    g.drawImage (_filmStrip, (w - drawnWidth) / 2, (h - drawnHeight) / 2, drawnWidth, drawnHeight,
                 _cellX, _cellY, _cellWidth, _cellHeight, false);
}

void FilmStripKnob::mouseDown (const juce::MouseEvent&)
{
    _dragStartPosition = normalisedValue();
}

void FilmStripKnob::mouseDrag (const juce::MouseEvent& event)
{
    // Read at every event: pressing Shift mid-drag rescales the whole drag from its start.
    const int sensitivity = sensitivityFor (event, _dragSensitivity, _fineDragSensitivity);
    if (sensitivity == 0)
        return;
    const double p = clampUnit (_dragStartPosition - event.getDistanceFromDragStartY() / static_cast<double> (sensitivity));
    setValue (_minValue + (_maxValue - _minValue) * p);
    if (_valueCallback)
        _valueCallback (_value);
}

void FilmStripKnob::mouseDoubleClick (const juce::MouseEvent&)
{
    if (_doubleClickCallback)
        _doubleClickCallback();
}

// ---------------------------------------------------------------------------------------------
// MultiToggleSwitch

MultiToggleSwitch::MultiToggleSwitch (std::vector<Position> positions) : _positions (std::move (positions))
{
}

void MultiToggleSwitch::positionAtY (int y)
{
    if (_positions.empty())
        return;

    float sum = 0.0f;
    for (const auto& position : _positions)
        sum += position.weight;

    if (! _positionCallback || ! (sum > 0.0f))
        return;

    // Each position ends at a truncated float boundary; the next one starts there.
    const float height = static_cast<float> (getHeight());
    int start = 0;
    for (size_t index = 0; index < _positions.size(); ++index)
    {
        const int end = static_cast<int> (_positions[index].weight / sum * height + static_cast<float> (start));
        if (start <= y && y < end)
        {
            if (static_cast<int> (index) != _currentPosition || _alwaysNotify)
                _positionCallback (static_cast<int> (index));
            return;
        }
        start = end;
    }
}

void MultiToggleSwitch::mouseDown (const juce::MouseEvent& event)
{
    positionAtY (event.getMouseDownY());
}

void MultiToggleSwitch::mouseDrag (const juce::MouseEvent& event)
{
    positionAtY (event.getMouseDownY() + event.getDistanceFromDragStartY());
}

void MultiToggleSwitch::paint (juce::Graphics& g)
{
    if (_currentPosition < 0 || _currentPosition >= static_cast<int> (_positions.size()))
        return;
    g.drawImageWithin (_positions[static_cast<size_t> (_currentPosition)].image, 0, 0, getWidth(), getHeight(),
                       juce::RectanglePlacement::centred, false);
}

// ---------------------------------------------------------------------------------------------
// SimpleImageButton, SimpleTextButton, SimpleLabel

SimpleImageButton::SimpleImageButton (juce::Image offImage, juce::Image onImage)
    : _offImage (std::move (offImage)), _onImage (std::move (onImage))
{
}

SimpleImageButton::SimpleImageButton (juce::Image image) : SimpleImageButton (image, image)
{
}

void SimpleImageButton::mouseDown (const juce::MouseEvent&)
{
    _pressed = true;
    repaint();
}

void SimpleImageButton::mouseUp (const juce::MouseEvent&)
{
    // Clicks on release wherever the mouse then is.
    if (! _pressed)
        return;
    _pressed = false;
    repaint();
    if (_clickCallback)
        _clickCallback();
}

void SimpleImageButton::mouseDoubleClick (const juce::MouseEvent&)
{
    if (_doubleClickCallback)
        _doubleClickCallback();
}

void SimpleImageButton::paint (juce::Graphics& g)
{
    const bool showOn = _selected || (_pressed && _highlightWhilePressed);
    g.drawImageWithin (showOn ? _onImage : _offImage, 0, 0, getWidth(), getHeight(),
                       juce::RectanglePlacement::fillDestination, false);
    if (_text.isNotEmpty())
        drawText (g, *this, _text, showOn ? _onTextColour : _offTextColour, _font, _justification);
}

SimpleTextButton::SimpleTextButton (const char* text) : SimpleImageButton (juce::Image(), juce::Image())
{
    _text = juce::String::fromUTF8 (text != nullptr ? text : "");
    repaint();
}

SimpleLabel::SimpleLabel (const char* text) : SimpleTextButton (text)
{
}

// ---------------------------------------------------------------------------------------------
// StaticImage, DragBar

void StaticImage::paint (juce::Graphics& g)
{
    g.drawImage (_image, getLocalBounds().toFloat(), juce::RectanglePlacement::stretchToFit, false);
}

void DragBar::mouseDown (const juce::MouseEvent& event)
{
    _dragger.startDraggingComponent (getTopLevelComponent(), event);
}

void DragBar::mouseDrag (const juce::MouseEvent& event)
{
    _dragger.dragComponent (getTopLevelComponent(), event, nullptr);
}

// ---------------------------------------------------------------------------------------------
// MultiImageButton

MultiImageButton::MultiImageButton (std::vector<juce::Image> stateImages) : _stateImages (std::move (stateImages))
{
}

void MultiImageButton::setStateValue (int state, juce::Colour colour)
{
    // A negative state has no colour slot; storing it would write before the list.
    if (state < 0)
        return;
    const auto index = static_cast<size_t> (state);
    if (index >= _stateTextColours.size())
        _stateTextColours.resize (index + 1);
    _stateTextColours[index] = colour;
    repaint();
}

void MultiImageButton::mouseDown (const juce::MouseEvent&)
{
    if (_clickCallback)
        _clickCallback();
}

void MultiImageButton::mouseUp (const juce::MouseEvent&)
{
}

void MultiImageButton::paint (juce::Graphics& g)
{
    if (_currentState < 0)
        return;
    const auto state = static_cast<size_t> (_currentState);
    if (state < _stateImages.size())
        g.drawImageWithin (_stateImages[state], 0, 0, getWidth(), getHeight(),
                           juce::RectanglePlacement::fillDestination, false);
    if (_text.isNotEmpty() && state < _stateTextColours.size())
        drawText (g, *this, _text, _stateTextColours[state], _font, _justification);
}

// ---------------------------------------------------------------------------------------------
// SimpleEditLabel

SimpleEditLabel::SimpleEditLabel() : juce::Label (juce::String(), juce::String())
{
    // Edited on double-click only; clicking elsewhere throws the edit away.
    setEditable (false, true, true);
    setJustificationType (juce::Justification::centred);
    setColour (juce::TextEditor::backgroundColourId, juce::Colour());
}

void SimpleEditLabel::setColours (juce::Colour colour)
{
    setColour (juce::Label::textColourId, colour);
    setColour (juce::TextEditor::textColourId, colour);
    setColour (juce::TextEditor::outlineColourId, colour);
    setColour (juce::TextEditor::highlightColourId, colour);
    setColour (juce::TextEditor::highlightedTextColourId, colour.contrasting (1.0f));
    setColour (juce::TextEditor::focusedOutlineColourId, colour);
    setColour (juce::CaretComponent::caretColourId, colour.darker (0.4f));
}

void SimpleEditLabel::mouseDown (const juce::MouseEvent&)
{
    if (_valueGetter)
        _dragStartValue = _valueGetter();
}

void SimpleEditLabel::mouseDrag (const juce::MouseEvent& event)
{
    if (! _valueSetter)
        return;
    // Not clamped here: the setter owns the value's limits.
    const int sensitivity = sensitivityFor (event, _dragSensitivity, _fineDragSensitivity);
    if (sensitivity == 0)
        return;
    _valueSetter (_dragStartValue - event.getDistanceFromDragStartY() / static_cast<double> (sensitivity));
}

void SimpleEditLabel::textWasEdited()
{
    if (_validator && ! _validator (getText()))
        setText (_lastAcceptedText, juce::dontSendNotification);
    _lastAcceptedText = getText();
}
