#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// What the main component tells the user about the connection and the task running:
// a two-part status text, a busy indicator and a progress bar. Message thread only.
class iStatusDisplay
{
public:
    virtual ~iStatusDisplay() = default;

    // The text up to its first line break is the title, the rest the message. The error flag
    // is for displays that show errors differently.
    virtual void setStatusText (const juce::String& text, bool isError) = 0;
    virtual void setBusy (bool busy) = 0;
    virtual void showStatus (bool show) = 0;
    // 0.0 to 1.0; a negative value hides the bar.
    virtual void setProgress (double progress) = 0;
};

// Rotating spokes: the head spoke moves one step clockwise per tick and the spokes behind it fade.
// It animates only while showing: the first paint starts the timer and the first tick at which it
// is no longer showing stops it. Message thread only.
class BusySpinner : public juce::Component, private juce::Timer
{
public:
    BusySpinner() = default;

    void paint (juce::Graphics&) override;
    // Public so that the animation can be stepped without waiting for the clock.
    void timerCallback() override;

    bool isAnimating() const { return isTimerRunning(); }

    int _step = 0; // 0 to spoke count - 1
    juce::Colour _farColour = juce::Colours::darkgrey.withAlpha (0.7f);
    juce::Colour _headColour = juce::Colours::lightgrey.withAlpha (0.7f);
    int _spokeCount = 12;
    // Radii and thickness in units of half the spinner's smaller side.
    float _innerRadius = 0.45f;
    float _outerRadius = 0.95f;
    float _thickness = 0.1f; // half a spoke's width, and its corner size
    int _interval = 100;     // milliseconds per step
};

// The translucent cover over the editor's controls while it is not connected, busy, waiting for the
// unit or in error: a dark box with a title, a message, the busy spinner and a progress bar. While
// shown it catches the mouse and takes the keyboard focus. Its owner places, sizes and shows it.
// Message thread only.
class OverlayComponent : public juce::Component, public virtual iStatusDisplay
{
public:
    OverlayComponent();

    void paint (juce::Graphics&) override;
    void resized() override;

    void setBusy (bool busy) override;
    void setStatusText (const juce::String& text, bool isError) override;
    void showStatus (bool show) override;
    void setProgress (double progress) override;

    const juce::String& getTitle() const { return _title; }
    const juce::String& getMessage() const { return _message; }
    double getProgress() const { return _progress; }
    BusySpinner& getSpinner() { return _spinner; }
    juce::ProgressBar& getProgressBar() { return _progressBar; }

    float _titleFontHeight = 24.0f;
    float _messageFontHeight = 12.0f;

private:
    BusySpinner _spinner;
    juce::String _title;
    juce::String _message;
    // Declared before the bar, which reads the value it is bound to when it is constructed.
    double _progress = -1.0;
    juce::ProgressBar _progressBar { _progress };
    int _boxWidth = 400;
    int _barWidth = 300;
    int _barHeight = 10;
    int _boxHeight = 200;
    int _textOffset = 50; // the title sits this far above the box centre; the spinner half of it below
    int _spinnerSize = 48;
    bool _focusOnNextPaint = false;
};
