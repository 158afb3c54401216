#include "Widgets.h"
#include "GuiTestEnvironment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace
{
const auto* const guiEnvironment = testing::AddGlobalTestEnvironment (new GuiTestEnvironment);

const juce::ModifierKeys kLeftButton (juce::ModifierKeys::leftButtonModifier);
const juce::ModifierKeys kShiftLeftButton (juce::ModifierKeys::leftButtonModifier | juce::ModifierKeys::shiftModifier);

// A mouse event on the component, pressed at `down` and now at `now` (component coordinates).
juce::MouseEvent mouseAt (juce::Component& component, juce::Point<float> down, juce::Point<float> now,
                          juce::ModifierKeys mods = kLeftButton, int clicks = 1)
{
    const auto time = juce::Time::getCurrentTime();
    return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), now, mods, 1.0f, 0.0f, 0.0f, 0.0f,
                             0.0f, &component, &component, time, down, time, clicks, down != now);
}

juce::MouseEvent pressAt (juce::Component& component, float x, float y)
{
    return mouseAt (component, { x, y }, { x, y });
}

// A drag that started at (10, startY) and has moved dy pixels down (negative: up).
juce::MouseEvent dragBy (juce::Component& component, float startY, float dy, juce::ModifierKeys mods = kLeftButton)
{
    return mouseAt (component, { 10.0f, startY }, { 10.0f, startY + dy }, mods);
}

juce::Image solidImage (int width, int height, juce::Colour colour)
{
    juce::Image image (juce::Image::ARGB, width, height, true);
    image.clear (image.getBounds(), colour);
    return image;
}

juce::Image render (juce::Component& component)
{
    juce::Image image (juce::Image::ARGB, component.getWidth(), component.getHeight(), true);
    juce::Graphics g (image);
    component.paint (g);
    return image;
}

// A strip of 10 x 10 cells in which cell n is filled with red n, so a painted pixel names its frame.
juce::Image numberedStrip (int columns, int rows)
{
    juce::Image strip (juce::Image::ARGB, columns * 10, rows * 10, true);
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < columns; ++column)
            strip.clear ({ column * 10, row * 10, 10, 10 },
                         juce::Colour (static_cast<juce::uint8> (row * columns + column), 100, 200));
    return strip;
}

int frameShown (FilmStripKnob& knob)
{
    const auto pixel = render (knob).getPixelAt (knob.getWidth() / 2, knob.getHeight() / 2);
    return pixel.getAlpha() == 255 && pixel.getGreen() == 100 ? pixel.getRed() : -1;
}

struct Knob99 : FilmStripKnob
{
    Knob99()
    {
        setSize (10, 10);
        setFilmStrip (numberedStrip (1, 99), 1, 99, -1);
    }
};

const juce::Colour kRed (0xffff0000);
const juce::Colour kBlue (0xff0000ff);
const juce::Colour kGreen (0xff00ff00);

bool isColour (juce::Colour pixel, juce::Colour expected)
{
    return pixel.getARGB() == expected.getARGB();
}

// Counts opaque-ish pixels that are mostly the given primary (red, green or blue channel dominant).
int countTextPixels (const juce::Image& image, juce::Colour colour)
{
    int count = 0;
    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
        {
            const auto p = image.getPixelAt (x, y);
            if (p.getAlpha() > 128 && std::abs (p.getRed() - colour.getRed()) < 40
                && std::abs (p.getGreen() - colour.getGreen()) < 40 && std::abs (p.getBlue() - colour.getBlue()) < 40)
                ++count;
        }
    return count;
}
} // namespace

// ---------------------------------------------------------------------------------------------

TEST (FilmStripKnob, picksTheFrameByRoundingHalfUpInItsRangeAndClamps)
{
    const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    // A strip of columns x rows cells (frame count -1: all of them) and the knob's range.
    const struct { const char* what; int columns, rows, frames; double min, max, value; int frame; } rows[] = {
        { "start", 1, 99, -1, 0, 1, 0.0, 0 },
        { "end", 1, 99, -1, 0, 1, 1.0, 98 },
        { "middle: 98 x 0.5 + 0.5 = 49.5", 1, 99, -1, 0, 1, 0.5, 49 },
        { "just below half a frame", 1, 99, -1, 0, 1, 0.5 / 98.0 - 1e-9, 0 },
        { "just above half a frame", 1, 99, -1, 0, 1, 0.5 / 98.0 + 1e-9, 1 },
        { "beyond the end", 1, 99, -1, 0, 1, 1.7, 98 },
        { "before the start", 1, 99, -1, 0, 1, -3.0, 0 },
        { "infinity", 1, 99, -1, 0, 1, inf, 98 },
        { "no number", 1, 99, -1, 0, 1, nan, 0 },
        { "the knob's own range", 1, 99, -1, 20, 30, 25.0, 49 },
        { "the end of its own range", 1, 99, -1, 20, 30, 30.0, 98 },
        { "an empty range", 1, 99, -1, 0, 0, 0.0, 0 },
        { "2 x 3: 5 x 0.6 + 0.5 = 3.5, second column, second row", 2, 3, -1, 0, 1, 0.6, 3 },
        { "2 x 3: frame 4, first column, third row", 2, 3, -1, 0, 1, 0.8, 4 },
        { "only the first five cells are frames", 1, 10, 5, 0, 1, 1.0, 4 },
        { "no columns: nothing drawn", 0, 0, -1, 0, 1, 0.5, -1 },
    };
    for (const auto& row : rows)
    {
        FilmStripKnob knob;
        knob.setSize (10, 10);
        knob._minValue = row.min;
        knob._maxValue = row.max;
        knob.setValue (row.value); // before the strip: the strip picks the frame up
        knob.setFilmStrip (numberedStrip (std::max (row.columns, 1), std::max (row.rows, 1)), row.columns, row.rows,
                           row.frames);
        EXPECT_EQ (frameShown (knob), row.frame) << row.what;
        if (row.frame >= 0)
        {
            EXPECT_EQ (knob._cellX, row.frame % row.columns * 10) << row.what;
            EXPECT_EQ (knob._cellY, row.frame / row.columns * 10) << row.what;
        }
        EXPECT_TRUE (knob._value == row.value || std::isnan (row.value)) << row.what; // stored unclamped
    }
}

TEST (FilmStripKnob, drawsNothingWithoutAStripThenTheCellFittedAndCentredInWideAndTallBounds)
{
    FilmStripKnob knob;
    knob.setSize (40, 20);
    knob.setValue (1.0);
    EXPECT_EQ (knob._cellX, 0);
    EXPECT_EQ (knob._cellY, 0);
    EXPECT_EQ (frameShown (knob), -1);
    knob.setFilmStrip (numberedStrip (1, 2), 1, 2, -1);

    // Drawn 20 x 20 at x = 10.
    auto image = render (knob);
    EXPECT_EQ (image.getPixelAt (5, 10).getAlpha(), 0);
    EXPECT_EQ (image.getPixelAt (34, 10).getAlpha(), 0);
    EXPECT_EQ (image.getPixelAt (12, 1).getRed(), 1);
    EXPECT_EQ (image.getPixelAt (27, 18).getRed(), 1);

    knob.setSize (20, 40); // drawn 20 x 20 at y = 10
    image = render (knob);
    EXPECT_EQ (image.getPixelAt (10, 5).getAlpha(), 0);
    EXPECT_EQ (image.getPixelAt (10, 34).getAlpha(), 0);
    EXPECT_EQ (image.getPixelAt (10, 20).getAlpha(), 255);
}

TEST (FilmStripKnob, dragsTheWholeRangeOver200PixelsUpOr1000WithShiftFromItsClampedStart)
{
    // Each drag: the knob's range and value at the press, then drag events (pixels moved from
    // the press, negative up; Shift held) with the value reported after each.
    struct Event { float dy; bool shift; double value; };
    const struct { const char* what; double min, max, start; std::vector<Event> events; } drags[] = {
        { "200 pixels for the range, clamped", 0, 1, 0.25, { { -100, false, 0.75 }, { -300, false, 1.0 }, { 100, false, 0.0 } } },
        { "1000 pixels with Shift", 0, 1, 0.25, { { -100, true, 0.35 } } },
        { "Shift in mid-drag rescales the whole drag", 0, 1, 0.5, { { -80, false, 0.9 }, { -80, true, 0.58 }, { -20, false, 0.6 } } },
        { "its own range, from a start beyond it", -10, 10, 50, { { 50, false, 5.0 } } },
    };
    for (const auto& drag : drags)
    {
        Knob99 knob;
        knob._minValue = drag.min;
        knob._maxValue = drag.max;
        std::vector<double> reported, expected;
        knob._valueCallback = [&] (double v) { reported.push_back (v); };
        knob.setValue (drag.start);
        knob.mouseDown (pressAt (knob, 10, 150));
        for (const auto& event : drag.events)
        {
            knob.mouseDrag (dragBy (knob, 150, event.dy, event.shift ? kShiftLeftButton : kLeftButton));
            EXPECT_NEAR (knob._value, event.value, 1e-12) << drag.what << ", " << event.dy;
            expected.push_back (event.value);
        }
        ASSERT_EQ (reported.size(), expected.size()) << drag.what;
        for (size_t i = 0; i < reported.size(); ++i)
            EXPECT_NEAR (reported[i], expected[i], 1e-12) << drag.what;
    }
}

TEST (FilmStripKnob, reportsEveryDragEventButNeverAPushedValue)
{
    Knob99 knob;
    int calls = 0;
    knob._valueCallback = [&] (double) { ++calls; };
    knob.setValue (0.3);
    knob.setFilmStrip (numberedStrip (1, 99), 1, 99, -1);
    EXPECT_EQ (calls, 0);

    knob.setValue (1.0);
    knob.mouseDown (pressAt (knob, 10, 150));
    knob.mouseDrag (dragBy (knob, 150, -10));
    knob.mouseDrag (dragBy (knob, 150, -20)); // still 1.0: reported again
    EXPECT_EQ (calls, 2);
}

TEST (FilmStripKnob, reportsADoubleClickOnlyWhenTheOwnerAsks)
{
    Knob99 knob;
    knob.mouseDoubleClick (pressAt (knob, 5, 5)); // no callback set: nothing happens
    int resets = 0;
    knob._doubleClickCallback = [&] { ++resets; };
    knob.mouseDoubleClick (mouseAt (knob, { 5, 5 }, { 5, 5 }, kLeftButton, 2));
    EXPECT_EQ (resets, 1);
}

// ---------------------------------------------------------------------------------------------

namespace
{
struct ThreeWaySwitch : MultiToggleSwitch
{
    explicit ThreeWaySwitch (int height)
        : MultiToggleSwitch ({ { solidImage (4, 4, kRed), 1.0f }, { solidImage (4, 4, kGreen), 1.0f },
                               { solidImage (4, 4, kBlue), 1.0f } })
    {
        setSize (40, height);
        _positionCallback = [this] (int p) { reported.push_back (p); };
        _alwaysNotify = true;
        _currentPosition = -1;
    }

    int hitAt (int y)
    {
        reported.clear();
        positionAtY (y);
        return reported.empty() ? -1 : reported.back();
    }

    std::vector<int> reported;
};
} // namespace

TEST (MultiToggleSwitch, splitsItsHeightIntoThirdsTruncatingEachEnd)
{
    // (height, y, position hit or -1); the editor's switches are 104 high, so 102 and 103 hit nothing.
    const int rows[][3] = { { 90, 0, 0 },   { 90, 29, 0 },   { 90, 30, 1 },   { 90, 59, 1 },    { 90, 60, 2 },
                            { 90, 89, 2 },  { 90, 90, -1 },  { 90, -1, -1 },  { 104, 0, 0 },    { 104, 33, 0 },
                            { 104, 34, 1 }, { 104, 67, 1 },  { 104, 68, 2 },  { 104, 101, 2 },  { 104, 102, -1 },
                            { 104, 103, -1 } };
    for (const auto& row : rows)
    {
        ThreeWaySwitch s (row[0]);
        EXPECT_EQ (s.hitAt (row[1]), row[2]) << "height " << row[0] << ", y " << row[1];
    }
}

TEST (MultiToggleSwitch, sharesTheHeightByWeight)
{
    MultiToggleSwitch s ({ { {}, 1.0f }, { {}, 3.0f } });
    s.setSize (10, 100);
    int hit = -1;
    s._positionCallback = [&] (int p) { hit = p; };
    s._currentPosition = 5;
    s.positionAtY (24);
    EXPECT_EQ (hit, 0);
    s.positionAtY (25);
    EXPECT_EQ (hit, 1);
}

TEST (MultiToggleSwitch, reportsTheCurrentPositionOnlyWithAlwaysNotify)
{
    ThreeWaySwitch s (90);
    s._currentPosition = 1;
    s._alwaysNotify = false;
    EXPECT_EQ (s.hitAt (45), -1);
    EXPECT_EQ (s.hitAt (75), 2);
    EXPECT_EQ (s._currentPosition, 1); // the owner moves it, not the switch
    s._alwaysNotify = true;
    EXPECT_EQ (s.hitAt (45), 1);
}

TEST (MultiToggleSwitch, changesNothingWithoutACallbackOrWeight)
{
    ThreeWaySwitch s (90);
    s._positionCallback = nullptr;
    s.positionAtY (75);
    EXPECT_EQ (s._currentPosition, -1);

    MultiToggleSwitch weightless ({ { {}, 0.0f }, { {}, 0.0f } });
    weightless.setSize (10, 100);
    int calls = 0;
    weightless._positionCallback = [&] (int) { ++calls; };
    weightless._alwaysNotify = true;
    weightless.positionAtY (0);
    weightless.positionAtY (50);
    EXPECT_EQ (calls, 0);

    MultiToggleSwitch empty ({});
    empty.setSize (10, 100);
    empty._positionCallback = [&] (int) { ++calls; };
    empty.positionAtY (0);
    EXPECT_EQ (calls, 0);
}

TEST (MultiToggleSwitch, followsTheMouseFromItsPressThroughTheDrag)
{
    ThreeWaySwitch s (104);
    s.mouseDown (pressAt (s, 10, 50));
    EXPECT_EQ (s.reported, (std::vector<int> { 1 }));
    s.mouseDrag (dragBy (s, 50, 40)); // now at y 90
    s.mouseDrag (dragBy (s, 50, -45)); // now at y 5
    s.mouseDrag (dragBy (s, 50, 60));  // now at y 110: off the switch
    EXPECT_EQ (s.reported, (std::vector<int> { 1, 2, 0 }));
}

TEST (MultiToggleSwitch, drawsTheCurrentPositionsImageFittedAndCentred)
{
    MultiToggleSwitch s ({ { solidImage (10, 20, kRed), 1.0f }, { solidImage (10, 20, kBlue), 1.0f } });
    s.setSize (40, 40);
    s._currentPosition = 1;
    auto image = render (s);
    EXPECT_EQ (image.getPixelAt (5, 20).getAlpha(), 0);
    EXPECT_EQ (image.getPixelAt (34, 20).getAlpha(), 0);
    EXPECT_TRUE (isColour (image.getPixelAt (20, 20), kBlue));
    EXPECT_TRUE (isColour (image.getPixelAt (12, 1), kBlue));

    s._currentPosition = 2;
    image = render (s);
    EXPECT_EQ (image.getPixelAt (20, 20).getAlpha(), 0);
    s._currentPosition = -1;
    image = render (s);
    EXPECT_EQ (image.getPixelAt (20, 20).getAlpha(), 0);
}

// ---------------------------------------------------------------------------------------------

namespace
{
struct RedBlueButton : SimpleImageButton
{
    RedBlueButton() : SimpleImageButton (solidImage (10, 20, kRed), solidImage (10, 20, kBlue))
    {
        setSize (40, 40);
        _clickCallback = [this] { ++clicks; };
    }

    juce::Colour centre() { return render (*this).getPixelAt (20, 20); }

    int clicks = 0;
};
} // namespace

TEST (SimpleImageButton, clicksOnceOnReleaseNotOnPress)
{
    RedBlueButton button;
    button.mouseDown (pressAt (button, 5, 5));
    EXPECT_EQ (button.clicks, 0);
    EXPECT_TRUE (button._pressed);
    button.mouseUp (mouseAt (button, { 5, 5 }, { 300, 300 })); // released far outside: still a click
    EXPECT_EQ (button.clicks, 1);
    EXPECT_FALSE (button._pressed);
    button.mouseUp (pressAt (button, 5, 5)); // a release without a press
    EXPECT_EQ (button.clicks, 1);
}

TEST (SimpleImageButton, reportsADoubleClickBesideTheTwoClicksOfItsReleases)
{
    RedBlueButton button;
    int doubleClicks = 0;
    button._doubleClickCallback = [&] { ++doubleClicks; };
    button.mouseDown (pressAt (button, 5, 5));
    button.mouseUp (pressAt (button, 5, 5));
    button.mouseDown (mouseAt (button, { 5, 5 }, { 5, 5 }, kLeftButton, 2));
    button.mouseDoubleClick (mouseAt (button, { 5, 5 }, { 5, 5 }, kLeftButton, 2));
    button.mouseUp (mouseAt (button, { 5, 5 }, { 5, 5 }, kLeftButton, 2));
    EXPECT_EQ (button.clicks, 2);
    EXPECT_EQ (doubleClicks, 1);
}

TEST (SimpleImageButton, worksWithoutCallbacks)
{
    SimpleImageButton button (solidImage (2, 2, kRed));
    button.setSize (4, 4);
    button.mouseDown (pressAt (button, 1, 1));
    button.mouseUp (pressAt (button, 1, 1));
    button.mouseDoubleClick (pressAt (button, 1, 1));
    EXPECT_FALSE (button._pressed);
    EXPECT_TRUE (isColour (render (button).getPixelAt (2, 2), kRed)) << "one image serves both states";
}

TEST (SimpleImageButton, showsTheOnImageWhenSelectedOrHighlightedWhilePressed)
{
    RedBlueButton button;
    EXPECT_TRUE (isColour (button.centre(), kRed));
    button.mouseDown (pressAt (button, 5, 5));
    EXPECT_TRUE (isColour (button.centre(), kBlue));
    button._highlightWhilePressed = false;
    EXPECT_TRUE (isColour (button.centre(), kRed));
    button.mouseUp (pressAt (button, 5, 5));
    button._selected = true;
    EXPECT_TRUE (isColour (button.centre(), kBlue));
    button.mouseDown (pressAt (button, 5, 5));
    EXPECT_TRUE (isColour (button.centre(), kBlue));
}

TEST (SimpleImageButton, coversItsBoundsWithTheImageAndCutsTheOverflow)
{
    RedBlueButton button; // a 10 x 20 image on a 40 x 40 button: scaled to 40 x 80 (its last column smoothed)
    const auto image = render (button);
    for (auto [x, y] : { std::pair { 0, 0 }, { 38, 0 }, { 0, 39 }, { 38, 39 } })
        EXPECT_TRUE (isColour (image.getPixelAt (x, y), kRed)) << x << ", " << y;
}

TEST (SimpleImageButton, colorsItsTextByTheImageShown)
{
    SimpleTextButton button ("MMMM");
    button.setSize (120, 40);
    button._font = juce::Font (30.0f);
    button._offTextColour = kRed;
    button._onTextColour = kGreen;
    EXPECT_GT (countTextPixels (render (button), kRed), 50);
    EXPECT_EQ (countTextPixels (render (button), kGreen), 0);
    button._selected = true;
    EXPECT_EQ (countTextPixels (render (button), kRed), 0);
    EXPECT_GT (countTextPixels (render (button), kGreen), 50);

    button._text = {};
    EXPECT_EQ (countTextPixels (render (button), kGreen), 0);
}

TEST (SimpleTextButton, startsWithItsTextAndNoImages)
{
    SimpleTextButton button ("Grüße");
    EXPECT_EQ (button._text, juce::String (juce::CharPointer_UTF8 ("Gr\xc3\xbc\xc3\x9f" "e")));
    EXPECT_FALSE (button._offImage.isValid());
    EXPECT_FALSE (button._onImage.isValid());
    EXPECT_EQ (button._offTextColour.getARGB(), 0u);
    EXPECT_EQ (button._onTextColour.getARGB(), 0u);
    EXPECT_EQ (button._justification, juce::Justification (juce::Justification::centred));
}

TEST (SimpleLabel, switchesToTheOnTextColourOnlyWhilePressed)
{
    SimpleLabel label ("MMMM");
    label.setSize (120, 40);
    label._font = juce::Font (30.0f);
    label._offTextColour = kRed;
    label._onTextColour = kBlue;
    label.mouseDown (pressAt (label, 5, 5));
    EXPECT_GT (countTextPixels (render (label), kBlue), 50);
    label.mouseUp (pressAt (label, 5, 5)); // no callback set: only the colour changes back
    EXPECT_EQ (countTextPixels (render (label), kBlue), 0);
    EXPECT_GT (countTextPixels (render (label), kRed), 50);
}

// ---------------------------------------------------------------------------------------------

TEST (MultiImageButton, clicksOnPressAndLeavesItsStateToTheOwner)
{
    MultiImageButton button ({ solidImage (4, 4, kRed), solidImage (4, 4, kGreen), solidImage (4, 4, kBlue) });
    button.setSize (20, 20);
    int clicks = 0;
    button._clickCallback = [&] { ++clicks; };
    button.mouseDown (pressAt (button, 5, 5));
    EXPECT_EQ (clicks, 1);
    button.mouseUp (pressAt (button, 5, 5));
    EXPECT_EQ (clicks, 1);
    EXPECT_EQ (button._currentState, 0);
    EXPECT_TRUE (isColour (render (button).getPixelAt (10, 10), kRed));

    button._currentState = 2;
    EXPECT_TRUE (isColour (render (button).getPixelAt (10, 10), kBlue));
    button._currentState = 3; // a value outside the states shows nothing
    EXPECT_EQ (render (button).getPixelAt (10, 10).getAlpha(), 0);
    button._currentState = -1;
    EXPECT_EQ (render (button).getPixelAt (10, 10).getAlpha(), 0);
}

TEST (MultiImageButton, growsItsColourListToTheStateGiven)
{
    MultiImageButton button ({});
    button.setStateValue (2, kBlue);
    ASSERT_EQ (button._stateTextColours.size(), 3u);
    EXPECT_EQ (button._stateTextColours[0].getARGB(), 0u);
    EXPECT_EQ (button._stateTextColours[1].getARGB(), 0u);
    EXPECT_EQ (button._stateTextColours[2], kBlue);
    button.setStateValue (0, kRed);
    EXPECT_EQ (button._stateTextColours.size(), 3u);
    EXPECT_EQ (button._stateTextColours[0], kRed);
    button.setStateValue (-1, kGreen); // no such slot: ignored
    EXPECT_EQ (button._stateTextColours.size(), 3u);
}

TEST (MultiImageButton, showsTextOnlyInStatesWithAColour)
{
    MultiImageButton button ({ {}, {} });
    button.setSize (120, 40);
    button._text = "MMMM";
    button._font = juce::Font (30.0f);
    button.setStateValue (1, kGreen);
    EXPECT_EQ (countTextPixels (render (button), kGreen), 0); // state 0 has only a transparent colour
    button._currentState = 1;
    EXPECT_GT (countTextPixels (render (button), kGreen), 50);
    button.setStateValue (0, kRed);
    button._stateTextColours.resize (1);
    EXPECT_EQ (countTextPixels (render (button), kGreen), 0);
}

// ---------------------------------------------------------------------------------------------

TEST (StaticImage, stretchesItsImageOverTheWholeBounds)
{
    juce::Image picture (juce::Image::ARGB, 10, 10, true);
    picture.clear ({ 0, 0, 5, 10 }, kRed);
    picture.clear ({ 5, 0, 5, 10 }, kBlue);
    StaticImage image (picture);
    image.setSize (80, 20);
    const auto drawn = render (image);
    EXPECT_TRUE (isColour (drawn.getPixelAt (1, 1), kRed));
    EXPECT_TRUE (isColour (drawn.getPixelAt (35, 18), kRed));
    EXPECT_TRUE (isColour (drawn.getPixelAt (45, 1), kBlue));
    EXPECT_TRUE (isColour (drawn.getPixelAt (78, 18), kBlue));

    StaticImage empty;
    empty.setSize (4, 4);
    EXPECT_EQ (render (empty).getPixelAt (2, 2).getAlpha(), 0);
}

TEST (DragBar, movesItsTopLevelComponentWithTheMouse)
{
    juce::Component window;
    window.setBounds (100, 100, 300, 300);
    juce::Component inner;
    inner.setBounds (20, 20, 200, 200);
    window.addAndMakeVisible (inner);
    DragBar bar;
    bar.setBounds (0, 0, 200, 20);
    inner.addAndMakeVisible (bar);

    bar.mouseDown (pressAt (bar, 10, 10));
    bar.mouseDrag (mouseAt (bar, { 10, 10 }, { 60, 40 }));
    EXPECT_EQ (window.getBounds(), juce::Rectangle<int> (150, 130, 300, 300));
    EXPECT_EQ (inner.getBounds(), juce::Rectangle<int> (20, 20, 200, 200));
    bar.mouseDrag (mouseAt (bar, { 10, 10 }, { -5000, 10 })); // 5010 further left: nothing limits it
    EXPECT_EQ (window.getBounds(), juce::Rectangle<int> (-4860, 130, 300, 300));
}

// ---------------------------------------------------------------------------------------------

namespace
{
// A label on a shown window, where its text editor can take the keyboard focus.
struct ShownLabel
{
    ShownLabel()
    {
        EXPECT_TRUE (focus.isHeld());
        window.setBounds (0, 0, 200, 100);
        label.setBounds (10, 10, 100, 30);
        window.addAndMakeVisible (label);
        window.addToDesktop (0);
        window.setVisible (true);
    }

    ~ShownLabel() { window.removeFromDesktop(); }

    ScopedDisplayFocus focus;
    juce::Component window;
    SimpleEditLabel label;
};

// Types the text into the label's editor and commits it, as pressing Return does.
void typeAndCommit (SimpleEditLabel& label, const juce::String& text)
{
    label.showEditor();
    ASSERT_NE (label.getCurrentTextEditor(), nullptr);
    label.getCurrentTextEditor()->setText (text, false);
    label.hideEditor (false);
}
} // namespace

TEST (SimpleEditLabel, editsOnDoubleClickOnlyWithATransparentCentredEditor)
{
    ShownLabel shown;
    auto& label = shown.label;
    EXPECT_TRUE (label.getText().isEmpty());
    EXPECT_TRUE (label.getName().isEmpty());
    EXPECT_FALSE (label.isEditableOnSingleClick());
    EXPECT_TRUE (label.isEditableOnDoubleClick());
    EXPECT_TRUE (label.doesLossOfFocusDiscardChanges());
    EXPECT_EQ (label.getJustificationType(), juce::Justification (juce::Justification::centred));
    EXPECT_EQ (label.findColour (juce::TextEditor::backgroundColourId).getARGB(), 0u);

    juce::Component& asComponent = label; // the label's own mouse handlers are protected
    asComponent.mouseUp (pressAt (label, 5, 5));
    EXPECT_EQ (label.getCurrentTextEditor(), nullptr);
    asComponent.mouseDoubleClick (mouseAt (label, { 5, 5 }, { 5, 5 }, kLeftButton, 2));
    ASSERT_NE (label.getCurrentTextEditor(), nullptr);
    EXPECT_EQ (label.getCurrentTextEditor()->findColour (juce::TextEditor::backgroundColourId).getARGB(), 0u);
}

TEST (SimpleEditLabel, givesTheLabelAndItsEditorOneColourScheme)
{
    SimpleEditLabel label;
    const juce::Colour grey (0xff959595);
    label.setColours (grey);
    for (int id : { (int) juce::Label::textColourId, (int) juce::TextEditor::textColourId, (int) juce::TextEditor::outlineColourId,
                    (int) juce::TextEditor::highlightColourId, (int) juce::TextEditor::focusedOutlineColourId })
        EXPECT_EQ (label.findColour (id), grey) << std::hex << id;
    EXPECT_EQ (label.findColour (juce::TextEditor::highlightedTextColourId), juce::Colour (0xff000000)); // contrasting
    EXPECT_EQ (label.findColour (juce::CaretComponent::caretColourId), juce::Colour (0xff6a6a6a)); // 0x95 / 1.4
    label.setColours (juce::Colour (0xff101010)); // a dark colour: white contrasts
    EXPECT_EQ (label.findColour (juce::TextEditor::highlightedTextColourId), juce::Colour (0xffffffff));
}

TEST (SimpleEditLabel, dragsTheValueUnclampedBy500PixelsPerUnitOr2000WithShift)
{
    SimpleEditLabel label;
    label.setSize (100, 30);
    double value = 2.0;
    std::vector<double> set;
    label._valueGetter = [&] { return value; };
    label._valueSetter = [&] (double v) { set.push_back (v); };

    label.mouseDown (pressAt (label, 10, 10));
    label.mouseDrag (dragBy (label, 10, -500));
    label.mouseDrag (dragBy (label, 10, 250));
    label.mouseDrag (dragBy (label, 10, -2000, kShiftLeftButton));
    label.mouseDrag (dragBy (label, 10, -5000));
    EXPECT_EQ (set, (std::vector<double> { 3.0, 1.5, 3.0, 12.0 }));
}

TEST (SimpleEditLabel, startsADragWithoutAGetterFromTheLastStartValue)
{
    SimpleEditLabel label;
    std::vector<double> set;
    label._valueSetter = [&] (double v) { set.push_back (v); };
    label.mouseDown (pressAt (label, 10, 10));
    label.mouseDrag (dragBy (label, 10, -100));
    label._dragStartValue = 4.0;
    label.mouseDown (pressAt (label, 10, 10));
    label.mouseDrag (dragBy (label, 10, 100));
    ASSERT_EQ (set.size(), 2u);
    EXPECT_NEAR (set[0], 0.2, 1e-12);
    EXPECT_NEAR (set[1], 3.8, 1e-12);

    SimpleEditLabel withoutSetter;
    double got = 0.0;
    withoutSetter._valueGetter = [&] { return got += 1.0; };
    withoutSetter.mouseDown (pressAt (withoutSetter, 10, 10));
    withoutSetter.mouseDrag (dragBy (withoutSetter, 10, -100)); // nothing to set: no effect
    EXPECT_DOUBLE_EQ (withoutSetter._dragStartValue, 1.0);
}

TEST (SimpleEditLabel, acceptsEveryEditWithoutAValidatorAndGoesBackWhenItsValidatorRefuses)
{
    ShownLabel shown;
    auto& label = shown.label;
    typeAndCommit (label, "abc");
    EXPECT_EQ (label.getText(), "abc");
    EXPECT_EQ (label._lastAcceptedText, "abc");

    // A discarded edit (focus lost) is no edit at all.
    label.showEditor();
    label.getCurrentTextEditor()->setText ("xyz", false);
    label.hideEditor (true);
    EXPECT_EQ (label.getText(), "abc");

    std::vector<juce::String> asked;
    label._validator = [&] (const juce::String& text) {
        asked.push_back (text);
        return text.getDoubleValue() <= 100.0;
    };
    label._lastAcceptedText = "50 %";
    label.setText ("50 %", juce::dontSendNotification);

    typeAndCommit (label, "500");
    EXPECT_EQ (asked, (std::vector<juce::String> { "500" }));
    EXPECT_EQ (label.getText(), "50 %");
    EXPECT_EQ (label._lastAcceptedText, "50 %");

    typeAndCommit (label, "75");
    EXPECT_EQ (label.getText(), "75");
    EXPECT_EQ (label._lastAcceptedText, "75");

    typeAndCommit (label, "900");
    EXPECT_EQ (label.getText(), "75");
}
