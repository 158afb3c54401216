#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

// Starts the framework's message manager and desktop for the user-interface tests, once per test
// program, and registers the image pack the build generates, as the application does at start-up:
// every control then carries the real image of its id. Register it with
// testing::AddGlobalTestEnvironment (new GuiTestEnvironment).
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
    std::unique_ptr<std::FILE, int (*) (std::FILE*)> _imagePack { nullptr, &std::fclose };
};

// Whether the image is the one the registry holds under the id (the same decoded pixels, not a
// look-alike); a failure names the id the image really has, if any.
testing::AssertionResult isImageResource (const juce::Image& image, unsigned id);

// Holds the X display's one keyboard focus for the test that creates it: a test in another process
// that also takes the focus waits, so that neither loses the focus to the other mid-test. Waits at
// most a minute; isHeld() says whether it got the focus in that time. The lock is a name in the
// abstract socket namespace: it leaves no file behind and goes with the process that holds it.
class ScopedDisplayFocus
{
public:
    ScopedDisplayFocus();
    ~ScopedDisplayFocus();

    bool isHeld() const { return _socket >= 0; }

private:
    int _socket = -1;
};
