#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdint>
#include <functional>
#include <vector>

// The editor's bitmap-drawn controls. They know nothing of parameters or of the service: each one
// draws from the images its owner gives it and reports the user's gestures through callbacks.
// State lives in public fields that the owner sets (calling repaint when it changes what is shown).
// An empty callback is never called.
// Thread rule for every class here: message thread only.

// A rotary control drawn as one frame of a film-strip image; vertical drags move it.
class FilmStripKnob : public virtual juce::Component
{
public:
    FilmStripKnob() = default;

    // Frames run left to right along a row, then on to the next row. A negative frame count
    // means every cell (rows x columns). Needs columns >= 1 and rows >= 1.
    void setFilmStrip (juce::Image strip, int columns, int rows, int frameCount);

    // Stores the value and shows its frame; never calls the value callback, so a value pushed
    // from the unit moves the knob silently.
    void setValue (double value);

    void paint (juce::Graphics&) override;
    void mouseDown (const juce::MouseEvent&) override;
    void mouseDrag (const juce::MouseEvent&) override;
    void mouseDoubleClick (const juce::MouseEvent&) override;
    ~FilmStripKnob() override = default;

    std::function<void (double)> _valueCallback;
    std::function<void()> _doubleClickCallback;
    juce::Image _filmStrip;
    double _value = 0.0;
    double _dragStartPosition = 0.0;  // normalised 0..1
    int32_t _dragSensitivity = 200;   // pixels for the full range
    int32_t _fineDragSensitivity = 1000; // the same with Shift held
    double _minValue = 0.0;
    double _maxValue = 1.0;
    int32_t _columns = 0;
    int32_t _frameCount = 0;
    int32_t _cellWidth = 0;
    int32_t _cellHeight = 0;
    int32_t _cellX = 0; // source offset of the current frame
    int32_t _cellY = 0;

private:
    double normalisedValue() const;
};

// A vertical switch with several positions, position 0 at the top, each taking a share of the
// height by its weight. It never moves itself: the owner accepts a change in the position callback
// and sets the current position.
class MultiToggleSwitch : public juce::Component
{
public:
    struct Position
    {
        juce::Image image;
        float weight = 1.0f;
    };

    explicit MultiToggleSwitch (std::vector<Position> positions);
    ~MultiToggleSwitch() override = default;

    // Reports the position under y to the callback when it differs from the current one
    // (or always, with the always-notify flag). A y outside every position reports nothing.
    void positionAtY (int y);

    void mouseDown (const juce::MouseEvent&) override;
    void mouseDrag (const juce::MouseEvent&) override;
    void paint (juce::Graphics&) override;

    std::function<void (int)> _positionCallback;
    bool _alwaysNotify = false;
    std::vector<Position> _positions;
    int32_t _currentPosition = 0;
};

// A push button with an off and an on image and an optional text; it clicks on release.
class SimpleImageButton : public juce::Component
{
public:
    SimpleImageButton (juce::Image offImage, juce::Image onImage);
    explicit SimpleImageButton (juce::Image image);
    ~SimpleImageButton() override = default;

    void mouseDown (const juce::MouseEvent&) override;
    void mouseUp (const juce::MouseEvent&) override;
    void mouseDoubleClick (const juce::MouseEvent&) override;
    void paint (juce::Graphics&) override;

    std::function<void()> _clickCallback;
    std::function<void()> _doubleClickCallback;
    juce::Image _offImage;
    juce::Image _onImage;
    bool _highlightWhilePressed = true;
    bool _selected = false;
    bool _pressed = false;
    juce::String _text;
    juce::Colour _offTextColour;
    juce::Colour _onTextColour;
    juce::Font _font;
    juce::Justification _justification = juce::Justification::centred;
};

// A SimpleImageButton without images: a text that can be clicked.
class SimpleTextButton : public SimpleImageButton
{
public:
    explicit SimpleTextButton (const char* text);
    ~SimpleTextButton() override = default;
};

// A fixed text, or a clickable option text when the owner sets its click callback.
class SimpleLabel : public SimpleTextButton
{
public:
    explicit SimpleLabel (const char* text);
    ~SimpleLabel() override = default;
};

// One image stretched over the whole bounds.
class StaticImage : public juce::Component
{
public:
    explicit StaticImage (juce::Image image = {}) : _image (std::move (image)) {}

    void paint (juce::Graphics&) override;

    juce::Image _image;
};

// A strip that moves the whole top-level window with the mouse.
class DragBar : public juce::Component
{
public:
    void mouseDown (const juce::MouseEvent&) override;
    void mouseDrag (const juce::MouseEvent&) override;

    juce::ComponentDragger _dragger;
};

// A button showing one of several state images, with a text coloured per state. It clicks on press
// and never changes its own state: the owner sets the current state from the unit's value.
class MultiImageButton : public juce::Component
{
public:
    explicit MultiImageButton (std::vector<juce::Image> stateImages);
    ~MultiImageButton() override = default;

    // Sets the text colour used while the given state is shown, growing the colour list as needed.
    void setStateValue (int state, juce::Colour colour);

    void mouseDown (const juce::MouseEvent&) override;
    void mouseUp (const juce::MouseEvent&) override;
    void paint (juce::Graphics&) override;

    std::function<void()> _clickCallback;
    std::vector<juce::Image> _stateImages;
    std::vector<juce::Colour> _stateTextColours;
    int32_t _currentState = 0;
    juce::String _text;
    juce::Font _font;
    juce::Justification _justification = juce::Justification::centred;
};

// A value read-out that opens a text editor on double-click and changes the value by vertical drags.
// An edit the validator refuses goes back to the last accepted text.
class SimpleEditLabel : public juce::Label
{
public:
    SimpleEditLabel();
    ~SimpleEditLabel() override = default;

    // Gives the label and its text editor one colour scheme.
    void setColours (juce::Colour colour);

    void mouseDown (const juce::MouseEvent&) override;
    void mouseDrag (const juce::MouseEvent&) override;

    std::function<bool (const juce::String&)> _validator;
    std::function<double()> _valueGetter;
    std::function<void (double)> _valueSetter;
    int32_t _dragSensitivity = 500;      // pixels per unit of value
    int32_t _fineDragSensitivity = 2000; // the same with Shift held
    juce::String _lastAcceptedText;
    double _dragStartValue = 0.0;

protected:
    void textWasEdited() override;
};
