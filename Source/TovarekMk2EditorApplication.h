#pragma once

#include "IUSBHIDDevice.h"
#include "KorvantalData.h"
#include "KorvantalProtocol.h"
#include "KorvantalUSBPacketIO.h"
#include "PlatformSupport.h"
#include "TovarekMk2EditorService.h"
#include "USBDeviceManager.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdio>
#include <functional>
#include <memory>

class MainComponent;
class UpdateCheckState;
class ZoomWindow;

// The connection to the one device in use: its transport (with the reader thread) and the
// protocol over it. Destruction stops the protocol, then the transport; the device stays open,
// since the USB manager owns and closes it.
struct ConnectedDevice
{
    static constexpr uint32_t kProtocolVariant = 3;

    explicit ConnectedDevice (Korvantal::IUSBHIDDevice* device);
    ~ConnectedDevice();

    Korvantal::IUSBHIDDevice* device;
    std::unique_ptr<Korvantal::KorvantalUSBPacketIO> transport;
    std::unique_ptr<Korvantal::KorvantalProtocol> protocol;
};

// The process's application object: builds every long-lived object in a fixed order and owns
// it, polls USB once a second for the unit, connects the first unit it sees to the editor
// service, asks once per run whether a newer editor exists, and tears everything down in a fixed
// order.
//
// Threads: everything here runs on the message thread, except the detached update-check thread,
// which reaches the application only through the shared UpdateCheckState (update lock), and
// only until shut-down has begun.
class TovarekMk2EditorApplication : public juce::JUCEApplication,
                                    private juce::Timer,
                                    public Korvantal::USBDeviceManager::Handler,
                                    private juce::AsyncUpdater
{
public:
    static constexpr const char* kApplicationName = "Tovarek Mk2 Editor";
    static constexpr const char* kApplicationVersion = "4.2.0.0";
    static constexpr const char* kResourceFileName = "resources.bin";
    static constexpr int kScanIntervalMs = 1000;

    // What start-up may be given instead of the product's defaults (tests shorten the device
    // delays, answer the update check themselves and choose the resource file).
    struct Environment
    {
        std::function<juce::String()> fetchVersionPage; // empty: the HTTP GET of the version page
        std::function<PlatformSupport::ResourceLocation()> locateResourceFile; // empty: beside the executable
        TovarekMk2::TovarekMk2EditorService::Timing serviceTiming {};
    };

    // Only sets the fields; nothing is created before `initialise`.
    TovarekMk2EditorApplication();
    explicit TovarekMk2EditorApplication (Environment environment);
    ~TovarekMk2EditorApplication() override;

    const juce::String getApplicationName() override;
    const juce::String getApplicationVersion() override;
    bool moreThanOneInstanceAllowed() override;
    void initialise (const juce::String& commandLine) override;
    void shutdown() override;
    void anotherInstanceStarted (const juce::String& commandLine) override;
    void systemRequestedQuit() override;

    // USBDeviceManager::Handler, called by the scan on the message thread.
    void deviceAdded (Korvantal::IUSBHIDDevice* device) override;
    void deviceRemoved (Korvantal::IUSBHIDDevice* device) override;

    // One USB scan; the timer calls it once a second.
    void timerCallback() override;

    // Shows the update alert once a newer version was reported.
    void handleAsyncUpdate() override;

    // The settings file's options: named after the application, in its Application Support folder.
    static juce::PropertiesFile::Options makeSettingsOptions();

    // The image pack's read function over the open resource file (which may be null).
    static std::function<bool (unsigned int, unsigned long, void*)> makeResourceReader (std::FILE* file);

    // The update alert, ready to run. The link lives beside the alert, which does not own its
    // custom components, and goes after it.
    struct UpdateAlert
    {
        UpdateAlert();
        juce::HyperlinkButton link;
        juce::AlertWindow window;
    };

    // The minimum firmware handed to the service: DSP 4.2.0, no system-version requirement.
    static Korvantal::KorvantalData::FirmwareVersionInfo minimumFirmware();

    // What tests look at.
    ZoomWindow* getWindow() const { return _window.get(); }
    TovarekMk2::TovarekMk2EditorService* getService() const { return _service.get(); }
    Korvantal::IUSBHIDDevice* getConnectedDevice() const;
    int getScanIntervalMs() const { return getTimerInterval(); } // 0 while the scan timer is stopped
    std::shared_ptr<UpdateCheckState> getUpdateCheckState() const { return _updateState; }

private:
    std::FILE* openResourceFile() const;
    void startUpdateCheck();

    Environment _environment;
    // The update lock and update-available flag, shared with the detached update-check thread.
    std::shared_ptr<UpdateCheckState> _updateState;
    std::unique_ptr<ZoomWindow> _window;
    std::unique_ptr<Korvantal::USBDeviceManager> _usbManager;
    std::unique_ptr<ConnectedDevice> _connection;
    std::unique_ptr<juce::PropertiesFile> _settings;
    MainComponent* _mainComponent = nullptr; // owned by the window
    std::unique_ptr<TovarekMk2::TovarekMk2EditorService> _service;
};
