#include "TovarekMk2EditorApplication.h"

#include "GuiTestEnvironment.h"
#include "ImageResourcePack.h"
#include "MainComponent.h"
#include "MainWindow.h"
#include "SimulatedHidBus.h"
#include "SimulatedUnit.h"
#include "TestSupport.h"
#include "UpdateCheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

using namespace std::chrono_literals;
using Service = TovarekMk2::TovarekMk2EditorService;

namespace
{
const auto* const guiEnvironment = testing::AddGlobalTestEnvironment (new GuiTestEnvironment);

juce::JUCEApplicationBase* createNothing()
{
    return nullptr;
}

// Runs the message loop until the condition holds or the time-out ends.
template <typename Condition>
bool pumpUntil (Condition condition, std::chrono::milliseconds timeout = 10s)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (! condition())
    {
        if (std::chrono::steady_clock::now() > end)
            return false;
        juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
    }
    return true;
}

// A version page that answers only when the test lets it.
class HeldVersionPage
{
public:
    explicit HeldVersionPage (juce::String text) : _text (std::move (text)) {}

    juce::String fetch()
    {
        std::unique_lock<std::mutex> lock (_mutex);
        _fetching = true;
        _changed.notify_all();
        _changed.wait_for (lock, 30s, [this] { return _released; });
        return _text;
    }

    bool waitForFetch()
    {
        std::unique_lock<std::mutex> lock (_mutex);
        return _changed.wait_for (lock, 10s, [this] { return _fetching; });
    }

    void release()
    {
        std::lock_guard<std::mutex> lock (_mutex);
        _released = true;
        _changed.notify_all();
    }

private:
    std::mutex _mutex;
    std::condition_variable _changed;
    bool _fetching = false;
    bool _released = false;
    juce::String _text;
};

SimUnit::UnitOptions unitWithProductId (uint16_t productId)
{
    SimUnit::UnitOptions options;
    options.description.productId = productId;
    options.description.product = L"Tovarek Mk2";
    return options;
}

// One application per test, started with short device delays, a home folder of its own (where
// the settings file goes) and a version page that says nothing new.
class ApplicationTest : public testing::Test
{
protected:
    void SetUp() override
    {
        SimHid::Bus::instance().reset();
        _home = juce::File (TestSupport::makeTempDirectory (testing::UnitTest::GetInstance()->current_test_info()->name()));
        _savedHome = std::getenv ("HOME") != nullptr ? std::getenv ("HOME") : "";
        setenv ("HOME", _home.getFullPathName().toRawUTF8(), 1);
        juce::JUCEApplicationBase::createInstance = &createNothing;

        // The settling delay also covers the new transport's reader starting up (the product waits 3 s).
        _environment.serviceTiming.settleDelay = 300ms;
        _environment.serviceTiming.readyWait = 0ms;
        _environment.fetchVersionPage = [] { return juce::String(); };
    }

    void TearDown() override
    {
        stop();
        juce::JUCEApplicationBase::createInstance = nullptr;
        setenv ("HOME", _savedHome.c_str(), 1);
        SimHid::Bus::instance().reset();
    }

    void start()
    {
        _app = std::make_unique<TovarekMk2EditorApplication> (_environment);
        _app->initialise ({});
        _stateListener.stateChanged = [this] (Service::State state) {
            std::lock_guard<std::mutex> lock (_statesMutex);
            _states.push_back (state);
        };
        service().addListener (&_stateListener);
    }

    void stop()
    {
        if (_app != nullptr)
        {
            service().removeListener (&_stateListener);
            _app->shutdown();
            _app.reset();
        }
    }

    Service& service() { return *_app->getService(); }

    // A mark for waitForStates: how many states the service has entered so far.
    size_t stateCount()
    {
        std::lock_guard<std::mutex> lock (_statesMutex);
        return _states.size();
    }

    // Waits until the service enters these states in this order after the mark, so a state an
    // earlier step left never ends the wait. Attaching a unit enters Idle at once, before its refresh.
    bool waitForStates (size_t mark, std::vector<Service::State> wanted)
    {
        return pumpUntil ([&] {
            std::lock_guard<std::mutex> lock (_statesMutex);
            auto at = _states.begin() + static_cast<long> (mark);
            for (const auto state : wanted)
                if ((at = std::find (at, _states.end(), state)) == _states.end())
                    return false;
            return true;
        });
    }

    bool waitForRefreshEndingIn (size_t mark, Service::State state) { return waitForStates (mark, { Service::Refreshing, state }); }

    juce::File settingsFile() const
    {
        return _home.getChildFile ("Tovarek Mk2 Editor").getChildFile ("Tovarek Mk2 Editor.settings");
    }

    juce::File _home;
    std::string _savedHome;
    TovarekMk2EditorApplication::Environment _environment;
    std::unique_ptr<TovarekMk2EditorApplication> _app;
    Service::Listener _stateListener;
    std::mutex _statesMutex; // guards _states, entered on the service's threads
    std::vector<Service::State> _states;
};

MainComponent* mainComponentOf (ZoomWindow& window)
{
    return dynamic_cast<MainComponent*> (window.getContentComponent()->getChildComponent (0));
}

struct MenuModel : juce::MenuBarModel
{
    juce::StringArray getMenuBarNames() override { return { "File" }; }
    juce::PopupMenu getMenuForIndex (int, const juce::String&) override { return {}; }
    void menuItemSelected (int, int) override {}
};

std::string captureLog (const std::function<void()>& run)
{
    testing::internal::CaptureStdout();
    run();
    return testing::internal::GetCapturedStdout();
}
} // namespace

TEST (ApplicationIdentity, namesItselfAllowsOneInstanceAndCreatesNothingBeforeStartUp)
{
    juce::JUCEApplicationBase::createInstance = &createNothing;
    {
        TovarekMk2EditorApplication app;
        EXPECT_EQ (app.getApplicationName(), "Tovarek Mk2 Editor");
        EXPECT_EQ (app.getApplicationVersion(), "4.2.0.0");
        EXPECT_FALSE (app.moreThanOneInstanceAllowed());
        EXPECT_EQ (app.getWindow(), nullptr);
        EXPECT_EQ (app.getService(), nullptr);
        EXPECT_EQ (app.getScanIntervalMs(), 0);
    }
    juce::JUCEApplicationBase::createInstance = nullptr;
}

TEST (ApplicationResourceReader, readsExactlyTheAskedBytesAtTheOffsetAndFailsWithoutAFile)
{
    const std::string path = TestSupport::makeTempDirectory ("resourceReader") + "/resources.bin";
    TestSupport::writeFileBytes (path, { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9 });
    std::FILE* file = std::fopen (path.c_str(), "rb");
    ASSERT_NE (file, nullptr);

    const struct
    {
        std::FILE* file;
        unsigned int offset;
        unsigned long size;
        bool ok;
        std::vector<uint8_t> bytes;
    } rows[] = {
        { file, 6, 4, true, { 6, 7, 8, 9 } },
        { file, 0, 2, true, { 0, 1 } },
        { file, 2, 0, true, {} },
        { file, 8, 4, false, {} },   // two bytes short
        { file, 100, 1, false, {} }, // past the end
        { nullptr, 0, 1, false, {} },
    };

    for (const auto& row : rows)
    {
        uint8_t bytes[4] = {};
        EXPECT_EQ (TovarekMk2EditorApplication::makeResourceReader (row.file) (row.offset, row.size, bytes), row.ok)
            << row.offset << " " << row.size;
        EXPECT_EQ (std::vector<uint8_t> (bytes, bytes + (row.ok ? row.size : 0)), row.bytes) << row.offset;
    }
    std::fclose (file);
}

TEST (ApplicationUpdateAlert, saysThereIsANewVersionWithTheSupportLinkAndOneOkButtonOnReturn)
{
    TovarekMk2EditorApplication::UpdateAlert alert;
    ASSERT_EQ (alert.window.getNumCustomComponents(), 1);
    ASSERT_EQ (alert.window.getCustomComponent (0), &alert.link);
    ASSERT_EQ (alert.window.getNumButtons(), 1);
    juce::TextButton* ok = nullptr;
    for (auto* child : alert.window.getChildren())
        if (auto* button = dynamic_cast<juce::TextButton*> (child))
            ok = button;
    ASSERT_NE (ok, nullptr);

    const struct { const char* what; juce::String actual; juce::String expected; } rows[] = {
        { "title", alert.window.getName(), "Update" },
        { "title and message", alert.window.getDescription(),
          "Update. A new version of Tovarek Mk2 Editor is available.\nPlease visit the Zelkor Amps website for more information:" },
        { "icon", juce::String ((int) alert.window.getAlertType()), juce::String ((int) juce::MessageBoxIconType::NoIcon) },
        { "link text", alert.link.getButtonText(), UpdateCheck::kSupportPageUrl },
        { "link address", alert.link.getURL().toString (false), UpdateCheck::kSupportPageUrl },
        { "link caption", alert.link.getName(), "" },
        { "link size", alert.link.getBounds().withZeroOrigin().toString(), "0 0 400 28" },
        { "button", ok->getButtonText(), "OK" },
        { "button result", juce::String (ok->getCommandID()), "1" },
        { "button key", juce::String ((int) ok->isRegisteredForShortcut (juce::KeyPress (13))), "1" },
    };

    for (const auto& row : rows)
        EXPECT_EQ (row.actual, row.expected) << row.what;
}

// The window opens at two thirds of the main component's 624 x 890 design, shrinks to half of it,
// grows to twice its opening size or the display's user area, and keeps the design's aspect.
TEST_F (ApplicationTest, opensItsWindowWithinTheDesignsLimitsAndAspect)
{
    start();
    auto* window = _app->getWindow();
    ASSERT_NE (window, nullptr);
    ASSERT_NE (mainComponentOf (*window), nullptr);
    const auto* limits = window->getConstrainer();
    const auto area = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay()->userArea;

    const struct { const char* what; double actual; double expected; } rows[] = {
        { "visible", (double) window->isVisible(), 1 },
        { "opening width", (double) window->getWidth(), 416 },
        { "opening height", (double) window->getHeight(), 593 },
        { "minimum width", (double) limits->getMinimumWidth(), 312 },
        { "minimum height", (double) limits->getMinimumHeight(), 445 },
        { "maximum width", (double) limits->getMaximumWidth(), (double) std::min (832, area.getWidth()) },
        { "maximum height", (double) limits->getMaximumHeight(), (double) std::min (1186, area.getHeight()) },
        { "aspect", limits->getFixedAspectRatio(), (double) (float) (416.0 / 593.0) },
        { "background", (double) window->getBackgroundColour().getARGB(), (double) 0xff000000 },
    };

    for (const auto& row : rows)
        EXPECT_EQ (row.actual, row.expected) << row.what;
    EXPECT_EQ (window->getName(), "Tovarek Mk2 Editor");

    // The main component's Maximize and Minimize buttons reach this window.
    auto* main = mainComponentOf (*window);
    ASSERT_TRUE (main->_maximiseCallback && main->_minimiseCallback);
    main->_maximiseCallback();
    EXPECT_TRUE (window->isMaximised());
    main->_maximiseCallback();
    EXPECT_FALSE (window->isMaximised());
}

// Devices are found by the scan alone: none before its first tick, a second after start-up.
TEST_F (ApplicationTest, scansUsbOnceASecondStartingOneSecondAfterStartUp)
{
    SimUnit::SimulatedUnit unit (unitWithProductId (0x003F));
    unit.plug();
    const auto started = std::chrono::steady_clock::now();
    start();

    EXPECT_EQ (SimHid::Bus::instance().initCount(), 1);
    EXPECT_EQ (SimHid::Bus::instance().enumerateCount(), 0u);
    EXPECT_EQ (_app->getConnectedDevice(), nullptr);
    EXPECT_EQ (service().getState(), Service::Disconnected);
    EXPECT_EQ (_app->getScanIntervalMs(), 1000);

    // The message loop's own timer finds the unit; a timer never fires before its period.
    // A loaded machine may run a second tick before the loop returns: count the opens, not the scans.
    ASSERT_TRUE (pumpUntil ([&] { return _app->getConnectedDevice() != nullptr; }));
    EXPECT_GE (std::chrono::steady_clock::now() - started, 950ms);
    EXPECT_EQ (SimHid::Bus::instance().openAttemptCount(), 1u) << "the first scan opened the unit";
}

// Without a resource file the window still opens, with empty images; the log says why.
TEST_F (ApplicationTest, aMissingResourceFileIsLoggedAndLeavesTheImagesEmpty)
{
    const struct { PlatformSupport::ResourceLocation location; std::string log; } rows[] = {
        { {}, "DEBUG: Failed to get fs path for resource\n"
              "DEBUG: Failed to open resource file ''\n"
              "DEBUG: URL: \n" },
        { { "/nonexistent/resources.bin", "file:///nonexistent/resources.bin" },
          "DEBUG: Failed to open resource file '/nonexistent/resources.bin'\n"
          "DEBUG: URL: file:///nonexistent/resources.bin\n" },
    };

    for (const auto& row : rows)
    {
        _environment.locateResourceFile = [&] { return row.location; };
        const auto log = captureLog ([&] { start(); });

        EXPECT_NE (log.find (row.log), std::string::npos) << log;
        EXPECT_EQ (log.find ("Failed to get fs path") != std::string::npos, row.location.path.empty()) << log;
        ASSERT_NE (_app->getWindow(), nullptr);
        EXPECT_TRUE (_app->getWindow()->isVisible());
        EXPECT_FALSE (getImageResource (0).isValid());
        stop();
    }
}

// Either product id connects; the refresh then holds the unit's DSP firmware against 4.2.0, and
// its system firmware against nothing.
TEST_F (ApplicationTest, connectsTheUnitAtTheFirstScanAndAsksForDspFirmware420)
{
    const struct { uint16_t productId; SimUnit::Version system, dsp; Service::State state; } rows[] = {
        { 0x003C, { 4, 1, 0 }, { 4, 2, 0 }, Service::Idle },
        { 0x003F, { 4, 0, 0 }, { 4, 2, 0 }, Service::Idle },
        { 0x003F, { 4, 1, 0 }, { 4, 1, 9 }, Service::FirmwareTooOld },
    };

    for (const auto& row : rows)
    {
        auto options = unitWithProductId (row.productId);
        options.systemVersion = row.system;
        options.dspVersion = row.dsp;
        SimUnit::SimulatedUnit unit (options);
        unit.plug();
        start();

        const size_t mark = stateCount();
        _app->timerCallback();
        ASSERT_NE (_app->getConnectedDevice(), nullptr);
        EXPECT_EQ (_app->getConnectedDevice()->getProductId(), row.productId);
        EXPECT_TRUE (waitForRefreshEndingIn (mark, row.state)) << (int) row.dsp.minor << "." << (int) row.dsp.patch;
        stop();
    }
}

// The first unit reported is connected; a second stays open and unused until it is plugged in
// again after the first has gone, and unplugging it meanwhile only closes it.
TEST_F (ApplicationTest, aSecondUnitIsUsedOnlyWhenPluggedInAgainAfterTheFirstHasGone)
{
    SimUnit::SimulatedUnit first (unitWithProductId (0x003F));
    SimUnit::SimulatedUnit second (unitWithProductId (0x003C));
    first.plug();
    second.plug();
    start();
    auto& bus = SimHid::Bus::instance();
    const auto connectedProduct = [this] { return _app->getConnectedDevice() != nullptr ? _app->getConnectedDevice()->getProductId() : 0; };

    _app->timerCallback();
    EXPECT_EQ (connectedProduct(), 0x003F);
    EXPECT_EQ (bus.openHandleCount(), 2u);
    ASSERT_TRUE (waitForRefreshEndingIn (0, Service::Idle));

    second.unplug();
    _app->timerCallback();
    EXPECT_EQ (bus.openHandleCount(), 1u);
    EXPECT_EQ (connectedProduct(), 0x003F);
    EXPECT_EQ (service().getState(), Service::Idle);

    second.plug();
    _app->timerCallback();
    first.unplug();
    _app->timerCallback(); // one scan is enough to let the first go; a second takes no other
    EXPECT_EQ (connectedProduct(), 0);
    _app->timerCallback();
    EXPECT_EQ (connectedProduct(), 0);
    EXPECT_EQ (service().getState(), Service::Disconnected);
    EXPECT_EQ (bus.openHandleCount(), 1u); // the second, open and unused

    second.unplug();
    _app->timerCallback();
    second.plug();
    const size_t mark = stateCount();
    _app->timerCallback();
    EXPECT_EQ (connectedProduct(), 0x003C);
    EXPECT_TRUE (waitForRefreshEndingIn (mark, Service::Idle));
}

// The reader has already stopped on the failed read when the scan sees the loss (the scan seeing
// it first is the second-unit test's case).
TEST_F (ApplicationTest, unpluggingTheConnectedUnitDetachesTheServiceAndClosesTheDevice)
{
    SimUnit::SimulatedUnit unit (unitWithProductId (0x003F));
    unit.plug();
    start();
    _app->timerCallback();
    ASSERT_TRUE (waitForRefreshEndingIn (0, Service::Idle));

    const size_t mark = stateCount();
    unit.unplug();
    ASSERT_TRUE (waitForStates (mark, { Service::Error })); // the reader's failed read reached the service
    EXPECT_EQ (service().getLastError(), "A communication error occurred");

    _app->timerCallback();
    EXPECT_EQ (_app->getConnectedDevice(), nullptr);
    EXPECT_EQ (service().getState(), Service::Disconnected);
    EXPECT_EQ (SimHid::Bus::instance().openHandleCount(), 0u);
}

TEST_F (ApplicationTest, quittingWhileConnectedReleasesEverythingAndTheNextRunOpensWhereItClosed)
{
    SimUnit::SimulatedUnit unit (unitWithProductId (0x003F));
    unit.plug();
    start();
    _app->timerCallback();
    ASSERT_TRUE (waitForRefreshEndingIn (0, Service::Idle));
    _app->getWindow()->setBounds (30, 40, 624, 890);
    MenuModel menu;
    PlatformSupport::MainMenu::set (&menu, nullptr, "Open Recent");
    ASSERT_EQ (PlatformSupport::MainMenu::get(), &menu);

    _app->shutdown();

    EXPECT_EQ (PlatformSupport::MainMenu::get(), nullptr);
    EXPECT_EQ (PlatformSupport::MainMenu::getRecentItemsMenuName(), "");

    EXPECT_EQ (_app->getWindow(), nullptr);
    EXPECT_EQ (_app->getService(), nullptr);
    EXPECT_EQ (_app->getConnectedDevice(), nullptr);
    EXPECT_EQ (SimHid::Bus::instance().openHandleCount(), 0u);
    EXPECT_EQ (SimHid::Bus::instance().initCount(), 0);
    EXPECT_FALSE (getImageResource (0).isValid());

    // The settings file is named after the application, in a folder of that name (on macOS
    // inside Application Support).
    EXPECT_EQ (TovarekMk2EditorApplication::makeSettingsOptions().osxLibrarySubFolder, "Application Support");
    ASSERT_TRUE (settingsFile().existsAsFile());
    juce::PropertiesFile saved (settingsFile(), TovarekMk2EditorApplication::makeSettingsOptions());
    EXPECT_EQ (saved.getIntValue ("windowX"), 30);
    EXPECT_EQ (saved.getIntValue ("windowY"), 40);
    EXPECT_EQ (saved.getIntValue ("windowWidth"), 624);
    EXPECT_EQ (saved.getIntValue ("isMaximized", -1), 0);

    // The next run opens where this one closed.
    _app.reset();
    start();
    EXPECT_EQ (_app->getWindow()->getBounds(), juce::Rectangle<int> (30, 40, 624, 890));
}

TEST_F (ApplicationTest, aNewerVersionShowsTheUpdateAlertOnTheMessageThread)
{
    // Closes each alert once it is modal (timers go on inside its modal loop), noting its title.
    struct AlertCloser : juce::Timer
    {
        void timerCallback() override
        {
            if (auto* modal = juce::Component::getCurrentlyModalComponent())
            {
                titles.add (modal->getName());
                modal->exitModalState (1);
            }
        }
        juce::StringArray titles;
    } closer;
    closer.startTimer (10);

    _environment.fetchVersionPage = [] { return juce::String ("LATEST_VERSION = 5.0.0.0"); };
    start();

    ASSERT_TRUE (pumpUntil ([&] { return ! closer.titles.isEmpty(); }));
    EXPECT_EQ (closer.titles, juce::StringArray ("Update"));
    EXPECT_FALSE (_app->getUpdateCheckState()->takeUpdateAvailable());
}

TEST_F (ApplicationTest, anUpdateCheckStillRunningAtShutDownOnlyLogs)
{
    auto page = std::make_shared<HeldVersionPage> ("LATEST_VERSION = 9.0.0.0");
    _environment.fetchVersionPage = [page] { return page->fetch(); };
    start();
    ASSERT_TRUE (page->waitForFetch());
    std::weak_ptr<UpdateCheckState> state = _app->getUpdateCheckState();

    stop(); // shut down and destroyed while the thread still waits for the page

    testing::internal::CaptureStdout();
    page->release();
    // The thread's copy of the shared state is the last one: it goes when the thread ends.
    const bool ended = pumpUntil ([&] { return state.expired(); });
    const auto log = testing::internal::GetCapturedStdout();

    EXPECT_TRUE (ended);
    EXPECT_NE (log.find ("There is a newer application version available!"), std::string::npos) << log;
}

// The version scan, the comparison and the shared state.

namespace
{
// A version page as the network gives it: its bytes, then `filler` repeated without end (given up
// after a megabyte, so that a reader that takes it all still ends).
class VersionPage : public juce::InputStream
{
public:
    explicit VersionPage (std::string start, std::string filler = {})
        : _start (std::move (start)), _filler (std::move (filler))
    {
    }

    juce::int64 getTotalLength() override { return _filler.empty() ? (juce::int64) _start.size() : -1; }
    bool isExhausted() override { return _position >= end(); }
    juce::int64 getPosition() override { return (juce::int64) _position; }
    bool setPosition (juce::int64) override { return false; }
    int read (void* destination, int bytes) override
    {
        auto* out = static_cast<char*> (destination);
        int count = 0;
        for (; count < bytes && _position < end(); ++count, ++_position)
            out[count] = _position < _start.size() ? _start[_position] : _filler[(_position - _start.size()) % _filler.size()];
        return count;
    }

private:
    size_t end() const { return _filler.empty() ? _start.size() : size_t { 1 } << 20; }

    std::string _start, _filler;
    size_t _position = 0;
};

// An ASCII text in UTF-16, after its byte-order mark.
std::string utf16 (const std::string& text, bool bigEndian)
{
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char c : text)
        bytes += bigEndian ? std::string { '\0', c } : std::string { c, '\0' };
    return bytes;
}

const std::string utf8Mark = "\xEF\xBB\xBF";
// The mark of a UTF-16 page and its first 255 characters, two bytes each.
constexpr juce::int64 kUtf16PageBytes = 2 + 2 * 255;
} // namespace

// The page's bytes, the version it announces (packed a.b.c.d, each part's low byte; a page
// without the line at its start, after white space, announces 0), and whether that is newer
// than this editor's 4.2.0.0: only then is the application told. An endless page is read only as
// far as its first 255 characters in UTF-16.
TEST (UpdateCheckVersion, tellsTheApplicationOnlyOfVersionsAbove4200)
{
    const std::string spaces (255, ' ');
    const struct { std::string page, filler; uint32_t version; bool newer; } rows[] = {
        { "LATEST_VERSION = 4.2.0.1", "", 0x04020001, true },
        { "  \n LATEST_VERSION=5 . 0 . 0 . 0\nmore", "", 0x05000000, true },
        { "LATEST_VERSION = 4.3", "", 0x04030000, true },
        { "LATEST_VERSION = 4.2.0.0", "", 0x04020000, false },
        { "LATEST_VERSION = 4.1.9.9", "", 0x04010909, false },
        { "LATEST_VERSION = 4.2.256.0", "", 0x04020000, false },
        { "LATEST_VERSION = 260.1.2.3", "", 0x04010203, false },
        { "<html>LATEST_VERSION = 9.0.0.0", "", 0, false },
        { "latest_version = 9.0.0.0", "", 0, false },
        { "", "", 0, false },
        // Only the first 255 bytes are scanned: the last is the 3 of 345.
        { spaces.substr (0, 200) + "LATEST_VERSION = 9.0.0.0", "", 0x09000000, true },
        { spaces.substr (0, 231) + "LATEST_VERSION = 9.1.2.345", "", 0x09010203, true },
        { spaces + "LATEST_VERSION = 9.0.0.0", "", 0, false },
        { "LATEST_VERSION = 4.2.0.1", " ", 0x04020001, true },
        // Decoded as text: a UTF-8 mark is dropped, UTF-16 read in the order its mark gives.
        { utf8Mark + "LATEST_VERSION = 4.3.0.0", "", 0x04030000, true },
        { utf8Mark, "", 0, false },
        { utf16 ("LATEST_VERSION = 4.3.0.0", false), "", 0x04030000, true },
        { utf16 (" LATEST_VERSION = 4.1.0.0", true), "", 0x04010000, false },
        { utf16 (spaces.substr (0, 231) + "LATEST_VERSION = 9.1.2.345", false), std::string ("5\0", 2), 0x09010203, true },
    };

    for (const auto& row : rows)
    {
        const auto shown = testing::PrintToString (row.page);
        VersionPage page (row.page, row.filler);
        const auto text = UpdateCheck::readVersionText (page);
        EXPECT_EQ (UpdateCheck::parseLatestVersion (text), row.version) << shown;
        EXPECT_EQ (page.getPosition(), row.filler.empty() ? (juce::int64) row.page.size() : kUtf16PageBytes) << shown;

        int notified = 0;
        auto state = std::make_shared<UpdateCheckState> ([&] { ++notified; });
        captureLog ([&] { UpdateCheck::run (state, [&] { return text; }); });
        EXPECT_EQ (notified, row.newer ? 1 : 0) << shown;
        EXPECT_EQ (state->takeUpdateAvailable(), row.newer) << shown;
        EXPECT_FALSE (state->takeUpdateAvailable()) << shown;
    }
}

// The log shows the decoded text. A UTF-8 character that the network cap cuts in two is left
// out, so the rest still reads as UTF-8 (and an "é" before it stays one).
TEST (UpdateCheckRun, logsTheQuestionTheResponseCutTo255BytesAndTheAnswer)
{
    const std::string newer = "LATEST_VERSION = 4.2.0.1 \xC3\xA9";
    const struct { std::string page; std::string log; } rows[] = {
        { "LATEST_VERSION = 4.2.0.1", "DEBUG: Checking for update...\n"
                                      "DEBUG: Update check response: LATEST_VERSION = 4.2.0.1\n"
                                      "DEBUG: There is a newer application version available!\n" },
        { "", "DEBUG: Checking for update...\n"
              "DEBUG: Update check response: \n"
              "DEBUG: Application is up-to-date.\n" },
        { std::string (300, 'x'), "DEBUG: Checking for update...\n"
                                  "DEBUG: Update check response: " + std::string (255, 'x') + "\n"
                                  "DEBUG: Application is up-to-date.\n" },
        // The second "é" takes bytes 511 and 512 of the page.
        { utf8Mark + newer + std::string (511 - 3 - newer.size(), 'x') + "\xC3\xA9 more",
          "DEBUG: Checking for update...\n"
          "DEBUG: Update check response: " + newer + std::string (255 - newer.size(), 'x') + "\n"
          "DEBUG: There is a newer application version available!\n" },
    };

    for (const auto& row : rows)
    {
        auto state = std::make_shared<UpdateCheckState> (nullptr);
        VersionPage page (row.page);
        const auto text = UpdateCheck::readVersionText (page);
        EXPECT_EQ (captureLog ([&] { UpdateCheck::run (state, [&] { return text; }); }), row.log);
    }
}

TEST (UpdateCheckRun, afterTheApplicationEndedANewerVersionIsOnlyLogged)
{
    std::atomic<int> notified { 0 };
    auto state = std::make_shared<UpdateCheckState> ([&] { ++notified; });
    HeldVersionPage page ("LATEST_VERSION = 5.0.0.0");
    std::thread check ([&] { UpdateCheck::run (state, [&] { return page.fetch(); }); });

    ASSERT_TRUE (page.waitForFetch());
    state->applicationEnding();
    page.release();
    check.join();

    EXPECT_EQ (notified.load(), 0);
    EXPECT_FALSE (state->takeUpdateAvailable());
    EXPECT_FALSE (state->isApplicationAlive());
}

TEST (UpdateCheckRun, theRealFetchFailsQuietlyWithoutANetwork)
{
    // The project's own address does not resolve; the fetch must give up, not hang.
    const auto start = std::chrono::steady_clock::now();
    const auto text = UpdateCheck::fetchVersionPage();
    EXPECT_TRUE (text.isEmpty());
    EXPECT_LT (std::chrono::steady_clock::now() - start, 30s);
}

// The platform layer.

TEST (PlatformResources, findsTheFileBesideTheExecutableFirst)
{
    const juce::File root (TestSupport::makeTempDirectory ("resourceSearch"));
    const auto folder = root.getChildFile ("MacOS");
    folder.getChildFile ("Resources").createDirectory();
    root.getChildFile ("Resources").createDirectory();

    EXPECT_TRUE (PlatformSupport::locateResource (folder, "resources.bin").path.empty());
    EXPECT_TRUE (PlatformSupport::locateResource (folder, "resources.bin").url.empty());

    // A folder of that name is not the file.
    root.getChildFile ("Resources/resources.bin").createDirectory();
    EXPECT_TRUE (PlatformSupport::locateResource (folder, "resources.bin").path.empty());
    root.getChildFile ("Resources/resources.bin").deleteRecursively();

    root.getChildFile ("Resources/resources.bin").replaceWithText ("c");
    EXPECT_EQ (PlatformSupport::locateResource (folder, "resources.bin").path,
               root.getChildFile ("Resources/resources.bin").getFullPathName().toStdString());

    folder.getChildFile ("Resources/resources.bin").replaceWithText ("b");
    EXPECT_EQ (PlatformSupport::locateResource (folder, "resources.bin").path,
               folder.getChildFile ("Resources/resources.bin").getFullPathName().toStdString());

    folder.getChildFile ("resources.bin").replaceWithText ("a");
    const auto found = PlatformSupport::locateResource (folder, "resources.bin");
    EXPECT_EQ (found.path, folder.getChildFile ("resources.bin").getFullPathName().toStdString());
    EXPECT_EQ (found.url.rfind ("file://", 0), 0u);
}
