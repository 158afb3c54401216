#include "BackupArchive.h"
#include "EmbeddedData.h"
#include "GuiTestEnvironment.h"
#include "IOUtils.h"
#include "KorvantalDataFile.h"
#include "KorvantalUSBPacketIO.h"
#include "MainComponent.h"
#include "ServiceConnector.h"
#include "SimulatedUnit.h"
#include "StockAmpTable.h"
#include "TestSupport.h"
#include "USBDeviceManager.h"
#include "Widgets.h"
#include "LoaderImage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <dlfcn.h>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
namespace Data = Korvantal::KorvantalData;
using Service = TovarekMk2::TovarekMk2EditorService;

// The tests' hands on the main component's dialogs and actions.
class FileActionsTestAccess
{
public:
    using FileRequest = MainComponent::FileRequest;

    static void answerMenus (MainComponent& component, std::function<int (juce::PopupMenu&)> answer)
    {
        component._runMenu = std::move (answer);
    }

    static void answerFileChoosers (MainComponent& component, std::function<juce::File (const FileRequest&)> answer)
    {
        component._chooseFile = std::move (answer);
    }

    static void showFileMenu (MainComponent& c) { c.showFileMenu(); }
    static void chooseStockAmp (MainComponent& c) { c.chooseStockAmp(); }
    static void replaceAmpSlot (MainComponent& c) { c.replaceAmpSlot (1); }
    static void importCabinetToEditBuffer (MainComponent& c) { c.importCabinetToEditBuffer(); }
    static void replaceCabinetSlot (MainComponent& c) { c.replaceCabinetSlot (0); }
    static void selectPreset (MainComponent& c, int position) { c.selectPreset (position); }
    static void saveCurrentPresetClicked (MainComponent& c) { c.saveCurrentPresetClicked(); }
    static void showGlobalPage (MainComponent& c) { c.showGlobalPage(); }
    static void showFootswitchPage (MainComponent& c) { c.showFootswitchPage(); }
    static void toggleAboutPage (MainComponent& c) { c.toggleAboutPage(); }
    static void maximiseClicked (MainComponent& c) { c.maximiseClicked(); }
    static void minimiseClicked (MainComponent& c) { c.minimiseClicked(); }
    static void closeClicked (MainComponent& c) { c.closeClicked(); }

    static juce::File getLastDirectory (MainComponent& c) { return c.getLastDirectory(); }
    static juce::File getDefaultFile (MainComponent& c, const juce::String& name) { return c.getDefaultFile (name); }
    static void setLastDirectory (MainComponent& c, const juce::File& file) { c.setLastDirectory (file); }

    static Korvantal::Result getAmpDataForId (MainComponent& c, Service& service, Data::FullTovarekMk2Preset& preset)
    {
        return c.getAmpDataForId (&service, preset);
    }

    static Korvantal::Result savePresetFile (const juce::File& file, const Data::FullTovarekMk2Preset& preset)
    {
        return MainComponent::savePresetFile (file, preset);
    }

    static double reportedProgress (MainComponent& c)
    {
        std::lock_guard<std::mutex> lock (c._pendingLock);
        return c._progress;
    }

    static int presetSwitchPosition (MainComponent& c) { return c._presetSwitch->_currentPosition; }
    static int pageMode (MainComponent& c) { return c._pageMode; }
    static int fxPanelBlock (MainComponent& c) { return c._fxPanelBlock; }
    static bool isVisible (juce::Component* component) { return component->isVisible(); }
    static juce::Component* viewport (MainComponent& c) { return c._viewport; }
    static juce::Component* footswitchPage (MainComponent& c) { return c._footswitchPage; }
    static juce::Component* aboutText (MainComponent& c) { return c._aboutText; }
    static bool aboutTabOn (MainComponent& c) { return c._aboutTab->_selected; }
    static bool footswitchesTabOn (MainComponent& c) { return c._footswitchesTab->_selected; }
    static bool globalTabOn (MainComponent& c) { return c._globalTab->_selected; }
};

namespace
{
const auto* const guiEnvironment = testing::AddGlobalTestEnvironment (new GuiTestEnvironment);

// The framework unloads libX11 at shut-down, and what libX11 still holds for the alert windows
// then looks leaked to the leak checker. Kept loaded, it stays reachable.
const void* const keepX11Loaded = dlopen ("libX11.so.6", RTLD_NOW | RTLD_NODELETE);

constexpr uint16_t kVendorId = 0x04D8;
constexpr uint16_t kProductId = 0x003F;
// A whole backup or firmware update takes over 10 s under ThreadSanitizer on a loaded machine.
constexpr auto kWait = 30000ms;

constexpr uint8_t kBlockPreset = 3;
constexpr uint8_t kBlockAmpName = 5;
constexpr uint8_t kBlockAmpData = 6;
constexpr uint8_t kBlockCabinetName = 9;
constexpr uint8_t kBlockCabinetData = 10;

Service::Timing fastTiming()
{
    Service::Timing timing;
    timing.settleDelay = 1ms;
    timing.reconnectPoll = 2ms;
    timing.reconnectLimit = 10000ms;
    timing.readyWait = 1ms;
    return timing;
}

bool pumpUntil (const std::function<bool()>& condition, const std::function<void()>& tick = {},
                std::chrono::milliseconds timeout = kWait)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;

    for (;;)
    {
        if (tick)
            tick();

        juce::MessageManager::getInstance()->runDispatchLoopUntil (2);

        if (condition())
            return true;

        if (std::chrono::steady_clock::now() >= deadline)
            return false;
    }
}

std::vector<juce::AlertWindow*> openAlerts()
{
    std::vector<juce::AlertWindow*> alerts;
    auto& desktop = juce::Desktop::getInstance();

    for (int i = 0; i < desktop.getNumComponents(); ++i)
        if (auto* alert = dynamic_cast<juce::AlertWindow*> (desktop.getComponent (i)))
            alerts.push_back (alert);

    return alerts;
}

// The texts of the error alerts that have opened, in order, after the message thread has had
// time to show `expected` of them (or a short while, when none are expected); closes them all.
std::vector<std::string> takeAlerts (size_t expected)
{
    pumpUntil ([&] { return openAlerts().size() >= expected && expected > 0; }, {}, expected > 0 ? kWait : 200ms);

    std::vector<std::string> texts;
    for (auto* alert : openAlerts())
    {
        texts.push_back (alert->getDescription().toStdString());
        alert->exitModalState (0);
    }

    pumpUntil ([] { return openAlerts().empty(); }, {}, 2000ms);
    return texts;
}

// What takeAlerts gives for one error alert of this message.
std::vector<std::string> oneErrorAlert (const std::string& message)
{
    return { "Error. " + message };
}

std::string captureStdout (const std::function<void()>& run)
{
    testing::internal::CaptureStdout();
    run();
    return testing::internal::GetCapturedStdout();
}

// The file menu's item ids.
enum MenuItem : int
{
    kBackup = 1,
    kRestore,
    kExportPreset,
    kImportPreset,
    kUpdateFirmware,
    kUpdateFirmwareFromFile
};

// The editor's pieces over one simulated unit, built and torn down in the application's order:
// the service, the main component, and the connection the application's scan builds.
class EditorRig
{
public:
    explicit EditorRig (SimUnit::UnitOptions options = {})
        : _directory (TestSupport::makeTempDirectory (testing::UnitTest::GetInstance()->current_test_info()->name()))
    {
        _minimum.dspVersion = { 4, 2, 0, 0 };
        options.description.vendorId = kVendorId;
        options.description.productId = kProductId;
        _unit = std::make_unique<SimUnit::SimulatedUnit> (std::move (options));
        _service = std::make_unique<Service> (&_minimum, fastTiming());
        _statusListener.parameterValueChanged = [this] (TovarekMk2ParamID id, const Service::ParameterValue&)
        {
            if (id == kParamStatusLevel)
                _statusReports++;
        };
        _service->addListener (&_statusListener);

        juce::PropertiesFile::Options settingsOptions;
        settingsOptions.applicationName = "FileActionsTests";
        settingsOptions.filenameSuffix = "settings";
        _settings = std::make_unique<juce::PropertiesFile> (directory().getChildFile ("editor.settings"), settingsOptions);
        _component = std::make_unique<MainComponent> (_settings.get(), _service.get());

        _connector = std::make_unique<TestSupport::ServiceConnector> (_service.get(), kVendorId, kProductId);
    }

    ~EditorRig()
    {
        takeAlerts (0);
        _component.reset();
        _service->removeListener (&_statusListener);
        _connector->forgetService();
        _service.reset();
        _connector.reset();
        _unit.reset();
    }

    MainComponent& component() { return *_component; }
    void destroyComponent() { _component.reset(); }
    Service& service() { return *_service; }
    SimUnit::SimulatedUnit& unit() { return *_unit; }
    juce::PropertiesFile& settings() { return *_settings; }
    juce::File directory() const { return juce::File (_directory); }
    juce::File file (const char* name) const { return directory().getChildFile (name); }

    void scan() { _connector->scan(); }

    // Runs the message loop and the application's device scan until the condition holds.
    bool waitFor (const std::function<bool()>& condition, std::chrono::milliseconds timeout = kWait)
    {
        return pumpUntil (condition, [this] { scan(); }, timeout);
    }

    // Plugs the unit in and waits for the full refresh to end: the unit's answer to the status
    // request after it is the last thing the refresh causes.
    bool connectAndRefresh()
    {
        _unit->plug();
        return waitFor ([this] { return _statusReports > 0 && _service->getState() == Service::Idle; });
    }

    bool waitForIdle()
    {
        return waitFor ([this] { return _service->getState() == Service::Idle; });
    }

    // A refused request puts the service into its error state.
    bool breakIntoErrorState()
    {
        _unit->injectFault (SimUnit::Fault (SimUnit::FaultKind::Refuse));
        const bool started = _service->setCurrentCabData (Data::Cabinet {}).ok;
        const bool failed = waitFor ([this] { return _service->getState() == Service::Error; });
        _unit->clearFaults();
        return started && failed;
    }

    // The menu answers with the item of this id and records what it offered.
    void answerMenusWith (int id)
    {
        FileActionsTestAccess::answerMenus (*_component, [this, id] (juce::PopupMenu& menu)
        {
            offeredMenus.push_back (describe (menu));
            return id;
        });
    }

    // The file choosers answer with this file (a default juce::File cancels) and record the request.
    void answerChoosersWith (const juce::File& file)
    {
        FileActionsTestAccess::answerFileChoosers (*_component, [this, file] (const FileActionsTestAccess::FileRequest& request)
        {
            requests.push_back (request);
            return file;
        });
    }

    struct Item
    {
        int id;
        std::string text;
        bool enabled;
        bool ticked;
        std::vector<Item> subItems;
    };

    static std::vector<Item> describe (const juce::PopupMenu& menu)
    {
        std::vector<Item> items;
        for (juce::PopupMenu::MenuItemIterator it (menu); it.next();)
        {
            const auto& item = it.getItem();
            items.push_back ({ item.itemID, item.text.toStdString(), item.isEnabled, item.isTicked,
                               item.subMenu != nullptr ? describe (*item.subMenu) : std::vector<Item> {} });
        }
        return items;
    }

    std::vector<std::vector<Item>> offeredMenus;
    std::vector<FileActionsTestAccess::FileRequest> requests;

private:
    std::string _directory;
    Data::FirmwareVersionInfo _minimum;
    std::unique_ptr<SimUnit::SimulatedUnit> _unit;
    std::unique_ptr<Service> _service;
    Service::Listener _statusListener;
    std::atomic<int> _statusReports { 0 };
    std::unique_ptr<juce::PropertiesFile> _settings;
    std::unique_ptr<MainComponent> _component;
    std::unique_ptr<TestSupport::ServiceConnector> _connector;
};

const Data::Amp& stockAmp (size_t row)
{
    return *TovarekMk2::StockAmpTable[row].amp;
}

Data::AmpNameAndID ampNameOnUnit (SimUnit::SimulatedUnit& unit, uint32_t index)
{
    Data::AmpNameAndID nameAndID;
    const auto block = unit.block (kBlockAmpName, index);
    if (block.size() >= Data::kAmpNameAndIDBlockSize)
        Data::decodeAmpNameAndID (block.data(), nameAndID);
    return nameAndID;
}

std::vector<uint8_t> encodedAmpData (const Data::AmpData& data)
{
    std::vector<uint8_t> block (Data::kAmpDataBlockSize);
    Data::encodeAmpData (data, block.data());
    return block;
}

std::string cabinetNameOnUnit (SimUnit::SimulatedUnit& unit, uint32_t index)
{
    std::string name;
    const auto block = unit.block (kBlockCabinetName, index);
    if (block.size() >= Data::kCabinetNameBlockSize)
        Data::decodeName (block.data(), name, Data::kCabinetNameLength);
    return name;
}

Data::Impulse impulseOnUnit (SimUnit::SimulatedUnit& unit, uint32_t index)
{
    Data::Impulse impulse {};
    const auto block = unit.block (kBlockCabinetData, index);
    if (block.size() >= Data::kCabinetIRBlockSize)
        Data::decodeCabinetIR (block.data(), impulse);
    return impulse;
}

Data::ParameterMap presetParametersOnUnit (SimUnit::SimulatedUnit& unit, uint32_t index)
{
    Data::ParameterMap parameters;
    const auto block = unit.block (kBlockPreset, index);
    Data::decodeParamBlock (block.data(), block.size(), parameters);
    return parameters;
}

Korvantal::Result writeDataFileTo (const Korvantal::DataFile& file, const juce::File& target)
{
    target.deleteFile();
    juce::FileOutputStream output (target);
    OutStreamWrapper stream (&output);
    return Korvantal::writeDataFile (file, stream);
}

Korvantal::Result writePresetFileTo (const Data::FullTovarekMk2Preset& preset, const juce::File& target, uint32_t index)
{
    target.deleteFile();
    juce::FileOutputStream output (target);
    OutStreamWrapper stream (&output);
    return Korvantal::writeArchivePreset (preset, stream, index);
}

// A preset naming the stock amp of the row, with a few parameters and a cabinet of its own.
Data::FullTovarekMk2Preset presetWithStockAmp (size_t row)
{
    Data::FullTovarekMk2Preset preset;
    preset.ampNameAndID = { stockAmp (row).nameAndID.id, "" };
    preset.parameters = { { 117, 0.25f }, { 144, 1.0f } };
    preset.cabinet.name = "Bundled";
    preset.cabinet.impulse[0][7] = 0.5f;
    return preset;
}

uint32_t unknownAmpId()
{
    uint32_t id = 0x7FFF0000;
    size_t row = 0;
    while (TovarekMk2::findStockAmpRow (id, row).ok)
        ++id;
    return id;
}

bool readsAsBundleOfSevenPresets (const juce::File& file)
{
    Data::TovarekMk2Archive archive;
    return file.existsAsFile() && Korvantal::readBackupArchive (file, archive).ok && archive.presets.size() == 7;
}

std::string readText (const juce::File& file)
{
    return file.loadFileAsString().toStdString();
}

// Every byte's bit order reversed, bit by bit: a loader image in the form of a ".ldr" file and back.
std::vector<uint8_t> bitReversed (std::vector<uint8_t> bytes)
{
    for (auto& byte : bytes)
    {
        uint8_t reversed = 0;
        for (int bit = 0; bit < 8; ++bit)
            if ((byte >> bit) & 1)
                reversed = static_cast<uint8_t> (reversed | (0x80 >> bit));
        byte = reversed;
    }
    return bytes;
}

void writeLdrFile (const std::vector<uint8_t>& image, const juce::File& target)
{
    TestSupport::writeFileBytes (target.getFullPathName().toStdString(), bitReversed (image));
}

// Makes a zip with Python's zipfile; the entry is given as zip_tool.py takes it.
bool makeZipWithPython (const juce::File& target, const std::string& entry)
{
    return TestSupport::runCommand ("python3 '" TOVAREK_SOURCE_DIR "/tests/fixtures/zip_tool.py' make '"
                                    + target.getFullPathName().toStdString() + "' '" + entry + "'") == 0;
}

// Writes a two-channel 24-bit WAV of 48000 Hz with Python's wave module; false without python3.
bool writeWavWithPython (const juce::File& target)
{
    const auto script = target.getSiblingFile ("make_wav.py");
    script.replaceWithText (
        "import struct, sys, wave\n"
        "w = wave.open(sys.argv[1], 'wb')\n"
        "w.setnchannels(2); w.setsampwidth(3); w.setframerate(48000)\n"
        "frames = bytearray()\n"
        "for i in range(1024):\n"
        "    left = 4194304 if i == 0 else (-2097152 if i == 3 else 0)\n"
        "    right = 2097152 if i == 1 else 0\n"
        "    frames += struct.pack('<i', left)[:3] + struct.pack('<i', right)[:3]\n"
        "w.writeframes(bytes(frames))\n"
        "w.close()\n");
    return TestSupport::runCommand ("python3 '" + script.getFullPathName().toStdString() + "' '"
                                    + target.getFullPathName().toStdString() + "'") == 0;
}
} // namespace

//==============================================================================
// The menu

TEST (FileMenu, enablesItsItemsByTheServiceStateAndADismissedMenuDoesNothing)
{
    const std::vector<std::string> texts { "Backup", "Restore", "Export Preset", "Import Preset",
                                           "Update Firmware", "Update Firmware from File" };
    SimUnit::UnitOptions tooOld;
    tooOld.dspVersion = { 4, 1, 0 };

    const struct { const char* state; SimUnit::UnitOptions options; std::function<bool (EditorRig&)> reach; std::vector<bool> enabled; } rows[] = {
        { "disconnected", {}, [] (EditorRig&) { return true; }, std::vector<bool> (6, false) },
        { "idle", {}, [] (EditorRig& rig) { return rig.connectAndRefresh(); }, std::vector<bool> (6, true) },
        { "firmware too old", tooOld,
          [] (EditorRig& rig)
          {
              rig.unit().plug();
              return rig.waitFor ([&] { return rig.service().getState() == Service::FirmwareTooOld; });
          },
          { false, false, false, false, true, true } },
        { "error", {}, [] (EditorRig& rig) { return rig.connectAndRefresh() && rig.breakIntoErrorState(); },
          { false, false, false, false, true, true } },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.state);
        EditorRig rig (row.options);
        ASSERT_TRUE (row.reach (rig));
        rig.unit().clearHostPackets();
        rig.answerMenusWith (0);
        rig.answerChoosersWith (rig.file ("never.t2u"));

        FileActionsTestAccess::showFileMenu (rig.component());

        ASSERT_EQ (rig.offeredMenus.size(), 1u);
        const auto& items = rig.offeredMenus[0];
        ASSERT_EQ (items.size(), texts.size());
        for (size_t i = 0; i < items.size(); ++i)
        {
            EXPECT_EQ (items[i].id, (int) i + 1) << texts[i];
            EXPECT_EQ (items[i].text, texts[i]);
            EXPECT_EQ (items[i].enabled, row.enabled[i]) << texts[i];
            EXPECT_FALSE (items[i].ticked) << texts[i];
        }
        EXPECT_TRUE (rig.requests.empty());
        EXPECT_TRUE (takeAlerts (0).empty());
        EXPECT_TRUE (rig.unit().hostPackets().empty());
    }
}

//==============================================================================
// The remembered folder

TEST (FileFolders, proposeTheDocumentsFolderUntilAFileIsChosenThenItsFolder)
{
    EditorRig rig;
    const auto documents = juce::File::getSpecialLocation (juce::File::userDocumentsDirectory);

    EXPECT_EQ (FileActionsTestAccess::getLastDirectory (rig.component()), juce::File());
    EXPECT_EQ (FileActionsTestAccess::getDefaultFile (rig.component(), "Backup.t2u"), documents.getChildFile ("Backup.t2u"));
    EXPECT_EQ (FileActionsTestAccess::getDefaultFile (rig.component(), ""), documents);

    // A file that does not exist yet, as a save chooser returns it: its folder is remembered.
    FileActionsTestAccess::setLastDirectory (rig.component(), rig.file ("new.t2u"));
    EXPECT_EQ (rig.settings().getValue ("lastDirectory"), rig.directory().getFullPathName());
    EXPECT_EQ (FileActionsTestAccess::getLastDirectory (rig.component()), rig.directory());
    EXPECT_EQ (FileActionsTestAccess::getDefaultFile (rig.component(), "Preset.t2p"), rig.file ("Preset.t2p"));

    // An existing file, as an open chooser returns it.
    const auto existing = rig.directory().getChildFile ("sub").getChildFile ("old.t2p");
    ASSERT_TRUE (existing.create().wasOk());
    FileActionsTestAccess::setLastDirectory (rig.component(), existing);
    EXPECT_EQ (FileActionsTestAccess::getLastDirectory (rig.component()), existing.getParentDirectory());

    // A remembered folder that is gone: back to the documents folder.
    ASSERT_TRUE (existing.getParentDirectory().deleteRecursively());
    EXPECT_EQ (FileActionsTestAccess::getLastDirectory (rig.component()), juce::File());
    EXPECT_EQ (FileActionsTestAccess::getDefaultFile (rig.component(), "Backup.t2u"), documents.getChildFile ("Backup.t2u"));
}

TEST (FileFolders, choosersStartWhereTheActionSaysAndACancelChangesNothing)
{
    EditorRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.answerChoosersWith ({});
    const auto documents = juce::File::getSpecialLocation (juce::File::userDocumentsDirectory);

    for (int id = kBackup; id <= kUpdateFirmwareFromFile; ++id)
    {
        rig.answerMenusWith (id);
        FileActionsTestAccess::showFileMenu (rig.component());
    }

    // The carried-image update asks for no file.
    const struct { const char* title; juce::File initialFile; const char* patterns; bool save; } expected[] = {
        { "Save Backup Bundle", documents.getChildFile ("Backup.t2u"), "*.t2u", true },
        { "Restore Backup Bundle", juce::File(), "*.t2u", false },
        { "Export Preset", documents.getChildFile ("Preset.t2p"), "*.t2p", true },
        { "Import Preset", juce::File(), "*.t2p;*.pre", false },
        { "Select Firmware", documents.getChildFile ("DSP Firmware.ldr"), "*.ldr", false },
    };
    ASSERT_EQ (rig.requests.size(), std::size (expected));
    for (size_t i = 0; i < std::size (expected); ++i)
    {
        EXPECT_EQ (rig.requests[i].title, expected[i].title);
        EXPECT_EQ (rig.requests[i].initialFile, expected[i].initialFile) << expected[i].title;
        EXPECT_EQ (rig.requests[i].patterns, expected[i].patterns) << expected[i].title;
        EXPECT_EQ (rig.requests[i].save, expected[i].save) << expected[i].title;
    }

    EXPECT_EQ (rig.settings().getValue ("lastDirectory", "unset"), "unset");
    EXPECT_TRUE (takeAlerts (0).empty());

    // The carried-image update did start; let it finish before the rig goes.
    EXPECT_TRUE (rig.waitFor ([&] { return rig.unit().restartCount() == 1; }));
    EXPECT_TRUE (rig.waitForIdle());
}

//==============================================================================
// Failures common to the actions

// Not connected: the menu would not offer them, but the service decides, and each action shows
// its own text and writes no file.
TEST (FileActions, showTheirOwnTextWhenTheServiceRefusesToStart)
{
    EditorRig rig;
    Data::TovarekMk2Archive archive;
    archive.presets.push_back ({ 0, presetWithStockAmp (2) });
    ASSERT_TRUE (Korvantal::writeBackupArchive (archive, rig.file ("ok.t2u")).ok);
    ASSERT_TRUE (writePresetFileTo (presetWithStockAmp (5), rig.file ("in.t2p"), 0).ok);
    writeLdrFile (SimUnit::makeLoaderImage ({ 4, 7, 1 }, 3000, 5), rig.file ("update.ldr"));

    const struct { int id; juce::File chosen; const char* alert; } rows[] = {
        { kBackup, rig.file ("unit.t2u"), "Failed to start backup" },
        { kRestore, rig.file ("ok.t2u"), "Failed to start restore" },
        { kExportPreset, rig.file ("never.t2p"), "Failed to export preset" },
        { kImportPreset, rig.file ("in.t2p"), "Failed to import preset" },
        { kUpdateFirmware, {}, "Failed to start firmware update" },
        { kUpdateFirmwareFromFile, rig.file ("update.ldr"), "Failed to start firmware update" },
    };

    for (const auto& row : rows)
    {
        rig.answerMenusWith (row.id);
        rig.answerChoosersWith (row.chosen);
        FileActionsTestAccess::showFileMenu (rig.component());
        EXPECT_EQ (takeAlerts (1), oneErrorAlert (row.alert)) << "menu item " << row.id;
    }
    EXPECT_FALSE (rig.file ("unit.t2u").exists());
    EXPECT_FALSE (rig.file ("never.t2p").exists());
}

// A file that cannot be opened, holds nothing or holds the wrong thing is refused before the
// service is asked: the action's own load failure, logged where it is found, nothing sent, and
// the unit left idle.
TEST (FileActions, refuseAFileThatCannotBeReadOrHoldsNothingBeforeTheUnitIsAsked)
{
    EditorRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());

    const auto emptyFile = [&] (const char* name)
    {
        const auto file = rig.file (name);
        file.create();
        return file;
    };
    const auto folder = [&] (const char* name)
    {
        const auto file = rig.file (name);
        file.createDirectory();
        return file;
    };

    const auto huge = rig.file ("huge.ldr");
    {
        juce::FileOutputStream output (huge);
        const std::vector<char> block (1 << 16, 0x55);
        for (int i = 0; i < 20; ++i)
            output.write (block.data(), block.size());
    }

    auto unknownAmp = presetWithStockAmp (1);
    unknownAmp.ampNameAndID.id = unknownAmpId();
    ASSERT_TRUE (writePresetFileTo (unknownAmp, rig.file ("unknown.t2p"), 0).ok);

    Korvantal::DataFile cabinetFile (Korvantal::kDataFileTypeCabinet, 0, 0);
    ASSERT_TRUE (cabinetFile.writeSegmentCabinetIR (0, Data::makeUnitImpulse()).ok);
    ASSERT_TRUE (cabinetFile.writeSegmentName (1, "cab").ok);
    ASSERT_TRUE (writeDataFileTo (cabinetFile, rig.file ("cabinet.pre")).ok);

    rig.file ("text.t2u").replaceWithText ("not a zip at all");
    rig.file ("readme.txt").replaceWithText ("a bundle of nothing");
    ASSERT_TRUE (makeZipWithPython (rig.file ("foreign.t2u"), "stored:readme.txt=" + rig.file ("readme.txt").getFullPathName().toStdString()));
    ASSERT_TRUE (makeZipWithPython (rig.file ("hidden.t2u"), "dir:__MACOSX/"));

    const struct { int id; juce::File chosen; const char* alert; } rows[] = {
        { kUpdateFirmwareFromFile, rig.file ("missing.ldr"), "Failed to load firmware" },
        { kUpdateFirmwareFromFile, emptyFile ("empty.ldr"), "Failed to load firmware" },
        { kUpdateFirmwareFromFile, folder ("folder.ldr"), "Failed to load firmware" },
        { kUpdateFirmwareFromFile, huge, "Failed to load firmware" },
        { kImportPreset, rig.file ("missing.t2p"), "Failed to load preset" },
        { kImportPreset, emptyFile ("empty.t2p"), "Failed to load preset" },
        { kImportPreset, emptyFile ("empty.PRE"), "Failed to load preset" },
        { kImportPreset, folder ("folder.t2p"), "Failed to load preset" },
        { kImportPreset, rig.file ("cabinet.pre"), "Failed to load preset" },
        { kImportPreset, rig.file ("unknown.t2p"), "Failed to get amp data for preset" },
        { kRestore, rig.file ("missing.t2u"), "Failed to load backup" },
        { kRestore, emptyFile ("empty.t2u"), "Failed to load backup" },
        { kRestore, rig.file ("text.t2u"), "Failed to load backup" },
        { kRestore, rig.file ("foreign.t2u"), "Failed to load backup" },
        { kRestore, rig.file ("hidden.t2u"), "Failed to load backup" },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.chosen.getFileName());
        rig.unit().clearHostPackets();
        rig.answerMenusWith (row.id);
        rig.answerChoosersWith (row.chosen);

        const auto log = captureStdout ([&] { FileActionsTestAccess::showFileMenu (rig.component()); });

        EXPECT_EQ (takeAlerts (1), oneErrorAlert (row.alert));
        EXPECT_NE (log.find ("Error at MainComponentFileActions.cpp:"), std::string::npos) << log;
        EXPECT_NE (log.find (std::string (": ") + row.alert + "\n"), std::string::npos) << log;
        EXPECT_EQ (rig.service().getState(), Service::Idle);
        EXPECT_TRUE (rig.unit().hostPackets().empty());
    }
}

//==============================================================================
// Backup and restore

// First a backup and an export whose targets cannot be written: the read has run and the unit is
// idle again; only the file could not be written. Then a backup that works.
TEST (FileBackup, writesABundleThatPythonsZipfileReadsWithEveryPresetAndTheGlobalsAfterTargetsThatCannotBeWritten)
{
    EditorRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    ASSERT_TRUE (rig.file ("a folder.t2p").createDirectory().wasOk());

    const struct { int id; juce::File chosen; const char* alert; } failures[] = {
        { kBackup, rig.directory().getChildFile ("no such folder").getChildFile ("unit.t2u"), "Failed to save archive" },
        { kExportPreset, rig.file ("a folder.t2p"), "Failed to overwrite file" },
    };

    for (const auto& row : failures)
    {
        rig.answerMenusWith (row.id);
        rig.answerChoosersWith (row.chosen);
        FileActionsTestAccess::showFileMenu (rig.component());

        EXPECT_EQ (takeAlerts (1), oneErrorAlert (row.alert));
        EXPECT_TRUE (rig.waitForIdle());
        EXPECT_FALSE (row.chosen.existsAsFile()) << row.alert;
    }

    const auto target = rig.file ("unit.t2u");
    rig.answerMenusWith (kBackup);
    rig.answerChoosersWith (target);

    FileActionsTestAccess::showFileMenu (rig.component());

    // The service is idle again before the completion writes the file.
    ASSERT_TRUE (rig.waitFor ([&] { return readsAsBundleOfSevenPresets (target); }));
    EXPECT_EQ (rig.settings().getValue ("lastDirectory"), rig.directory().getFullPathName());

    // The entry names, one a line, as Python's zipfile lists them.
    const auto listing = rig.file ("listing.txt");
    const auto entries = rig.directory().getChildFile ("entries");
    ASSERT_TRUE (entries.createDirectory().wasOk());
    ASSERT_EQ (TestSupport::runCommand ("python3 '" TOVAREK_SOURCE_DIR "/tests/fixtures/zip_tool.py' list '"
                                        + target.getFullPathName().toStdString() + "' '" + entries.getFullPathName().toStdString()
                                        + "' | cut -f2 > '" + listing.getFullPathName().toStdString() + "'"),
               0);
    EXPECT_EQ (readText (listing), "Zelkor_TovarekMk2_0.tvp\nZelkor_TovarekMk2_1.tvp\nZelkor_TovarekMk2_2.tvp\nZelkor_TovarekMk2_3.tvp\n"
                                   "Zelkor_TovarekMk2_4.tvp\nZelkor_TovarekMk2_5.tvp\nZelkor_TovarekMk2_6.tvp\nZelkor_Korvantal_0.glo\n");

    // The third preset entry is the unit's preset 2, as a preset data file.
    juce::FileInputStream input (entries.getChildFile ("2.bin"));
    InStreamWrapper stream (&input);
    Data::FullTovarekMk2Preset preset;
    uint32_t index = 99;
    ASSERT_TRUE (Korvantal::readArchivePreset (stream, preset, &index).ok);
    EXPECT_EQ (index, 2u);
    EXPECT_EQ (preset.parameters, presetParametersOnUnit (rig.unit(), 2));
    EXPECT_TRUE (takeAlerts (0).empty());
}

TEST (FileBackup, stillWritesTheBundleWhenTheWindowIsGoneBeforeTheBackupEnds)
{
    EditorRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.unit().setReportDelay (200us);
    const auto target = rig.file ("late.t2u");
    rig.answerMenusWith (kBackup);
    rig.answerChoosersWith (target);

    FileActionsTestAccess::showFileMenu (rig.component());
    ASSERT_EQ (rig.service().getState(), Service::BackingUp);
    rig.destroyComponent();

    // Progress and completion arrive with no main component to tell; the file is still written.
    EXPECT_TRUE (rig.waitFor ([&] { return readsAsBundleOfSevenPresets (target); }));
}

TEST (FileRestore, fillsEachPresetsAmpFromTheStockTableAndSendsItToItsIndex)
{
    EditorRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.unit().clearHostPackets();

    Data::TovarekMk2Archive archive;
    archive.presets.push_back ({ 1, presetWithStockAmp (3) });
    auto unknown = presetWithStockAmp (0);
    unknown.ampNameAndID.id = unknownAmpId();
    archive.presets.push_back ({ 2, unknown });
    const auto bundle = rig.file ("restore.t2u");
    ASSERT_TRUE (Korvantal::writeBackupArchive (archive, bundle).ok);

    rig.answerMenusWith (kRestore);
    rig.answerChoosersWith (bundle);
    const auto log = captureStdout ([&] { FileActionsTestAccess::showFileMenu (rig.component()); });

    EXPECT_NE (log.find ("WARNING: Failed to get amp data for preset 2 in bundle"), std::string::npos) << log;
    EXPECT_EQ (log.find ("preset 1 in bundle"), std::string::npos) << log;

    ASSERT_TRUE (rig.waitFor ([&] { return rig.service().getState() == Service::Idle && ! rig.unit().block (kBlockAmpName, 2).empty(); }));
    ASSERT_TRUE (rig.waitForIdle());

    // Preset 1 carries stock amp 3 complete; preset 2 the bundle's amp as it came.
    EXPECT_EQ (ampNameOnUnit (rig.unit(), 1).id, stockAmp (3).nameAndID.id);
    EXPECT_EQ (ampNameOnUnit (rig.unit(), 1).name, stockAmp (3).nameAndID.name);
    EXPECT_EQ (rig.unit().block (kBlockAmpData, 1), encodedAmpData (stockAmp (3).data));
    EXPECT_EQ (ampNameOnUnit (rig.unit(), 2).id, unknownAmpId());
    EXPECT_EQ (rig.unit().block (kBlockAmpData, 2), encodedAmpData (Data::AmpData {}));
    EXPECT_EQ (cabinetNameOnUnit (rig.unit(), 1), "Bundled");
    EXPECT_EQ (presetParametersOnUnit (rig.unit(), 1).at (117), 0.25f);
    EXPECT_TRUE (takeAlerts (0).empty());
}

//==============================================================================
// Preset export and import

TEST (FilePresetExport, writesTheEditBufferAsIndexZeroOverALongerOldFile)
{
    EditorRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    const auto target = rig.file ("exported.t2p");
    target.replaceWithText (juce::String::repeatedString ("old content that must go\n", 20000));
    rig.answerMenusWith (kExportPreset);
    rig.answerChoosersWith (target);

    FileActionsTestAccess::showFileMenu (rig.component());

    // The file reads back as the edit buffer's blocks on the unit, once the completion has
    // written it (the service is idle before that).
    Data::FullTovarekMk2Preset exported;
    uint32_t index = 99;
    ASSERT_TRUE (rig.waitFor ([&] {
        juce::FileInputStream input (target);
        InStreamWrapper stream (&input);
        exported = {};
        return Korvantal::readArchivePreset (stream, exported, &index).ok
               && exported.parameters == presetParametersOnUnit (rig.unit(), 0)
               && exported.cabinet.impulse == impulseOnUnit (rig.unit(), 0)
               && exported.cabinet.name == cabinetNameOnUnit (rig.unit(), 0);
    }));
    EXPECT_EQ (index, 0u);
    EXPECT_EQ (exported.ampNameAndID.id, ampNameOnUnit (rig.unit(), 0).id);
    EXPECT_EQ (exported.ampNameAndID.name, ampNameOnUnit (rig.unit(), 0).name);
    EXPECT_EQ (readText (target).rfind ("# File Type: Preset data, Index = 0", 0), 0u);
    EXPECT_EQ (readText (target).find ("old content"), std::string::npos);
    EXPECT_TRUE (takeAlerts (0).empty());
}

TEST (FilePresetExport, reportsAPresetTooLargeForItsFile)
{
    const auto directory = juce::File (TestSupport::makeTempDirectory ("reportsAPresetTooLargeForItsFile"));
    Data::FullTovarekMk2Preset preset;
    for (uint32_t id = 0; id < 600; ++id)
        preset.parameters[id] = 1.0f;

    EXPECT_EQ (FileActionsTestAccess::savePresetFile (directory.getChildFile ("big.t2p"), preset).message, "Failed to save preset");
    EXPECT_TRUE (FileActionsTestAccess::savePresetFile (directory.getChildFile ("small.t2p"), {}).ok);
}

TEST (FilePresetImport, sendsEitherFormatWithItsStockAmpToTheEditBuffer)
{
    EditorRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());

    // A preset file naming stock amp 5, stored with index 4, which the import does not use.
    ASSERT_TRUE (writePresetFileTo (presetWithStockAmp (5), rig.file ("in.t2p"), 4).ok);

    // An older preset file: parameters, a 16-character name block, a cabinet impulse and name.
    Korvantal::DataFile older (Korvantal::kDataFileTypePreset, 1, 0);
    ASSERT_TRUE (older.writeSegmentParams ({ { 117, 0.75f } }, Data::kPresetParamPairs).ok);
    older.sizedSegment (1, Data::kAmpNameAndIDBlockSize)[0] = 'O';
    Data::Impulse impulse = Data::makeUnitImpulse();
    impulse[1][2] = 0.125f;
    ASSERT_TRUE (older.writeSegmentCabinetIR (2, impulse).ok);
    ASSERT_TRUE (older.writeSegmentName (3, "OldCab").ok);
    ASSERT_TRUE (writeDataFileTo (older, rig.file ("OLD.PRE")).ok);

    const struct { juce::File file; size_t stockRow; float parameter117; std::string cabinet; } rows[] = {
        { rig.file ("in.t2p"), 5, 0.25f, "Bundled" },
        // The older format names no amp (and its capital ending still picks its reader): the
        // first stock amp completes it.
        { rig.file ("OLD.PRE"), 0, 0.75f, "OldCab" },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.file.getFileName());
        rig.answerMenusWith (kImportPreset);
        rig.answerChoosersWith (row.file);
        FileActionsTestAccess::showFileMenu (rig.component());

        ASSERT_TRUE (rig.waitFor ([&] { return cabinetNameOnUnit (rig.unit(), 0) == row.cabinet; }));
        ASSERT_TRUE (rig.waitForIdle());
        EXPECT_EQ (ampNameOnUnit (rig.unit(), 0).id, stockAmp (row.stockRow).nameAndID.id);
        EXPECT_EQ (ampNameOnUnit (rig.unit(), 0).name, stockAmp (row.stockRow).nameAndID.name);
        EXPECT_EQ (rig.unit().block (kBlockAmpData, 0), encodedAmpData (stockAmp (row.stockRow).data));
        EXPECT_EQ (presetParametersOnUnit (rig.unit(), 0).at (117), row.parameter117);
        EXPECT_TRUE (takeAlerts (0).empty());
    }
    EXPECT_EQ (impulseOnUnit (rig.unit(), 0)[1][2], 0.125f);
    EXPECT_NE (ampNameOnUnit (rig.unit(), 4).id, stockAmp (5).nameAndID.id);
}

TEST (FilePresetImport, completesAPresetFromTheStockAmpAndNormalisesItsParameters)
{
    EditorRig rig;
    auto preset = presetWithStockAmp (7);
    preset.parameters[117] = 5.0f;        // above its range of 0 to 1
    preset.parameters[0x7FFFFFF0] = 1.0f; // no preset parameter

    ASSERT_TRUE (FileActionsTestAccess::getAmpDataForId (rig.component(), rig.service(), preset).ok);
    EXPECT_EQ (preset.ampNameAndID.name, stockAmp (7).nameAndID.name);
    EXPECT_EQ (encodedAmpData (preset.ampData), encodedAmpData (stockAmp (7).data));
    EXPECT_EQ (preset.finishingFilter, stockAmp (7).finishingFilter);
    EXPECT_EQ (preset.parameters.at (117), 1.0f);
    EXPECT_EQ (preset.parameters.count (0x7FFFFFF0), 0u);
    EXPECT_EQ (preset.cabinet.name, "Bundled");

    auto unknown = presetWithStockAmp (7);
    unknown.ampNameAndID = { unknownAmpId(), "kept" };
    Korvantal::Result result;
    const auto log = captureStdout ([&] { result = FileActionsTestAccess::getAmpDataForId (rig.component(), rig.service(), unknown); });
    EXPECT_EQ (result.message, "Failed to find amp data for id:" + std::to_string ((int) unknownAmpId()));
    EXPECT_LT (log.find ("Amp data not found!"), log.find ("Failed to find amp data for id:")) << log;
    EXPECT_EQ (unknown.ampNameAndID.name, "kept");
    EXPECT_EQ (unknown.parameters.at (117), 0.25f);
}

//==============================================================================
// Firmware update

// The carried image from an idle unit, or a chosen file from a unit in its error state: the
// unit gets the loader image (the file form with every byte's bits reversed), restarts with
// its version, and the progress ends at 1.
TEST (FileFirmware, sendsTheCarriedImageOrAChosenFileAndTheUnitComesBackWithIt)
{
    const auto carried = TovarekMk2::EmbeddedData::getDspFirmwareImage();
    std::array<uint8_t, 3> carriedVersion {};
    ASSERT_TRUE (SimUnit::checkLoaderImage (bitReversed (std::vector<uint8_t> (carried.data, carried.data + carried.size)), carriedVersion));

    const struct { int id; bool fromErrorState; std::array<uint8_t, 3> version; size_t requests; } rows[] = {
        { kUpdateFirmware, false, carriedVersion, 0 },
        { kUpdateFirmwareFromFile, true, { 4, 7, 1 }, 1 },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.id);
        EditorRig rig;
        ASSERT_TRUE (rig.connectAndRefresh());
        ASSERT_TRUE (! row.fromErrorState || rig.breakIntoErrorState());
        writeLdrFile (SimUnit::makeLoaderImage ({ 4, 7, 1 }, 3000, 5), rig.file ("update.ldr"));
        rig.answerMenusWith (row.id);
        rig.answerChoosersWith (rig.file ("update.ldr"));

        FileActionsTestAccess::showFileMenu (rig.component());

        ASSERT_TRUE (rig.waitFor ([&] { return rig.unit().restartCount() == 1; }));
        ASSERT_TRUE (rig.waitForIdle());
        EXPECT_TRUE (pumpUntil ([&] { return FileActionsTestAccess::reportedProgress (rig.component()) == 1.0; }));
        const auto version = rig.unit().dspVersion();
        EXPECT_EQ ((std::array<uint8_t, 3> { version.major, version.minor, version.patch }), row.version);
        EXPECT_EQ (rig.requests.size(), row.requests);
        EXPECT_TRUE (takeAlerts (0).empty());
    }
}

//==============================================================================
// Amps

TEST (AmpActions, offerTheStockTableAndEverySlotByNameSendToTheEditBufferOrTheSlotsDeviceIndexAndShowFailures)
{
    EditorRig rig;
    rig.answerMenusWith (0);

    // Before anything is read, the slots are offered as ?.
    FileActionsTestAccess::replaceAmpSlot (rig.component());
    ASSERT_EQ (rig.offeredMenus.size(), 1u);
    ASSERT_EQ (rig.offeredMenus[0].size(), 3u);
    EXPECT_EQ (rig.offeredMenus[0][0].text, "Replace '?'");
    EXPECT_EQ (rig.offeredMenus[0][0].subItems.front().id, 1);
    EXPECT_EQ (rig.offeredMenus[0][2].subItems.back().id, 538);
    EXPECT_EQ (rig.offeredMenus[0][1].subItems[4].id, 256 + 4 + 1);
    EXPECT_TRUE (takeAlerts (0).empty());

    // Not connected: the send is refused. Row 26 (id 27) is past the table.
    rig.answerMenusWith (1);
    FileActionsTestAccess::chooseStockAmp (rig.component());
    EXPECT_EQ (takeAlerts (1), oneErrorAlert ("Failed to send amp"));
    ASSERT_EQ (rig.offeredMenus.back().size(), 26u);
    for (size_t row = 0; row < 26; ++row)
    {
        EXPECT_EQ (rig.offeredMenus.back()[row].id, (int) row + 1);
        EXPECT_EQ (rig.offeredMenus.back()[row].text, TovarekMk2::StockAmpTable[row].displayName);
        EXPECT_TRUE (rig.offeredMenus.back()[row].enabled);
    }
    rig.answerMenusWith (27);
    const auto log = captureStdout ([&] { FileActionsTestAccess::replaceAmpSlot (rig.component()); });
    EXPECT_NE (log.find ("Amp data not found!"), std::string::npos) << log;
    EXPECT_NE (log.find ("MainComponentActions.cpp"), std::string::npos) << log;
    EXPECT_EQ (takeAlerts (1), oneErrorAlert ("Failed to load amp"));

    ASSERT_TRUE (rig.connectAndRefresh());
    rig.answerMenusWith (26);
    FileActionsTestAccess::chooseStockAmp (rig.component());
    ASSERT_TRUE (rig.waitFor ([&] { return ampNameOnUnit (rig.unit(), 0).id == stockAmp (25).nameAndID.id; }));
    ASSERT_TRUE (rig.waitForIdle());
    EXPECT_EQ (rig.unit().block (kBlockAmpData, 0), encodedAmpData (stockAmp (25).data));

    // The name the menu offers, read before the replacement it starts can change it.
    const std::string slotName = rig.service().getAmpName (2);
    rig.answerMenusWith (538);
    FileActionsTestAccess::replaceAmpSlot (rig.component());
    EXPECT_EQ (rig.offeredMenus.back()[2].text, "Replace '" + slotName + "'");

    ASSERT_TRUE (rig.waitFor ([&] { return ampNameOnUnit (rig.unit(), 6).id == stockAmp (25).nameAndID.id; }));
    ASSERT_TRUE (rig.waitForIdle());
    EXPECT_EQ (rig.unit().block (kBlockAmpData, 6), encodedAmpData (stockAmp (25).data));
    EXPECT_EQ (rig.service().getAmpName (2), stockAmp (25).nameAndID.name);
    EXPECT_TRUE (takeAlerts (0).empty());
}

//==============================================================================
// Cabinets

TEST (CabinetActions, importAWavNamedAfterTheFileAndReplaceASlotWithTheNameACabFileHolds)
{
    EditorRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    const auto wav = rig.file ("Room Mic.wav");
    ASSERT_TRUE (writeWavWithPython (wav));
    rig.answerChoosersWith (wav);

    FileActionsTestAccess::importCabinetToEditBuffer (rig.component());

    ASSERT_TRUE (rig.waitFor ([&] { return cabinetNameOnUnit (rig.unit(), 0) == "Room Mic"; }));
    ASSERT_TRUE (rig.waitForIdle());
    const auto impulse = impulseOnUnit (rig.unit(), 0);
    EXPECT_NEAR (impulse[0][0], 0.5f, 1e-6f);
    EXPECT_NEAR (impulse[0][3], -0.25f, 1e-6f);
    EXPECT_NEAR (impulse[1][1], 0.25f, 1e-6f);
    EXPECT_EQ (rig.requests.at (0).title, "Import Cabinet");
    EXPECT_EQ (rig.requests.at (0).patterns, "*.wav;*.cab");
    EXPECT_FALSE (rig.requests.at (0).save);
    EXPECT_EQ (rig.settings().getValue ("lastDirectory"), rig.directory().getFullPathName());
    EXPECT_TRUE (takeAlerts (0).empty());

    // A slot replaced with a cabinet file named in capitals takes the name the file holds.
    Korvantal::DataFile cabinetFile (Korvantal::kDataFileTypeCabinet, 0, 0);
    Data::Impulse stored = Data::makeUnitImpulse();
    stored[0][9] = -0.75f;
    ASSERT_TRUE (cabinetFile.writeSegmentCabinetIR (0, stored).ok);
    ASSERT_TRUE (cabinetFile.writeSegmentName (1, "Stored Name").ok);
    const auto cab = rig.file ("file name.CAB");
    ASSERT_TRUE (writeDataFileTo (cabinetFile, cab).ok);

    rig.answerMenusWith (3);
    rig.answerChoosersWith (cab);
    FileActionsTestAccess::replaceCabinetSlot (rig.component());

    ASSERT_EQ (rig.offeredMenus.size(), 1u);
    ASSERT_EQ (rig.offeredMenus[0].size(), 3u);
    for (int slot = 0; slot < 3; ++slot)
    {
        EXPECT_EQ (rig.offeredMenus[0][(size_t) slot].id, slot + 1);
        EXPECT_EQ (rig.offeredMenus[0][(size_t) slot].text, "Replace 'Cab " + std::to_string (slot + 4) + "'...");
    }

    ASSERT_TRUE (rig.waitFor ([&] { return cabinetNameOnUnit (rig.unit(), 6) == "Stored Name"; }));
    ASSERT_TRUE (rig.waitForIdle());
    EXPECT_EQ (impulseOnUnit (rig.unit(), 6)[0][9], -0.75f);
    EXPECT_EQ (rig.service().getCabName (2), "Stored Name");
    EXPECT_TRUE (takeAlerts (0).empty());
}

// Not connected: a file that cannot be read fails before the service is asked, a good one is
// refused by it; a cancelled chooser or menu shows nothing.
TEST (CabinetActions, showEachFailureAndACancelShowsNothing)
{
    EditorRig rig;
    ASSERT_TRUE (writeWavWithPython (rig.file ("ir.wav")));
    rig.file ("noise.wav").replaceWithText ("RIFF but not really");
    rig.file ("broken.cab").replaceWithText ("# File Type: Preset data, Index = 0\n");
    const auto none = std::vector<std::string> {};

    const struct
    {
        void (*action) (MainComponent&);
        int menuAnswer;
        juce::File chosen;
        std::vector<std::string> alerts;
    } rows[] = {
        { FileActionsTestAccess::importCabinetToEditBuffer, 0, {}, none },
        { FileActionsTestAccess::replaceCabinetSlot, 0, rig.file ("ir.wav"), none },
        { FileActionsTestAccess::importCabinetToEditBuffer, 0, rig.file ("noise.wav"), oneErrorAlert ("Failed to import cabinet") },
        { FileActionsTestAccess::replaceCabinetSlot, 1, rig.file ("broken.cab"), oneErrorAlert ("Failed to load cabinet") },
        { FileActionsTestAccess::importCabinetToEditBuffer, 0, rig.file ("missing.cab"), oneErrorAlert ("Failed to load cabinet") },
        { FileActionsTestAccess::importCabinetToEditBuffer, 0, rig.file ("ir.wav"), oneErrorAlert ("Failed to send cabinet") },
        { FileActionsTestAccess::replaceCabinetSlot, 2, rig.file ("ir.wav"), oneErrorAlert ("Failed to send cab") },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.chosen.getFileName());
        rig.answerMenusWith (row.menuAnswer);
        rig.answerChoosersWith (row.chosen);
        row.action (rig.component());
        EXPECT_EQ (takeAlerts (row.alerts.size()), row.alerts);
    }
}

//==============================================================================
// Presets, pages and window buttons

// Selecting moves the switch at once, connected or not, and the next refresh puts it back to the
// unit's program; neither it nor Save shows a refusal.
TEST (PresetActions, selectAndSaveReachTheUnitAndARefusalShowsNothing)
{
    EditorRig rig;
    FileActionsTestAccess::selectPreset (rig.component(), 1);
    EXPECT_EQ (FileActionsTestAccess::presetSwitchPosition (rig.component()), 1);
    FileActionsTestAccess::saveCurrentPresetClicked (rig.component());
    EXPECT_TRUE (takeAlerts (0).empty());

    ASSERT_TRUE (rig.connectAndRefresh());
    EXPECT_TRUE (rig.waitFor ([&] { return FileActionsTestAccess::presetSwitchPosition (rig.component()) == 0; }));

    // The unit starts at program 1: the edit buffer goes to preset block 1.
    rig.unit().clearHostPackets();
    FileActionsTestAccess::saveCurrentPresetClicked (rig.component());
    ASSERT_TRUE (rig.waitFor ([&] {
        for (const auto& packet : rig.unit().hostPackets())
            if (packet.size() > 4 && packet[0] == 0xC4 && packet[2] == kBlockPreset && packet[3] == 1)
                return true;
        return false;
    }));
    ASSERT_TRUE (rig.waitForIdle());

    FileActionsTestAccess::selectPreset (rig.component(), 2);
    EXPECT_EQ (FileActionsTestAccess::presetSwitchPosition (rig.component()), 2);
    ASSERT_TRUE (rig.waitFor ([&] { return rig.unit().currentProgram() == 3; }));
    ASSERT_TRUE (rig.waitFor ([&] { return rig.service().getCurrentPresetIndex() == 2 && rig.service().getState() == Service::Idle; }));
    EXPECT_TRUE (takeAlerts (0).empty());
}

TEST (PageActions, switchBetweenFootswitchAboutAndPanelPagesAndWindowButtonsCallOnlyWhatIsSet)
{
    EditorRig rig;
    auto& c = rig.component();
    using Access = FileActionsTestAccess;

    const struct
    {
        const char* button;
        void (*press) (MainComponent&);
        int pageMode;
        bool viewport, footswitchPage, aboutText;
        bool globalTab, footswitchesTab, aboutTab;
    } steps[] = {
        { "Footswitches", Access::showFootswitchPage, 2, false, true, false, false, true, false },
        { "About", Access::toggleAboutPage, 1, false, false, true, false, false, true },
        // About a second time: back to the panel page, whatever was shown before.
        { "About again", Access::toggleAboutPage, 0, true, false, false, false, false, false },
        { "About", Access::toggleAboutPage, 1, false, false, true, false, false, true },
        { "Global", Access::showGlobalPage, 0, true, false, false, true, false, false },
    };

    for (const auto& step : steps)
    {
        SCOPED_TRACE (step.button);
        step.press (c);
        EXPECT_EQ (Access::pageMode (c), step.pageMode);
        EXPECT_EQ (Access::isVisible (Access::viewport (c)), step.viewport);
        EXPECT_EQ (Access::isVisible (Access::footswitchPage (c)), step.footswitchPage);
        EXPECT_EQ (Access::isVisible (Access::aboutText (c)), step.aboutText);
        EXPECT_TRUE (pumpUntil ([&] { return Access::globalTabOn (c) == step.globalTab; }));
        EXPECT_EQ (Access::footswitchesTabOn (c), step.footswitchesTab);
        EXPECT_EQ (Access::aboutTabOn (c), step.aboutTab);
    }
    EXPECT_EQ (Access::fxPanelBlock (c), 8);

    // The window buttons: nothing set: nothing happens; without an application object, Close has nobody to ask.
    FileActionsTestAccess::maximiseClicked (c);
    FileActionsTestAccess::minimiseClicked (c);
    FileActionsTestAccess::closeClicked (c);

    int maximised = 0, minimised = 0;
    c._maximiseCallback = [&] { ++maximised; };
    c._minimiseCallback = [&] { ++minimised; };
    FileActionsTestAccess::maximiseClicked (c);
    FileActionsTestAccess::maximiseClicked (c);
    FileActionsTestAccess::minimiseClicked (c);
    EXPECT_EQ (maximised, 2);
    EXPECT_EQ (minimised, 1);
}
