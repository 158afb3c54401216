#include "IOUtils.h"

#include <gtest/gtest.h>

namespace
{
// A sink that takes the first `capacity` bytes and then refuses, like a full disk.
class RefusingOutputStream : public juce::OutputStream
{
public:
    explicit RefusingOutputStream (size_t capacity) : _capacity (capacity) {}

    bool write (const void* data, size_t size) override
    {
        if (_written.getSize() + size > _capacity)
            return false;
        _written.append (data, size);
        return true;
    }
    void flush() override {}
    bool setPosition (juce::int64) override { return false; }
    juce::int64 getPosition() override { return (juce::int64) _written.getSize(); }

    juce::MemoryBlock _written;

private:
    size_t _capacity;
};

// A source whose read always fails, like a vanished file.
class FailingInputStream : public juce::InputStream
{
public:
    juce::int64 getTotalLength() override { return -1; }
    bool isExhausted() override { return false; }
    int read (void*, int) override { return -1; }
    juce::int64 getPosition() override { return 0; }
    bool setPosition (juce::int64) override { return false; }
};
} // namespace

TEST (InStreamWrapper, readsEverythingThenReportsTheEndWithZeroBytesAndLeavesTheSourceUsable)
{
    juce::MemoryInputStream source ("hello", 5, false);
    char buffer[16] {};
    size_t got = 99;
    {
        InStreamWrapper first (&source);
        ASSERT_TRUE (first.read (buffer, 3, got).ok);
        EXPECT_EQ (got, 3u);
        EXPECT_EQ (std::string (buffer, 3), "hel");
    }

    InStreamWrapper wrapper (&source); // the first one's end left the source open where it was
    ASSERT_TRUE (wrapper.read (buffer, sizeof (buffer), got).ok);
    EXPECT_EQ (std::string (buffer, got), "lo");
    ASSERT_TRUE (wrapper.read (buffer, sizeof (buffer), got).ok);
    EXPECT_EQ (got, 0u);
    EXPECT_TRUE (wrapper.isExhausted());
}

TEST (InStreamWrapper, failsWithStreamReadFailedWhenTheSourceFails)
{
    FailingInputStream source;
    InStreamWrapper wrapper (&source);
    char buffer[4];
    size_t got = 0;
    const auto result = wrapper.read (buffer, sizeof (buffer), got);
    EXPECT_FALSE (result.ok);
    EXPECT_EQ (result.message, "Stream read failed");
}

TEST (OutStreamWrapper, writesAllBytesAndReportsARefusedWriteInsteadOfSuccess)
{
    RefusingOutputStream sink (5);
    OutStreamWrapper wrapper (&sink);
    ASSERT_TRUE (wrapper.write ("abc", 3).ok);
    ASSERT_TRUE (wrapper.write ("de", 2).ok);
    const auto result = wrapper.write ("f", 1);
    EXPECT_FALSE (result.ok);
    EXPECT_EQ (result.message, "Stream write failed");
    EXPECT_EQ (sink._written.toString(), "abcde");
}
