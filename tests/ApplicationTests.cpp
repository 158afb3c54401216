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

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <mutex>
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

template <typename Condition>
bool waitUntil (Condition condition, std::chrono::milliseconds timeout = 10s)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (! condition())
    {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for (2ms);
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
    }

    void stop()
    {
        if (_app != nullptr)
        {
            _app->shutdown();
            _app.reset();
        }
    }

    Service& service() { return *_app->getService(); }

    bool waitForState (Service::State state)
    {
        return pumpUntil ([&] { return service().getState() == state; });
    }

    juce::File settingsFile() const
    {
        return _home.getChildFile ("Tovarek Mk2 Editor").getChildFile ("Tovarek Mk2 Editor.settings");
    }

    juce::File _home;
    std::string _savedHome;
    TovarekMk2EditorApplication::Environment _environment;
    std::unique_ptr<TovarekMk2EditorApplication> _app;
};

MainComponent* mainComponentOf (ZoomWindow& window)
{
    return dynamic_cast<MainComponent*> (window.getContentComponent()->getChildComponent (0));
}

std::string captureLog (const std::function<void()>& run)
{
    testing::internal::CaptureStdout();
    run();
    return testing::internal::GetCapturedStdout();
}
} // namespace

TEST (ApplicationIdentity, namesItselfAndAllowsOneInstance)
{
    juce::JUCEApplicationBase::createInstance = &createNothing;
    {
        TovarekMk2EditorApplication app;
        EXPECT_EQ (app.getApplicationName(), "Tovarek Mk2 Editor");
        EXPECT_EQ (app.getApplicationVersion(), "4.2.0.0");
        EXPECT_FALSE (app.moreThanOneInstanceAllowed());
        EXPECT_EQ (app.getWindow(), nullptr);
        EXPECT_EQ (app.getService(), nullptr);
        EXPECT_EQ (juce::JUCEApplicationBase::getInstance(), &app);
    }
    juce::JUCEApplicationBase::createInstance = nullptr;
}

TEST (ApplicationIdentity, asksForDsp420AndNoSystemVersion)
{
    const auto minimum = TovarekMk2EditorApplication::minimumFirmware();
    EXPECT_EQ (minimum.systemVersion, (std::array<uint8_t, 4> { 0, 0, 0, 0 }));
    EXPECT_EQ (minimum.dspVersion, (std::array<uint8_t, 4> { 4, 2, 0, 0 }));
}

TEST (ApplicationSettings, liveInAFolderNamedAfterTheApplication)
{
    const auto options = TovarekMk2EditorApplication::makeSettingsOptions();
    EXPECT_EQ (options.applicationName, "Tovarek Mk2 Editor");
    EXPECT_EQ (options.filenameSuffix, "settings");
    EXPECT_EQ (options.folderName, "Tovarek Mk2 Editor");
    EXPECT_EQ (options.osxLibrarySubFolder, "Application Support");
    EXPECT_EQ (options.getDefaultFile().getFileName(), "Tovarek Mk2 Editor.settings");
    EXPECT_EQ (options.getDefaultFile().getParentDirectory().getFileName(), "Tovarek Mk2 Editor");
}

TEST (ApplicationResourceReader, readsExactlyTheAskedBytesAtTheOffset)
{
    const std::string path = TestSupport::makeTempDirectory ("resourceReader") + "/resources.bin";
    TestSupport::writeFileBytes (path, { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9 });
    std::FILE* file = std::fopen (path.c_str(), "rb");
    ASSERT_NE (file, nullptr);
    const auto read = TovarekMk2EditorApplication::makeResourceReader (file);

    uint8_t bytes[4] = {};
    EXPECT_TRUE (read (6, 4, bytes));
    EXPECT_EQ (std::vector<uint8_t> (bytes, bytes + 4), (std::vector<uint8_t> { 6, 7, 8, 9 }));
    EXPECT_TRUE (read (0, 2, bytes));
    EXPECT_EQ (bytes[1], 1);

    EXPECT_FALSE (read (8, 4, bytes)); // two bytes short
    EXPECT_FALSE (read (100, 1, bytes)); // past the end
    EXPECT_TRUE (read (2, 0, bytes));
    std::fclose (file);
}

TEST (ApplicationResourceReader, failsEveryReadWithoutAFile)
{
    const auto read = TovarekMk2EditorApplication::makeResourceReader (nullptr);
    uint8_t byte = 0;
    EXPECT_FALSE (read (0, 1, &byte));
}

TEST (ApplicationUpdateAlert, showsTheSupportLinkAndOneOkButtonOnReturn)
{
    TovarekMk2EditorApplication::UpdateAlert alert;
    EXPECT_EQ (alert.window.getName(), "Update");
    ASSERT_EQ (alert.window.getNumCustomComponents(), 1);
    EXPECT_EQ (alert.window.getCustomComponent (0), &alert.link);
    EXPECT_EQ (alert.link.getButtonText(), UpdateCheck::kSupportPageUrl);
    EXPECT_EQ (alert.link.getURL().toString (false), UpdateCheck::kSupportPageUrl);
    EXPECT_EQ (alert.link.getName(), "");
    EXPECT_EQ (alert.link.getWidth(), 400);
    EXPECT_EQ (alert.link.getHeight(), 28);

    ASSERT_EQ (alert.window.getNumButtons(), 1);
    juce::TextButton* ok = nullptr;
    for (auto* child : alert.window.getChildren())
        if (auto* button = dynamic_cast<juce::TextButton*> (child))
            ok = button;
    ASSERT_NE (ok, nullptr);
    EXPECT_EQ (ok->getButtonText(), "OK");
    EXPECT_TRUE (ok->isRegisteredForShortcut (juce::KeyPress (juce::KeyPress::returnKey)));
}

TEST_F (ApplicationTest, opensTheWindowAndLooksForNoDeviceBeforeTheFirstScan)
{
    SimUnit::SimulatedUnit unit (unitWithProductId (0x003F));
    unit.plug();
    start();

    auto* window = _app->getWindow();
    ASSERT_NE (window, nullptr);
    EXPECT_TRUE (window->isVisible());
    EXPECT_EQ (window->getName(), "Tovarek Mk2 Editor");
    EXPECT_EQ (window->getWidth(), 416);
    EXPECT_EQ (window->getHeight(), 593);
    EXPECT_EQ (window->getBackgroundColour(), juce::Colour (0xff000000));
    EXPECT_NE (mainComponentOf (*window), nullptr);

    EXPECT_EQ (SimHid::Bus::instance().enumerateCount(), 0u);
    EXPECT_EQ (_app->getConnectedDevice(), nullptr);
    EXPECT_EQ (service().getState(), Service::Disconnected);
    EXPECT_EQ (SimHid::Bus::instance().initCount(), 1);
}

TEST_F (ApplicationTest, theMainComponentsMaximiseButtonReachesTheWindow)
{
    start();
    auto* window = _app->getWindow();
    auto* main = mainComponentOf (*window);
    ASSERT_NE (main, nullptr);
    ASSERT_TRUE (main->_maximiseCallback);
    ASSERT_TRUE (main->_minimiseCallback);

    main->_maximiseCallback();
    EXPECT_TRUE (window->isMaximised());
    main->_maximiseCallback();
    EXPECT_FALSE (window->isMaximised());
}

TEST_F (ApplicationTest, withoutResourceFileTheWindowStillOpensWithEmptyImages)
{
    _environment.locateResourceFile = [] { return PlatformSupport::ResourceLocation {}; };
    const auto log = captureLog ([&] { start(); });

    EXPECT_NE (log.find ("DEBUG: Failed to get fs path for resource\n"
                         "DEBUG: Failed to open resource file ''\n"
                         "DEBUG: URL: \n"),
               std::string::npos)
        << log;
    ASSERT_NE (_app->getWindow(), nullptr);
    EXPECT_TRUE (_app->getWindow()->isVisible());
    EXPECT_FALSE (getImageResource (0).isValid());
}

TEST_F (ApplicationTest, aResourceThatCannotBeOpenedLogsItsPathAndUrl)
{
    _environment.locateResourceFile = []
    { return PlatformSupport::ResourceLocation { "/nonexistent/resources.bin", "file:///nonexistent/resources.bin" }; };
    const auto log = captureLog ([&] { start(); });

    EXPECT_EQ (log.find ("Failed to get fs path for resource"), std::string::npos);
    EXPECT_NE (log.find ("DEBUG: Failed to open resource file '/nonexistent/resources.bin'\n"
                         "DEBUG: URL: file:///nonexistent/resources.bin\n"),
               std::string::npos)
        << log;
}

TEST_F (ApplicationTest, connectsTheUnitAtTheFirstScanAndRefreshesIt)
{
    SimUnit::SimulatedUnit unit (unitWithProductId (0x003C));
    unit.plug();
    start();

    _app->timerCallback();
    ASSERT_NE (_app->getConnectedDevice(), nullptr);
    EXPECT_EQ (_app->getConnectedDevice()->getProductId(), 0x003C);
    ASSERT_TRUE (waitForState (Service::Idle));

    Korvantal::KorvantalData::FirmwareVersionInfo versions;
    ASSERT_TRUE (service().getFirmwareVersionInfo (versions));
    EXPECT_EQ (versions.dspVersion[0], 4);
    EXPECT_EQ (versions.dspVersion[1], 2);
}

TEST_F (ApplicationTest, aUnitBelowTheMinimumDspFirmwareNeedsAnUpdate)
{
    auto options = unitWithProductId (0x003F);
    options.dspVersion = { 4, 1, 9 };
    SimUnit::SimulatedUnit unit (options);
    unit.plug();
    start();

    _app->timerCallback();
    EXPECT_TRUE (waitForState (Service::FirmwareTooOld));
}

TEST_F (ApplicationTest, aSecondUnitStaysUnusedAndUnpluggingItOnlyClosesIt)
{
    SimUnit::SimulatedUnit first (unitWithProductId (0x003F));
    SimUnit::SimulatedUnit second (unitWithProductId (0x003C));
    first.plug();
    second.plug();
    start();

    _app->timerCallback();
    ASSERT_NE (_app->getConnectedDevice(), nullptr);
    EXPECT_EQ (_app->getConnectedDevice()->getProductId(), 0x003F);
    EXPECT_EQ (SimHid::Bus::instance().openHandleCount(), 2u);
    ASSERT_TRUE (waitForState (Service::Idle));

    second.unplug();
    _app->timerCallback();
    EXPECT_EQ (SimHid::Bus::instance().openHandleCount(), 1u);
    EXPECT_EQ (_app->getConnectedDevice()->getProductId(), 0x003F);
    EXPECT_EQ (service().getState(), Service::Idle);
}

TEST_F (ApplicationTest, theSecondUnitIsPickedUpOnlyWhenPluggedInAgain)
{
    SimUnit::SimulatedUnit first (unitWithProductId (0x003F));
    SimUnit::SimulatedUnit second (unitWithProductId (0x003C));
    first.plug();
    second.plug();
    start();
    _app->timerCallback();
    ASSERT_TRUE (waitForState (Service::Idle));

    first.unplug();
    _app->timerCallback();
    _app->timerCallback();
    EXPECT_EQ (_app->getConnectedDevice(), nullptr);
    EXPECT_EQ (service().getState(), Service::Disconnected);
    EXPECT_EQ (SimHid::Bus::instance().openHandleCount(), 1u); // the second, open and unused

    second.unplug();
    _app->timerCallback();
    second.plug();
    _app->timerCallback();
    ASSERT_NE (_app->getConnectedDevice(), nullptr);
    EXPECT_EQ (_app->getConnectedDevice()->getProductId(), 0x003C);
    EXPECT_TRUE (waitForState (Service::Idle));
}

TEST_F (ApplicationTest, unpluggingTheConnectedUnitDetachesTheServiceAndClosesTheDevice)
{
    SimUnit::SimulatedUnit unit (unitWithProductId (0x003F));
    unit.plug();
    start();
    _app->timerCallback();
    ASSERT_TRUE (waitForState (Service::Idle));

    unit.unplug();
    // The reader may or may not have stopped on the failed read before the scan sees the loss.
    _app->timerCallback();
    EXPECT_EQ (_app->getConnectedDevice(), nullptr);
    EXPECT_EQ (service().getState(), Service::Disconnected);
    EXPECT_EQ (SimHid::Bus::instance().openHandleCount(), 0u);
}

TEST_F (ApplicationTest, unpluggingAfterTheReaderHasFailedStillDetachesAndCloses)
{
    SimUnit::SimulatedUnit unit (unitWithProductId (0x003F));
    unit.plug();
    start();
    _app->timerCallback();
    ASSERT_TRUE (waitForState (Service::Idle));

    unit.unplug();
    ASSERT_TRUE (waitForState (Service::Error)); // the reader's failed read reached the service
    EXPECT_EQ (service().getLastError(), "A communication error occurred");

    _app->timerCallback();
    EXPECT_EQ (_app->getConnectedDevice(), nullptr);
    EXPECT_EQ (service().getState(), Service::Disconnected);
    EXPECT_EQ (SimHid::Bus::instance().openHandleCount(), 0u);
}

TEST_F (ApplicationTest, quittingWhileConnectedReleasesEverythingAndSavesTheWindowBounds)
{
    SimUnit::SimulatedUnit unit (unitWithProductId (0x003F));
    unit.plug();
    start();
    _app->timerCallback();
    ASSERT_TRUE (waitForState (Service::Idle));
    _app->getWindow()->setBounds (30, 40, 416, 593);

    _app->shutdown();

    EXPECT_EQ (_app->getWindow(), nullptr);
    EXPECT_EQ (_app->getService(), nullptr);
    EXPECT_EQ (_app->getConnectedDevice(), nullptr);
    EXPECT_EQ (SimHid::Bus::instance().openHandleCount(), 0u);
    EXPECT_EQ (SimHid::Bus::instance().initCount(), 0);
    EXPECT_FALSE (getImageResource (0).isValid());

    ASSERT_TRUE (settingsFile().existsAsFile());
    juce::PropertiesFile saved (settingsFile(), TovarekMk2EditorApplication::makeSettingsOptions());
    EXPECT_EQ (saved.getIntValue ("windowX"), 30);
    EXPECT_EQ (saved.getIntValue ("windowY"), 40);
    EXPECT_EQ (saved.getIntValue ("windowWidth"), 416);
    EXPECT_EQ (saved.getIntValue ("isMaximized", -1), 0);
    _app.reset();
}

TEST_F (ApplicationTest, theNextRunOpensWhereTheLastOneClosed)
{
    start();
    _app->getWindow()->setBounds (50, 60, 624, 890);
    stop();

    start();
    EXPECT_EQ (_app->getWindow()->getBounds(), juce::Rectangle<int> (50, 60, 624, 890));
}

TEST_F (ApplicationTest, aNewerVersionIsReportedOnceToTheMessageThread)
{
    _environment.fetchVersionPage = [] { return juce::String ("LATEST_VERSION = 4.2.0.1\n"); };
    start();
    auto state = _app->getUpdateCheckState();

    // Taken here, before the message loop runs, so the alert's modal loop never starts.
    EXPECT_TRUE (waitUntil ([&] { return state->takeUpdateAvailable(); }));
    EXPECT_FALSE (state->takeUpdateAvailable());
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
    const bool ended = waitUntil ([&] { return state.expired(); });
    const auto log = testing::internal::GetCapturedStdout();

    EXPECT_TRUE (ended);
    EXPECT_NE (log.find ("There is a newer application version available!"), std::string::npos) << log;
}

// The version scan, the comparison and the shared state.

TEST (UpdateCheckVersion, packsTheFourPartsOfTheVersionLine)
{
    EXPECT_EQ (UpdateCheck::parseLatestVersion ("LATEST_VERSION = 4.2.0.1"), 0x04020001u);
    EXPECT_EQ (UpdateCheck::parseLatestVersion ("  \n LATEST_VERSION=5 . 0 . 0 . 0\nmore"), 0x05000000u);
    EXPECT_EQ (UpdateCheck::parseLatestVersion ("LATEST_VERSION = 4.3"), 0x04030000u);
}

TEST (UpdateCheckVersion, onlyVersionsAbove4200AreNewer)
{
    for (auto [text, newer] : { std::pair { "LATEST_VERSION = 4.2.0.1", true },
                                std::pair { "LATEST_VERSION = 5.0.0.0", true },
                                std::pair { "LATEST_VERSION = 4.2.0.0", false },
                                std::pair { "LATEST_VERSION = 4.1.9.9", false },
                                std::pair { "LATEST_VERSION = 4.2.256.0", false } })
        EXPECT_EQ (UpdateCheck::parseLatestVersion (text) >= UpdateCheck::kFirstNewerVersion, newer) << text;
}

TEST (UpdateCheckVersion, aPartAbove255KeepsOnlyItsLowByte)
{
    EXPECT_EQ (UpdateCheck::parseLatestVersion ("LATEST_VERSION = 4.2.256.0"), 0x04020000u);
    EXPECT_EQ (UpdateCheck::parseLatestVersion ("LATEST_VERSION = 260.1.2.3"), 0x04010203u);
}

TEST (UpdateCheckVersion, anythingButWhiteSpaceBeforeTheLineMeansNoVersion)
{
    EXPECT_EQ (UpdateCheck::parseLatestVersion ("<html>LATEST_VERSION = 9.0.0.0"), 0u);
    EXPECT_EQ (UpdateCheck::parseLatestVersion (""), 0u);
    EXPECT_EQ (UpdateCheck::parseLatestVersion ("latest_version = 9.0.0.0"), 0u);
}

TEST (UpdateCheckVersion, aResponseIsCutAfter255Bytes)
{
    const juce::String padded = juce::String::repeatedString (" ", 200);
    EXPECT_EQ (UpdateCheck::parseLatestVersion (padded + "LATEST_VERSION = 9.0.0.0"), 0x09000000u);

    // The 255th byte ends inside the version: what the scan still sees is 9.1.2.3.
    const juce::String longer = juce::String::repeatedString (" ", 231);
    EXPECT_EQ ((longer + "LATEST_VERSION = 9.1.2.345").length(), 257);
    EXPECT_EQ (UpdateCheck::parseLatestVersion (longer + "LATEST_VERSION = 9.1.2.345"), 0x09010203u);

    const juce::String hidden = juce::String::repeatedString (" ", 255);
    EXPECT_EQ (UpdateCheck::parseLatestVersion (hidden + "LATEST_VERSION = 9.0.0.0"), 0u);
}

TEST (UpdateCheckRun, aNewerVersionSetsTheFlagAndNotifiesOnce)
{
    int notified = 0;
    auto state = std::make_shared<UpdateCheckState> ([&] { ++notified; });
    const auto log = captureLog ([&] { UpdateCheck::run (state, [] { return juce::String ("LATEST_VERSION = 4.2.0.1"); }); });

    EXPECT_EQ (log, "DEBUG: Checking for update...\n"
                    "DEBUG: Update check response: LATEST_VERSION = 4.2.0.1\n"
                    "DEBUG: There is a newer application version available!\n");
    EXPECT_EQ (notified, 1);
    EXPECT_TRUE (state->takeUpdateAvailable());
    EXPECT_FALSE (state->takeUpdateAvailable());
}

TEST (UpdateCheckRun, noAnswerIsUpToDate)
{
    int notified = 0;
    auto state = std::make_shared<UpdateCheckState> ([&] { ++notified; });
    const auto log = captureLog ([&] { UpdateCheck::run (state, [] { return juce::String(); }); });

    EXPECT_EQ (log, "DEBUG: Checking for update...\n"
                    "DEBUG: Update check response: \n"
                    "DEBUG: Application is up-to-date.\n");
    EXPECT_EQ (notified, 0);
    EXPECT_FALSE (state->takeUpdateAvailable());
}

TEST (UpdateCheckRun, theLoggedResponseIsCutTo255Bytes)
{
    auto state = std::make_shared<UpdateCheckState> (nullptr);
    const juce::String page = juce::String::repeatedString ("x", 300);
    const auto log = captureLog ([&] { UpdateCheck::run (state, [&] { return page; }); });

    EXPECT_NE (log.find ("response: " + std::string (255, 'x') + "\n"), std::string::npos);
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

TEST (PlatformResources, aFolderOfThatNameIsNotTheFile)
{
    const juce::File root (TestSupport::makeTempDirectory ("resourceFolder"));
    root.getChildFile ("resources.bin").createDirectory();
    EXPECT_TRUE (PlatformSupport::locateResource (root, "resources.bin").path.empty());
}

TEST (PlatformMainMenu, aNullModelClearsTheMenu)
{
    struct Menu : juce::MenuBarModel
    {
        juce::StringArray getMenuBarNames() override { return { "File" }; }
        juce::PopupMenu getMenuForIndex (int, const juce::String&) override { return {}; }
        void menuItemSelected (int, int) override {}
    } menu;

    PlatformSupport::MainMenu::set (&menu, nullptr, "Open Recent");
    EXPECT_EQ (PlatformSupport::MainMenu::get(), &menu);
    EXPECT_EQ (PlatformSupport::MainMenu::getRecentItemsMenuName(), "Open Recent");

    PlatformSupport::MainMenu::set (nullptr, nullptr, {});
    EXPECT_EQ (PlatformSupport::MainMenu::get(), nullptr);
    EXPECT_EQ (PlatformSupport::MainMenu::getRecentItemsMenuName(), "");
}
