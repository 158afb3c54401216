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

// Holds the X display's one keyboard focus for the test that creates it: a test in another process
// that also takes the focus waits, so that neither loses the focus to the other mid-test. Waits at
// most a minute; isHeld() says whether it got the focus in that time.
class ScopedDisplayFocus
{
public:
    ScopedDisplayFocus();
    ~ScopedDisplayFocus();

    bool isHeld() const { return _held; }

private:
    juce::InterProcessLock _lock;
    bool _held = false;
};
