#include "MainWindow.h"
#include "GuiTestEnvironment.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

namespace
{
const auto* const guiEnvironment = testing::AddGlobalTestEnvironment (new GuiTestEnvironment);

constexpr int kDesignWidth = 624, kDesignHeight = 890;
constexpr int kOpeningWidth = 416, kOpeningHeight = 593;
constexpr int kMinimumWidth = 312, kMinimumHeight = 445;
constexpr double kDesignAspect = 416.0 / 593.0;

// Stands for the main component: the design size, and it says when it is deleted.
struct DesignContent : juce::Component
{
    explicit DesignContent (bool* deleted = nullptr) : _deleted (deleted) { setSize (kDesignWidth, kDesignHeight); }
    ~DesignContent() override
    {
        if (_deleted != nullptr)
            *_deleted = true;
    }
    bool* _deleted;
};

juce::PropertiesFile::Options settingsOptions()
{
    juce::PropertiesFile::Options options;
    options.applicationName = "Tovarek Mk2 Editor";
    options.filenameSuffix = "settings";
    return options;
}

// A settings file of its own per test, in the build tree.
std::unique_ptr<juce::PropertiesFile> makeSettings (const std::string& testName)
{
    const juce::File directory (TestSupport::makeTempDirectory (testName));
    return std::make_unique<juce::PropertiesFile> (directory.getChildFile ("window.settings"), settingsOptions());
}

std::unique_ptr<ZoomWindow> makeWindow (juce::PropertiesFile* settings, bool* contentDeleted = nullptr)
{
    return std::make_unique<ZoomWindow> ("Tovarek Mk2 Editor", settings, new DesignContent (contentDeleted),
                                         juce::Colour (0xff000000), kOpeningWidth, kOpeningHeight, kMinimumWidth,
                                         kMinimumHeight);
}

void storeBounds (juce::PropertiesFile& settings, int x, int y, int width, int height)
{
    settings.setValue (ZoomWindow::kWindowXKey, x);
    settings.setValue (ZoomWindow::kWindowYKey, y);
    settings.setValue (ZoomWindow::kWindowWidthKey, width);
    settings.setValue (ZoomWindow::kWindowHeightKey, height);
}

juce::Rectangle<int> userArea()
{
    return juce::Desktop::getInstance().getDisplays().getPrimaryDisplay()->userArea;
}

void expectCentredOnDisplay (const juce::Rectangle<int>& bounds)
{
    EXPECT_NEAR (bounds.getCentreX(), userArea().getCentreX(), 1);
    EXPECT_NEAR (bounds.getCentreY(), userArea().getCentreY(), 1);
}

juce::Component& zoomedContent (ZoomWindow& window)
{
    return *window.getContentComponent()->getChildComponent (0);
}
} // namespace

TEST (ZoomWindowRestore, firstRunOpensCentredAtTheOpeningSize)
{
    auto settings = makeSettings ("firstRun");
    auto window = makeWindow (settings.get());

    EXPECT_EQ (window->getWidth(), kOpeningWidth);
    EXPECT_EQ (window->getHeight(), kOpeningHeight);
    expectCentredOnDisplay (window->getBounds());
    EXPECT_FALSE (window->isMaximised());
    EXPECT_FALSE (window->isUsingNativeTitleBar());
    EXPECT_FALSE (window->isVisible());
}

TEST (ZoomWindowRestore, withoutSettingsOpensCentredAndStillDeletesItsContent)
{
    bool deleted = false;
    auto window = makeWindow (nullptr, &deleted);
    EXPECT_EQ (window->getBounds().getWidth(), kOpeningWidth);
    expectCentredOnDisplay (window->getBounds());

    window.reset();
    EXPECT_TRUE (deleted);
}

TEST (ZoomWindowRestore, reopensAtTheStoredBounds)
{
    auto settings = makeSettings ("storedBounds");
    storeBounds (*settings, 40, 60, 624, 890);
    auto window = makeWindow (settings.get());

    EXPECT_EQ (window->getBounds(), juce::Rectangle<int> (40, 60, 624, 890));
}

TEST (ZoomWindowRestore, aStoredPositionOfMinusHundredCentresAtTheStoredSize)
{
    for (auto [x, y] : { std::pair { -100, 70 }, std::pair { 70, -100 } })
    {
        auto settings = makeSettings ("unstoredPosition");
        storeBounds (*settings, x, y, 624, 890);
        auto window = makeWindow (settings.get());

        EXPECT_EQ (window->getWidth(), 624);
        EXPECT_EQ (window->getHeight(), 890);
        expectCentredOnDisplay (window->getBounds());
    }
}

TEST (ZoomWindowRestore, aStoredSizeOutsideTheLimitsComesBackInsideThemAtTheDesignAspect)
{
    auto settings = makeSettings ("outsideLimits");
    storeBounds (*settings, 10, 10, 200, 300);
    auto small = makeWindow (settings.get());
    EXPECT_GE (small->getWidth(), kMinimumWidth);
    EXPECT_GE (small->getHeight(), kMinimumHeight);
    EXPECT_NEAR (static_cast<double> (small->getWidth()) / small->getHeight(), kDesignAspect, 0.01);
    small.reset();

    storeBounds (*settings, 10, 10, 5000, 7000);
    auto large = makeWindow (settings.get());
    EXPECT_LE (large->getWidth(), juce::jmin (2 * kOpeningWidth, userArea().getWidth()));
    EXPECT_LE (large->getHeight(), juce::jmin (2 * kOpeningHeight, userArea().getHeight()));
    EXPECT_NEAR (static_cast<double> (large->getWidth()) / large->getHeight(), kDesignAspect, 0.01);
}

TEST (ZoomWindowSave, theDestructorWritesEveryKeyFromTheCurrentBounds)
{
    auto settings = makeSettings ("save");
    storeBounds (*settings, 30, 50, 416, 593);
    auto window = makeWindow (settings.get());
    window.reset();

    EXPECT_EQ (settings->getIntValue (ZoomWindow::kWindowXKey), 30);
    EXPECT_EQ (settings->getIntValue (ZoomWindow::kWindowYKey), 50);
    EXPECT_EQ (settings->getIntValue (ZoomWindow::kWindowWidthKey), 416);
    EXPECT_EQ (settings->getIntValue (ZoomWindow::kWindowHeightKey), 593);
    EXPECT_EQ (settings->getValue (ZoomWindow::kIsMaximisedKey), "0");
    for (auto* key : { ZoomWindow::kBeforeMaximiseXKey, ZoomWindow::kBeforeMaximiseYKey,
                       ZoomWindow::kBeforeMaximiseWidthKey, ZoomWindow::kBeforeMaximiseHeightKey })
        EXPECT_EQ (settings->getValue (key), "0") << key;
}

TEST (ZoomWindowMaximise, fitsTheDesignAspectIntoAShortWideDisplay)
{
    // A 1440 x 877 user area below a 23-pixel menu bar; the window sits at (100, 100).
    const juce::Rectangle<int> area (0, 23, 1440, 877);
    const auto bounds = ZoomWindow::maximisedBounds ({ 100, 100, 416, 593 }, area, kDesignAspect, 1440.0 / 877.0);

    EXPECT_EQ (bounds, juce::Rectangle<int> (100, 23, 615, 877));
}

TEST (ZoomWindowMaximise, fitsTheWidthOfANarrowDisplay)
{
    const juce::Rectangle<int> area (0, 0, 600, 1200);
    const auto bounds = ZoomWindow::maximisedBounds ({ 300, 50, 416, 593 }, area, kDesignAspect, 0.5);

    // Width of the area, height truncated; x pushed back by the area's width, y kept.
    EXPECT_EQ (bounds, juce::Rectangle<int> (0, 50, 600, 855));
}

TEST (ZoomWindowMaximise, pushesBackByTheAreasSizeNotItsEdgeThenRaisesToItsCorner)
{
    // An area at (200, 100): x is pushed back to the area's width less the new width (not to its
    // right edge), y to its height less the new height, 0, which is then raised to the area's y.
    const juce::Rectangle<int> area (200, 100, 1000, 800);
    const auto bounds = ZoomWindow::maximisedBounds ({ 900, 900, 416, 593 }, area, kDesignAspect, 1.25);

    EXPECT_EQ (bounds.getHeight(), 800);
    EXPECT_EQ (bounds.getWidth(), 561);
    EXPECT_EQ (bounds.getX(), 1000 - 561);
    EXPECT_EQ (bounds.getY(), 100);
}

TEST (ZoomWindowMaximise, togglesToTheLargestDesignRectangleAndBack)
{
    auto settings = makeSettings ("toggle");
    storeBounds (*settings, 20, 30, 416, 593);
    auto window = makeWindow (settings.get());
    const auto before = window->getBounds();
    const double displayAspect = static_cast<double> (userArea().getWidth()) / userArea().getHeight();

    window->toggleMaximised();
    EXPECT_TRUE (window->isMaximised());
    EXPECT_EQ (window->getBounds(), ZoomWindow::maximisedBounds (before, userArea(), kDesignAspect, displayAspect));
    EXPECT_EQ (window->getBoundsBeforeMaximise(), before);

    window->toggleMaximised();
    EXPECT_FALSE (window->isMaximised());
    EXPECT_EQ (window->getBounds(), before);
}

TEST (ZoomWindowMaximise, aResizeFromOutsideLeavesTheMaximisedStateWithoutRestoring)
{
    auto settings = makeSettings ("outsideResize");
    storeBounds (*settings, 20, 30, 416, 593);
    auto window = makeWindow (settings.get());

    window->toggleMaximised();
    window->setBounds (50, 60, 500, 713); // as the corner resizer does
    EXPECT_FALSE (window->isMaximised());
    EXPECT_EQ (window->getBounds(), juce::Rectangle<int> (50, 60, 500, 713));

    window->toggleMaximised();
    EXPECT_TRUE (window->isMaximised());
    EXPECT_EQ (window->getBoundsBeforeMaximise(), juce::Rectangle<int> (50, 60, 500, 713));
}

TEST (ZoomWindowMaximise, quittingMaximisedReopensMaximisedAndTheFirstToggleReturnsToTheEarlierBounds)
{
    auto settings = makeSettings ("maximisedAcrossRuns");
    storeBounds (*settings, 20, 30, 416, 593);
    auto first = makeWindow (settings.get());
    first->toggleMaximised();
    const auto maximised = first->getBounds();
    first.reset();

    EXPECT_EQ (settings->getIntValue (ZoomWindow::kIsMaximisedKey), 1);
    EXPECT_EQ (settings->getIntValue (ZoomWindow::kBeforeMaximiseXKey), 20);
    EXPECT_EQ (settings->getIntValue (ZoomWindow::kBeforeMaximiseHeightKey), 593);

    auto second = makeWindow (settings.get());
    EXPECT_TRUE (second->isMaximised());
    EXPECT_EQ (second->getBounds(), maximised);

    second->toggleMaximised();
    EXPECT_FALSE (second->isMaximised());
    EXPECT_EQ (second->getBounds(), juce::Rectangle<int> (20, 30, 416, 593));
}

TEST (ZoomWindowMaximise, minimiseLeavesTheMaximisedFlagAlone)
{
    auto window = makeWindow (nullptr);
    window->setVisible (true);
    window->toggleMaximised();
    window->minimise();

    EXPECT_TRUE (window->isMaximised());
}

TEST (ContentZoom, scalesItsContentByWidthAndLeavesItsBoundsAlone)
{
    DesignContent content;
    ContentZoom zoom (&content);
    EXPECT_EQ (zoom.getWidth(), kDesignWidth);
    EXPECT_EQ (zoom.getHeight(), kDesignHeight);
    EXPECT_EQ (content.getParentComponent(), &zoom);
    EXPECT_TRUE (content.isVisible());

    zoom.setSize (624, 890);
    EXPECT_TRUE (content.getTransform().isIdentity());

    zoom.setSize (312, 2000); // only the width counts
    EXPECT_EQ (content.getTransform().mat00, 0.5f);
    EXPECT_EQ (content.getTransform().mat11, 0.5f);
    EXPECT_EQ (content.getBounds(), juce::Rectangle<int> (0, 0, kDesignWidth, kDesignHeight));

    zoom.removeChildComponent (&content);
}

TEST (ContentZoom, aContentNarrowerThanOnePixelCountsAsOne)
{
    juce::Component empty;
    ContentZoom zoom (&empty);
    zoom.setSize (3, 3);
    EXPECT_EQ (empty.getTransform().mat00, 3.0f);
    zoom.removeChildComponent (&empty);
}

TEST (ContentZoom, followsTheWindowsContentAreaWidth)
{
    auto window = makeWindow (nullptr);
    auto& content = zoomedContent (*window);
    const int areaWidth = window->getContentComponent()->getWidth();

    EXPECT_FLOAT_EQ (content.getTransform().mat00, static_cast<float> (static_cast<double> (areaWidth) / kDesignWidth));
    EXPECT_EQ (content.getWidth(), kDesignWidth);
}
