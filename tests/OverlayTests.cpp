#include "OverlayComponent.h"
#include "GuiTestEnvironment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace
{
const auto* const guiEnvironment = testing::AddGlobalTestEnvironment (new GuiTestEnvironment);

juce::Image render (juce::Component& component)
{
    juce::Image image (juce::Image::ARGB, component.getWidth(), component.getHeight(), true);
    juce::Graphics g (image);
    component.paint (g);
    return image;
}

// Counts near-white, near-opaque pixels in the rows [top, bottom).
int whitePixelsInRows (const juce::Image& image, int top, int bottom)
{
    int count = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = 0; x < image.getWidth(); ++x)
        {
            const auto p = image.getPixelAt (x, y);
            if (p.getAlpha() > 200 && p.getRed() > 200 && p.getGreen() > 200 && p.getBlue() > 200)
                ++count;
        }
    return count;
}

// An overlay in the editor's design space, on a real window so that it can show and take focus.
struct ShownOverlay
{
    ShownOverlay()
    {
        window.setBounds (0, 0, 624, 890);
        editor.setBounds (10, 10, 200, 30);
        window.addAndMakeVisible (editor);
        overlay.setBounds (0, 0, 624, 890);
        window.addChildComponent (overlay);
        window.addToDesktop (0);
        window.setVisible (true);
    }

    ~ShownOverlay() { window.removeFromDesktop(); }

    juce::Component window;
    juce::TextEditor editor;
    OverlayComponent overlay;
};

// The spinner's spokes: dark grey and light grey at alpha 0.7 (0xB3).
const juce::Colour kFar (0xB3555555);
const juce::Colour kHead (0xB3D3D3D3);

bool near (juce::Colour actual, juce::Colour expected, int tolerance = 3)
{
    return std::abs (actual.getAlpha() - expected.getAlpha()) <= tolerance
           && std::abs (actual.getRed() - expected.getRed()) <= tolerance
           && std::abs (actual.getGreen() - expected.getGreen()) <= tolerance
           && std::abs (actual.getBlue() - expected.getBlue()) <= tolerance;
}
} // namespace

// ---------------------------------------------------------------------------------------------

TEST (OverlayComponent, startsHiddenWithItsSpinnerShownAndNoBar)
{
    OverlayComponent overlay;
    EXPECT_FALSE (overlay.isVisible());
    EXPECT_TRUE (overlay.getSpinner().isVisible());
    EXPECT_EQ (overlay.getSpinner().getParentComponent(), &overlay);
    EXPECT_FALSE (overlay.getProgressBar().isVisible());
    EXPECT_EQ (overlay.getProgressBar().getParentComponent(), &overlay);
    EXPECT_DOUBLE_EQ (overlay.getProgress(), -1.0);
    EXPECT_TRUE (overlay.getWantsKeyboardFocus());
    bool catchesClicks = false, childrenCatchClicks = false;
    overlay.getInterceptsMouseClicks (catchesClicks, childrenCatchClicks);
    EXPECT_TRUE (catchesClicks); // nothing beneath it can be clicked
    EXPECT_FLOAT_EQ (overlay._titleFontHeight, 24.0f);
    EXPECT_FLOAT_EQ (overlay._messageFontHeight, 12.0f);
    EXPECT_EQ (overlay.getProgressBar().findColour (juce::ProgressBar::backgroundColourId), juce::Colour (0xFF222222));
    EXPECT_EQ (overlay.getProgressBar().findColour (juce::ProgressBar::foregroundColourId), juce::Colour (0xFF555555));
    EXPECT_TRUE (overlay.getTitle().isEmpty());
    EXPECT_TRUE (overlay.getMessage().isEmpty());
}

TEST (OverlayComponent, splitsTheStatusTextAtItsFirstLineBreak)
{
    OverlayComponent overlay;
    const struct { const char* text; bool error; const char* title; const char* message; } rows[] = {
        { "Disconnected", false, "Disconnected", "" },
        { "Error:\nA communication error occurred", true, "Error:", "A communication error occurred" },
        { "\nonly a message", false, "", "only a message" },  { "Title\nfirst\nsecond", false, "Title", "first\nsecond" },
        { "Title\n", false, "Title", "" },                    { "", false, "", "" },
    };
    for (const auto& row : rows)
    {
        overlay.setStatusText (row.text, row.error);
        EXPECT_EQ (overlay.getTitle(), row.title) << row.text;
        EXPECT_EQ (overlay.getMessage(), row.message) << row.text;
    }
}

TEST (OverlayComponent, showsAndHidesItselfItsSpinnerAndItsBarThroughItsStatusDisplayInterface)
{
    OverlayComponent overlay;
    iStatusDisplay& display = overlay;
    display.setStatusText ("Sending\nAmp 4", false);
    display.setBusy (false);
    display.showStatus (true);
    display.setProgress (0.5);
    EXPECT_EQ (overlay.getTitle(), "Sending");
    EXPECT_EQ (overlay.getMessage(), "Amp 4");
    EXPECT_FALSE (overlay.getSpinner().isVisible());
    EXPECT_TRUE (overlay.isVisible());
    EXPECT_TRUE (overlay.getProgressBar().isVisible());
    display.setBusy (true);
    display.showStatus (false);
    EXPECT_TRUE (overlay.getSpinner().isVisible());
    EXPECT_FALSE (overlay.isVisible());

    // The bar shows for any progress from zero and hides below it.
    for (const auto& [progress, shown] : { std::pair { 0.0, true }, { 0.42, true }, { -0.001, false } })
    {
        display.setProgress (progress);
        EXPECT_EQ (overlay.getProgressBar().isVisible(), shown) << progress;
        EXPECT_DOUBLE_EQ (overlay.getProgress(), progress);
    }
}

TEST (OverlayComponent, placesTheSpinnerBelowTheCentreAndTheBarAboveIt)
{
    OverlayComponent overlay;
    overlay.setBounds (0, 0, 624, 890);
    EXPECT_EQ (overlay.getSpinner().getBounds(), juce::Rectangle<int> (288, 446, 48, 48));
    EXPECT_EQ (overlay.getProgressBar().getBounds(), juce::Rectangle<int> (162, 421, 300, 10));

    overlay.setSize (101, 51); // halves round toward zero
    EXPECT_EQ (overlay.getSpinner().getBounds(), juce::Rectangle<int> (26, 26, 48, 48));
    EXPECT_EQ (overlay.getProgressBar().getBounds(), juce::Rectangle<int> (-100, 1, 300, 10));
}

TEST (OverlayComponent, paintsATranslucentCoverAndADarkerRoundedBox)
{
    OverlayComponent overlay;
    overlay.setBounds (0, 0, 624, 890);
    const auto image = render (overlay);
    EXPECT_TRUE (near (image.getPixelAt (5, 5), juce::Colour (0xBB333333)));
    EXPECT_TRUE (near (image.getPixelAt (620, 880), juce::Colour (0xBB333333)));

    // The box (112, 345)-(512, 545): black at alpha 0xBB over the cover.
    const auto inside = image.getPixelAt (312, 520);
    EXPECT_GT (inside.getAlpha(), 0xBB);
    EXPECT_LT (inside.getRed(), 0x20);
    EXPECT_TRUE (near (image.getPixelAt (312, 343), juce::Colour (0xBB333333)));
    EXPECT_TRUE (near (image.getPixelAt (110, 445), juce::Colour (0xBB333333)));
    EXPECT_LT (image.getPixelAt (114, 445).getRed(), 0x20);
    // Corner size 32: the box's own corner pixel is rounded off.
    EXPECT_TRUE (near (image.getPixelAt (113, 346), juce::Colour (0xBB333333)));
}

TEST (OverlayComponent, paintsTheTitleFiftyAndTheMessageFifteenPixelsAboveTheBoxCentreOnAtMostTwoLines)
{
    OverlayComponent overlay;
    overlay.setBounds (0, 0, 624, 890);
    overlay._titleFontHeight = 26.0f;
    overlay._messageFontHeight = 20.0f;

    // Title band around y = 395, message band around y = 430; the box centre is y = 445.
    overlay.setStatusText ("REFRESHING", false);
    auto image = render (overlay);
    EXPECT_GT (whitePixelsInRows (image, 383, 408), 100);
    EXPECT_EQ (whitePixelsInRows (image, 411, 460), 0);
    EXPECT_EQ (whitePixelsInRows (image, 0, 380), 0);

    overlay.setStatusText ("\nMESSAGE", false);
    image = render (overlay);
    EXPECT_EQ (whitePixelsInRows (image, 0, 418), 0);
    EXPECT_GT (whitePixelsInRows (image, 420, 441), 100);
    EXPECT_EQ (whitePixelsInRows (image, 443, 890), 0);

    // A long message wraps onto at most two lines.
    overlay.setStatusText ("\nWORD WORD WORD WORD WORD WORD WORD WORD WORD WORD WORD WORD WORD WORD WORD WORD WORD WORD",
                           false);
    image = render (overlay);
    // Two lines of 20 pixels centred on y = 430: nothing beyond 410 to 450.
    EXPECT_GT (whitePixelsInRows (image, 410, 430), 50);
    EXPECT_GT (whitePixelsInRows (image, 430, 450), 50);
    EXPECT_EQ (whitePixelsInRows (image, 0, 405), 0);
    EXPECT_EQ (whitePixelsInRows (image, 455, 890), 0);
}

TEST (OverlayComponent, takesTheKeyboardFocusFromAFieldBeneathAtTheNextPaint)
{
    ScopedDisplayFocus focus;
    ASSERT_TRUE (focus.isHeld());
    ShownOverlay shown;
    shown.editor.grabKeyboardFocus();
    if (! shown.editor.hasKeyboardFocus (false))
        GTEST_SKIP() << "this display gives the test window no keyboard focus";

    shown.overlay.showStatus (true);
    EXPECT_TRUE (shown.overlay.isShowing());
    EXPECT_TRUE (shown.editor.hasKeyboardFocus (false)); // not before it paints
    render (shown.overlay);
    EXPECT_TRUE (shown.overlay.hasKeyboardFocus (false));
    EXPECT_FALSE (shown.editor.hasKeyboardFocus (false));

    // Once only: a focus given back beneath stays there at later paints.
    shown.editor.grabKeyboardFocus();
    render (shown.overlay);
    EXPECT_TRUE (shown.editor.hasKeyboardFocus (false));
}

// ---------------------------------------------------------------------------------------------

TEST (BusySpinner, drawsSpokesFrom10Point8To22Point8PixelsAnd4Point8Wide)
{
    BusySpinner spinner;
    spinner.setSize (48, 48);
    const auto image = render (spinner); // step 0: the head spoke points up

    // Column 24 (pixel centre 24.5) above the centre (24, 24): covered from y 1.2 to 13.2.
    EXPECT_EQ (image.getPixelAt (24, 0).getAlpha(), 0);
    for (int y = 2; y <= 12; ++y)
        EXPECT_TRUE (near (image.getPixelAt (24, y), kHead)) << "y = " << y;
    for (int y = 14; y <= 18; ++y)
        EXPECT_EQ (image.getPixelAt (24, y).getAlpha(), 0) << "y = " << y;

    // Across the head spoke at y = 7: x from 21.6 to 26.4.
    EXPECT_EQ (image.getPixelAt (20, 7).getAlpha(), 0);
    EXPECT_GT (image.getPixelAt (22, 7).getAlpha(), 170);
    EXPECT_GT (image.getPixelAt (25, 7).getAlpha(), 170);
    EXPECT_EQ (image.getPixelAt (27, 7).getAlpha(), 0);
}

TEST (BusySpinner, fadesTheSpokesBehindTheHeadAnticlockwise)
{
    BusySpinner spinner;
    spinner.setSize (48, 48);
    // Points 17 pixels from the centre, 30 degrees either side of up.
    const auto clockwiseOfUp = [] (const juce::Image& image) { return image.getPixelAt (32, 9); };
    const auto anticlockwiseOfUp = [] (const juce::Image& image) { return image.getPixelAt (15, 9); };
    // One spoke behind the head: 10/11 of the way from the far grey 0x55 to the head's 0xD3 (199.5;
    // within 5 for the rounding of premultiplied pixels, against 11.5 from one spoke to the next).
    const juce::Colour nextToHead (0xB3C8C8C8);

    auto image = render (spinner);
    EXPECT_TRUE (near (clockwiseOfUp (image), kFar)); // just ahead of the head: the farthest behind
    EXPECT_TRUE (near (anticlockwiseOfUp (image), nextToHead, 5));

    spinner._step = 1; // the head moves one spoke clockwise
    image = render (spinner);
    EXPECT_TRUE (near (clockwiseOfUp (image), kHead));
    EXPECT_TRUE (near (image.getPixelAt (24, 7), nextToHead, 5));
}

TEST (BusySpinner, scalesWithItsSmallerSide)
{
    BusySpinner spinner;
    spinner.setSize (96, 48); // same radius as 48 x 48, centred at (48, 24)
    const auto image = render (spinner);
    EXPECT_GT (image.getPixelAt (48, 7).getAlpha(), 170);
    EXPECT_EQ (image.getPixelAt (48, 0).getAlpha(), 0);
    EXPECT_EQ (image.getPixelAt (24, 7).getAlpha(), 0);
}

TEST (BusySpinner, animatesOnlyWhileShowingAndResumesFromItsStep)
{
    ShownOverlay shown;
    auto& spinner = shown.overlay.getSpinner();
    EXPECT_FALSE (spinner.isAnimating()); // still until first painted while showing
    EXPECT_EQ (spinner._step, 0);
    EXPECT_EQ (spinner._interval, 100);
    shown.overlay.showStatus (true);
    ASSERT_TRUE (spinner.isShowing());

    render (spinner);
    EXPECT_TRUE (spinner.isAnimating());
    spinner.timerCallback();
    spinner.timerCallback();
    EXPECT_EQ (spinner._step, 2);

    shown.overlay.showStatus (false);
    spinner.timerCallback(); // the first tick while hidden stops it and keeps the step
    EXPECT_FALSE (spinner.isAnimating());
    EXPECT_EQ (spinner._step, 2);
    render (spinner); // painting while hidden does not restart it
    EXPECT_FALSE (spinner.isAnimating());

    shown.overlay.showStatus (true);
    render (spinner);
    EXPECT_TRUE (spinner.isAnimating());
    spinner.timerCallback();
    EXPECT_EQ (spinner._step, 3);

    spinner._step = 11; // after the last of twelve spokes, the first
    spinner.timerCallback();
    EXPECT_EQ (spinner._step, 0);

    shown.overlay.setBusy (false);
    spinner.timerCallback();
    EXPECT_FALSE (spinner.isAnimating());
}

TEST (BusySpinner, stepsOnItsOwnClockWhileShowing)
{
    ShownOverlay shown;
    auto& spinner = shown.overlay.getSpinner();
    shown.overlay.showStatus (true);
    render (spinner);
    ASSERT_TRUE (spinner.isAnimating());

    // Run the message loop until the timer has stepped, for at most five seconds.
    const auto deadline = juce::Time::getMillisecondCounter() + 5000;
    while (spinner._step == 0 && juce::Time::getMillisecondCounter() < deadline)
        juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
    EXPECT_GT (spinner._step, 0);
}
