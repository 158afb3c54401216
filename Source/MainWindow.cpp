#include "MainWindow.h"

ContentZoom::ContentZoom (juce::Component* content)
    : _content (content)
{
    setSize (content->getWidth(), content->getHeight());
    addAndMakeVisible (content);
}

void ContentZoom::resized()
{
    // Only the widths count: the window's fixed aspect ratio keeps the height in proportion.
    const int contentWidth = juce::jmax (1, _content->getWidth());
    const auto scale = static_cast<float> (static_cast<double> (getWidth()) / contentWidth);
    _content->setTransform (juce::AffineTransform::scale (scale));
}

ZoomWindow::ZoomWindow (const juce::String& title, juce::PropertiesFile* settings, juce::Component* content,
                        juce::Colour background, int openingWidth, int openingHeight, int minimumWidth, int minimumHeight)
    : juce::ResizableWindow (title, background, true),
      _settings (settings),
      _content (content)
{
    setUsingNativeTitleBar (false);
    setResizable (true, true);

    const auto userArea = mainDisplayUserArea (openingWidth, openingHeight);
    const int maximumWidth = juce::jmin (2 * openingWidth, userArea.getWidth());
    const int maximumHeight = juce::jmin (2 * openingHeight, userArea.getHeight());
    _designAspect = static_cast<double> (openingWidth) / openingHeight;
    _displayAspect = static_cast<double> (userArea.getWidth()) / juce::jmax (1, userArea.getHeight());

    setResizeLimits (minimumWidth, minimumHeight, maximumWidth, maximumHeight);
    setSize (openingWidth, openingHeight);
    getConstrainer()->setFixedAspectRatio (static_cast<float> (_designAspect));
    setContentOwned (new ContentZoom (content), true);

    _settingOwnBounds = true;
    restoreBounds (openingWidth, openingHeight);
    _settingOwnBounds = false;
}

ZoomWindow::~ZoomWindow()
{
    saveBounds();
    setContentOwned (nullptr, true);
    _content.reset();
}

juce::Rectangle<int> ZoomWindow::mainDisplayUserArea (int fallbackWidth, int fallbackHeight)
{
    if (const auto* display = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay())
        return display->userArea;

    // No display known: let the window grow to its design maximum.
    return { 0, 0, 2 * fallbackWidth, 2 * fallbackHeight };
}

void ZoomWindow::restoreBounds (int openingWidth, int openingHeight)
{
    if (_settings == nullptr)
    {
        centreWithSize (openingWidth, openingHeight);
        return;
    }

    const int x = _settings->getIntValue (kWindowXKey, kPositionNotStored);
    const int y = _settings->getIntValue (kWindowYKey, kPositionNotStored);
    const int width = _settings->getIntValue (kWindowWidthKey, openingWidth);
    const int height = _settings->getIntValue (kWindowHeightKey, openingHeight);
    _maximised = _settings->getIntValue (kIsMaximisedKey, 0) != 0;

    if (_maximised)
        _boundsBeforeMaximise = { _settings->getIntValue (kBeforeMaximiseXKey, 0),
                                  _settings->getIntValue (kBeforeMaximiseYKey, 0),
                                  _settings->getIntValue (kBeforeMaximiseWidthKey, openingWidth),
                                  _settings->getIntValue (kBeforeMaximiseHeightKey, openingHeight) };

    if (x != kPositionNotStored && y != kPositionNotStored)
        setBoundsConstrained ({ x, y, width, height }); // a stored size still obeys the limits and aspect
    else
        centreWithSize (width, height);
}

void ZoomWindow::saveBounds()
{
    if (_settings == nullptr)
        return;

    const auto bounds = getBounds();
    _settings->setValue (kWindowXKey, bounds.getX());
    _settings->setValue (kWindowYKey, bounds.getY());
    _settings->setValue (kWindowWidthKey, bounds.getWidth());
    _settings->setValue (kWindowHeightKey, bounds.getHeight());
    _settings->setValue (kIsMaximisedKey, _maximised ? 1 : 0);
    _settings->setValue (kBeforeMaximiseXKey, _boundsBeforeMaximise.getX());
    _settings->setValue (kBeforeMaximiseYKey, _boundsBeforeMaximise.getY());
    _settings->setValue (kBeforeMaximiseWidthKey, _boundsBeforeMaximise.getWidth());
    _settings->setValue (kBeforeMaximiseHeightKey, _boundsBeforeMaximise.getHeight());
}

juce::Rectangle<int> ZoomWindow::maximisedBounds (juce::Rectangle<int> current, juce::Rectangle<int> userArea,
                                                  double designAspect, double displayAspect)
{
    int width = 0, height = 0;

    if (designAspect > displayAspect)
    {
        width = userArea.getWidth();
        height = static_cast<int> (userArea.getWidth() / designAspect);
    }
    else
    {
        height = userArea.getHeight();
        width = static_cast<int> (designAspect * userArea.getHeight());
    }

    int x = current.getX();
    if (x + width > userArea.getWidth())
        x = userArea.getWidth() - width;
    x = juce::jmax (x, userArea.getX());

    int y = current.getY();
    if (y + height > userArea.getHeight())
        y = userArea.getHeight() - height;
    y = juce::jmax (y, userArea.getY());

    return { x, y, width, height };
}

void ZoomWindow::toggleMaximised()
{
    const auto userArea = mainDisplayUserArea (getWidth(), getHeight());

    _settingOwnBounds = true;
    const bool wasMaximised = _maximised;
    _maximised = ! _maximised;

    juce::Rectangle<int> bounds;

    if (wasMaximised)
    {
        bounds = _boundsBeforeMaximise;
    }
    else
    {
        _boundsBeforeMaximise = getBounds();
        bounds = maximisedBounds (getBounds(), userArea, _designAspect, _displayAspect);
    }

    // Set directly: neither the size limits nor the aspect ratio apply to these bounds.
    setBounds (bounds);
    _settingOwnBounds = false;
}

void ZoomWindow::minimise()
{
    setMinimised (true);
}

void ZoomWindow::resized()
{
    // A resize the window did not make itself (the corner, the platform) ends the maximised state.
    if (! _settingOwnBounds)
        _maximised = false;

    juce::ResizableWindow::resized();
}
