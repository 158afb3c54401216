#pragma once

#include "KorvantalStreams.h"

#include <juce_core/juce_core.h>

// Puts a framework input stream behind the device layer's byte-source interface.
// Non-owning: the caller keeps the stream alive for the wrapper's lifetime and deletes it afterwards.
class InStreamWrapper : public Korvantal::IInputStream
{
public:
    explicit InStreamWrapper (juce::InputStream* stream) : _stream (stream) {}

    Korvantal::Result read (void* buffer, size_t size, size_t& bytesRead) override;
    bool isExhausted() override;

private:
    juce::InputStream* _stream;
};

// Puts a framework output stream behind the device layer's byte-sink interface. Non-owning.
class OutStreamWrapper : public Korvantal::IOutputStream
{
public:
    explicit OutStreamWrapper (juce::OutputStream* stream) : _stream (stream) {}

    // Fails with "Stream write failed" when the stream refuses the bytes (a full or vanished disk),
    // so a truncated export or backup is never reported as written.
    Korvantal::Result write (const void* data, size_t size) override;

private:
    juce::OutputStream* _stream;
};
