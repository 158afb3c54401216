#include "MainComponent.h"

// The file menu and its actions. Placeholders until the file actions are written: each does nothing.

juce::File MainComponent::getLastDirectory() const
{
    return {};
}

juce::File MainComponent::getDefaultFile (const juce::String&) const
{
    return {};
}

void MainComponent::setLastDirectory (const juce::File&)
{
}

void MainComponent::showFileMenu()
{
}

void MainComponent::updateFirmware (bool)
{
}

Korvantal::Result MainComponent::getAmpDataForId (Service*, Korvantal::KorvantalData::FullTovarekMk2Preset&)
{
    return KORVANTAL_ERROR ("Amp data not found!");
}

void MainComponent::saveBackupArchive (const juce::File&, const Korvantal::KorvantalData::TovarekMk2Archive&)
{
}

void MainComponent::savePresetFile (const juce::File&, const Korvantal::KorvantalData::FullTovarekMk2Preset&)
{
}
