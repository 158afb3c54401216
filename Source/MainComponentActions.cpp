#include "MainComponent.h"

// The amp, cabinet, preset, page and window-button actions. Placeholders until the actions are
// written: each does nothing.

void MainComponent::chooseStockAmp()
{
}

void MainComponent::importCabinetToEditBuffer()
{
}

void MainComponent::replaceAmpSlot (int)
{
}

void MainComponent::replaceCabinetSlot (int)
{
}

void MainComponent::selectPreset (int)
{
}

void MainComponent::saveCurrentPresetClicked()
{
}

void MainComponent::showGlobalPage()
{
}

void MainComponent::showFootswitchPage()
{
}

void MainComponent::toggleAboutPage()
{
}

void MainComponent::maximiseClicked()
{
}

void MainComponent::minimiseClicked()
{
}

void MainComponent::closeClicked()
{
}

Korvantal::Result MainComponent::getStockAmp (size_t, Korvantal::KorvantalData::Amp&) const
{
    return KORVANTAL_ERROR ("Amp data not found!");
}

bool MainComponent::importCabinet (Korvantal::KorvantalData::Cabinet&)
{
    return false;
}
