#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <gtest/gtest.h>

#include <memory>

// Starts the framework's message manager and desktop for the user-interface tests, once per test
// program. Register it with testing::AddGlobalTestEnvironment (new GuiTestEnvironment).
class GuiTestEnvironment : public testing::Environment
{
public:
    GuiTestEnvironment();
    ~GuiTestEnvironment() override;

    void SetUp() override;
    void TearDown() override;

private:
    class AtomKeeper;
    std::unique_ptr<AtomKeeper> _atoms;
    std::unique_ptr<juce::ScopedJuceInitialiser_GUI> _gui;
};
