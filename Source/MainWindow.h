#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

// Holds the main component at its fixed design size and scales it as a whole to its own width,
// so that every control, image and text grows and shrinks together. Message thread only.
class ContentZoom : public juce::Component
{
public:
    // Does not own the content; takes the content's current size as its own.
    explicit ContentZoom (juce::Component* content);

    void paint (juce::Graphics&) override {}
    void resized() override;

private:
    juce::Component* _content;
};

// The editor's one window: borderless, resizable by its bottom-right corner at the design's
// aspect ratio, with its position, size and maximised state kept in the settings between runs,
// and a maximise toggle that fits the largest window of that aspect ratio onto the main display.
// Moving it is the content's business (a drag bar), as is closing it. Message thread only.
class ZoomWindow : public juce::ResizableWindow
{
public:
    // Settings keys, all ints.
    static constexpr const char* kWindowXKey = "windowX";
    static constexpr const char* kWindowYKey = "windowY";
    static constexpr const char* kWindowWidthKey = "windowWidth";
    static constexpr const char* kWindowHeightKey = "windowHeight";
    static constexpr const char* kIsMaximisedKey = "isMaximized";
    static constexpr const char* kBeforeMaximiseXKey = "boundsBeforeMaximize_x";
    static constexpr const char* kBeforeMaximiseYKey = "boundsBeforeMaximize_y";
    static constexpr const char* kBeforeMaximiseWidthKey = "boundsBeforeMaximize_w";
    static constexpr const char* kBeforeMaximiseHeightKey = "boundsBeforeMaximize_h";

    // A stored coordinate of this value means "no position stored": the window is centred.
    static constexpr int kPositionNotStored = -100;

    // Settings may be null (nothing is read or written). The window owns the content and shows
    // it through a ContentZoom; the window is on the desktop but not yet visible.
    ZoomWindow (const juce::String& title, juce::PropertiesFile* settings, juce::Component* content,
                juce::Colour background, int openingWidth, int openingHeight, int minimumWidth, int minimumHeight);
    // Writes the bounds into the settings (in memory only), then deletes the content.
    ~ZoomWindow() override;

    // Enters the maximised state (the largest design-aspect rectangle on the main display's user
    // area) or returns to the bounds it had before.
    void toggleMaximised();
    void minimise();

    bool isMaximised() const { return _maximised; }
    juce::Rectangle<int> getBoundsBeforeMaximise() const { return _boundsBeforeMaximise; }

    // The maximised bounds for a window at `current` on a display whose user area is `userArea`.
    // The display aspect is the one taken when the window was made, so it may differ from the
    // area's own. The rectangle is pushed back by the area's width and height, not its right and
    // bottom edges, then raised to its top-left corner.
    static juce::Rectangle<int> maximisedBounds (juce::Rectangle<int> current, juce::Rectangle<int> userArea,
                                                 double designAspect, double displayAspect);

    void resized() override;

private:
    static juce::Rectangle<int> mainDisplayUserArea (int fallbackWidth, int fallbackHeight);
    void restoreBounds (int openingWidth, int openingHeight);
    void saveBounds();

    juce::PropertiesFile* _settings;
    std::unique_ptr<juce::Component> _content;
    juce::Rectangle<int> _boundsBeforeMaximise;
    bool _maximised = false;
    // Set while the window sets its own bounds: those resizes keep the maximised state.
    bool _settingOwnBounds = false;
    double _designAspect;
    double _displayAspect;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ZoomWindow)
};
