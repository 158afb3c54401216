#include "UpdateCheck.h"

#include "KorvantalResult.h"

#include <cstdio>
#include <cstring>

namespace UpdateCheck
{

uint32_t parseLatestVersion (const juce::String& response)
{
    char buffer[kMaxResponseLength + 1] = {};
    std::strncpy (buffer, response.toRawUTF8(), kMaxResponseLength);

    // Parts the scan does not reach stay 0, so a foreign text gives 0.0.0.0.
    int a = 0, b = 0, c = 0, d = 0;
    std::sscanf (buffer, " LATEST_VERSION = %d . %d . %d . %d", &a, &b, &c, &d);

    return (static_cast<uint32_t> (a) << 24) | ((static_cast<uint32_t> (b) & 0xFF) << 16)
           | ((static_cast<uint32_t> (c) & 0xFF) << 8) | (static_cast<uint32_t> (d) & 0xFF);
}

juce::String readVersionText (juce::InputStream& page)
{
    juce::MemoryBlock text;
    page.readIntoMemoryBlock (text, static_cast<ssize_t> (kMaxResponseLength));
    return juce::String::fromUTF8 (static_cast<const char*> (text.getData()), static_cast<int> (text.getSize()));
}

juce::String fetchVersionPage()
{
    // A GET with a short connection time-out: without a network the check must end quietly.
    const auto options = juce::URL::InputStreamOptions (juce::URL::ParameterHandling::inAddress)
                             .withConnectionTimeoutMs (kFetchTimeoutMs);

    if (auto stream = juce::URL (kVersionPageUrl).createInputStream (options))
        return readVersionText (*stream);

    return {};
}

void run (std::shared_ptr<UpdateCheckState> state, const std::function<juce::String()>& fetch)
{
    Korvantal::logMessage (Korvantal::kLogDebug, "Checking for update...");
    const juce::String response = fetch();

    char logged[kMaxResponseLength + 1] = {};
    std::strncpy (logged, response.toRawUTF8(), kMaxResponseLength);
    Korvantal::logMessage (Korvantal::kLogDebug, "Update check response: %s", logged);

    if (parseLatestVersion (response) >= kFirstNewerVersion)
    {
        Korvantal::logMessage (Korvantal::kLogDebug, "There is a newer application version available!");
        state->reportNewerVersion();
    }
    else
    {
        Korvantal::logMessage (Korvantal::kLogDebug, "Application is up-to-date.");
    }
}

} // namespace UpdateCheck

UpdateCheckState::UpdateCheckState (std::function<void()> notify)
    : _notify (std::move (notify))
{
}

bool UpdateCheckState::reportNewerVersion()
{
    // Notified under the lock: once applicationEnding has returned, no notification can still be
    // on its way into the application.
    std::lock_guard<std::mutex> lock (_lock);

    if (! _applicationAlive)
        return false;

    _updateAvailable = true;
    if (_notify)
        _notify();
    return true;
}

bool UpdateCheckState::takeUpdateAvailable()
{
    std::lock_guard<std::mutex> lock (_lock);
    const bool available = _updateAvailable;
    _updateAvailable = false;
    return available;
}

void UpdateCheckState::applicationEnding()
{
    std::lock_guard<std::mutex> lock (_lock);
    _applicationAlive = false;
}

bool UpdateCheckState::isApplicationAlive()
{
    std::lock_guard<std::mutex> lock (_lock);
    return _applicationAlive;
}
