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
#include <memory>
#include <mutex>
#include <sstream>
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
constexpr auto kWait = 10000ms;

constexpr uint8_t kBlockPreset = 3;
constexpr uint8_t kBlockAmpName = 5;
constexpr uint8_t kBlockAmpData = 6;
constexpr uint8_t kBlockFinishingFilter = 8;
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

std::string errorAlert (const std::string& message)
{
    return "Error. " + message;
}

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

std::vector<bool> enabledFlags (const std::vector<EditorRig::Item>& items)
{
    std::vector<bool> flags;
    for (const auto& item : items)
        flags.push_back (item.enabled);
    return flags;
}

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

TEST (FileMenu, offersSixItemsAllDisabledWhileNotConnected)
{
    EditorRig rig;
    rig.answerMenusWith (0);
    rig.answerChoosersWith ({});

    FileActionsTestAccess::showFileMenu (rig.component());

    ASSERT_EQ (rig.offeredMenus.size(), 1u);
    const auto& items = rig.offeredMenus[0];
    ASSERT_EQ (items.size(), 6u);
    const std::vector<std::string> texts { "Backup", "Restore", "Export Preset", "Import Preset",
                                           "Update Firmware", "Update Firmware from File" };
    for (size_t i = 0; i < items.size(); ++i)
    {
        EXPECT_EQ (items[i].id, (int) i + 1);
        EXPECT_EQ (items[i].text, texts[i]);
        EXPECT_FALSE (items[i].enabled);
        EXPECT_FALSE (items[i].ticked);
    }
    EXPECT_TRUE (rig.requests.empty());
    EXPECT_TRUE (takeAlerts (0).empty());
}

TEST (FileMenu, offersOnlyTheUpdatesWhenTheFirmwareIsTooOld)
{
    SimUnit::UnitOptions options;
    options.dspVersion = { 4, 1, 0 };
    EditorRig rig (options);
    rig.unit().plug();
    ASSERT_TRUE (rig.waitFor ([&] { return rig.service().getState() == Service::FirmwareTooOld; }));
    rig.answerMenusWith (0);

    FileActionsTestAccess::showFileMenu (rig.component());

    ASSERT_EQ (rig.offeredMenus.size(), 1u);
    EXPECT_EQ (enabledFlags (rig.offeredMenus[0]), (std::vector<bool> { false, false, false, false, true, true }));
}

TEST (FileMenu, offersEverythingWhileIdleAndADismissedMenuDoesNothing)
{
    EditorRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.unit().clearHostPackets();
    rig.answerMenusWith (0);
    rig.answerChoosersWith (rig.file ("never.t2u"));

    FileActionsTestAccess::showFileMenu (rig.component());

    ASSERT_EQ (rig.offeredMenus.size(), 1u);
    EXPECT_EQ (enabledFlags (rig.offeredMenus[0]), (std::vector<bool> (6, true)));
    EXPECT_TRUE (rig.requests.empty());
    EXPECT_TRUE (takeAlerts (0).empty());
    EXPECT_TRUE (rig.unit().hostPackets().empty());
}

//==============================================================================
// The remembered folder

TEST (FileFolders, proposeTheDocumentsFolderUntilAFileIsChosenThenItsFolder)
{
    EditorRig rig;
    rig.answerMenusWith (0);
    const auto documents = juce::File::getSpecialLocation (juce::File::userDocumentsDirectory);

    EXPECT_EQ (FileActionsTestAccess::getLastDirectory (rig.component()), juce::File());
    EXPECT_EQ (FileActionsTestAccess::getDefaultFile (rig.component(), "Backup.t2u"), documents.getChildFile ("Backup.t2u"));
    EXPECT_EQ (FileActionsTestAccess::getDefaultFile (rig.component(), ""), documents);

    // A file that does not exist yet, as a save chooser returns it: its folder is remembered.
    const auto chosen = rig.file ("new.t2u");
    FileActionsTestAccess::setLastDirectory (rig.component(), chosen);
    EXPECT_EQ (rig.settings().getValue ("lastDirectory"), rig.directory().getFullPathName());
    EXPECT_EQ (FileActionsTestAccess::getLastDirectory (rig.component()), rig.directory());
    EXPECT_EQ (FileActionsTestAccess::getDefaultFile (rig.component(), "Preset.t2p"), rig.file ("Preset.t2p"));

    // An existing file, as an open chooser returns it.
    const auto existing = rig.directory().getChildFile ("sub").getChildFile ("old.t2p");
    ASSERT_TRUE (existing.create().wasOk());
    FileActionsTestAccess::setLastDirectory (rig.component(), existing);
    EXPECT_EQ (FileActionsTestAccess::getLastDirectory (rig.component()), existing.getParentDirectory());
}

TEST (FileFolders, fallBackToTheDocumentsFolderWhenTheRememberedOneIsGone)
{
    EditorRig rig;
    const auto gone = rig.directory().getChildFile ("gone");
    ASSERT_TRUE (gone.createDirectory().wasOk());
    FileActionsTestAccess::setLastDirectory (rig.component(), gone.getChildFile ("x.t2u"));
    ASSERT_TRUE (gone.deleteRecursively());

    const auto documents = juce::File::getSpecialLocation (juce::File::userDocumentsDirectory);
    EXPECT_EQ (FileActionsTestAccess::getLastDirectory (rig.component()), juce::File());
    EXPECT_EQ (FileActionsTestAccess::getDefaultFile (rig.component(), "Backup.t2u"), documents.getChildFile ("Backup.t2u"));
}

TEST (FileFolders, choosersStartWhereTheActionSaysAndACancelChangesNothing)
{
    EditorRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.answerChoosersWith ({});
    const auto documents = juce::File::getSpecialLocation (juce::File::userDocumentsDirectory);

    for (int id = 1; id <= 6; ++id)
    {
        rig.answerMenusWith (id);
        FileActionsTestAccess::showFileMenu (rig.component());
    }

    // Item 5 updates from the carried image and asks for no file.
    ASSERT_EQ (rig.requests.size(), 5u);
    EXPECT_EQ (rig.requests[0].title, "Save Backup Bundle");
    EXPECT_EQ (rig.requests[0].initialFile, documents.getChildFile ("Backup.t2u"));
    EXPECT_EQ (rig.requests[0].patterns, "*.t2u");
    EXPECT_TRUE (rig.requests[0].save);
    EXPECT_EQ (rig.requests[1].title, "Restore Backup Bundle");
    EXPECT_EQ (rig.requests[1].initialFile, juce::File());
    EXPECT_EQ (rig.requests[1].patterns, "*.t2u");
    EXPECT_FALSE (rig.requests[1].save);
    EXPECT_EQ (rig.requests[2].title, "Export Preset");
    EXPECT_EQ (rig.requests[2].initialFile, documents.getChildFile ("Preset.t2p"));
    EXPECT_EQ (rig.requests[2].patterns, "*.t2p");
    EXPECT_TRUE (rig.requests[2].save);
    EXPECT_EQ (rig.requests[3].title, "Import Preset");
    EXPECT_EQ (rig.requests[3].patterns, "*.t2p;*.pre");
    EXPECT_FALSE (rig.requests[3].save);
    EXPECT_EQ (rig.requests[4].title, "Select Firmware");
    EXPECT_EQ (rig.requests[4].initialFile, documents.getChildFile ("DSP Firmware.ldr"));
    EXPECT_EQ (rig.requests[4].patterns, "*.ldr");
    EXPECT_FALSE (rig.requests[4].save);

    EXPECT_EQ (rig.settings().getValue ("lastDirectory", "unset"), "unset");
    EXPECT_TRUE (takeAlerts (0).empty());

    // The carried-image update (item 5) did start; let it finish before the rig goes.
    EXPECT_TRUE (rig.waitFor ([&] { return rig.unit().restartCount() == 1; }));
    EXPECT_TRUE (rig.waitForIdle());
}

//==============================================================================
// Backup and restore

TEST (FileBackup, writesABundleThatPythonsZipfileReadsWithEveryPresetAndTheGlobals)
{
    EditorRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    const auto target = rig.file ("unit.t2u");
    rig.answerMenusWith (1);
    rig.answerChoosersWith (target);

    FileActionsTestAccess::showFileMenu (rig.component());

    // The service is idle again before the completion writes the file.
    ASSERT_TRUE (rig.waitFor ([&] { return readsAsBundleOfSevenPresets (target); }));
    EXPECT_EQ (rig.settings().getValue ("lastDirectory"), rig.directory().getFullPathName());

    const auto listing = rig.file ("listing.txt");
    const auto entries = rig.directory().getChildFile ("entries");
    ASSERT_TRUE (entries.createDirectory().wasOk());
    ASSERT_EQ (TestSupport::runCommand ("python3 '" TOVAREK_SOURCE_DIR "/tests/fixtures/zip_tool.py' list '"
                                        + target.getFullPathName().toStdString() + "' '" + entries.getFullPathName().toStdString()
                                        + "' > '" + listing.getFullPathName().toStdString() + "'"),
               0);

    std::vector<std::string> names;
    std::istringstream lines (readText (listing));
    for (std::string line; std::getline (lines, line);)
    {
        std::istringstream fields (line);
        std::string index, name;
        std::getline (fields, index, '\t');
        std::getline (fields, name, '\t');
        names.push_back (name);
    }
    EXPECT_EQ (names, (std::vector<std::string> { "Zelkor_TovarekMk2_0.tvp", "Zelkor_TovarekMk2_1.tvp", "Zelkor_TovarekMk2_2.tvp",
                                                  "Zelkor_TovarekMk2_3.tvp", "Zelkor_TovarekMk2_4.tvp", "Zelkor_TovarekMk2_5.tvp",
                                                  "Zelkor_TovarekMk2_6.tvp", "Zelkor_Korvantal_0.glo" }));

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
    rig.answerMenusWith (1);
    rig.answerChoosersWith (target);

    FileActionsTestAccess::showFileMenu (rig.component());
    ASSERT_EQ (rig.service().getState(), Service::BackingUp);
    rig.destroyComponent();

    // Progress and completion arrive with no main component to tell; the file is still written.
    EXPECT_TRUE (rig.waitFor ([&] { return readsAsBundleOfSevenPresets (target); }));
}

TEST (FileBackup, showsABundleThatCannotBeWrittenOnceTheBackupHasRun)
{
    EditorRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    const auto target = rig.directory().getChildFile ("no such folder").getChildFile ("unit.t2u");
    rig.answerMenusWith (1);
    rig.answerChoosersWith (target);

    FileActionsTestAccess::showFileMenu (rig.component());

    EXPECT_EQ (takeAlerts (1), (std::vector<std::string> { errorAlert ("Failed to save archive") }));
    EXPECT_EQ (rig.service().getState(), Service::Idle);
    EXPECT_FALSE (target.exists());
}

TEST (FileBackup, showsARefusedStartAndWritesNothing)
{
    EditorRig rig;
    const auto target = rig.file ("unit.t2u");
    rig.answerChoosersWith (target);
    rig.answerMenusWith (1);

    // Not connected: the menu would not offer it, but the service decides.
    FileActionsTestAccess::showFileMenu (rig.component());

    EXPECT_EQ (takeAlerts (1), (std::vector<std::string> { errorAlert ("Failed to start backup") }));
    EXPECT_FALSE (target.exists());
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

    rig.answerMenusWith (2);
    rig.answerChoosersWith (bundle);
    testing::internal::CaptureStdout();
    FileActionsTestAccess::showFileMenu (rig.component());
    const auto log = testing::internal::GetCapturedStdout();

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

TEST (FileRestore, showsABundleThatCannotBeReadAndStartsNothing)
{
    EditorRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.unit().clearHostPackets();
    const auto bundle = rig.file ("broken.t2u");
    bundle.replaceWithText ("not a zip at all");
    rig.answerMenusWith (2);
    rig.answerChoosersWith (bundle);

    testing::internal::CaptureStdout();
    FileActionsTestAccess::showFileMenu (rig.component());
    const auto log = testing::internal::GetCapturedStdout();

    EXPECT_NE (log.find ("MainComponentFileActions.cpp"), std::string::npos) << log;
    EXPECT_NE (log.find ("Failed to load backup"), std::string::npos) << log;
    EXPECT_EQ (takeAlerts (1), (std::vector<std::string> { errorAlert ("Failed to load backup") }));
    EXPECT_EQ (rig.service().getState(), Service::Idle);
    EXPECT_TRUE (rig.unit().hostPackets().empty());
}

TEST (FileRestore, showsARefusedStart)
{
    EditorRig rig;
    Data::TovarekMk2Archive archive;
    archive.presets.push_back ({ 0, presetWithStockAmp (2) });
    const auto bundle = rig.file ("ok.t2u");
    ASSERT_TRUE (Korvantal::writeBackupArchive (archive, bundle).ok);
    rig.answerMenusWith (2);
    rig.answerChoosersWith (bundle);

    FileActionsTestAccess::showFileMenu (rig.component());

    EXPECT_EQ (takeAlerts (1), (std::vector<std::string> { errorAlert ("Failed to start restore") }));
}

//==============================================================================
// Preset export and import

TEST (FilePresetExport, showsARefusedStartAndWritesNothing)
{
    EditorRig rig;
    const auto target = rig.file ("never.t2p");
    rig.answerMenusWith (3);
    rig.answerChoosersWith (target);

    FileActionsTestAccess::showFileMenu (rig.component());

    EXPECT_EQ (takeAlerts (1), (std::vector<std::string> { errorAlert ("Failed to export preset") }));
    EXPECT_FALSE (target.exists());
}

TEST (FilePresetExport, writesTheEditBufferAsIndexZeroOverALongerOldFile)
{
    EditorRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    const auto target = rig.file ("exported.t2p");
    target.replaceWithText (juce::String::repeatedString ("old content that must go\n", 20000));
    const auto oldSize = target.getSize();
    rig.answerMenusWith (3);
    rig.answerChoosersWith (target);

    FileActionsTestAccess::showFileMenu (rig.component());

    // What the file must hold: the edit buffer's blocks on the unit, as a preset file of index 0,
    // and not one byte of the old file after it.
    Data::FullTovarekMk2Preset onUnit;
    onUnit.parameters = presetParametersOnUnit (rig.unit(), 0);
    onUnit.ampNameAndID = ampNameOnUnit (rig.unit(), 0);
    onUnit.cabinet.name = cabinetNameOnUnit (rig.unit(), 0);
    onUnit.cabinet.impulse = impulseOnUnit (rig.unit(), 0);
    const auto expected = rig.file ("expected.t2p");
    ASSERT_TRUE (writePresetFileTo (onUnit, expected, 0).ok);
    const auto expectedBytes = TestSupport::readFileBytes (expected.getFullPathName().toStdString());

    // The service is idle again before the completion writes the file.
    EXPECT_TRUE (rig.waitFor ([&] { return TestSupport::readFileBytes (target.getFullPathName().toStdString()) == expectedBytes; }));
    EXPECT_LT (target.getSize(), oldSize);
    EXPECT_EQ (readText (target).rfind ("# File Type: Preset data, Index = 0", 0), 0u);
    EXPECT_TRUE (takeAlerts (0).empty());
}

TEST (FilePresetExport, showsATargetThatCannotBeOpenedAndLeavesTheUnitIdle)
{
    EditorRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    const auto target = rig.directory().getChildFile ("a folder.t2p");
    ASSERT_TRUE (target.createDirectory().wasOk());
    rig.answerMenusWith (3);
    rig.answerChoosersWith (target);

    FileActionsTestAccess::showFileMenu (rig.component());

    EXPECT_EQ (takeAlerts (1), (std::vector<std::string> { errorAlert ("Failed to overwrite file") }));
    EXPECT_TRUE (rig.waitForIdle());
    EXPECT_TRUE (target.isDirectory());
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

TEST (FilePresetImport, sendsAPresetFileWithItsStockAmpToTheEditBuffer)
{
    EditorRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    const auto file = rig.file ("in.t2p");
    ASSERT_TRUE (writePresetFileTo (presetWithStockAmp (5), file, 4).ok);
    rig.unit().clearHostPackets();
    rig.answerMenusWith (4);
    rig.answerChoosersWith (file);

    FileActionsTestAccess::showFileMenu (rig.component());

    ASSERT_TRUE (rig.waitFor ([&] { return ampNameOnUnit (rig.unit(), 0).id == stockAmp (5).nameAndID.id; }));
    ASSERT_TRUE (rig.waitForIdle());
    EXPECT_EQ (ampNameOnUnit (rig.unit(), 0).name, stockAmp (5).nameAndID.name);
    EXPECT_EQ (rig.unit().block (kBlockAmpData, 0), encodedAmpData (stockAmp (5).data));
    EXPECT_EQ (cabinetNameOnUnit (rig.unit(), 0), "Bundled");
    EXPECT_EQ (presetParametersOnUnit (rig.unit(), 0).at (117), 0.25f);
    // The file's index 4 is not used: slot 4 is untouched.
    EXPECT_NE (ampNameOnUnit (rig.unit(), 4).id, stockAmp (5).nameAndID.id);
    EXPECT_TRUE (takeAlerts (0).empty());
}

TEST (FilePresetImport, readsAFileEndingInCapitalPREWithTheOlderReader)
{
    EditorRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());

    // An older preset file: parameters, a 16-character name block, a cabinet impulse and name.
    Korvantal::DataFile older (Korvantal::kDataFileTypePreset, 1, 0);
    ASSERT_TRUE (older.writeSegmentParams ({ { 117, 0.75f } }, Data::kPresetParamPairs).ok);
    auto& name = older.sizedSegment (1, Data::kAmpNameAndIDBlockSize);
    name[0] = 'O';
    Data::Impulse impulse = Data::makeUnitImpulse();
    impulse[1][2] = 0.125f;
    ASSERT_TRUE (older.writeSegmentCabinetIR (2, impulse).ok);
    ASSERT_TRUE (older.writeSegmentName (3, "OldCab").ok);
    const auto file = rig.file ("OLD.PRE");
    ASSERT_TRUE (writeDataFileTo (older, file).ok);

    rig.answerMenusWith (4);
    rig.answerChoosersWith (file);
    FileActionsTestAccess::showFileMenu (rig.component());

    ASSERT_TRUE (rig.waitFor ([&] { return cabinetNameOnUnit (rig.unit(), 0) == "OldCab"; }));
    ASSERT_TRUE (rig.waitForIdle());
    EXPECT_EQ (impulseOnUnit (rig.unit(), 0)[1][2], 0.125f);
    EXPECT_EQ (presetParametersOnUnit (rig.unit(), 0).at (117), 0.75f);
    // The older format names no amp: the first stock amp completes it.
    EXPECT_EQ (ampNameOnUnit (rig.unit(), 0).id, stockAmp (0).nameAndID.id);
    EXPECT_EQ (rig.unit().block (kBlockAmpData, 0), encodedAmpData (stockAmp (0).data));
    EXPECT_TRUE (takeAlerts (0).empty());
}

TEST (FilePresetImport, showsEachKindOfFailureAndSendsNothing)
{
    EditorRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.unit().clearHostPackets();
    rig.answerMenusWith (4);

    const auto unknown = rig.file ("unknown.t2p");
    auto preset = presetWithStockAmp (1);
    preset.ampNameAndID.id = unknownAmpId();
    ASSERT_TRUE (writePresetFileTo (preset, unknown, 0).ok);
    rig.answerChoosersWith (unknown);
    FileActionsTestAccess::showFileMenu (rig.component());
    EXPECT_EQ (takeAlerts (1), (std::vector<std::string> { errorAlert ("Failed to get amp data for preset") }));

    // A file that cannot be opened reads as empty text.
    rig.answerChoosersWith (rig.file ("missing.t2p"));
    FileActionsTestAccess::showFileMenu (rig.component());
    EXPECT_EQ (takeAlerts (1), (std::vector<std::string> { errorAlert ("Failed to load preset") }));

    const auto cabinet = rig.file ("not-a-preset.pre");
    Korvantal::DataFile cabinetFile (Korvantal::kDataFileTypeCabinet, 0, 0);
    ASSERT_TRUE (cabinetFile.writeSegmentCabinetIR (0, Data::makeUnitImpulse()).ok);
    ASSERT_TRUE (cabinetFile.writeSegmentName (1, "cab").ok);
    ASSERT_TRUE (writeDataFileTo (cabinetFile, cabinet).ok);
    rig.answerChoosersWith (cabinet);
    FileActionsTestAccess::showFileMenu (rig.component());
    EXPECT_EQ (takeAlerts (1), (std::vector<std::string> { errorAlert ("Failed to load preset") }));

    EXPECT_TRUE (rig.unit().hostPackets().empty());
    EXPECT_EQ (rig.service().getState(), Service::Idle);
}

TEST (FilePresetImport, showsARefusedStart)
{
    EditorRig rig;
    const auto file = rig.file ("in.t2p");
    ASSERT_TRUE (writePresetFileTo (presetWithStockAmp (5), file, 0).ok);
    rig.answerMenusWith (4);
    rig.answerChoosersWith (file);

    FileActionsTestAccess::showFileMenu (rig.component());

    EXPECT_EQ (takeAlerts (1), (std::vector<std::string> { errorAlert ("Failed to import preset") }));
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
    testing::internal::CaptureStdout();
    const auto result = FileActionsTestAccess::getAmpDataForId (rig.component(), rig.service(), unknown);
    const auto log = testing::internal::GetCapturedStdout();
    EXPECT_EQ (result.message, "Failed to find amp data for id:" + std::to_string ((int) unknownAmpId()));
    EXPECT_LT (log.find ("Amp data not found!"), log.find ("Failed to find amp data for id:")) << log;
    EXPECT_EQ (unknown.ampNameAndID.name, "kept");
    EXPECT_EQ (unknown.parameters.at (117), 0.25f);
}

//==============================================================================
// Firmware update

TEST (FileFirmware, sendsTheCarriedImageAndTheUnitComesBackWithIt)
{
    EditorRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.answerMenusWith (5);
    rig.answerChoosersWith ({});

    // What the unit must receive: the carried file form with every byte's bits reversed.
    const auto carried = TovarekMk2::EmbeddedData::getDspFirmwareImage();
    std::vector<uint8_t> expected (carried.data, carried.data + carried.size);
    Korvantal::reverseBitsInPlace (expected);
    std::array<uint8_t, 3> version {};
    ASSERT_TRUE (SimUnit::checkLoaderImage (expected, version));

    FileActionsTestAccess::showFileMenu (rig.component());

    ASSERT_TRUE (rig.waitFor ([&] { return rig.unit().restartCount() == 1; }));
    ASSERT_TRUE (rig.waitFor ([&] { return rig.service().getState() == Service::Idle; }));
    EXPECT_TRUE (pumpUntil ([&] { return FileActionsTestAccess::reportedProgress (rig.component()) == 1.0; }));
    EXPECT_EQ (rig.unit().dspVersion().major, version[0]);
    EXPECT_EQ (rig.unit().dspVersion().minor, version[1]);
    EXPECT_EQ (rig.unit().dspVersion().patch, version[2]);
    EXPECT_TRUE (rig.requests.empty());
    EXPECT_TRUE (takeAlerts (0).empty());
}

TEST (FileFirmware, sendsAFirmwareFileBitReversedWhenChosenInTheErrorState)
{
    SimUnit::UnitOptions options;
    EditorRig rig (options);
    ASSERT_TRUE (rig.connectAndRefresh());

    // A refused request puts the service into its error state.
    rig.unit().injectFault (SimUnit::Fault (SimUnit::FaultKind::Refuse));
    Data::Cabinet cabinet;
    ASSERT_TRUE (rig.service().setCurrentCabData (cabinet).ok);
    ASSERT_TRUE (rig.waitFor ([&] { return rig.service().getState() == Service::Error; }));
    rig.unit().clearFaults();

    auto image = SimUnit::makeLoaderImage ({ 4, 7, 1 }, 3000, 5);
    std::vector<uint8_t> file (image);
    Korvantal::reverseBitsInPlace (file);
    const auto ldr = rig.file ("update.ldr");
    TestSupport::writeFileBytes (ldr.getFullPathName().toStdString(), file);

    rig.answerMenusWith (0);
    FileActionsTestAccess::showFileMenu (rig.component());
    EXPECT_EQ (enabledFlags (rig.offeredMenus.back()), (std::vector<bool> { false, false, false, false, true, true }));

    rig.answerMenusWith (6);
    rig.answerChoosersWith (ldr);
    FileActionsTestAccess::showFileMenu (rig.component());

    ASSERT_TRUE (rig.waitFor ([&] { return rig.unit().restartCount() == 1; }));
    ASSERT_TRUE (rig.waitForIdle());
    EXPECT_EQ (rig.unit().dspVersion().minor, 7);
    EXPECT_EQ (rig.unit().dspVersion().patch, 1);
    EXPECT_EQ (rig.settings().getValue ("lastDirectory"), rig.directory().getFullPathName());
    EXPECT_TRUE (takeAlerts (0).empty());
}

TEST (FileFirmware, startsWithAnEmptyImageWhenTheFileCannotBeOpened)
{
    EditorRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.unit().clearHostPackets();
    rig.answerMenusWith (6);
    rig.answerChoosersWith (rig.file ("missing.ldr"));

    FileActionsTestAccess::showFileMenu (rig.component());

    // The update starts with an empty image; what the unit makes of it is the service's matter.
    ASSERT_TRUE (rig.waitFor ([&] {
        for (const auto& packet : rig.unit().hostPackets())
            if (! packet.empty() && packet[0] == 0xB1)
                return true;
        return false;
    }));
    EXPECT_TRUE (rig.waitFor ([&] { return rig.service().getState() != Service::UpdatingFirmware; }));
    EXPECT_EQ (rig.unit().restartCount(), 0);
    EXPECT_TRUE (takeAlerts (0).empty());
}

TEST (FileFirmware, refusesAFileFarLargerThanAnyLoaderImage)
{
    EditorRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    const auto big = rig.file ("huge.ldr");
    {
        juce::FileOutputStream output (big);
        const std::vector<char> block (1 << 16, 0x55);
        for (int i = 0; i < 20; ++i)
            output.write (block.data(), block.size());
    }
    rig.unit().clearHostPackets();
    rig.answerMenusWith (6);
    rig.answerChoosersWith (big);

    FileActionsTestAccess::showFileMenu (rig.component());

    EXPECT_EQ (takeAlerts (1), (std::vector<std::string> { errorAlert ("Failed to load firmware") }));
    EXPECT_EQ (rig.service().getState(), Service::Idle);
    EXPECT_TRUE (rig.unit().hostPackets().empty());
}

TEST (FileFirmware, showsARefusedStart)
{
    EditorRig rig;
    rig.answerMenusWith (5);

    FileActionsTestAccess::showFileMenu (rig.component());

    EXPECT_EQ (takeAlerts (1), (std::vector<std::string> { errorAlert ("Failed to start firmware update") }));
}

//==============================================================================
// Amps

TEST (AmpActions, chooseStockAmpSendsTheChosenRowToTheEditBuffer)
{
    EditorRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.answerMenusWith (26);

    FileActionsTestAccess::chooseStockAmp (rig.component());

    ASSERT_EQ (rig.offeredMenus.size(), 1u);
    const auto names = TovarekMk2::getStockAmpMenuTexts();
    ASSERT_EQ (rig.offeredMenus[0].size(), 26u);
    for (size_t row = 0; row < 26; ++row)
    {
        EXPECT_EQ (rig.offeredMenus[0][row].id, (int) row + 1);
        EXPECT_EQ (rig.offeredMenus[0][row].text, names[row]);
        EXPECT_TRUE (rig.offeredMenus[0][row].enabled);
    }

    ASSERT_TRUE (rig.waitFor ([&] { return ampNameOnUnit (rig.unit(), 0).id == stockAmp (25).nameAndID.id; }));
    ASSERT_TRUE (rig.waitForIdle());
    EXPECT_EQ (rig.unit().block (kBlockAmpData, 0), encodedAmpData (stockAmp (25).data));
    EXPECT_TRUE (takeAlerts (0).empty());
}

TEST (AmpActions, replaceAmpSlotOffersEverySlotByNameAndSendsToItsDeviceIndex)
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

    ASSERT_TRUE (rig.connectAndRefresh());
    rig.answerMenusWith (538);
    FileActionsTestAccess::replaceAmpSlot (rig.component());
    EXPECT_EQ (rig.offeredMenus[1][2].text, "Replace '" + rig.service().getAmpName (2) + "'");

    ASSERT_TRUE (rig.waitFor ([&] { return ampNameOnUnit (rig.unit(), 6).id == stockAmp (25).nameAndID.id; }));
    ASSERT_TRUE (rig.waitForIdle());
    EXPECT_EQ (rig.unit().block (kBlockAmpData, 6), encodedAmpData (stockAmp (25).data));
    EXPECT_EQ (rig.service().getAmpName (2), stockAmp (25).nameAndID.name);
    EXPECT_TRUE (takeAlerts (0).empty());
}

TEST (AmpActions, showARefusedSendAndAnUnknownRow)
{
    EditorRig rig;
    rig.answerMenusWith (1);
    FileActionsTestAccess::chooseStockAmp (rig.component());
    EXPECT_EQ (takeAlerts (1), (std::vector<std::string> { errorAlert ("Failed to send amp") }));

    // Row 26 (id 27) is past the table.
    rig.answerMenusWith (27);
    testing::internal::CaptureStdout();
    FileActionsTestAccess::replaceAmpSlot (rig.component());
    const auto log = testing::internal::GetCapturedStdout();
    EXPECT_NE (log.find ("Amp data not found!"), std::string::npos) << log;
    EXPECT_NE (log.find ("MainComponentActions.cpp"), std::string::npos) << log;
    EXPECT_EQ (takeAlerts (1), (std::vector<std::string> { errorAlert ("Failed to load amp") }));
}

//==============================================================================
// Cabinets

TEST (CabinetActions, importAWavIntoTheEditBufferNamedAfterTheFile)
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
}

TEST (CabinetActions, replaceASlotWithACabFileNamedInCapitalsUsingTheNameItHolds)
{
    EditorRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());

    Korvantal::DataFile cabinetFile (Korvantal::kDataFileTypeCabinet, 0, 0);
    Data::Impulse impulse = Data::makeUnitImpulse();
    impulse[0][9] = -0.75f;
    ASSERT_TRUE (cabinetFile.writeSegmentCabinetIR (0, impulse).ok);
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
        EXPECT_EQ (rig.offeredMenus[0][(size_t) slot].text, "Replace '" + rig.service().getCabName (slot) + "'...");
    }

    ASSERT_TRUE (rig.waitFor ([&] { return cabinetNameOnUnit (rig.unit(), 6) == "Stored Name"; }));
    ASSERT_TRUE (rig.waitForIdle());
    EXPECT_EQ (impulseOnUnit (rig.unit(), 6)[0][9], -0.75f);
    EXPECT_EQ (rig.service().getCabName (2), "Stored Name");
    EXPECT_TRUE (takeAlerts (0).empty());
}

TEST (CabinetActions, showEachFailureAndACancelShowsNothing)
{
    EditorRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());
    rig.unit().clearHostPackets();

    rig.answerChoosersWith ({});
    FileActionsTestAccess::importCabinetToEditBuffer (rig.component());
    rig.answerMenusWith (0);
    FileActionsTestAccess::replaceCabinetSlot (rig.component());
    EXPECT_TRUE (takeAlerts (0).empty());
    EXPECT_EQ (rig.requests.size(), 1u);

    const auto notAudio = rig.file ("noise.wav");
    notAudio.replaceWithText ("RIFF but not really");
    rig.answerChoosersWith (notAudio);
    FileActionsTestAccess::importCabinetToEditBuffer (rig.component());
    EXPECT_EQ (takeAlerts (1), (std::vector<std::string> { errorAlert ("Failed to import cabinet") }));

    const auto notCab = rig.file ("broken.cab");
    notCab.replaceWithText ("# File Type: Preset data, Index = 0\n");
    rig.answerChoosersWith (notCab);
    rig.answerMenusWith (1);
    FileActionsTestAccess::replaceCabinetSlot (rig.component());
    EXPECT_EQ (takeAlerts (1), (std::vector<std::string> { errorAlert ("Failed to load cabinet") }));
    EXPECT_TRUE (rig.unit().hostPackets().empty());
}

TEST (CabinetActions, showRefusedSendsWhileNotConnected)
{
    EditorRig rig;
    const auto wav = rig.file ("ir.wav");
    ASSERT_TRUE (writeWavWithPython (wav));
    rig.answerChoosersWith (wav);

    FileActionsTestAccess::importCabinetToEditBuffer (rig.component());
    EXPECT_EQ (takeAlerts (1), (std::vector<std::string> { errorAlert ("Failed to send cabinet") }));

    rig.answerMenusWith (2);
    FileActionsTestAccess::replaceCabinetSlot (rig.component());
    EXPECT_EQ (takeAlerts (1), (std::vector<std::string> { errorAlert ("Failed to send cab") }));
}

//==============================================================================
// Presets, pages and window buttons

TEST (PresetActions, selectingMovesTheSwitchAtOnceAndAsksTheUnitForTheProgram)
{
    EditorRig rig;
    ASSERT_TRUE (rig.connectAndRefresh());

    FileActionsTestAccess::selectPreset (rig.component(), 2);
    EXPECT_EQ (FileActionsTestAccess::presetSwitchPosition (rig.component()), 2);

    ASSERT_TRUE (rig.waitFor ([&] { return rig.unit().currentProgram() == 3; }));
    ASSERT_TRUE (rig.waitFor ([&] { return rig.service().getCurrentPresetIndex() == 2 && rig.service().getState() == Service::Idle; }));
    EXPECT_TRUE (takeAlerts (0).empty());
}

TEST (PresetActions, selectingWhileNotConnectedMovesTheSwitchUntilTheNextRefresh)
{
    EditorRig rig;

    FileActionsTestAccess::selectPreset (rig.component(), 1);
    EXPECT_EQ (FileActionsTestAccess::presetSwitchPosition (rig.component()), 1);
    EXPECT_TRUE (takeAlerts (0).empty());

    ASSERT_TRUE (rig.connectAndRefresh());
    EXPECT_TRUE (rig.waitFor ([&] { return FileActionsTestAccess::presetSwitchPosition (rig.component()) == 0; }));
}

TEST (PresetActions, saveStoresTheEditBufferAtTheCurrentProgramAndARefusalShowsNothing)
{
    EditorRig rig;
    FileActionsTestAccess::saveCurrentPresetClicked (rig.component());
    EXPECT_TRUE (takeAlerts (0).empty());

    ASSERT_TRUE (rig.connectAndRefresh());
    rig.unit().clearHostPackets();
    FileActionsTestAccess::saveCurrentPresetClicked (rig.component());

    // The unit starts at program 1: the edit buffer goes to preset block 1.
    ASSERT_TRUE (rig.waitFor ([&] {
        for (const auto& packet : rig.unit().hostPackets())
            if (packet.size() > 4 && packet[0] == 0xC4 && packet[2] == kBlockPreset && packet[3] == 1)
                return true;
        return false;
    }));
    EXPECT_TRUE (rig.waitForIdle());
}

TEST (PageActions, switchBetweenFootswitchAboutAndPanelPages)
{
    EditorRig rig;
    auto& c = rig.component();

    FileActionsTestAccess::showFootswitchPage (c);
    EXPECT_EQ (FileActionsTestAccess::pageMode (c), 2);
    EXPECT_TRUE (FileActionsTestAccess::isVisible (FileActionsTestAccess::footswitchPage (c)));
    EXPECT_FALSE (FileActionsTestAccess::isVisible (FileActionsTestAccess::viewport (c)));
    EXPECT_FALSE (FileActionsTestAccess::isVisible (FileActionsTestAccess::aboutText (c)));
    EXPECT_TRUE (FileActionsTestAccess::footswitchesTabOn (c));
    EXPECT_FALSE (FileActionsTestAccess::aboutTabOn (c));

    FileActionsTestAccess::toggleAboutPage (c);
    EXPECT_EQ (FileActionsTestAccess::pageMode (c), 1);
    EXPECT_TRUE (FileActionsTestAccess::isVisible (FileActionsTestAccess::aboutText (c)));
    EXPECT_FALSE (FileActionsTestAccess::isVisible (FileActionsTestAccess::footswitchPage (c)));
    EXPECT_FALSE (FileActionsTestAccess::isVisible (FileActionsTestAccess::viewport (c)));
    EXPECT_TRUE (FileActionsTestAccess::aboutTabOn (c));
    EXPECT_FALSE (FileActionsTestAccess::footswitchesTabOn (c));

    // About a second time: back to the panel page, whatever was shown before.
    FileActionsTestAccess::toggleAboutPage (c);
    EXPECT_EQ (FileActionsTestAccess::pageMode (c), 0);
    EXPECT_TRUE (FileActionsTestAccess::isVisible (FileActionsTestAccess::viewport (c)));
    EXPECT_FALSE (FileActionsTestAccess::isVisible (FileActionsTestAccess::aboutText (c)));
    EXPECT_FALSE (FileActionsTestAccess::isVisible (FileActionsTestAccess::footswitchPage (c)));
    EXPECT_FALSE (FileActionsTestAccess::aboutTabOn (c));
    EXPECT_FALSE (FileActionsTestAccess::globalTabOn (c));

    FileActionsTestAccess::toggleAboutPage (c);
    FileActionsTestAccess::showGlobalPage (c);
    EXPECT_EQ (FileActionsTestAccess::fxPanelBlock (c), 8);
    EXPECT_EQ (FileActionsTestAccess::pageMode (c), 0);
    EXPECT_TRUE (FileActionsTestAccess::isVisible (FileActionsTestAccess::viewport (c)));
    EXPECT_FALSE (FileActionsTestAccess::isVisible (FileActionsTestAccess::aboutText (c)));
    EXPECT_TRUE (pumpUntil ([&] { return FileActionsTestAccess::globalTabOn (c); }, {}, 2000ms));
    EXPECT_FALSE (FileActionsTestAccess::aboutTabOn (c));
}

TEST (WindowActions, callTheApplicationsCallbacksOnlyWhenSet)
{
    EditorRig rig;
    auto& c = rig.component();

    // Nothing set: nothing happens; without an application object, Close has nobody to ask.
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
