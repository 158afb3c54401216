#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

// What the application and its detached update-check thread share; it lives until both have let
// it go, so the thread never reaches a destroyed application. The update lock guards the flag,
// the alive flag and the call of the notifier.
class UpdateCheckState
{
public:
    // `notify` is called, under the update lock, when a newer version was found while the
    // application is alive (the application triggers its asynchronous update there).
    explicit UpdateCheckState (std::function<void()> notify);

    // Update-check thread: sets the update-available flag and notifies, only while the
    // application is alive. True when it did.
    bool reportNewerVersion();

    // Message thread: reads and clears the update-available flag.
    bool takeUpdateAvailable();

    // The first step of shut-down: from here on reportNewerVersion leaves the application alone.
    void applicationEnding();
    bool isApplicationAlive();

private:
    std::mutex _lock;
    bool _updateAvailable = false;
    bool _applicationAlive = true;
    std::function<void()> _notify;
};

// The once-per-run question whether a newer editor exists: the version page is fetched on a
// detached thread, and a newer version is handed to the application through UpdateCheckState.
namespace UpdateCheck
{

// No network is assumed: the address is this project's own, and the fetch gives up quickly.
constexpr const char* kVersionPageUrl = "https://tovarek.example/editor/latest-version.txt";
constexpr const char* kSupportPageUrl = "https://tovarek.example/support";
constexpr int kFetchTimeoutMs = 3000;

// The editor's own version, packed as its update check compares it, and the first newer one.
constexpr uint32_t kCurrentVersion = 0x04020000; // 4.2.0.0
constexpr uint32_t kFirstNewerVersion = kCurrentVersion + 1;

// The response is cut to this many bytes before it is logged and scanned.
constexpr size_t kMaxResponseLength = 255;

// What is taken from the network: enough for the first kMaxResponseLength characters of a page
// in UTF-16, two bytes each after the two-byte mark.
constexpr size_t kMaxPageBytes = 2 + 2 * kMaxResponseLength;

// The version a response announces, packed a.b.c.d into one word (each part's low byte; `a`
// shifted in 32 bits). 0 for a response without a version line at its start.
uint32_t parseLatestVersion (const juce::String& response);

// The text of the first kMaxPageBytes bytes of a version page, however long the page, decoded as
// the framework decodes a whole page: UTF-8 with or without its mark, UTF-16 with its mark, and
// Windows-1252 for anything else. A UTF-8 character the cut splits is left out.
juce::String readVersionText (juce::InputStream& page);

// The version page's text, empty when it cannot be read. Gives up after kFetchTimeoutMs.
juce::String fetchVersionPage();

// The body of the update-check thread: fetch, log, scan, compare, report.
void run (std::shared_ptr<UpdateCheckState> state, const std::function<juce::String()>& fetch);

} // namespace UpdateCheck
