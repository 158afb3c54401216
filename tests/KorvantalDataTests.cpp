#include "KorvantalData.h"

#include <gtest/gtest.h>

using namespace Korvantal::KorvantalData;

TEST (ParamBlock, encodesAnEmptyMapAsEndPairsOnly)
{
    std::vector<uint8_t> block (kGlobalsBlockSize, 0xAA);
    ASSERT_TRUE (encodeParamBlock ({}, block.data(), kGlobalsParamPairs).ok);

    for (size_t i = 0; i < kGlobalsParamPairs; ++i)
    {
        EXPECT_EQ (readWord (block.data(), 8 * i), 0xFFFFFFFFu);
        EXPECT_EQ (readWord (block.data(), 8 * i + 4), 0u);
    }
}
