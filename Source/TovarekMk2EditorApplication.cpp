#include "TovarekMk2EditorApplication.h"

#include "ImageResourcePack.h"
#include "KorvantalResult.h"
#include "MainComponent.h"
#include "MainWindow.h"
#include "PlatformSupport.h"
#include "UpdateCheck.h"

#include <hidapi/hidapi.h>

#include <thread>

using Korvantal::kLogDebug;
using Korvantal::logMessage;

namespace
{
// The window opens at two thirds of the main component's 624 x 890 design size, and shrinks to
// half of it at most.
constexpr int kOpeningWidth = 416;
constexpr int kOpeningHeight = 593;
constexpr int kMinimumWidth = 312;
constexpr int kMinimumHeight = 445;
const juce::Colour kWindowBackground (0xff000000);

constexpr const char* kSettingsSuffix = "settings";
constexpr const char* kSettingsLibraryFolder = "Application Support";

constexpr const char* kUpdateAlertTitle = "Update";
constexpr const char* kUpdateAlertMessage =
    "A new version of Tovarek Mk2 Editor is available.\nPlease visit the Zelkor Amps website for more information:";
constexpr int kUpdateLinkWidth = 400;
constexpr int kUpdateLinkHeight = 28;
constexpr int kUpdateAlertOkResult = 1;
} // namespace

ConnectedDevice::ConnectedDevice (Korvantal::IUSBHIDDevice* device_)
    : device (device_),
      transport (std::make_unique<Korvantal::KorvantalUSBPacketIO> (device_)),
      protocol (std::make_unique<Korvantal::KorvantalProtocol> (transport.get(), kProtocolVariant))
{
}

ConnectedDevice::~ConnectedDevice()
{
    // The protocol leaves the transport before the transport stops its reader.
    protocol.reset();
    transport.reset();
}

TovarekMk2EditorApplication::UpdateAlert::UpdateAlert()
    : link (UpdateCheck::kSupportPageUrl, juce::URL (UpdateCheck::kSupportPageUrl)),
      window (kUpdateAlertTitle, kUpdateAlertMessage, juce::MessageBoxIconType::NoIcon, nullptr)
{
    // No component name, so the alert draws no caption beside the link.
    link.setName ({});
    link.setBounds (0, 0, kUpdateLinkWidth, kUpdateLinkHeight);
    window.addCustomComponent (&link);
    window.addButton ("OK", kUpdateAlertOkResult, juce::KeyPress (juce::KeyPress::returnKey));
}

TovarekMk2EditorApplication::TovarekMk2EditorApplication()
    : TovarekMk2EditorApplication (Environment())
{
}

TovarekMk2EditorApplication::TovarekMk2EditorApplication (Environment environment)
    : _environment (std::move (environment)),
      _updateState (std::make_shared<UpdateCheckState> ([this] { triggerAsyncUpdate(); }))
{
}

TovarekMk2EditorApplication::~TovarekMk2EditorApplication()
{
    // Also when shut-down never ran: a late update check must not reach a destroyed object.
    _updateState->applicationEnding();
}

const juce::String TovarekMk2EditorApplication::getApplicationName()
{
    return kApplicationName;
}

const juce::String TovarekMk2EditorApplication::getApplicationVersion()
{
    return kApplicationVersion;
}

bool TovarekMk2EditorApplication::moreThanOneInstanceAllowed()
{
    return false;
}

juce::PropertiesFile::Options TovarekMk2EditorApplication::makeSettingsOptions()
{
    juce::PropertiesFile::Options options;
    options.applicationName = kApplicationName;
    options.filenameSuffix = kSettingsSuffix;
    options.folderName = kApplicationName;
    options.osxLibrarySubFolder = kSettingsLibraryFolder;
    return options;
}

Korvantal::KorvantalData::FirmwareVersionInfo TovarekMk2EditorApplication::minimumFirmware()
{
    Korvantal::KorvantalData::FirmwareVersionInfo minimum;
    minimum.systemVersion = { 0, 0, 0, 0 };
    minimum.dspVersion = { 4, 2, 0, 0 };
    return minimum;
}

std::function<bool (unsigned int, unsigned long, void*)> TovarekMk2EditorApplication::makeResourceReader (std::FILE* file)
{
    return [file] (unsigned int offset, unsigned long size, void* destination)
    {
        if (file == nullptr)
            return false;

        // A seek past the end is not an error; the short read that follows is.
        std::fseek (file, static_cast<long> (offset), SEEK_SET);
        return std::fread (destination, 1, size, file) == size;
    };
}

std::FILE* TovarekMk2EditorApplication::openResourceFile() const
{
    const auto location = _environment.locateResourceFile ? _environment.locateResourceFile()
                                                          : PlatformSupport::locateBundleResource (kResourceFileName);

    if (location.path.empty())
        logMessage (kLogDebug, "Failed to get fs path for resource");

    std::FILE* file = std::fopen (location.path.c_str(), "rb");

    if (file == nullptr)
    {
        logMessage (kLogDebug, "Failed to open resource file '%s'", location.path.c_str());
        logMessage (kLogDebug, "URL: %s", location.url.c_str());
    }

    return file;
}

void TovarekMk2EditorApplication::initialise (const juce::String&)
{
    _settings = std::make_unique<juce::PropertiesFile> (makeSettingsOptions());

    // Never closed: images are read from it on first use for as long as the process runs.
    std::FILE* resourceFile = openResourceFile();
    registerImageResources (makeResourceReader (resourceFile)); // without the file every image is empty

    hid_init();
    _usbManager = std::make_unique<Korvantal::USBDeviceManager> (this, Korvantal::USBDeviceManager::unitDeviceIds());

    const auto minimum = minimumFirmware();
    _service = std::make_unique<TovarekMk2::TovarekMk2EditorService> (&minimum, _environment.serviceTiming);

    _mainComponent = new MainComponent (_settings.get(), _service.get());
    _window = std::make_unique<ZoomWindow> (kApplicationName, _settings.get(), _mainComponent, kWindowBackground,
                                            kOpeningWidth, kOpeningHeight, kMinimumWidth, kMinimumHeight);

    // The closures read the window when they run, so they never hold a stale one.
    _mainComponent->_maximiseCallback = [this]
    {
        if (_window != nullptr)
            _window->toggleMaximised();
    };
    _mainComponent->_minimiseCallback = [this]
    {
        if (_window != nullptr)
            _window->minimise();
    };

    _window->setVisible (true);

    // Devices are found by the scan alone, the first time one second from now.
    startTimer (kScanIntervalMs);
    startUpdateCheck();
}

void TovarekMk2EditorApplication::startUpdateCheck()
{
    std::function<juce::String()> fetch = _environment.fetchVersionPage;
    if (! fetch)
        fetch = UpdateCheck::fetchVersionPage;

    // Detached: shut-down never waits for it; the shared state keeps it away from a dying application.
    std::thread (UpdateCheck::run, _updateState, std::move (fetch)).detach();
}

void TovarekMk2EditorApplication::shutdown()
{
    _updateState->applicationEnding();
    // The loop no longer runs; nothing queued may reach the objects released below.
    stopTimer();
    cancelPendingUpdate();

    // Saves the bounds; the main component leaves the service's listener list.
    _window.reset();
    _mainComponent = nullptr;

    PlatformSupport::MainMenu::set (nullptr, nullptr, {});

    _service.reset();    // cancels all tasks, joins the worker
    _connection.reset(); // protocol, then transport with its reader
    _usbManager.reset(); // closes every device

    if (_settings != nullptr)
        _settings->saveIfNeeded();
    _settings.reset();

    hid_exit();
    juce::Logger::setCurrentLogger (nullptr);
    releaseImageResources();
}

void TovarekMk2EditorApplication::anotherInstanceStarted (const juce::String&)
{
}

void TovarekMk2EditorApplication::systemRequestedQuit()
{
    quit();
}

void TovarekMk2EditorApplication::deviceAdded (Korvantal::IUSBHIDDevice* device)
{
    // A second unit stays open in the manager, unused until it is plugged in again.
    if (_connection != nullptr)
        return;

    _connection = std::make_unique<ConnectedDevice> (device);
    _service->setProtocol (_connection->protocol.get()); // the service logs its own failures
}

void TovarekMk2EditorApplication::deviceRemoved (Korvantal::IUSBHIDDevice* device)
{
    if (_connection != nullptr && _connection->device == device)
    {
        // Detaching returns once the worker has left the protocol, which may then go.
        _service->disconnect();
        _connection.reset();
    }

    // Only now, with the reader stopped: the device's read takes no lock.
    device->close();
}

void TovarekMk2EditorApplication::timerCallback()
{
    if (_usbManager != nullptr)
        _usbManager->scanDevices();
}

void TovarekMk2EditorApplication::handleAsyncUpdate()
{
    if (! _updateState->takeUpdateAvailable())
        return;

    UpdateAlert alert;
    alert.window.runModalLoop();
}

Korvantal::IUSBHIDDevice* TovarekMk2EditorApplication::getConnectedDevice() const
{
    return _connection != nullptr ? _connection->device : nullptr;
}
