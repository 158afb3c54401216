#include "EmbeddedData.h"

#include "DspFirmwareImageData.h"
#include "StockAmpModelData.h"

namespace TovarekMk2::EmbeddedData
{

namespace
{

template <typename Byte, size_t size>
EmbeddedFile fileOf (const Byte (&bytes)[size])
{
    return { reinterpret_cast<const uint8_t*> (bytes), size };
}

} // namespace

static_assert (sizeof (kDspFirmwareImage) == kDspFirmwareImageSize, "the loader image has a fixed size");

EmbeddedFile getStockAmpModelFile (size_t row)
{
    static const EmbeddedFile files[kStockAmpModelFileCount] = {
        fileOf (kStockAmpModel00),
        fileOf (kStockAmpModel01),
        fileOf (kStockAmpModel02),
        fileOf (kStockAmpModel03),
        fileOf (kStockAmpModel04),
        fileOf (kStockAmpModel05),
        fileOf (kStockAmpModel06),
        fileOf (kStockAmpModel07),
        fileOf (kStockAmpModel08),
        fileOf (kStockAmpModel09),
        fileOf (kStockAmpModel10),
        fileOf (kStockAmpModel11),
        fileOf (kStockAmpModel12),
        fileOf (kStockAmpModel13),
        fileOf (kStockAmpModel14),
        fileOf (kStockAmpModel15),
        fileOf (kStockAmpModel16),
        fileOf (kStockAmpModel17),
        fileOf (kStockAmpModel18),
        fileOf (kStockAmpModel19),
        fileOf (kStockAmpModel20),
        fileOf (kStockAmpModel21),
        fileOf (kStockAmpModel22),
        fileOf (kStockAmpModel23),
        fileOf (kStockAmpModel24),
        fileOf (kStockAmpModel25),
    };
    return row < kStockAmpModelFileCount ? files[row] : EmbeddedFile {};
}

EmbeddedFile getDspFirmwareImage()
{
    return fileOf (kDspFirmwareImage);
}

} // namespace TovarekMk2::EmbeddedData
