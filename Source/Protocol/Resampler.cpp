#include "Resampler.h"

#include <algorithm>
#include <cmath>

namespace Korvantal
{
namespace
{
constexpr double kPi = 3.141592653589793;
// The pass band ends at 0.9 of the lower Nyquist frequency; beta 6 gives about 63 dB of stop band.
constexpr double kCutoff = 0.9;
constexpr double kBeta = 6.0;
// The input block used unless the history needs a longer one.
constexpr int kDefaultInputBufferSize = 4096;
constexpr int kLongHistory = 2044;
constexpr int kHistoryMargin = 10;
// Bounds on what the constructor allocates, whatever its arguments: a resampler whose table or
// history would be longer is built empty and refuses every factor. The importer needs a table of
// 69632 entries and 226 samples of history.
constexpr double kMaximumWingLength = 1 << 20;
constexpr double kMaximumHistoryLength = 1 << 18;
constexpr double kMaximumOutputBufferSize = 1 << 20;

// In double precision so that no argument overflows an int before it is checked.
double historyLengthFor (int filterLengthMultiplier, double factor)
{
    return std::floor ((static_cast<double> (filterLengthMultiplier) + 1.0) * 0.5 * std::max (1.0, 1.0 / factor)
                       + kHistoryMargin);
}

bool isPositiveAndFinite (double value)
{
    return std::isfinite (value) && value > 0.0;
}
} // namespace

double besselI0 (double x)
{
    const double ax = std::fabs (x);

    if (ax < 3.75)
    {
        const double y = (x / 3.75) * (x / 3.75);
        return 1.0
               + y * (3.5156229 + y * (3.0899424 + y * (1.2067492 + y * (0.2659732 + y * (0.0360768 + y * 0.0045813)))));
    }

    const double y = 3.75 / ax;
    return (std::exp (ax) / std::sqrt (ax))
           * (0.39894228
              + y * (0.01328592
                     + y * (0.00225319
                            + y * (-0.00157565
                                   + y * (0.00916281 + y * (-0.02057706 + y * (0.02635537 + y * (-0.01647633 + y * 0.00392377))))))));
}

double kaiserWindow (int n, int length, double beta)
{
    if (n < 0 || n >= length)
        return 0.0;
    if (length == 1)
        return 1.0;

    const double r = static_cast<double> (n) / (length - 1);
    return besselI0 (beta * std::sqrt (std::max (0.0, 1.0 - r * r))) / besselI0 (beta);
}

Resampler::Resampler (int filterLengthMultiplier, bool interpolate, double minimumFactor, double maximumFactor,
                      double samplesPerZeroCrossing)
    : _samplesPerZeroCrossing (samplesPerZeroCrossing),
      _interpolate (interpolate),
      _minimumFactor (minimumFactor),
      _maximumFactor (maximumFactor)
{
    const double wingLength = std::floor ((static_cast<double> (filterLengthMultiplier) - 1.0) * samplesPerZeroCrossing * 0.5);
    const double historyLength = std::max (historyLengthFor (filterLengthMultiplier, minimumFactor),
                                           historyLengthFor (filterLengthMultiplier, maximumFactor));

    if (filterLengthMultiplier < 2 || ! (samplesPerZeroCrossing >= 1.0) || ! isPositiveAndFinite (minimumFactor)
        || ! isPositiveAndFinite (maximumFactor) || minimumFactor > maximumFactor || ! (wingLength <= kMaximumWingLength)
        || historyLength > kMaximumHistoryLength)
        return;

    _usable = true;
    _wingLength = static_cast<int> (wingLength);
    _coefficients.resize (static_cast<size_t> (_wingLength));
    designLowpass (_coefficients.data(), _wingLength, kCutoff, kBeta);

    // With the deltas, interpolation costs one multiply-add per tap, and past the last entry it falls to 0.
    _deltas.resize (_coefficients.size());
    for (size_t i = 0; i + 1 < _coefficients.size(); ++i)
        _deltas[i] = _coefficients[i + 1] - _coefficients[i];
    if (! _coefficients.empty())
        _deltas.back() = -_coefficients.back();

    _historyLength = static_cast<int> (historyLength);
    _inputBufferSize = _historyLength < kLongHistory ? kDefaultInputBufferSize : 2 * _historyLength + kHistoryMargin;
    _input.resize (static_cast<size_t> (_inputBufferSize + _historyLength));
    // A pass that fills the output buffer stops there and the next one goes on from the read
    // position, so a buffer shorter than one pass's output only means more passes.
    _outputBufferSize = static_cast<int> (std::min (maximumFactor * _inputBufferSize + 2.0, kMaximumOutputBufferSize));
    _output.resize (static_cast<size_t> (_outputBufferSize));
    reset();
}

void Resampler::reset()
{
    std::fill (_input.begin(), _input.end(), 0.0);
    _inputFill = _historyLength;
    _outputPending = 0;
    _time = _historyLength;
}

void Resampler::designLowpass (double* coefficients, int count, double cutoff, double beta) const
{
    for (int i = 0; i < count; ++i)
    {
        const double w = kaiserWindow (i, count, beta);

        if (i == 0)
        {
            coefficients[0] = cutoff * w;
            continue;
        }

        const double t = i * kPi / _samplesPerZeroCrossing;
        coefficients[i] = std::sin (cutoff * t) * w / t;
    }
}

double Resampler::coefficient (int index, double fraction) const
{
    const size_t i = static_cast<size_t> (index);
    return _interpolate ? _coefficients[i] + _deltas[i] * fraction : _coefficients[i];
}

int Resampler::handOut (double* out, int capacity)
{
    const int n = std::min (std::max (capacity, 0), _outputPending);

    if (n == 0)
        return 0;

    std::copy (_output.begin(), _output.begin() + n, out);
    std::copy (_output.begin() + n, _output.begin() + _outputPending, _output.begin());
    _outputPending -= n;
    return n;
}

int Resampler::process (const double* in, int inLength, int lastBlock, int* inUsed, double* out, int outLength,
                        double factor)
{
    if (! _usable || ! (factor >= _minimumFactor && factor <= _maximumFactor))
        return -1;

    int written = handOut (out, outLength);

    if (_outputPending > 0)
        return written;

    const double scale = std::min (factor, 1.0);

    for (;;)
    {
        const int take = std::max (0, std::min (_inputBufferSize - _inputFill, inLength - *inUsed));
        std::copy (in + *inUsed, in + *inUsed + take, _input.begin() + _inputFill);
        *inUsed += take;
        _inputFill += take;

        // Positions closer than the filter's reach to the end of the input wait for more input,
        // unless the stream ends: then it is padded with zeros and converted through.
        int count = _inputFill - 2 * _historyLength;

        if (lastBlock != 0 && *inUsed >= inLength)
        {
            std::fill (_input.begin() + _inputFill, _input.begin() + _inputFill + _historyLength, 0.0);
            count = _inputFill - _historyLength;
        }

        if (count < 1)
            break;

        _outputPending = factor >= 1.0 ? convertUp (count, factor, scale) : convertDown (count, factor, scale);

        // Keep the history before the read position and what has not been converted yet.
        const int shift = static_cast<int> (_time) - _historyLength;
        _time -= shift;
        _inputFill -= shift;
        std::copy (_input.begin() + shift, _input.begin() + shift + _inputFill, _input.begin());

        written += handOut (out + written, outLength - written);

        if (_outputPending > 0)
            break;
    }

    return written;
}

int Resampler::convertUp (int count, double factor, double scale)
{
    return convert (count, factor, scale, _samplesPerZeroCrossing);
}

int Resampler::convertDown (int count, double factor, double scale)
{
    // The filter is stretched by 1 / factor: the table advances fewer entries per input sample.
    return convert (count, factor, scale, factor * _samplesPerZeroCrossing);
}

// The table advances by exactly `tableStep` entries per input sample, whole part and fraction kept
// apart, so a wing takes at most (multiplier - 1) / 2 / min (factor, 1) samples on each side of the
// read position: within the history, whatever samplesPerZeroCrossing is.
double Resampler::wingSum (int p, int firstK, int direction, double position, int limit, double tableStep) const
{
    double sum = 0.0;

    if (! _interpolate)
    {
        for (int k = firstK; static_cast<int> (position) < limit; ++k, position += tableStep)
            sum += _coefficients[static_cast<size_t> (position)] * _input[static_cast<size_t> (p + direction * k)];
        return sum;
    }

    const int wholeStep = static_cast<int> (std::floor (tableStep));
    const double fractionStep = tableStep - wholeStep;
    int i = static_cast<int> (std::floor (position));
    double a = position - i;

    for (int k = firstK; i < limit; ++k)
    {
        sum += coefficient (i, a) * _input[static_cast<size_t> (p + direction * k)];
        a += fractionStep;
        i += wholeStep;
        if (a > 1.0)
        {
            i += 1;
            a -= 1.0;
        }
    }
    return sum;
}

int Resampler::convert (int count, double factor, double scale, double tableStep)
{
    const double step = 1.0 / factor;
    const double end = _time + count;
    int produced = 0;

    while (_time < end && produced < _outputBufferSize)
    {
        const int p = static_cast<int> (std::floor (_time));
        const double f = _time - p;
        // Left wing backwards from input[p], right wing forwards from input[p + 1].
        const double sum = wingSum (p, 0, -1, tableStep * f, _wingLength, tableStep)
                           + wingSum (p, 1, 1, tableStep * (1.0 - f), _wingLength - 1, tableStep);
        _output[static_cast<size_t> (produced++)] = sum * scale;
        _time += step;
    }

    return produced;
}

} // namespace Korvantal
