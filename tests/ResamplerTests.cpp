#include "Resampler.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

using namespace Korvantal;

namespace
{
constexpr double kPi = 3.141592653589793;

// The cabinet importer's construction.
Resampler makeImporterResampler()
{
    return Resampler (35, true, 1.0 / 12, 12.0, 4096.0);
}

// Converts the rest of a stream from in[used], offering `capacity` output samples per call, until
// the input is used and a call returns nothing.
std::vector<double> convertAll (Resampler& resampler, const std::vector<double>& in, double factor, int capacity,
                                int used = 0)
{
    std::vector<double> out;
    std::vector<double> block (static_cast<size_t> (capacity));

    for (int calls = 0; calls < 100000; ++calls)
    {
        const int n = resampler.process (in.data(), static_cast<int> (in.size()), 1, &used, block.data(), capacity, factor);
        EXPECT_GE (n, 0);
        EXPECT_LE (n, capacity);
        if (n <= 0 && used == static_cast<int> (in.size()))
            break;
        out.insert (out.end(), block.begin(), block.begin() + n);
    }
    return out;
}

// A band-limited test signal: sines from 100 Hz to 15 kHz, evaluated at time t seconds.
double testSignal (double t)
{
    static const double frequencies[] = { 100.0, 1000.0, 3300.0, 7000.0, 11000.0, 15000.0 };
    double sum = 0.0;
    for (size_t i = 0; i < std::size (frequencies); ++i)
        sum += 0.15 * std::sin (2.0 * kPi * frequencies[i] * t + 0.7 * static_cast<double> (i));
    return sum;
}

// Signal-to-error ratio in dB of a conversion to 48000 Hz against the signal computed directly
// at 48000 Hz, over the part where the filter sees only real input.
double conversionSignalToError (int inputRate, int seconds100ths)
{
    const int frames = inputRate * seconds100ths / 100;
    std::vector<double> in (static_cast<size_t> (frames));
    for (int i = 0; i < frames; ++i)
        in[static_cast<size_t> (i)] = testSignal (static_cast<double> (i) / inputRate);

    Resampler resampler = makeImporterResampler();
    const std::vector<double> out = convertAll (resampler, in, 48000.0 / inputRate, 1000);

    const size_t expectedLength = static_cast<size_t> (frames) * 48000 / static_cast<size_t> (inputRate);
    EXPECT_NEAR (static_cast<double> (out.size()), static_cast<double> (expectedLength), 2.0);

    // The filter reaches 17 zero crossings of the lower rate: skip that much at either end.
    const size_t margin = 80;
    double signal = 0.0;
    double error = 0.0;
    for (size_t j = margin; j + margin < out.size(); ++j)
    {
        const double expected = testSignal (static_cast<double> (j) / 48000.0);
        signal += expected * expected;
        error += (out[j] - expected) * (out[j] - expected);
    }
    return 10.0 * std::log10 (signal / error);
}

std::vector<double> unitImpulse (size_t length)
{
    std::vector<double> in (length, 0.0);
    in[0] = 1.0;
    return in;
}
// The windowed sinc of the filter at table position x, from its definition: wing entries of
// `density` per zero crossing, linear interpolation between entries, 0 past the last.
double tableAt (double x, int wingLength, double density)
{
    auto entry = [&] (int i) {
        if (i >= wingLength)
            return 0.0;
        const double r = static_cast<double> (i) / (wingLength - 1);
        const double window = std::cyl_bessel_i (0.0, 6.0 * std::sqrt (1.0 - r * r)) / std::cyl_bessel_i (0.0, 6.0);
        const double t = i * kPi / density;
        return i == 0 ? 0.9 * window : std::sin (0.9 * t) * window / t;
    };
    const int i = static_cast<int> (std::floor (x));
    return entry (i) + (entry (i + 1) - entry (i)) * (x - i);
}
} // namespace

TEST (Resampler, matchesAnIndependentBesselFunctionToTheApproximationsAccuracy)
{
    for (double x = 0.0; x <= 12.0; x += 0.05)
    {
        const double reference = std::cyl_bessel_i (0.0, x);
        EXPECT_NEAR (besselI0 (x), reference, 2e-7 * reference) << x;
        EXPECT_EQ (besselI0 (-x), besselI0 (x));
    }
}

TEST (Resampler, kaiserWindowFallsFromOneToTheReciprocalOfI0Beta)
{
    EXPECT_EQ (kaiserWindow (0, 1024, 6.0), 1.0);
    EXPECT_DOUBLE_EQ (kaiserWindow (1023, 1024, 6.0), 1.0 / besselI0 (6.0));
    EXPECT_EQ (kaiserWindow (-1, 1024, 6.0), 0.0);
    EXPECT_EQ (kaiserWindow (1024, 1024, 6.0), 0.0);
    EXPECT_EQ (kaiserWindow (0, 1, 6.0), 1.0);
    for (int n = 1; n < 1024; ++n)
        ASSERT_LT (kaiserWindow (n, 1024, 6.0), kaiserWindow (n - 1, 1024, 6.0));
}

TEST (Resampler, passesAnImpulseAtFactorOneAsTheTableReadAtItsDensityPerSample)
{
    // Output k reads the table k zero crossings from its centre: the importer's density steps
    // entry by entry to the 17th crossing, the end of its 69632 entries; a density that is not a
    // whole number (1.9, a wing of 59 entries) steps between entries and reaches 31 samples.
    const struct
    {
        int multiplier;
        double density;
        int wingLength;
        size_t reach; // the first output past the wing
    } rows[] = { { 35, 4096.0, 69632, 17 }, { 64, 1.9, 59, 32 } };

    for (const auto& row : rows)
    {
        Resampler resampler (row.multiplier, true, 1.0 / 12, 12.0, row.density);
        const std::vector<double> out = convertAll (resampler, unitImpulse (64), 1.0, 1024);
        ASSERT_EQ (out.size(), 64u) << row.density;
        EXPECT_EQ (out[0], 0.9) << row.density;
        for (size_t k = 1; k < out.size(); ++k)
            EXPECT_NEAR (out[k], tableAt (row.density * static_cast<double> (k), row.wingLength, row.density), 2e-7)
                << row.density << " at " << k;
        EXPECT_NE (out[row.reach - 1], 0.0) << row.density;
        EXPECT_EQ (out[row.reach], 0.0) << row.density;
    }
}

TEST (Resampler, scalesAQuarterRateConversionByAQuarterWithAFourTimesWiderFilter)
{
    Resampler resampler = makeImporterResampler();
    const std::vector<double> out = convertAll (resampler, unitImpulse (400), 0.25, 1024);
    ASSERT_EQ (out.size(), 100u);
    EXPECT_EQ (out[0], 0.9 * 0.25);
    for (size_t k = 1; k <= 16; ++k)
        EXPECT_NEAR (out[k], 0.25 * tableAt (k * 4096.0, 69632, 4096.0), 1e-8) << k;

    // An impulse m input samples from an output position is read m x 1024 entries into the table.
    for (size_t m = 1; m <= 3; ++m)
    {
        std::vector<double> shifted (400, 0.0);
        shifted[m] = 1.0;
        resampler.reset();
        const std::vector<double> o = convertAll (resampler, shifted, 0.25, 1024);
        ASSERT_FALSE (o.empty());
        EXPECT_NEAR (o[0], 0.25 * tableAt (m * 1024.0, 69632, 4096.0), 1e-8) << m;
    }

    // Unity gain for a constant once the filter is fully inside the signal.
    resampler.reset();
    const std::vector<double> dc = convertAll (resampler, std::vector<double> (4000, 1.0), 0.25, 1024);
    ASSERT_EQ (dc.size(), 1000u);
    for (size_t k = 20; k < 980; ++k)
        ASSERT_NEAR (dc[k], 1.0, 1e-3) << k;
}

TEST (Resampler, convertsEveryOtherAcceptedRateTo48000HzBetterThan60dB)
{
    for (int rate : { 44100, 88200, 96000, 176400, 192000 })
    {
        const double snr = conversionSignalToError (rate, 20);
        EXPECT_GT (snr, 60.0) << rate;
        RecordProperty ("signalToErrorDb" + std::to_string (rate), std::to_string (snr));
    }
}

TEST (Resampler, refusesFactorsOutsideItsRangeWithoutChangingState)
{
    Resampler resampler = makeImporterResampler();
    const std::vector<double> in = unitImpulse (100);
    std::vector<double> out (1024, -5.0);
    int used = 3;
    EXPECT_EQ (resampler.process (in.data(), 100, 1, &used, out.data(), 1024, 1.0 / 13), -1);
    EXPECT_EQ (resampler.process (in.data(), 100, 1, &used, out.data(), 1024, 13.0), -1);
    EXPECT_EQ (resampler.process (in.data(), 100, 1, &used, out.data(), 1024, std::nan ("")), -1);
    EXPECT_EQ (used, 3);
    EXPECT_EQ (out[0], -5.0);

    // The accepted bounds themselves work, and the refused calls left nothing behind.
    used = 0;
    EXPECT_EQ (resampler.process (in.data(), 100, 1, &used, out.data(), 1024, 1.0), 100);
    EXPECT_EQ (out[0], 0.9);
    resampler.reset();
    used = 0;
    EXPECT_GT (resampler.process (in.data(), 100, 1, &used, out.data(), 1024, 12.0), 1000);
}

TEST (Resampler, neverWritesMoreThanOneCallsCapacity)
{
    std::vector<double> in (20000);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = testSignal (static_cast<double> (i) / 44100.0);

    Resampler resampler = makeImporterResampler();
    std::vector<double> out (1100, 123.0);
    int used = 0;
    EXPECT_EQ (resampler.process (in.data(), static_cast<int> (in.size()), 1, &used, out.data(), 1024, 48000.0 / 44100), 1024);
    for (size_t i = 1024; i < out.size(); ++i)
        ASSERT_EQ (out[i], 123.0) << i;

    // The rest of the stream comes out over later calls: about N x 1.0884 samples in all.
    const std::vector<double> rest = convertAll (resampler, in, 48000.0 / 44100, 1024, used);
    EXPECT_NEAR (1024.0 + static_cast<double> (rest.size()), 20000 * 48000.0 / 44100, 2.0);
}

TEST (Resampler, givesTheSameStreamWhateverTheBlockSizesOfInputAndOutput)
{
    std::vector<double> in (10000);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = testSignal (static_cast<double> (i) / 96000.0);

    for (double factor : { 48000.0 / 44100, 0.5 })
    {
        Resampler whole = makeImporterResampler();
        const std::vector<double> reference = convertAll (whole, in, factor, 60000);

        // Input fed in uneven blocks, output taken a few samples at a time.
        Resampler pieces = makeImporterResampler();
        std::vector<double> out;
        std::vector<double> block (7);
        size_t start = 0;
        for (size_t length : { 1u, 333u, 4096u, 5000u, 570u })
        {
            const bool last = start + length == in.size();
            int used = 0;
            for (;;)
            {
                const int n = pieces.process (in.data() + start, static_cast<int> (length), last ? 1 : 0, &used,
                                              block.data(), 7, factor);
                out.insert (out.end(), block.begin(), block.begin() + n);
                if (n == 0 && used == static_cast<int> (length))
                    break;
            }
            start += length;
        }
        ASSERT_EQ (start, in.size());
        // Pass boundaries differ, so the read position's rounding may differ in the last bits, and
        // the end of the stream is converted up to the read position's fraction past the last sample.
        ASSERT_NEAR (static_cast<double> (out.size()), static_cast<double> (reference.size()), 1.0) << factor;
        for (size_t i = 0; i < std::min (out.size(), reference.size()); ++i)
            ASSERT_NEAR (out[i], reference[i], 1e-9) << factor << " at " << i;
    }
}

TEST (Resampler, staysWithinItsBuffersForAnyArgumentItsContractAccepts)
{
    // Run under the address sanitizer: an out-of-bounds read fails there even where the counts
    // agree. Each stream is converted twice: after reset the output is the same.
    struct Row
    {
        const char* name;
        int multiplier;
        bool interpolate;
        double minimumFactor, maximumFactor, density;
        std::vector<double> factors; // empty: every factor refused
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Row rows[] = {
        { "fractional density, the shortest history", 64, true, 1.0, 1.0, 1.9, { 1.0 } },
        { "fractional density", 64, true, 0.37, 12.0, 1.9, { 1.0, 12.0, 0.37, 3.3 } },
        { "fractional density, table not interpolated", 64, false, 0.37, 3.3, 1.9, { 1.0, 0.37, 3.3 } },
        { "density just above one", 35, true, 1.0 / 12, 12.0, 1.0001, { 1.0, 0.5, 2.0 } },
        { "shortest filter", 2, true, 1.0, 1.0, 1.0, { 1.0 } },
        { "three taps, fractional density", 3, true, 0.5, 2.0, 1.5, { 0.5, 1.0, 2.0 } },
        { "history longer than the default block", 35, true, 1.0 / 120, 12.0, 16.0, { 1.0 / 120, 1.0 } },
        { "output of one pass longer than the buffer", 5, true, 1.0, 1000.0, 2.5, { 1000.0 } },
        { "importer's density and a half", 35, true, 1.0 / 12, 12.0, 4096.5, { 1.0, 0.25 } },
        { "table too long to allocate", 35, true, 1.0 / 12, 12.0, 1e6, {} },
        { "history too long to allocate", 35, true, 1e-9, 1.0, 4.0, {} },
        { "largest multiplier", std::numeric_limits<int>::max(), true, 1.0 / 12, 12.0, 1.0, {} },
        { "infinite density", 35, true, 1.0 / 12, 12.0, inf, {} },
        { "outside the contract: multiplier one", 1, true, 1.0, 1.0, 4.0, {} },
        { "outside the contract: density below one", 35, true, 1.0, 1.0, 0.5, {} },
        { "outside the contract: minimum above maximum", 35, true, 2.0, 1.0, 4.0, {} },
        { "outside the contract: no factor", 35, true, std::nan (""), 1.0, 4.0, {} },
    };

    for (const Row& row : rows)
    {
        SCOPED_TRACE (row.name);
        Resampler resampler (row.multiplier, row.interpolate, row.minimumFactor, row.maximumFactor, row.density);

        if (row.factors.empty())
        {
            std::vector<double> out (16);
            int used = 0;
            EXPECT_EQ (resampler.process (out.data(), 16, 1, &used, out.data(), 16, 1.0), -1);
            EXPECT_EQ (used, 0);
        }

        for (double factor : row.factors)
        {
            std::vector<double> in (factor > 100.0 ? 50 : 3000);
            for (size_t i = 0; i < in.size(); ++i)
                in[i] = testSignal (static_cast<double> (i) / 48000.0);
            resampler.reset();
            const std::vector<double> out = convertAll (resampler, in, factor, 500);
            EXPECT_NEAR (static_cast<double> (out.size()), static_cast<double> (in.size()) * factor, 2.0) << factor;
            resampler.reset();
            EXPECT_EQ (convertAll (resampler, in, factor, 500), out) << factor;
        }
    }
}
