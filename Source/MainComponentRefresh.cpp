#include "MainComponent.h"

#include "MainComponentStyle.h"
#include "OverlayComponent.h"
#include "Widgets.h"

#include <array>
#include <cstdarg>
#include <cstdio>

namespace
{
using ParamMap = TovarekMk2::TovarekMk2ParamMap;
using BlockID = MainComponent::BlockID;

constexpr const char* kEditorVersionLine = "Editor Version: 4.2.0.0\n";
constexpr size_t kErrorTextSize = 512; // at most 511 characters and the terminator

// What the overlay shows in each service state.
struct StatusLook
{
    const char* text;
    bool busy, progress, error;
};

StatusLook statusLookFor (uint32_t state)
{
    switch (state)
    {
        case MainComponent::Service::Disconnected:     return { "Not Connected", false, false, false };
        case MainComponent::Service::Idle:             return { "", false, false, false };
        case MainComponent::Service::Busy:             return { "Busy", true, false, false };
        case MainComponent::Service::Refreshing:       return { "Refreshing...", true, false, false };
        case MainComponent::Service::Sending:          return { "Sending...", true, false, false };
        case MainComponent::Service::Reading:          return { "Receiving...", true, false, false };
        case MainComponent::Service::Restoring:        return { "Sending...", true, true, false };
        case MainComponent::Service::BackingUp:        return { "Receiving...", true, true, false };
        case MainComponent::Service::UpdatingFirmware: return { "Updating FW...", true, true, false };
        case MainComponent::Service::Reconnecting:
            return { "Update Complete\nPlease disconnect/reconnect power supply", false, false, false };
        case MainComponent::Service::FirmwareTooOld:
            return { "Firmware update required\nSelect 'Update Firmware' from the file menu", false, false, false };
        case MainComponent::Service::Error:            return { "Error:\n", false, false, true };
        default:                                       return { "", false, false, false };
    }
}

// Block strip slots, left to right; each button is centred on its slot's point and the button of
// the panel shown is drawn larger.
constexpr std::array<BlockID, 8> kStripSlots { ParamMap::GTE, ParamMap::CMP, ParamMap::BST, ParamMap::AMP,
                                               ParamMap::EQ,  ParamMap::ECO, ParamMap::REV, ParamMap::CAB };
// The order in which the on states are read.
constexpr std::array<BlockID, 8> kStripReadOrder { ParamMap::GTE, ParamMap::CMP, ParamMap::BST, ParamMap::EQ,
                                                   ParamMap::AMP, ParamMap::REV, ParamMap::ECO, ParamMap::CAB };
constexpr float kStripSlotStep = 70.14286f;
using MainComponentStyle::kStripButtonSize;
using MainComponentStyle::kStripX;
using MainComponentStyle::kStripY;
constexpr int kSelectedGrowth = 3;

// Names from the unit are shown as ASCII; any other byte becomes "?".
juce::String deviceText (const std::string& text)
{
    juce::String shown;
    for (const char c : text)
        shown += (c >= 0x20 && c < 0x7f) ? juce::juce_wchar (c) : juce::juce_wchar ('?');
    return shown;
}
} // namespace

void MainComponent::postToMessageThread (const std::function<void()>& closure)
{
    {
        const std::lock_guard<std::mutex> lock (_pendingLock);
        _postedCallbacks.push_back (closure);
    }
    triggerAsyncUpdate();
}

void MainComponent::setError (const char* format, ...)
{
    char buffer[kErrorTextSize] = {};
    if (format != nullptr)
    {
        va_list arguments;
        va_start (arguments, format);
        std::vsnprintf (buffer, sizeof (buffer), format, arguments);
        va_end (arguments);
    }
    const auto text = juce::String::fromUTF8 (buffer);
    postToMessageThread ([text] { showErrorAlert (text); });
    triggerAsyncUpdate();
}

void MainComponent::showErrorAlert (const juce::String& text)
{
    juce::AlertWindow::showMessageBoxAsync (juce::MessageBoxIconType::WarningIcon, "Error", text, "OK", nullptr, nullptr);
}

bool MainComponent::setParameter (TovarekMk2ParamID id, const ParameterValue& value)
{
    if (_service != nullptr && _service->setParameterValue (id, value).ok)
        return true;

    setError ("Failed to set parameter");
    KORVANTAL_ERROR ("Failed to set parameter");
    return false;
}

std::string MainComponent::formatFirmwareVersion (const std::array<uint8_t, 4>& version)
{
    char text[32];
    if (version[3] != 0)
        std::snprintf (text, sizeof (text), "%d.%d.%d.%d", version[0], version[1], version[2], version[3]);
    else
        std::snprintf (text, sizeof (text), "%d.%d.%d", version[0], version[1], version[2]);
    return text;
}

void MainComponent::markDirty (uint32_t bits)
{
    {
        const std::lock_guard<std::mutex> lock (_pendingLock);
        _dirtyFlags |= bits;
    }
    triggerAsyncUpdate();
}

void MainComponent::onDataRefreshed()
{
    markDirty (kDirtyAll);
}

void MainComponent::onStateChanged (State)
{
    // The pass reads the state itself.
    markDirty (kDirtyStatus | kDirtyAbout);
}

void MainComponent::onParameterValueChanged (TovarekMk2ParamID id, const ParameterValue& value)
{
    {
        const std::lock_guard<std::mutex> lock (_pendingLock);
        _pendingValues[id] = value;
    }
    triggerAsyncUpdate();
}

void MainComponent::onBlockLayoutParameterChanged (const ParameterValue&)
{
    markDirty (kDirtyBlockStrip);
}

void MainComponent::onProgress (double progress)
{
    {
        const std::lock_guard<std::mutex> lock (_pendingLock);
        _progress = progress;
        _dirtyFlags |= kDirtyStatus;
    }
    triggerAsyncUpdate();
}

void MainComponent::handleAsyncUpdate()
{
    if (_refreshCallback)
        _refreshCallback();

    std::vector<std::function<void()>> closures;
    {
        const std::lock_guard<std::mutex> lock (_pendingLock);
        closures.swap (_postedCallbacks);
    }
    // A closure that posts again lands in the emptied list and runs at the next update.
    for (const auto& closure : closures)
        closure();
}

void MainComponent::refreshFromService()
{
    uint32_t dirty = 0;
    PendingValueMap values;
    double progress = 0.0;
    {
        const std::lock_guard<std::mutex> lock (_pendingLock);
        dirty = _dirtyFlags;
        _dirtyFlags = 0;
        values.swap (_pendingValues);
        progress = _progress;
    }

    if (_service == nullptr)
        return;

    if ((dirty & kDirtyStatus) != 0)
        refreshStatus (progress);
    if ((dirty & kDirtyAbout) != 0)
        refreshAboutText();
    if ((dirty & kDirtyNames) != 0)
        refreshNames();
    if ((dirty & kDirtyBlockStrip) != 0)
        refreshBlockStrip();
    if ((dirty & kDirtyPresetSwitch) != 0)
        refreshPresetSwitch();

    // Refreshing every binding from the service supersedes the values reported since the last pass.
    if ((dirty & kDirtyBindings) != 0)
        refreshAllBindings();
    else
        applyPendingValues (values);

    _saveButton->_selected = _service->isModified();
    _saveButton->repaint();
}

void MainComponent::refreshStatus (double progress)
{
    const auto look = statusLookFor (_service->getState());
    juce::String text (look.text);
    if (look.error)
        text += juce::String::fromUTF8 (_service->getLastError().c_str());

    _overlay->showStatus (text.isNotEmpty());
    _overlay->setStatusText (text, look.error);
    _overlay->setBusy (look.busy);
    _overlay->setProgress (look.progress ? progress : -1.0);
}

void MainComponent::refreshAboutText()
{
    juce::String text (kEditorVersionLine);
    Service::FirmwareVersionInfo versions;
    if (_service->getFirmwareVersionInfo (versions))
        text += "Firmware Version: " + juce::String (formatFirmwareVersion (versions.dspVersion)) + "\n";
    else
        text += "Firmware Version: (unknown)\n";

    _aboutText->_text = text;
    _aboutText->repaint();
}

void MainComponent::refreshNames()
{
    if (_ampNameLabel != nullptr)
    {
        _ampNameLabel->_text = deviceText (_service->getCurrentAmpName());
        _ampNameLabel->repaint();
    }
    if (_cabNameLabel != nullptr)
    {
        _cabNameLabel->_text = deviceText (_service->getCurrentCabName());
        _cabNameLabel->repaint();
    }
    _ampSwitch->_currentPosition = _service->getCurrentAmpIndex();
    _ampSwitch->repaint();
    _cabinetSwitch->_currentPosition = _service->getCurrentCabIndex();
    _cabinetSwitch->repaint();
}

void MainComponent::refreshBlockStrip()
{
    for (const auto block : kStripReadOrder)
    {
        auto* button = _blockButtons.at (block);
        // A NaN counts as on; a value that cannot be read as off.
        button->_selected = currentValue (TovarekMk2::getBlockEnableParameter (block)).value != 0.0;
        button->repaint();
    }

    for (size_t slot = 0; slot < kStripSlots.size(); ++slot)
    {
        const auto block = kStripSlots[slot];
        const int d = static_cast<int> (block) == _fxPanelBlock ? kSelectedGrowth : -kSelectedGrowth;
        const int x = static_cast<int> (static_cast<float> (slot) * kStripSlotStep) + kStripX - d;
        _blockButtons.at (block)->setBounds (x, kStripY - d, kStripButtonSize + 2 * d, kStripButtonSize + 2 * d);
    }

    updateTabButtons();
}

void MainComponent::refreshPresetSwitch()
{
    _presetSwitch->_currentPosition = _service->getCurrentPresetIndex();
    _presetSwitch->repaint();
}

void MainComponent::refreshAllBindings()
{
    for (auto* bindings : { &_parameterBindings, &_fxPanelBindings })
        for (const auto& [id, binding] : *bindings)
            binding (currentValue (id));
}

void MainComponent::applyPendingValues (const PendingValueMap& values)
{
    for (const auto& [id, value] : values)
        for (auto* bindings : { &_parameterBindings, &_fxPanelBindings })
        {
            const auto range = bindings->equal_range (id);
            for (auto entry = range.first; entry != range.second; ++entry)
                entry->second (value);
        }
}
