#include "MainWindow.h"
#include "GuiTestEnvironment.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <tuple>
#include <utility>
#include <vector>

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

// Stored bounds are taken as they are; without settings, without stored keys, or with either
// coordinate at -100, the window is centred at the stored (or opening) size.
TEST (ZoomWindowRestore, opensAtTheStoredBoundsOrCentredAtTheStoredSize)
{
    const struct { const char* what; bool settings; std::vector<int> stored; juce::Rectangle<int> bounds; bool centred; } rows[] = {
        { "no settings", false, {}, { 0, 0, kOpeningWidth, kOpeningHeight }, true },
        { "first run", true, {}, { 0, 0, kOpeningWidth, kOpeningHeight }, true },
        { "stored", true, { 40, 60, 624, 890 }, { 40, 60, 624, 890 }, false },
        { "x not stored", true, { -100, 70, 624, 890 }, { 0, 0, 624, 890 }, true },
        { "y not stored", true, { 70, -100, 624, 890 }, { 0, 0, 624, 890 }, true },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.what);
        auto settings = makeSettings ("restore");
        if (row.stored.size() == 4)
            storeBounds (*settings, row.stored[0], row.stored[1], row.stored[2], row.stored[3]);
        bool deleted = false;
        auto window = makeWindow (row.settings ? settings.get() : nullptr, &deleted);

        EXPECT_EQ (window->getWidth(), row.bounds.getWidth());
        EXPECT_EQ (window->getHeight(), row.bounds.getHeight());
        if (row.centred)
            expectCentredOnDisplay (window->getBounds());
        else
            EXPECT_EQ (window->getPosition(), row.bounds.getPosition());
        EXPECT_FALSE (window->isMaximised());
        EXPECT_FALSE (window->isUsingNativeTitleBar());
        EXPECT_FALSE (window->isVisible());
        // The zoom follows the content area's width, whatever the window's size.
        EXPECT_FLOAT_EQ (zoomedContent (*window).getTransform().mat00,
                         static_cast<float> (window->getContentComponent()->getWidth() / static_cast<double> (kDesignWidth)));
        EXPECT_EQ (zoomedContent (*window).getWidth(), kDesignWidth);

        // Closing writes every key from the bounds it had; nothing was maximised.
        const auto bounds = window->getBounds();
        window.reset();
        EXPECT_TRUE (deleted);
        if (! row.settings)
            continue;
        const std::pair<const char*, int> keys[] = {
            { ZoomWindow::kWindowXKey, bounds.getX() }, { ZoomWindow::kWindowYKey, bounds.getY() },
            { ZoomWindow::kWindowWidthKey, bounds.getWidth() }, { ZoomWindow::kWindowHeightKey, bounds.getHeight() },
            { ZoomWindow::kIsMaximisedKey, 0 }, { ZoomWindow::kBeforeMaximiseXKey, 0 }, { ZoomWindow::kBeforeMaximiseYKey, 0 },
            { ZoomWindow::kBeforeMaximiseWidthKey, 0 }, { ZoomWindow::kBeforeMaximiseHeightKey, 0 },
        };
        for (const auto& [key, value] : keys)
            EXPECT_EQ (settings->getValue (key), juce::String (value)) << key;
    }
}

// A stored size outside the limits comes back as the nearest size inside them at the design
// aspect: as small as allowed, or as large.
TEST (ZoomWindowRestore, aStoredSizeOutsideTheLimitsComesBackInsideThemAtTheDesignAspect)
{
    const int maximumWidth = juce::jmin (2 * kOpeningWidth, userArea().getWidth());
    const int maximumHeight = juce::jmin (2 * kOpeningHeight, userArea().getHeight());

    for (const auto& [width, height, small] : { std::tuple { 200, 300, true }, std::tuple { 5000, 7000, false } })
    {
        auto settings = makeSettings ("outsideLimits");
        storeBounds (*settings, 10, 10, width, height);
        auto window = makeWindow (settings.get());
        const int w = window->getWidth(), h = window->getHeight();

        EXPECT_TRUE (w >= kMinimumWidth && w <= maximumWidth && h >= kMinimumHeight && h <= maximumHeight) << w << " x " << h;
        EXPECT_NEAR (w, h * kDesignAspect, 1.0) << w << " x " << h;
        if (small)
            EXPECT_TRUE (w == kMinimumWidth || h == kMinimumHeight) << w << " x " << h;
        else
            EXPECT_TRUE (w == maximumWidth || h == maximumHeight) << w << " x " << h;
    }
}

// The largest rectangle of the design aspect on the user area, at the window's position but
// pushed back by the area's width and height (not its right and bottom edges), then raised to
// its top-left corner. The display aspect is the one taken when the window was made.
TEST (ZoomWindowMaximise, fitsTheDesignAspectOntoTheDisplaysUserArea)
{
    const struct { const char* what; juce::Rectangle<int> current, area; double displayAspect; juce::Rectangle<int> expected; } rows[] = {
        // A 1440 x 877 area below a 23-pixel menu bar: trunc (0.70152 x 877) = 615; y + 877 > 877.
        { "short wide display", { 100, 100, 416, 593 }, { 0, 23, 1440, 877 }, 1440.0 / 877.0, { 100, 23, 615, 877 } },
        // Width of the area, height trunc (600 / 0.70152) = 855; x pushed back to 0, y kept.
        { "narrow display", { 300, 50, 416, 593 }, { 0, 0, 600, 1200 }, 0.5, { 0, 50, 600, 855 } },
        // An area at (200, 100): x pushed back to 1000 - 561 = 439, y to 800 - 800 = 0, raised to 100.
        { "area off the origin", { 900, 900, 416, 593 }, { 200, 100, 1000, 800 }, 1.25, { 439, 100, 561, 800 } },
        // x + 561 = 1061 passes the area's width 1000, not its right edge 1200: x = 1000 - 561.
        { "x past the width only", { 500, 150, 416, 593 }, { 200, 100, 1000, 800 }, 1.25, { 439, 100, 561, 800 } },
        // y + 855 = 1255 passes the area's height 1200, not its bottom edge 1400: y = 1200 - 855.
        { "y past the height only", { 300, 400, 416, 593 }, { 100, 200, 600, 1200 }, 0.5, { 100, 345, 600, 855 } },
    };

    for (const auto& row : rows)
        EXPECT_EQ (ZoomWindow::maximisedBounds (row.current, row.area, kDesignAspect, row.displayAspect), row.expected) << row.what;
}

TEST (ZoomWindowMaximise, togglesToTheLargestDesignRectangleAndBackAcrossRunsAndAResizeFromOutsideLeavesIt)
{
    auto settings = makeSettings ("toggle");
    storeBounds (*settings, 20, 30, 416, 593);
    auto window = makeWindow (settings.get());
    const auto before = window->getBounds();

    // On a display wider than the design: the area's full height at the design aspect, at the
    // window's x, and at the area's top (a y below it would push the window off the area).
    const auto area = userArea();
    ASSERT_GT (area.getWidth() * kOpeningHeight, area.getHeight() * kOpeningWidth);
    const int width = static_cast<int> (area.getHeight() * kOpeningWidth / static_cast<double> (kOpeningHeight));

    window->toggleMaximised();
    EXPECT_TRUE (window->isMaximised());
    EXPECT_EQ (window->getBounds(), juce::Rectangle<int> (before.getX(), area.getY(), width, area.getHeight()));
    EXPECT_EQ (window->getBoundsBeforeMaximise(), before);

    window->toggleMaximised();
    EXPECT_FALSE (window->isMaximised());
    EXPECT_EQ (window->getBounds(), before);

    // Quitting maximised reopens maximised, and the first toggle returns to the earlier bounds.
    window->toggleMaximised();
    const auto maximised = window->getBounds();
    window.reset();
    EXPECT_EQ (settings->getIntValue (ZoomWindow::kIsMaximisedKey), 1);
    EXPECT_EQ (settings->getIntValue (ZoomWindow::kBeforeMaximiseXKey), 20);
    EXPECT_EQ (settings->getIntValue (ZoomWindow::kBeforeMaximiseHeightKey), 593);
    window = makeWindow (settings.get());
    EXPECT_TRUE (window->isMaximised());
    EXPECT_EQ (window->getBounds(), maximised);
    window->toggleMaximised();
    EXPECT_FALSE (window->isMaximised());
    EXPECT_EQ (window->getBounds(), before);

    // A resize from outside leaves the maximised state without restoring.
    window->toggleMaximised();
    window->setBounds (50, 60, 500, 713); // as the corner resizer does
    EXPECT_FALSE (window->isMaximised());
    EXPECT_EQ (window->getBounds(), juce::Rectangle<int> (50, 60, 500, 713));

    window->toggleMaximised();
    EXPECT_TRUE (window->isMaximised());
    EXPECT_EQ (window->getBoundsBeforeMaximise(), juce::Rectangle<int> (50, 60, 500, 713));

    // Minimising is the platform's state, not a resize of the window's own.
    window->setVisible (true);
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

    // A content narrower than one pixel counts as one.
    content.setSize (0, 0);
    zoom.setSize (3, 3);
    EXPECT_EQ (content.getTransform().mat00, 3.0f);

    zoom.removeChildComponent (&content);
}
