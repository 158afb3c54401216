#include "UpdateCheck.h"

#include "KorvantalResult.h"

#include <algorithm>
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

namespace
{
constexpr size_t kMaxUtf8SequenceLength = 4;

bool isUtf16 (const uint8_t* bytes, size_t size)
{
    return size >= 2
           && (juce::CharPointer_UTF16::isByteOrderMarkBigEndian (bytes)
               || juce::CharPointer_UTF16::isByteOrderMarkLittleEndian (bytes));
}

// The bytes of a UTF-8 character that starts with this byte; 1 for a byte that starts none.
size_t utf8SequenceLength (uint8_t lead)
{
    if ((lead & 0xE0) == 0xC0)
        return 2;
    if ((lead & 0xF0) == 0xE0)
        return 3;
    if ((lead & 0xF8) == 0xF0)
        return 4;
    return 1;
}

// The size without a UTF-8 character that the end cuts in two. Cut text of an otherwise valid
// page would not be valid UTF-8, and the framework would then decode all of it as Windows-1252.
size_t withoutSplitCharacter (const uint8_t* bytes, size_t size)
{
    for (size_t back = 1; back <= std::min (size, kMaxUtf8SequenceLength); ++back)
    {
        const size_t lead = size - back;
        if ((bytes[lead] & 0xC0) != 0x80) // not a continuation byte
            return lead + utf8SequenceLength (bytes[lead]) > size ? lead : size;
    }
    return size;
}
} // namespace

juce::String readVersionText (juce::InputStream& page)
{
    juce::MemoryBlock block;
    page.readIntoMemoryBlock (block, static_cast<ssize_t> (kMaxPageBytes));

    const auto* bytes = static_cast<const uint8_t*> (block.getData());
    size_t size = block.getSize();
    if (size == kMaxPageBytes && ! page.isExhausted() && ! isUtf16 (bytes, size))
        size = withoutSplitCharacter (bytes, size);

    // The framework's decoder looks at the byte after a page that is nothing but a UTF-8 mark:
    // a terminator keeps that look inside the buffer.
    block.setSize (size + 1);
    block[size] = 0;
    return juce::String::createStringFromData (block.getData(), static_cast<int> (size));
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
