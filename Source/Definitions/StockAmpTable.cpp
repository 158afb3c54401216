#include "StockAmpTable.h"

#include "IOUtils.h"
#include "KorvantalDataFile.h"
#include "StockAmpModelData.h"

namespace TovarekMk2
{

// The files are embedded without a terminating zero, so each length is the array's own size.
#define STOCK_AMP(name, file) { name, EmbeddedData::file, sizeof (EmbeddedData::file), nullptr }

// clang-format off
StockAmpEntry StockAmpTable[kStockAmpCount] = {
    STOCK_AMP ("Plexi",         kStockAmpModel00),
    STOCK_AMP ("Brit 800",      kStockAmpModel01),
    STOCK_AMP ("Hot Brit",      kStockAmpModel02),
    STOCK_AMP ("D Luxe",        kStockAmpModel03),
    STOCK_AMP ("59 Bman",       kStockAmpModel04),
    STOCK_AMP ("US Clean",      kStockAmpModel05),
    STOCK_AMP ("65 Clean",      kStockAmpModel06),
    STOCK_AMP ("D Luxe 2",      kStockAmpModel07),
    STOCK_AMP ("Top Boost",     kStockAmpModel08),
    STOCK_AMP ("Top Boost 2",   kStockAmpModel09),
    STOCK_AMP ("Rumble",        kStockAmpModel10),
    STOCK_AMP ("Marc IV Lead",  kStockAmpModel11),
    STOCK_AMP ("Marc IV EQ",    kStockAmpModel12),
    STOCK_AMP ("Rumble Brite",  kStockAmpModel13),
    STOCK_AMP ("Wendholt BE",   kStockAmpModel14),
    STOCK_AMP ("Wendholt HBE",  kStockAmpModel15),
    STOCK_AMP ("Vostermil",     kStockAmpModel16),
    STOCK_AMP ("Recto",         kStockAmpModel17),
    STOCK_AMP ("5051",          kStockAmpModel18),
    STOCK_AMP ("SLO",           kStockAmpModel19),
    STOCK_AMP ("Arkhan",        kStockAmpModel20),
    STOCK_AMP ("SV Tee",        kStockAmpModel21),
    STOCK_AMP ("Power EL34",    kStockAmpModel22),
    STOCK_AMP ("Power 6L6",     kStockAmpModel23),
    STOCK_AMP ("Power EL84",    kStockAmpModel24),
    STOCK_AMP ("Power KT88",    kStockAmpModel25),
};
// clang-format on

#undef STOCK_AMP

Korvantal::Result parseStockAmpEntry (StockAmpEntry& entry)
{
    juce::MemoryInputStream memory (entry.text, static_cast<size_t> (entry.textLength), false);
    InStreamWrapper stream (&memory);

    delete entry.amp;
    entry.amp = new Korvantal::KorvantalData::Amp();
    const Korvantal::Result result = Korvantal::readAmpFile (stream, *entry.amp, nullptr);
    if (! result.ok)
    {
        delete entry.amp;
        entry.amp = nullptr;
    }
    return result;
}

void parseAllStockAmps()
{
    for (auto& entry : StockAmpTable)
        parseStockAmpEntry (entry);
}

void freeAllStockAmps()
{
    for (auto& entry : StockAmpTable)
    {
        delete entry.amp;
        entry.amp = nullptr;
    }
}

Korvantal::Result copyStockAmp (size_t row, Korvantal::KorvantalData::Amp& destination)
{
    if (row >= kStockAmpCount || StockAmpTable[row].amp == nullptr)
        return KORVANTAL_ERROR ("Amp data not found!");

    destination = *StockAmpTable[row].amp;
    return Korvantal::Result::success;
}

Korvantal::Result findStockAmpRow (uint32_t ampId, size_t& row)
{
    for (size_t i = 0; i < kStockAmpCount; ++i)
    {
        const auto* amp = StockAmpTable[i].amp;
        if (amp != nullptr && amp->nameAndID.id == ampId)
        {
            row = i;
            return Korvantal::Result::success;
        }
    }
    return KORVANTAL_ERROR ("Amp data not found!");
}

std::vector<std::string> getStockAmpMenuTexts()
{
    std::vector<std::string> texts;
    for (const auto& entry : StockAmpTable)
        texts.emplace_back (entry.displayName);
    return texts;
}

} // namespace TovarekMk2
