#include "MainComponent.h"

#include "IOUtils.h"
#include "KorvantalDataFile.h"
#include "StockAmpTable.h"
#include "UserCabinetImporter.h"
#include "Widgets.h"

// The clicks of the amp, cabinet and preset controls, the Save button, the page tabs and the
// window buttons. All on the message thread; those that reach the unit start one service task.
// The service refuses a task unless it is connected and idle, so none of these checks the state.

namespace
{
using Korvantal::Result;
using Korvantal::KorvantalData::Amp;
using Korvantal::KorvantalData::Cabinet;

// A slot's submenu numbers its items ((slot << 8) | stock amp row) + 1, kept in 16 bits.
constexpr int kSlotShift = 8;
constexpr int kStockRowMask = 0xFF;
constexpr int kMenuIdMask = 0xFFFF;

// A ".cab" file is text of about 100 KB; a wrongly chosen huge file is not read.
constexpr juce::int64 kMaxCabinetFileSize = 4 << 20;

void addStockAmpItems (juce::PopupMenu& menu, int slot)
{
    const auto names = TovarekMk2::getStockAmpMenuTexts();

    for (size_t row = 0; row < names.size(); ++row)
        menu.addItem ((((slot << kSlotShift) | (int) row) + 1) & kMenuIdMask, names[row], true, false);
}
} // namespace

Result MainComponent::getStockAmp (size_t index, Amp& amp) const
{
    return TovarekMk2::copyStockAmp (index, amp);
}

void MainComponent::chooseStockAmp()
{
    juce::PopupMenu menu;
    addStockAmpItems (menu, 0);

    const int chosen = _runMenu ? _runMenu (menu) : 0;
    if (chosen == 0)
        return;

    Amp amp;
    if (! getStockAmp ((size_t) (chosen - 1), amp).ok)
    {
        showFailure (KORVANTAL_ERROR ("Failed to load amp"));
        return;
    }

    if (! _service->setCurrentAmpData (amp).ok)
        setError ("Failed to send amp");
}

void MainComponent::replaceAmpSlot (int)
{
    juce::PopupMenu menu;

    for (int slot = 0; slot < Service::kUserSlotCount; ++slot)
    {
        juce::PopupMenu slotMenu;
        addStockAmpItems (slotMenu, slot);
        menu.addSubMenu ("Replace '" + juce::String (_service->getAmpName (slot)) + "'", slotMenu, true);
    }

    const int chosen = _runMenu ? _runMenu (menu) : 0;
    if (chosen == 0)
        return;

    const size_t row = (size_t) ((chosen - 1) & kStockRowMask);
    const int slot = ((chosen - 1) >> kSlotShift) & kStockRowMask;

    Amp amp;
    if (! getStockAmp (row, amp).ok)
    {
        showFailure (KORVANTAL_ERROR ("Failed to load amp"));
        return;
    }

    if (! _service->setAmpData (slot, amp).ok)
        setError ("Failed to send amp");
}

bool MainComponent::importCabinet (Cabinet& cabinet)
{
    juce::File file;
    if (! chooseFile ({ "Import Cabinet", getLastDirectory(), "*.wav;*.cab", false }, file))
        return false;

    if (file.hasFileExtension ("cab"))
    {
        bool read = false;

        if (! (file.existsAsFile() && file.getSize() > kMaxCabinetFileSize))
        {
            juce::FileInputStream input (file);
            InStreamWrapper stream (&input);
            read = Korvantal::readCabinetFile (stream, cabinet, nullptr).ok;
        }

        if (! read)
        {
            setError ("Failed to load cabinet");
            return false;
        }

        return true;
    }

    if (! Korvantal::importCabinetImpulse (file.getFullPathName().toRawUTF8(), cabinet.impulse).ok)
    {
        setError ("Failed to import cabinet");
        return false;
    }

    cabinet.name = file.getFileNameWithoutExtension().toStdString();
    return true;
}

void MainComponent::importCabinetToEditBuffer()
{
    Cabinet cabinet;
    if (! importCabinet (cabinet))
        return;

    if (! _service->setCurrentCabData (cabinet).ok)
        setError ("Failed to send cabinet");
}

void MainComponent::replaceCabinetSlot (int)
{
    juce::PopupMenu menu;

    for (int slot = 0; slot < Service::kUserSlotCount; ++slot)
        menu.addItem (slot + 1, "Replace '" + juce::String (_service->getCabName (slot)) + "'...", true, false);

    const int chosen = _runMenu ? _runMenu (menu) : 0;
    if (chosen == 0)
        return;

    Cabinet cabinet;
    if (! importCabinet (cabinet))
        return;

    if (! _service->setCabData (chosen - 1, cabinet).ok)
        setError ("Failed to send cab");
}

void MainComponent::saveCurrentPresetClicked()
{
    // A refusal (not connected, or busy) is not shown; the Save button keeps showing the modified flag.
    _service->saveCurrentPreset();
}

void MainComponent::selectPreset (int position)
{
    // The switch moves at once; the refresh pass puts it where the unit really is.
    _presetSwitch->_currentPosition = position;
    _presetSwitch->repaint();
    _service->requestChangePreset (position);
}

void MainComponent::showGlobalPage()
{
    showFXPanel (kGlobalSettingsBlock);
}

void MainComponent::showFootswitchPage()
{
    _pageMode = kFootswitchPage;
    applyPageMode();
}

void MainComponent::toggleAboutPage()
{
    _pageMode = _pageMode == kAboutPage ? kPanelPage : kAboutPage;
    applyPageMode();
}

void MainComponent::maximiseClicked()
{
    if (_maximiseCallback)
        _maximiseCallback();
}

void MainComponent::minimiseClicked()
{
    if (_minimiseCallback)
        _minimiseCallback();
}

void MainComponent::closeClicked()
{
    // The application decides how to quit; without one (a test) there is nothing to ask.
    if (auto* application = juce::JUCEApplication::getInstance())
        application->systemRequestedQuit();
}
