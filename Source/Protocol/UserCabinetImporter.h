#pragma once

#include "KorvantalData.h"
#include "KorvantalResult.h"

// Turns a user's cabinet impulse response (a WAV or AIFF file at its own rate) into the unit's
// cabinet impulse: both channels at 48000 Hz, cut or padded to 1024 samples, as 32-bit floats.
// No shared state: the editor calls it on the message thread.
namespace Korvantal
{

constexpr int kCabinetSampleRate = 48000;

// `path` is UTF-8; `samples` holds 2048 floats, the left channel's 1024 then the right's.
// A one-channel file gives identical channels. Any failure to read the file gives the failure
// "Error loading impulse file"; the samples then hold a unit impulse and are not to be used.
Result importCabinetImpulse (const char* path, float* samples);
Result importCabinetImpulse (const char* path, KorvantalData::Impulse& impulse);

// The work of the import: fills kImpulseLength samples of each channel; true when the file was read.
bool loadImpulseChannels (const char* path, float* left, float* right);

} // namespace Korvantal
