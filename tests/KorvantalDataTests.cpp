#include "KorvantalData.h"

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <random>

using namespace Korvantal;
using namespace Korvantal::KorvantalData;

namespace
{
using Bytes = std::vector<uint8_t>;

// Expected blocks are built here byte by byte, independently of the codec's word helpers.
void put (Bytes& block, size_t offset, uint32_t word)
{
    block.at (offset) = static_cast<uint8_t> (word & 0xFF);
    block.at (offset + 1) = static_cast<uint8_t> ((word >> 8) & 0xFF);
    block.at (offset + 2) = static_cast<uint8_t> ((word >> 16) & 0xFF);
    block.at (offset + 3) = static_cast<uint8_t> ((word >> 24) & 0xFF);
}

uint32_t get (const Bytes& block, size_t offset)
{
    return uint32_t (block.at (offset)) | uint32_t (block.at (offset + 1)) << 8
         | uint32_t (block.at (offset + 2)) << 16 | uint32_t (block.at (offset + 3)) << 24;
}

uint32_t bitsOf (float value)
{
    uint32_t bits;
    std::memcpy (&bits, &value, 4);
    return bits;
}

float floatOf (uint32_t bits)
{
    float value;
    std::memcpy (&value, &bits, 4);
    return value;
}

// Patterns a careless float conversion would change.
const std::vector<uint32_t> kTrickyBits {
    0x7F800001, // signalling NaN
    0x7FC12345, // quiet NaN with a payload
    0xFFBADBAD, // negative NaN
    0x80000000, // -0.0
    0x00000001, // smallest denormal
    0xFF800000, // -infinity
    0x3F800000, // 1.0
};

// Bit-exact comparison: EXPECT_EQ on floats would call two NaNs different and -0.0 equal to 0.0.
void expectSameBits (const ParameterMap& actual, const ParameterMap& expected)
{
    ASSERT_EQ (actual.size(), expected.size());

    for (auto a = actual.begin(), e = expected.begin(); a != actual.end(); ++a, ++e)
    {
        EXPECT_EQ (a->first, e->first);
        EXPECT_EQ (bitsOf (a->second), bitsOf (e->second)) << "id " << e->first;
    }
}

void expectSameBits (const Impulse& actual, const Impulse& expected)
{
    for (size_t c = 0; c < kImpulseChannels; ++c)
        for (size_t i = 0; i < kImpulseLength; ++i)
            ASSERT_EQ (bitsOf (actual[c][i]), bitsOf (expected[c][i])) << "channel " << c << " sample " << i;
}

std::string captureLog (const std::function<void()>& body)
{
    testing::internal::CaptureStdout();
    body();
    return testing::internal::GetCapturedStdout();
}

ParameterMap makeMap (size_t count, uint32_t firstId = 1)
{
    ParameterMap map;

    for (size_t i = 0; i < count; ++i)
        map[firstId + uint32_t (i)] = float (i) * 0.5f;

    return map;
}

// Expected text field: one byte per word, zero words after.
Bytes textWords (const std::string& text, size_t capacity)
{
    Bytes words (capacity * 4, 0);

    for (size_t i = 0; i < text.size() && i < capacity; ++i)
        words[i * 4] = static_cast<uint8_t> (text[i]);

    return words;
}

Bytes slice (const Bytes& block, size_t offset, size_t size)
{
    return Bytes (block.begin() + long (offset), block.begin() + long (offset + size));
}
} // namespace

TEST (Words, areStoredLeastSignificantByteFirst)
{
    Bytes block (8, 0);
    writeWord (block.data(), 4, 0x11223344);
    EXPECT_EQ (block, (Bytes { 0, 0, 0, 0, 0x44, 0x33, 0x22, 0x11 }));
    EXPECT_EQ (readWord (block.data(), 4), 0x11223344u);
}

TEST (ParamBlock, writesPairsAscendingByUnsignedIdThenEndPairs)
{
    // 0x80000000 would sort first as a signed id.
    const ParameterMap map { { 0x80000000u, 1.5f }, { 5, -2.0f }, { 0, 0.25f } };

    Bytes expected (kGlobalsBlockSize, 0);
    put (expected, 0, 0);
    put (expected, 4, 0x3E800000);
    put (expected, 8, 5);
    put (expected, 12, 0xC0000000);
    put (expected, 16, 0x80000000);
    put (expected, 20, 0x3FC00000);
    for (size_t i = 3; i < 128; ++i)
        put (expected, 8 * i, 0xFFFFFFFF); // value word stays 0

    Bytes block (kGlobalsBlockSize, 0xAA);
    ASSERT_TRUE (encodeParamBlock (map, block.data(), kGlobalsParamPairs).ok);
    EXPECT_EQ (block, expected);
}

TEST (ParamBlock, encodesEmptyFullAndOverfullMapsForEveryBlockSize)
{
    for (const size_t pairs : { kPresetParamPairs, kAmpDataParamPairs, kGlobalsParamPairs })
    {
        // An empty map: end pairs only, decoded as empty.
        Bytes expected (pairs * 8, 0);
        for (size_t i = 0; i < pairs; ++i)
            put (expected, 8 * i, 0xFFFFFFFF);
        Bytes block (pairs * 8, 0x55);
        ASSERT_TRUE (encodeParamBlock ({}, block.data(), pairs).ok);
        EXPECT_EQ (block, expected) << pairs;
        ParameterMap decoded { { 1, 1.0f } };
        ASSERT_TRUE (decodeParamBlock (block.data(), block.size(), decoded).ok);
        EXPECT_TRUE (decoded.empty());

        // Exactly `pairs` entries: every pair used, no end pair, all read back.
        const ParameterMap map = makeMap (pairs, 100);
        ASSERT_TRUE (encodeParamBlock (map, block.data(), pairs).ok);
        EXPECT_EQ (get (block, 0), 100u);
        EXPECT_EQ (get (block, (pairs - 1) * 8), uint32_t (100 + pairs - 1)) << "no end pair";
        EXPECT_EQ (get (block, (pairs - 1) * 8 + 4), bitsOf (float (pairs - 1) * 0.5f));
        decodeParamBlock (block.data(), block.size(), decoded);
        expectSameBits (decoded, map);

        // One more: refused, logged once, the block untouched.
        const Bytes original (pairs * 8, 0xA5);
        block = original;
        Result result;
        const std::string log = captureLog ([&] { result = encodeParamBlock (makeMap (pairs + 1), block.data(), pairs); });
        EXPECT_FALSE (result.ok);
        EXPECT_EQ (result.message, "Too many params");
        EXPECT_EQ (block, original);
        EXPECT_EQ (log.rfind ("Error at KorvantalData.cpp:", 0), 0u) << log;
        EXPECT_EQ (std::count (log.begin(), log.end(), '\n'), 1) << "logged once";
    }
}

TEST (ParamBlock, keepsEveryFloatBitPattern)
{
    ParameterMap map;
    for (size_t i = 0; i < kTrickyBits.size(); ++i)
        map[uint32_t (i)] = floatOf (kTrickyBits[i]);

    Bytes block (kGlobalsBlockSize, 0);
    ASSERT_TRUE (encodeParamBlock (map, block.data(), kGlobalsParamPairs).ok);

    for (size_t i = 0; i < kTrickyBits.size(); ++i)
        EXPECT_EQ (get (block, 8 * i + 4), kTrickyBits[i]);

    ParameterMap decoded;
    decodeParamBlock (block.data(), block.size(), decoded);
    expectSameBits (decoded, map);
}

TEST (ParamBlock, decodingStopsAtTheFirstEndIdLetsALaterDuplicateWinAndReplacesTheMap)
{
    const std::pair<std::vector<uint32_t>, ParameterMap> rows[] = {
        { { 7, 0x40000000, 0xFFFFFFFF, 0x12345678, 9, 0x3F800000 }, { { 7, 2.0f } } }, // an end pair's value is not looked at
        { { 3, 0x3F800000, 4, 0x40400000, 3, 0xC0000000 }, { { 3, -2.0f }, { 4, 3.0f } } },
        { { 1, 0x3F800000 }, { { 1, 1.0f } } },
        { { 0xFFFFFFFF, 0x40800000, 1, 0x3F800000 }, {} },
    };

    for (const auto& [words, expected] : rows)
    {
        Bytes block (4 * words.size(), 0);
        for (size_t i = 0; i < words.size(); ++i)
            put (block, 4 * i, words[i]);

        ParameterMap decoded { { 2, 5.0f }, { 1, 9.0f } };
        ASSERT_TRUE (decodeParamBlock (block.data(), block.size(), decoded).ok);
        expectSameBits (decoded, expected);
    }
}

TEST (ParamBlock, decodesOnlyWholePairsOfTheGivenSize)
{
    // Exact-size buffers: a read past them is caught by the address sanitizer.
    Bytes block (1020, 0);
    for (size_t i = 0; i < 127; ++i)
        put (block, 8 * i, uint32_t (i + 1));
    put (block, 1016, 999); // half of a 128th pair

    ParameterMap decoded;
    decodeParamBlock (block.data(), block.size(), decoded);
    EXPECT_EQ (decoded.size(), 127u);
    EXPECT_EQ (decoded.rbegin()->first, 127u);

    for (const size_t size : { 0, 4, 7 })
    {
        Bytes shortBlock (size, 0);
        ParameterMap map { { 1, 1.0f } };
        EXPECT_TRUE (decodeParamBlock (shortBlock.data(), shortBlock.size(), map).ok);
        EXPECT_TRUE (map.empty()) << size;
    }

    ParameterMap map { { 1, 1.0f } };
    EXPECT_TRUE (decodeParamBlock (nullptr, 0, map).ok);
    EXPECT_TRUE (map.empty());
}

TEST (CabinetName, storesUpToFifteenCharactersOnePerWordAndReadsThemBack)
{
    const std::pair<std::string, std::string> rows[] = {
        { "Green", "Green" },
        { "ABCDEFGHIJKLMNO", "ABCDEFGHIJKLMNO" },    // fills words 0 to 14; word 15 stays zero
        { "ABCDEFGHIJKLMNOP", "ABCDEFGHIJKLMNO" },   // the sixteenth character is dropped
        { std::string ("ab\0cd", 5), "ab" },         // ends at an embedded zero byte
        { "\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9" }, // each byte of a UTF-8 character in its own word
        { "", "" },
    };

    for (const auto& [name, stored] : rows)
    {
        Bytes block (kCabinetNameBlockSize, 0xEE);
        ASSERT_TRUE (encodeNameSegment (name, block.data()).ok);
        EXPECT_EQ (block, textWords (stored, 16)) << stored;

        std::string decoded = "previous";
        ASSERT_TRUE (decodeName (block.data(), decoded, kCabinetNameLength).ok);
        EXPECT_EQ (decoded, stored);
    }
}

TEST (TextField, writesExactly255WordsAndNothingBeyond)
{
    const std::string full (255, 'x');
    Bytes block (kLongCabinetNameBlockSize, 0xEE);
    ASSERT_TRUE (encodeText (full + "yz", block.data()).ok);
    EXPECT_EQ (slice (block, 0, kTextFieldSize), textWords (full, 255));
    EXPECT_EQ (get (block, 1020), 0xEEEEEEEEu) << "the word after the field is the caller's";

    Bytes shortText (kTextFieldSize, 0xEE);
    encodeText ("hi", shortText.data());
    EXPECT_EQ (shortText, textWords ("hi", 255));

    std::string decoded;
    decodeName (block.data(), decoded, kTextFieldLength);
    EXPECT_EQ (decoded, full);
}

TEST (NameDecoder, takesOnlyTheLowByteOfEachWord)
{
    Bytes block (64, 0);
    put (block, 0, 0x00000141);
    put (block, 4, 0xFFFFFF42);
    put (block, 8, 0x12345600); // low byte zero ends the text

    std::string decoded;
    decodeName (block.data(), decoded, kCabinetNameLength);
    EXPECT_EQ (decoded, "AB");
}

TEST (NameDecoder, readsNoMoreWordsThanItsLimit)
{
    // Buffers of exactly limit words, all non-zero: the address sanitizer catches a longer read.
    for (const size_t limit : { kOldPresetNameLength, kCabinetNameLength, kTextFieldLength })
    {
        Bytes block (limit * 4, 0);
        for (size_t i = 0; i < limit; ++i)
            put (block, 4 * i, 'a' + uint32_t (i % 26));

        std::string decoded;
        EXPECT_TRUE (decodeName (block.data(), decoded, limit).ok);
        EXPECT_EQ (decoded.size(), limit);
    }
}

TEST (AmpNameAndIDBlock, holdsTheIdInWordZeroAndUpToSixteenCharactersWithoutATerminator)
{
    const std::string sixteen = "0123456789abcdef";
    const std::tuple<uint32_t, std::string, std::string> rows[] = {
        { 0xDEADBEEF, "Twin", "Twin" }, { 7, sixteen, sixteen }, { 7, sixteen + "g", sixteen },
    };

    for (const auto& [id, name, stored] : rows)
    {
        Bytes expected (4, 0);
        put (expected, 0, id);
        const Bytes text = textWords (stored, 16);
        expected.insert (expected.end(), text.begin(), text.end());

        Bytes block (kAmpNameAndIDBlockSize, 0xEE); // exact size: no read or write past it
        ASSERT_TRUE (encodeAmpNameAndID ({ id, name }, block.data()).ok);
        EXPECT_EQ (block, expected) << name;

        AmpNameAndID decoded { 1, "old" };
        ASSERT_TRUE (decodeAmpNameAndID (block.data(), decoded).ok);
        EXPECT_EQ (decoded.id, id);
        EXPECT_EQ (decoded.name, stored);
    }
}

TEST (AmpDataBlock, laysOutParametersTextsAndTheirZeroWords)
{
    AmpData data;
    data.parameters = { { 2, 0.5f }, { 1, -1.0f } };
    data.text1 = "R1 68k";
    data.text2 = "C2 22n";

    Bytes expected (kAmpDataBlockSize, 0);
    put (expected, 0, 1);
    put (expected, 4, 0xBF800000);
    put (expected, 8, 2);
    put (expected, 12, 0x3F000000);
    for (size_t i = 2; i < 256; ++i)
        put (expected, 8 * i, 0xFFFFFFFF);
    for (size_t i = 0; i < data.text1.size(); ++i)
        put (expected, 2048 + 4 * i, uint8_t (data.text1[i]));
    for (size_t i = 0; i < data.text2.size(); ++i)
        put (expected, 3072 + 4 * i, uint8_t (data.text2[i]));

    Bytes block (kAmpDataBlockSize, 0xEE);
    ASSERT_TRUE (encodeAmpData (data, block.data()).ok);
    EXPECT_EQ (block, expected);

    AmpData decoded { { { 9, 9.0f } }, "x", "y" };
    ASSERT_TRUE (decodeAmpData (block.data(), decoded).ok);
    expectSameBits (decoded.parameters, data.parameters);
    EXPECT_EQ (decoded.text1, data.text1);
    EXPECT_EQ (decoded.text2, data.text2);
}

TEST (AmpDataBlock, fullTextsLeaveTheWordAfterEachFieldZero)
{
    AmpData data;
    data.text1 = std::string (300, 'a');
    data.text2 = std::string (255, 'b');

    Bytes block (kAmpDataBlockSize, 0xEE);
    ASSERT_TRUE (encodeAmpData (data, block.data()).ok);
    EXPECT_EQ (slice (block, 2048, 1020), textWords (std::string (255, 'a'), 255));
    EXPECT_EQ (get (block, 3068), 0u);
    EXPECT_EQ (slice (block, 3072, 1020), textWords (data.text2, 255));
    EXPECT_EQ (get (block, 4092), 0u);
}

TEST (AmpDataBlock, refuses257ParametersAndLeavesTheBlockUntouched)
{
    AmpData data;
    data.parameters = makeMap (257);
    data.text1 = "t";

    const Bytes original (kAmpDataBlockSize, 0x3C);
    Bytes block = original;
    Result result;
    captureLog ([&] { result = encodeAmpData (data, block.data()); });
    EXPECT_FALSE (result.ok);
    EXPECT_EQ (result.message, "Too many params");
    EXPECT_EQ (block, original);

    data.parameters = makeMap (256);
    EXPECT_TRUE (encodeAmpData (data, block.data()).ok);
}

TEST (AmpDataBlock, decodingNeverReadsTextWordsAsParametersOrBeyondAField)
{
    Bytes block (kAmpDataBlockSize, 0);
    for (size_t i = 0; i < 256; ++i)
        put (block, 8 * i, uint32_t (i));
    for (size_t i = 0; i < 256; ++i) // 256 characters: the zero word after text1 is overwritten
        put (block, 2048 + 4 * i, 'k');
    for (size_t i = 0; i < 256; ++i) // and the last word of the block
        put (block, 3072 + 4 * i, 'm');

    AmpData decoded;
    decodeAmpData (block.data(), decoded);
    EXPECT_EQ (decoded.parameters.size(), 256u);
    EXPECT_EQ (decoded.text1, std::string (255, 'k'));
    EXPECT_EQ (decoded.text2, std::string (255, 'm'));
}

TEST (ImpulseBlock, holdsChannelZeroThenChannelOne)
{
    Impulse impulse {};
    for (size_t i = 0; i < kImpulseLength; ++i)
    {
        impulse[0][i] = float (i);
        impulse[1][i] = -float (i) - 0.25f;
    }
    impulse[1][5] = floatOf (0x7F800001);

    Bytes expected (kCabinetIRBlockSize, 0);
    for (size_t i = 0; i < kImpulseLength; ++i)
    {
        put (expected, 4 * i, bitsOf (float (i)));
        put (expected, 4096 + 4 * i, bitsOf (-float (i) - 0.25f));
    }
    put (expected, 4096 + 20, 0x7F800001);

    Bytes block (kCabinetIRBlockSize, 0xEE);
    ASSERT_TRUE (encodeCabinetIR (impulse, block.data()).ok);
    EXPECT_EQ (block, expected);

    Impulse decoded = makeUnitImpulse();
    ASSERT_TRUE (decodeCabinetIR (block.data(), decoded).ok);
    expectSameBits (decoded, impulse);
}

TEST (FinishingFilterBlock, copiesTheWordsInOrderUnchanged)
{
    FinishingFilter filter {};
    for (size_t i = 0; i < kFinishingFilterWords; ++i)
        filter[i] = uint32_t (i * 0x01010101u) ^ 0x7F800001u;

    Bytes expected (kFinishingFilterBlockSize, 0);
    for (size_t i = 0; i < kFinishingFilterWords; ++i)
        put (expected, 4 * i, filter[i]);

    Bytes block (kFinishingFilterBlockSize, 0);
    encodeFinishingFilter (filter, block.data());
    EXPECT_EQ (block, expected);

    FinishingFilter decoded {};
    decodeFinishingFilter (block.data(), decoded);
    EXPECT_EQ (decoded, filter);
}

TEST (Records, defaultsAreAUnitImpulseAPassThroughFilterAndNoVersions)
{
    const Cabinet cabinet;
    EXPECT_TRUE (cabinet.name.empty());
    for (size_t c = 0; c < kImpulseChannels; ++c)
        for (size_t i = 0; i < kImpulseLength; ++i)
            ASSERT_EQ (bitsOf (cabinet.impulse[c][i]), i == 0 ? 0x3F800000u : 0u) << "channel " << c << " sample " << i;

    FinishingFilter passThrough {};
    passThrough[0] = 0x3F800000;
    const Amp amp;
    EXPECT_EQ (amp.finishingFilter, passThrough);
    EXPECT_EQ (amp.nameAndID.id, 0u);
    EXPECT_TRUE (amp.nameAndID.name.empty() && amp.data.parameters.empty());
    EXPECT_EQ (amp.extraData, nullptr);
    expectSameBits (amp.impulse, cabinet.impulse);

    const FullTovarekMk2Preset preset;
    EXPECT_EQ (preset.finishingFilter, passThrough);
    EXPECT_TRUE (preset.parameters.empty());
    EXPECT_EQ (preset.ampNameAndID.id, 0u);
    expectSameBits (preset.cabinet.impulse, cabinet.impulse);

    const FirmwareVersionInfo info;
    EXPECT_EQ (info.systemVersion, (std::array<uint8_t, 4> { 0, 0, 0, 0 }));
    EXPECT_EQ (info.dspVersion, (std::array<uint8_t, 4> { 0, 0, 0, 0 }));
    EXPECT_EQ (info.extraCode, -1);
}

TEST (Records, copyingAnAmpCopiesItsExtraDataIntoANewObject)
{
    Amp amp;
    amp.nameAndID = { 12, "Lead" };
    amp.extraData = std::make_unique<AmpData>();
    amp.extraData->text1 = "extra";

    Amp copy (amp);
    ASSERT_NE (copy.extraData, nullptr);
    EXPECT_NE (copy.extraData.get(), amp.extraData.get());
    EXPECT_EQ (copy.extraData->text1, "extra");
    EXPECT_EQ (copy.nameAndID.name, "Lead");

    copy.extraData->text1 = "changed";
    EXPECT_EQ (amp.extraData->text1, "extra");

    Amp assigned;
    assigned = amp;
    ASSERT_NE (assigned.extraData, nullptr);
    EXPECT_NE (assigned.extraData.get(), amp.extraData.get());

    // An absent member stays absent, replacing one that was there.
    assigned = Amp (Amp());
    EXPECT_EQ (assigned.extraData, nullptr);
    copy = static_cast<const Amp&> (Amp());
    EXPECT_EQ (copy.extraData, nullptr);

    Amp& self = amp;
    amp = self;
    ASSERT_NE (amp.extraData, nullptr);
    EXPECT_EQ (amp.extraData->text1, "extra");
}

TEST (Records, copyingAnArchiveCopiesPresentMembersAndLeavesAbsentOnesNull)
{
    TovarekMk2Archive archive;
    archive.firmwareImage = std::make_unique<std::vector<uint8_t>> (std::vector<uint8_t> { 1, 2, 3 });
    archive.globals = std::make_unique<Globals> (Globals { { 4, 1.0f } });
    archive.presets.push_back ({ 3, {} });
    archive.presets.back().preset.cabinet.name = "Cab";

    TovarekMk2Archive copy (archive);
    EXPECT_EQ (copy.versionInfo, nullptr);
    ASSERT_NE (copy.firmwareImage, nullptr);
    EXPECT_NE (copy.firmwareImage.get(), archive.firmwareImage.get());
    EXPECT_EQ (*copy.firmwareImage, (std::vector<uint8_t> { 1, 2, 3 }));
    ASSERT_NE (copy.globals, nullptr);
    EXPECT_NE (copy.globals.get(), archive.globals.get());
    ASSERT_EQ (copy.presets.size(), 1u);
    EXPECT_EQ (copy.presets[0].index, 3u);
    EXPECT_EQ (copy.presets[0].preset.cabinet.name, "Cab");

    TovarekMk2Archive other;
    other.versionInfo = std::make_unique<FirmwareVersionInfo>();
    other.versionInfo->dspVersion = { 4, 2, 0, 0 };
    copy = other;
    ASSERT_NE (copy.versionInfo, nullptr);
    EXPECT_NE (copy.versionInfo.get(), other.versionInfo.get());
    EXPECT_EQ (copy.versionInfo->dspVersion[1], 2);
    EXPECT_EQ (copy.firmwareImage, nullptr);
    EXPECT_EQ (copy.globals, nullptr);
    EXPECT_TRUE (copy.presets.empty());
}

TEST (Records, copyingAPresetCopiesItsCabinet)
{
    Preset preset;
    preset.name = "Old";
    preset.cabinet = std::make_unique<Cabinet>();
    preset.cabinet->name = "C";

    Preset copy (preset);
    ASSERT_NE (copy.cabinet, nullptr);
    EXPECT_NE (copy.cabinet.get(), preset.cabinet.get());
    EXPECT_EQ (copy.cabinet->name, "C");
    EXPECT_EQ (copy.name, "Old");

    copy = Preset();
    EXPECT_EQ (copy.cabinet, nullptr);
}

namespace
{
struct Randomiser
{
    std::mt19937 rng;

    uint32_t word() { return uint32_t (rng()); }
    size_t below (size_t n) { return size_t (rng() % n); }

    // Values include the tricky patterns; ids include the end id now and then.
    ParameterMap map (size_t maxCount)
    {
        ParameterMap map;
        const size_t count = below (maxCount + 1);

        while (map.size() < count)
        {
            const uint32_t id = below (20) == 0 ? 0xFFFFFFFF : word() % (below (2) ? 300 : 0xFFFFFFFF);
            const uint32_t bits = below (4) == 0 ? kTrickyBits[below (kTrickyBits.size())] : word();
            map[id] = floatOf (bits);
        }

        return map;
    }

    // Any byte, a zero now and then, sometimes longer than any field.
    std::string text (size_t maxLength)
    {
        std::string text (below (maxLength + 1), '\0');

        for (char& c : text)
            c = char (below (30) == 0 ? 0 : 1 + below (255));

        return text;
    }

    Impulse impulse()
    {
        Impulse impulse {};
        for (auto& channel : impulse)
            for (float& sample : channel)
                sample = floatOf (word());
        return impulse;
    }
};

// What a field gives back: the text up to its first zero byte, cut at the capacity.
std::string storedText (const std::string& text, size_t capacity)
{
    return text.substr (0, std::min (capacity, std::strlen (text.c_str())));
}

// What a parameter block gives back: every entry but one with the end id.
ParameterMap storedMap (ParameterMap map)
{
    map.erase (0xFFFFFFFF);
    return map;
}
} // namespace

TEST (RoundTrip, everyBlockOfARandomPresetTheGlobalsAndALongNameGiveBackTheirRecords)
{
    Randomiser random { std::mt19937 (20261207) };

    for (int round = 0; round < 200; ++round)
    {
        FullTovarekMk2Preset preset;
        preset.parameters = random.map (kPresetParamPairs);
        preset.cabinet.impulse = random.impulse();
        preset.cabinet.name = random.text (20);
        preset.ampNameAndID = { random.word(), random.text (20) };
        preset.ampData.parameters = random.map (kAmpDataParamPairs);
        preset.ampData.text1 = random.text (300);
        preset.ampData.text2 = random.text (300);
        for (uint32_t& w : preset.finishingFilter)
            w = random.word();
        const ParameterMap globals = random.map (kGlobalsParamPairs);
        const std::string longName = random.text (400);

        Bytes params (kPresetBlockSize), ir (kCabinetIRBlockSize), cabName (kCabinetNameBlockSize),
            ampName (kAmpNameAndIDBlockSize), ampData (kAmpDataBlockSize), filter (kFinishingFilterBlockSize),
            globalsBlock (kGlobalsBlockSize), longNameBlock (kLongCabinetNameBlockSize, 0);
        ASSERT_TRUE (encodeParamBlock (globals, globalsBlock.data(), kGlobalsParamPairs).ok);
        ASSERT_TRUE (encodeText (longName, longNameBlock.data()).ok);
        ASSERT_TRUE (encodeParamBlock (preset.parameters, params.data(), kPresetParamPairs).ok);
        ASSERT_TRUE (encodeCabinetIR (preset.cabinet.impulse, ir.data()).ok);
        ASSERT_TRUE (encodeNameSegment (preset.cabinet.name, cabName.data()).ok);
        ASSERT_TRUE (encodeAmpNameAndID (preset.ampNameAndID, ampName.data()).ok);
        ASSERT_TRUE (encodeAmpData (preset.ampData, ampData.data()).ok);
        ASSERT_TRUE (encodeFinishingFilter (preset.finishingFilter, filter.data()).ok);

        FullTovarekMk2Preset decoded;
        decodeParamBlock (params.data(), params.size(), decoded.parameters);
        decodeCabinetIR (ir.data(), decoded.cabinet.impulse);
        decodeName (cabName.data(), decoded.cabinet.name, kCabinetNameLength);
        decodeAmpNameAndID (ampName.data(), decoded.ampNameAndID);
        decodeAmpData (ampData.data(), decoded.ampData);
        decodeFinishingFilter (filter.data(), decoded.finishingFilter);
        ParameterMap decodedGlobals;
        decodeParamBlock (globalsBlock.data(), globalsBlock.size(), decodedGlobals);
        std::string decodedLongName;
        decodeName (longNameBlock.data(), decodedLongName, kTextFieldLength);

        // Legitimate differences: an entry with the end id is lost; texts end at their first
        // zero byte and are cut at their field's capacity.
        expectSameBits (decoded.parameters, storedMap (preset.parameters));
        expectSameBits (decoded.cabinet.impulse, preset.cabinet.impulse);
        EXPECT_EQ (decoded.cabinet.name, storedText (preset.cabinet.name, kCabinetNameLength));
        EXPECT_EQ (decoded.ampNameAndID.id, preset.ampNameAndID.id);
        EXPECT_EQ (decoded.ampNameAndID.name, storedText (preset.ampNameAndID.name, kAmpNameLength));
        expectSameBits (decoded.ampData.parameters, storedMap (preset.ampData.parameters));
        EXPECT_EQ (decoded.ampData.text1, storedText (preset.ampData.text1, kTextFieldLength));
        EXPECT_EQ (decoded.ampData.text2, storedText (preset.ampData.text2, kTextFieldLength));
        EXPECT_EQ (decoded.finishingFilter, preset.finishingFilter);
        expectSameBits (decodedGlobals, storedMap (globals));
        EXPECT_EQ (decodedLongName, storedText (longName, kTextFieldLength));
        EXPECT_EQ (get (longNameBlock, 1020), 0u);

        if (HasFailure())
            FAIL() << "round " << round;
    }
}
