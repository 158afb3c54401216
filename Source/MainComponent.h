#pragma once

#include "KorvantalData.h"
#include "KorvantalResult.h"
#include "TovarekMk2EditorService.h"
#include "TovarekMk2ParamID.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class DragBar;
class FilmStripKnob;
class MultiImageButton;
class MultiToggleSwitch;
class OverlayComponent;
class SimpleEditLabel;
class SimpleImageButton;
class SimpleLabel;
class SimpleTextButton;
class StaticImage;

// The whole content of the editor's window: every control, laid out in a fixed design space of
// 624 x 890 pixels that the window scales. It ties the controls to the unit's parameters through
// the editor service, keeps them in step with the service, and shows the service's state.
//
// Threads: built, used and destroyed on the message thread. The service's listener callbacks,
// `onProgress`, `postToMessageThread` and `setError` may be called on any thread; they only record
// what changed under `_pendingLock` and trigger an asynchronous update, whose refresh pass on the
// message thread is the only place that reads the service's state into the controls.
//
// Locks: `_pendingLock` guards `_dirtyFlags`, `_postedCallbacks`, `_pendingValues` and `_progress`.
// It is taken after the service's listener lock and is never held while the service, a widget or
// a posted closure is called.
class MainComponent : public juce::Component,
                      private juce::AsyncUpdater,
                      public TovarekMk2::TovarekMk2EditorService::Listener
{
public:
    using Service = TovarekMk2::TovarekMk2EditorService;
    using State = Service::State;
    using BlockID = TovarekMk2::TovarekMk2ParamMap::BlockID;
    using ParameterInfo = TovarekMk2::TovarekMk2ParamMap::ParameterInfo;
    using ParameterValue = TovarekMk2::TovarekMk2ParamMap::ParameterValue;
    using Binding = std::function<void (const ParameterValue&)>;

    // Parameter ids in ascending order of their value as a signed 32-bit number.
    struct SignedIdLess
    {
        bool operator() (TovarekMk2ParamID a, TovarekMk2ParamID b) const
        {
            return static_cast<int32_t> (a) < static_cast<int32_t> (b);
        }
    };

    using BindingMap = std::multimap<TovarekMk2ParamID, Binding, SignedIdLess>;
    using PendingValueMap = std::map<TovarekMk2ParamID, ParameterValue, SignedIdLess>;

    // A rectangle of the design space.
    struct Bounds
    {
        int x, y, width, height;
    };

    static constexpr int kDesignWidth = 624;
    static constexpr int kDesignHeight = 890;

    // `_fxPanelBlock` of the global settings panel.
    static constexpr int kGlobalSettingsBlock = 8;

    // `_pageMode` values.
    enum PageMode : int
    {
        kPanelPage = 0,
        kAboutPage = 1,
        kFootswitchPage = 2
    };

    // What the next refresh pass must redo; a data refresh sets every bit.
    enum DirtyBits : uint32_t
    {
        kDirtyStatus = 1,       // the status overlay
        kDirtyNames = 2,        // amp and cabinet names, amp and cabinet switches
        kDirtyBlockStrip = 4,   // block buttons (on states and geometry) and tab buttons
        kDirtyPresetSwitch = 8, // the preset switch
        kDirtyBindings = 16,    // every binding, from the service's values
        kDirtyAbout = 32,       // the about text
        kDirtyAll = 0xFFFFFFFFu
    };

    // Neither pointer is owned; both must outlive the component. Registers with the service last.
    MainComponent (juce::PropertiesFile* settings, Service* service);
    // Leaves the service's listener list first, before any control goes.
    ~MainComponent() override;

    void paint (juce::Graphics&) override;
    void resized() override;

    // Runs the closure on the message thread at the next asynchronous update. Any thread.
    void postToMessageThread (const std::function<void()>& closure);

    // Shows an "Error" alert with the printf-style text (at most 511 characters) at the next
    // asynchronous update. Any thread.
    void setError (const char* format, ...)
#if defined(__GNUC__)
        __attribute__ ((format (printf, 2, 3)))
#endif
        ;

    // Asks the service to send one parameter value; a refusal shows "Failed to set parameter".
    bool setParameter (TovarekMk2ParamID id, const ParameterValue& value);

    // The progress callback handed to backup, restore and firmware update. Any thread.
    void onProgress (double progress);

    // "%d.%d.%d.%d", or "%d.%d.%d" when the fourth byte is 0.
    static std::string formatFirmwareVersion (const std::array<uint8_t, 4>& version);

    // A copy of the image with every pixel's colour and alpha multiplied by the colour's.
    static juce::Image tintImage (const juce::Image& image, juce::Colour colour);

    // The justification of a cell of a 3 x 3 grid, column and row each -1, 0 or 1; centred
    // for anything else.
    static juce::Justification justificationForCell (int column, int row);

    // Set by the application after construction; empty until then.
    std::function<void()> _maximiseCallback;
    std::function<void()> _minimiseCallback;

private:
    friend class MainComponentInspector; // the tests' view of the controls

    // juce::AsyncUpdater: runs the refresh pass, then the posted closures.
    void handleAsyncUpdate() override;

    // Construction steps.
    void buildPages();
    void buildTopBarAndMainPage();
    void buildBlockStrip();
    void bindBlockLayoutParameters();
    void buildFootswitchPage();
    void stackControls();

    // Builders; what they make goes into `_ownedComponents`.
    SimpleImageButton* addImageButton (int x, int y, int width, int height, int offImageId, int onImageId,
                                       std::function<void()> click);
    FilmStripKnob* addKnob (int column, int row, TovarekMk2ParamID id);
    MultiToggleSwitch* addThreeWaySwitch (int index, bool alwaysNotify);
    SimpleImageButton* addFXBlockButton (BlockID block, const char* label, float hue, float saturation);
    void addFootswitchAssignButton (int row, int column, const char* label, TovarekMk2ParamID id);
    void addLegendItem (int iconX, int iconY, int imageId, int textX, int textY, const char* text);
    // Places the component and adds it to `_ownedComponents`; a visible child of the parent, if any.
    template <typename ComponentType>
    ComponentType* own (ComponentType* component, juce::Component* parent, Bounds bounds)
    {
        ownComponent (component, parent, bounds);
        return component;
    }
    void ownComponent (juce::Component* component, juce::Component* parent, Bounds bounds);

    // Bindings: insert, then call once with the service's current value.
    void addBinding (BindingMap& bindings, TovarekMk2ParamID id, Binding binding);
    ParameterValue currentValue (TovarekMk2ParamID id) const;
    ParameterInfo infoFor (TovarekMk2ParamID id) const;

    // Control callbacks and bindings (message thread).
    void knobPositionToValue (TovarekMk2ParamID id, const ParameterInfo& info, double position);
    static void valueToKnobPosition (FilmStripKnob& knob, const ParameterInfo& info, const ParameterValue& value);
    static void formatValueText (SimpleEditLabel& label, const ParameterInfo& info, const ParameterValue& value);
    bool parseValueText (TovarekMk2ParamID id, const ParameterInfo& info, const juce::String& text);
    void toggleBlockEnabled (BlockID block);
    void cycleFootswitchAssignment (TovarekMk2ParamID id);
    static void showAssignmentState (MultiImageButton& button, const ParameterValue& value);
    void stepOption (TovarekMk2ParamID id, const ParameterInfo& info, int step);
    void chooseOption (TovarekMk2ParamID id, const ParameterInfo& info);
    static void showOptionName (SimpleImageButton& readout, const ParameterInfo& info, const ParameterValue& value);
    void selectSwitchOption (TovarekMk2ParamID id, double optionValue);
    static void showSwitchOption (SimpleLabel& button0, SimpleLabel& button1, double option0Value,
                                  double option1Value, const ParameterValue& value);

    // FX panel of a block (0 to 7) or of the global settings (8).
    void showFXPanel (int block);
    SimpleImageButton* createFXItemControl (int x, int y, int& bottom, const char* caption,
                                            std::function<void (int)> step);
    void addFXKnobItem (TovarekMk2ParamID id, const ParameterInfo& info, const char* label, int x, int y);
    void addFXSwitchItem (TovarekMk2ParamID id, bool inlineSwitch, const char* label, int x, int y,
                          const char* option0Label, double option0Value, const char* option1Label,
                          double option1Value);
    // Places the control and adds it to `_fxPanelComponents`, a visible child of the panel content.
    template <typename ComponentType>
    ComponentType* ownPanelControl (ComponentType* component, Bounds bounds)
    {
        ownPanelComponent (component, bounds);
        return component;
    }
    void ownPanelComponent (juce::Component* component, Bounds bounds);

    // Pages: shows the page of `_pageMode` with its tab header; then the tab buttons' flags.
    void applyPageMode();
    void updateTabButtons();

    // Listener callbacks (any thread).
    void onDataRefreshed();
    void onStateChanged (State state);
    void onParameterValueChanged (TovarekMk2ParamID id, const ParameterValue& value);
    void onBlockLayoutParameterChanged (const ParameterValue& value);
    void markDirty (uint32_t bits);

    // The refresh pass and its parts (message thread).
    void refreshFromService();
    void refreshStatus (double progress);
    void refreshAboutText();
    void refreshNames();
    void refreshBlockStrip();
    void refreshPresetSwitch();
    void refreshAllBindings();
    void applyPendingValues (const PendingValueMap& values);
    static void showErrorAlert (const juce::String& text);

    // File menu, file actions and device actions
    juce::File getLastDirectory() const;
    juce::File getDefaultFile (const juce::String& fileName) const;
    void setLastDirectory (const juce::File& chosen);
    void showFileMenu();
    void updateFirmware (bool fromFile);
    Korvantal::Result getAmpDataForId (Service* service, Korvantal::KorvantalData::FullTovarekMk2Preset& preset);
    void saveBackupArchive (const juce::File& file, const Korvantal::KorvantalData::TovarekMk2Archive& archive);
    void savePresetFile (const juce::File& file, const Korvantal::KorvantalData::FullTovarekMk2Preset& preset);
    void chooseStockAmp();
    void importCabinetToEditBuffer();
    void replaceAmpSlot (int position);
    void replaceCabinetSlot (int position);
    void selectPreset (int position);
    void saveCurrentPresetClicked();
    void showGlobalPage();
    void showFootswitchPage();
    void toggleAboutPage();
    void maximiseClicked();
    void minimiseClicked();
    void closeClicked();
    Korvantal::Result getStockAmp (size_t index, Korvantal::KorvantalData::Amp& amp) const;
    bool importCabinet (Korvantal::KorvantalData::Cabinet& cabinet);
    // End of file menu, file actions and device actions

    std::mutex _pendingLock;
    uint32_t _dirtyFlags = 0;                                  // guarded by _pendingLock
    juce::PropertiesFile* _settings = nullptr;
    Service* _service = nullptr;
    std::vector<std::function<void()>> _postedCallbacks;       // guarded by _pendingLock
    juce::OwnedArray<juce::Component> _ownedComponents;        // every fixed control
    juce::OwnedArray<juce::Component> _fxPanelComponents;      // the controls of the FX panel shown
    std::map<BlockID, SimpleImageButton*> _blockButtons;
    PendingValueMap _pendingValues;                            // guarded by _pendingLock
    int _fxPanelBlock = 0;
    double _progress = 0.0;                                    // guarded by _pendingLock
    std::function<void()> _refreshCallback;
    BindingMap _parameterBindings;
    BindingMap _fxPanelBindings;
    SimpleImageButton* _ampNameLabel = nullptr;                // in the FX panel shown, or null
    SimpleImageButton* _cabNameLabel = nullptr;
    int _pageMode = kPanelPage;

    // Controls the refresh pass and the page switches reach; all owned by `_ownedComponents`.
    juce::Component* _fxPanelContent = nullptr;
    juce::Viewport* _viewport = nullptr;
    OverlayComponent* _overlay = nullptr;
    StaticImage* _tabHeader = nullptr;
    DragBar* _dragBar = nullptr;
    SimpleLabel* _aboutText = nullptr;
    juce::Component* _footswitchPage = nullptr;
    SimpleTextButton* _footswitchesTab = nullptr;
    SimpleTextButton* _globalTab = nullptr;
    SimpleTextButton* _aboutTab = nullptr;
    SimpleImageButton* _listButton = nullptr;
    SimpleImageButton* _saveButton = nullptr;
    SimpleImageButton* _maximiseButton = nullptr;
    SimpleImageButton* _minimiseButton = nullptr;
    SimpleImageButton* _closeButton = nullptr;
    MultiToggleSwitch* _ampSwitch = nullptr;
    MultiToggleSwitch* _cabinetSwitch = nullptr;
    MultiToggleSwitch* _presetSwitch = nullptr;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainComponent)
};
