#pragma once

#include <vector>

// Band-limited sample-rate conversion: each output sample is the inner product of the input
// around a fractional input time with a Kaiser-windowed sinc low-pass, tabulated finely and read
// with linear interpolation between table entries.
namespace Korvantal
{

// The modified Bessel function of the first kind, order 0 (Abramowitz and Stegun 9.8.1, 9.8.2).
double besselI0 (double x);

// The falling half of a Kaiser window: 1.0 at n = 0, 1 / besselI0 (beta) at n = length - 1,
// 0.0 outside 0 .. length - 1.
double kaiserWindow (int n, int length, double beta);

// Converts one stream at a time; reset() starts the next. Not thread-safe: one owner, one thread.
// Between process() calls it keeps its history, unconverted input and pending output, so a stream
// may be fed in blocks of any size.
class Resampler
{
public:
    // The factors bound the accepted output rate / input rate; they must be positive with
    // minimum <= maximum, the multiplier at least 2 and samplesPerZeroCrossing at least 1 (not
    // necessarily whole). The filter reaches (multiplier - 1) / 2 zero crossings on each side of
    // its centre. Arguments outside that, or whose filter table would pass 2^20 entries or whose
    // history (about (multiplier + 1) / 2 / minimumFactor samples) would pass 2^18, give a
    // resampler without buffers that refuses every factor.
    Resampler (int filterLengthMultiplier, bool interpolate, double minimumFactor, double maximumFactor,
               double samplesPerZeroCrossing);
    virtual ~Resampler() = default;

    // Converts from in[*inUsed] on, advancing *inUsed past every sample taken, and writes at most
    // outLength samples to out. A non-zero lastBlock marks the end of the stream, which is then
    // converted through. Returns the count written, or -1 (nothing done) for a factor outside
    // [minimum, maximum]. Output beyond outLength is kept for the next call.
    int process (const double* in, int inLength, int lastBlock, int* inUsed, double* out, int outLength, double factor);

    // Starts a new stream: clears the history and any pending output.
    void reset();

    // Fills `count` coefficients of the right wing of a windowed-sinc low-pass, coefficient 0 at
    // the centre; cutoff is relative to the Nyquist frequency of the table's sample spacing.
    void designLowpass (double* coefficients, int count, double cutoff, double beta) const;

    int wingLength() const { return _wingLength; }
    const std::vector<double>& coefficients() const { return _coefficients; }
    int historyLength() const { return _historyLength; }
    int inputBufferSize() const { return _inputBufferSize; }
    int outputBufferSize() const { return _outputBufferSize; }

private:
    // One filter pass over `count` input positions into the front of the output buffer.
    int convertUp (int count, double factor, double scale);
    int convertDown (int count, double factor, double scale);
    int convert (int count, double factor, double scale, double tableStep);
    // One wing of one output sample: input p + direction x k from k = firstK on, weighted by the
    // table from `position` on in steps of tableStep, while the table index stays below `limit`.
    double wingSum (int p, int firstK, int direction, double position, int limit, double tableStep) const;

    double coefficient (int index, double fraction) const;
    // Moves up to `capacity` pending samples to out and the rest to the buffer's front.
    int handOut (double* out, int capacity);

    double _samplesPerZeroCrossing;
    bool _interpolate;
    double _minimumFactor;
    double _maximumFactor;
    double _time = 0.0; // fractional read position in the input buffer
    bool _usable = false; // false when the arguments were refused: no buffers, every factor refused

    int _wingLength = 0;
    std::vector<double> _coefficients;
    std::vector<double> _deltas; // next coefficient minus this one; the last falls to 0

    std::vector<double> _input;  // history, then unconverted input
    std::vector<double> _output; // converted samples not yet handed out
    int _inputBufferSize = 0;
    int _inputFill = 0;
    int _historyLength = 0;
    int _outputBufferSize = 0;
    int _outputPending = 0;
};

} // namespace Korvantal
