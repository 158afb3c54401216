#pragma once

#include <string>

namespace Korvantal
{

// The outcome of every fallible operation. A failure is made (and logged once)
// where it is detected and passed up unchanged.
struct Result
{
    bool ok = true;
    std::string message;

    static const Result success;
};

// Log levels; any other value prints with the generic prefix.
enum LogLevel : unsigned
{
    kLogDebug = 0,
    kLogInfo = 1,
    kLogWarning = 2,
    kLogError = 3
};

// A log line, prefix included, never exceeds this many characters.
constexpr size_t kMaxLogLineLength = 511;

// The part of a path after its last '/' or '\'.
const char* fileNameFromPath (const char* path);

// Formats the message, writes "Error at FILE:LINE: message" and returns a failed Result
// carrying the formatted message. Callable from any thread.
Result makeErrorResult (const char* file, int line, const char* format, ...)
    __attribute__ ((format (printf, 3, 4)));

// Writes the level prefix followed by the formatted text as one line.
void logMessage (unsigned level, const char* format, ...)
    __attribute__ ((format (printf, 2, 3)));

// Writes the text and a line feed to standard output in one call and flushes.
void writeLogLine (const char* text);

} // namespace Korvantal

// Makes a failure at the site that detects it.
#define KORVANTAL_ERROR(...) \
    ::Korvantal::makeErrorResult (::Korvantal::fileNameFromPath (__FILE__), __LINE__, __VA_ARGS__)
