#include "DeviceSafeString.h"
#include "KorvantalResult.h"

#include <climits>
#include <gtest/gtest.h>

using namespace Korvantal;

namespace
{
std::string captureLog (const std::function<void()>& body)
{
    testing::internal::CaptureStdout();
    body();
    return testing::internal::GetCapturedStdout();
}
} // namespace

TEST (FileNameFromPath, takesTheTextAfterTheLastSeparatorOfEitherKind)
{
    EXPECT_STREQ (fileNameFromPath ("a/b\\c/d.cpp"), "d.cpp");
    EXPECT_STREQ (fileNameFromPath ("a\\b/c\\e.cpp"), "e.cpp");
    EXPECT_STREQ (fileNameFromPath ("plain.cpp"), "plain.cpp");
    EXPECT_STREQ (fileNameFromPath ("dir/"), "");
}

TEST (Log, writesTheLevelPrefixThenTheTextOnOneFlushedLine)
{
    EXPECT_EQ (captureLog ([] { logMessage (2, "Unhandled packet!"); }), "WARNING: Unhandled packet!\n");
    EXPECT_EQ (captureLog ([] { logMessage (0, "%d", 7); }), "DEBUG: 7\n");
    EXPECT_EQ (captureLog ([] { logMessage (1, "x"); }), "INFO: x\n");
    EXPECT_EQ (captureLog ([] { logMessage (3, "x"); }), "ERROR: x\n");
    EXPECT_EQ (captureLog ([] { logMessage (4, "x"); }), "LOG: x\n");
    EXPECT_EQ (captureLog ([] { logMessage (UINT_MAX, "x"); }), "LOG: x\n");
}

// A line holds at most 511 characters, its prefix included; a failure message the same.
TEST (Log, cutsALineAndAFailureMessageAt511Characters)
{
    const std::string longText (2000, 'a');
    EXPECT_EQ (captureLog ([&] { logMessage (1, "%s", longText.c_str()); }), "INFO: " + std::string (505, 'a') + "\n");
    Result result;
    const std::string out = captureLog ([&] { result = makeErrorResult ("f", 1, "%s", longText.c_str()); });
    EXPECT_FALSE (result.ok);
    EXPECT_EQ (result.message, std::string (511, 'a'));
    EXPECT_EQ (out, "Error at f:1: " + std::string (511 - 14, 'a') + "\n");
}
TEST (ErrorResult, logsTheSiteOnceAndReturnsTheFilledInMessage)
{
    Result result;
    const std::string out = captureLog ([&] { result = makeErrorResult ("Proto.cpp", 42, "Invalid preset index: %d", 9); });
    EXPECT_FALSE (result.ok);
    EXPECT_EQ (result.message, "Invalid preset index: 9");
    EXPECT_EQ (out, "Error at Proto.cpp:42: Invalid preset index: 9\n");
}

TEST (ErrorResult, macroNamesThisFileWithoutItsDirectory)
{
    Result result;
    const std::string out = captureLog ([&] { result = KORVANTAL_ERROR ("boom"); });
    EXPECT_EQ (out.rfind ("Error at ResultTests.cpp:", 0), 0u) << out;
    EXPECT_EQ (result.message, "boom");
}

TEST (DeviceSafeString, acceptsExactlyTheNinetyOneDisplayableBytes)
{
    int count = 0;
    for (int c = 0; c < 256; ++c)
        count += isDeviceSafeCharacter (static_cast<unsigned char> (c)) ? 1 : 0;
    EXPECT_EQ (count, 91);

    for (char c : std::string ("\\`|~\t\n"))
        EXPECT_FALSE (isDeviceSafeCharacter (static_cast<unsigned char> (c))) << c;
    for (char c : std::string ("!#$%^&*()_+-=/[]{};:<>,.?@\"' aZ09"))
        EXPECT_TRUE (isDeviceSafeCharacter (static_cast<unsigned char> (c))) << c;
}

TEST (DeviceSafeString, replacesByteByByteAndCutsToTheMaximum)
{
    EXPECT_EQ (makeDeviceSafeString ("My~Cab\\One", 15), "My?Cab?One");
    EXPECT_EQ (makeDeviceSafeString ("ABCDEFGHIJKLMNOPQRST", 15), "ABCDEFGHIJKLMNO");
    EXPECT_EQ (makeDeviceSafeString ("", 15), "");
    EXPECT_EQ (makeDeviceSafeString ("Caf\xC3\xA9", 15), "Caf??");
    // The cut counts bytes: a two-byte character at the boundary is split and its first byte replaced.
    EXPECT_EQ (makeDeviceSafeString ("ABCDEFGHIJKLMN\xC3\xA9", 15), "ABCDEFGHIJKLMN?");
}
