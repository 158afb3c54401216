#include "KorvantalResult.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace Korvantal
{

const Result Result::success {};

namespace
{
constexpr size_t kLineBufferSize = kMaxLogLineLength + 1;

const char* levelPrefix (unsigned level)
{
    switch (level)
    {
        case kLogDebug:   return "DEBUG: ";
        case kLogInfo:    return "INFO: ";
        case kLogWarning: return "WARNING: ";
        case kLogError:   return "ERROR: ";
        default:          return "LOG: ";
    }
}

// Appends formatted text to a line that already holds `used` characters, never past the buffer.
void appendFormatted (char (&line)[kLineBufferSize], size_t used, const char* format, va_list args)
{
    if (used >= kMaxLogLineLength)
        return;

    std::vsnprintf (line + used, kLineBufferSize - used, format, args);
}
} // namespace

const char* fileNameFromPath (const char* path)
{
    const char* name = path;

    for (const char* p = path; *p != '\0'; ++p)
        if (*p == '/' || *p == '\\')
            name = p + 1;

    return name;
}

Result makeErrorResult (const char* file, int line, const char* format, ...)
{
    char message[kLineBufferSize];
    message[0] = '\0';

    va_list args;
    va_start (args, format);
    appendFormatted (message, 0, format, args);
    va_end (args);

    char logLine[kLineBufferSize];
    int prefixLength = std::snprintf (logLine, sizeof (logLine), "Error at %s:%d: ", file, line);
    size_t used = prefixLength < 0 ? 0 : static_cast<size_t> (prefixLength);

    if (used < kMaxLogLineLength)
        std::snprintf (logLine + used, sizeof (logLine) - used, "%s", message);

    writeLogLine (logLine);
    return Result { false, message };
}

void logMessage (unsigned level, const char* format, ...)
{
    char line[kLineBufferSize];
    std::snprintf (line, sizeof (line), "%s", levelPrefix (level));

    va_list args;
    va_start (args, format);
    appendFormatted (line, std::strlen (line), format, args);
    va_end (args);

    writeLogLine (line);
}

void writeLogLine (const char* text)
{
    // One call per line, so lines of different threads never interleave.
    std::printf ("%s\n", text);
    std::fflush (stdout);
}

} // namespace Korvantal
