#include "MainComponent.h"

MainComponent::MainComponent (juce::PropertiesFile* settings, Service* service)
    : _settings (settings), _service (service)
{
    setSize (kDesignWidth, kDesignHeight);
}

MainComponent::~MainComponent() = default;

void MainComponent::paint (juce::Graphics&)
{
}

void MainComponent::resized()
{
}

void MainComponent::handleAsyncUpdate()
{
}
