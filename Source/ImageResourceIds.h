#pragma once

// The ids by which the user interface asks for its bitmaps, and the file each id names inside
// the image pack. Fixed in the program; the pack only supplies the bytes. No framework include,
// so the artwork generator shares the same table.

#include <array>

enum ImageResourceId : unsigned
{
    kImageBody                   = 0,
    kImageGlobalTab              = 1,
    kImageFootswitchesTab        = 2,
    kImageAboutTab               = 3,
    kImageLargeDialFilm          = 4,
    kImageFXDialFilm             = 5,
    kImageSwitchUp               = 6,
    kImageSwitchCenter           = 7,
    kImageSwitchDown             = 8,
    kImageCloseOff               = 9,
    kImageCloseOn                = 10,
    kImageMaximizeOff            = 11,
    kImageMaximizeOn             = 12,
    kImageMinimizeOff            = 13,
    kImageMinimizeOn             = 14,
    kImageReadoutArrowLeftOff    = 15,
    kImageReadoutArrowLeftOn     = 16,
    kImageReadoutArrowRightOff   = 17,
    kImageReadoutArrowRightOn    = 18,
    kImageListOff                = 19,
    kImageListOn                 = 20,
    kImageSaveOff                = 21,
    kImageSaveOn                 = 22,
    kImageFXBlockOff             = 23,
    kImageFXBlockOn              = 24,
    kImageFXReadout              = 25,
    kImageFXRedLine              = 26,
    kImageFXScrollBar            = 27,
    kImageNotAssigned            = 28,
    kImageAssigned               = 29,
    kImageInvert                 = 30
};

// Film strips of the knobs: one column of this many frames, frame 0 at the top.
constexpr int kDialFilmFrameCount = 99;

struct ImageResourceFile
{
    ImageResourceId id;
    const char* fileName;
};

// Every id from 0 to 30, in id order, with no gap.
constexpr std::array<ImageResourceFile, 31> kImageResourceFiles { {
    { kImageBody,                 "TovarekV2Body@2x.png" },
    { kImageGlobalTab,            "GlobalTab@2x.png" },
    { kImageFootswitchesTab,      "FootswitchesTab@2x.png" },
    { kImageAboutTab,             "AboutTab@2x.png" },
    { kImageLargeDialFilm,        "TovarekLargeDialFilm@2x.png" },
    { kImageFXDialFilm,           "KorvantalFXDialsFilm@2x.png" },
    { kImageSwitchUp,             "SwitchUp@2x.png" },
    { kImageSwitchCenter,         "SwitchCenter@2x.png" },
    { kImageSwitchDown,           "SwitchDown@2x.png" },
    { kImageCloseOff,             "CloseOff.png" },
    { kImageCloseOn,              "CloseOn.png" },
    { kImageMaximizeOff,          "MaximizeOff.png" },
    { kImageMaximizeOn,           "MaximizeOn.png" },
    { kImageMinimizeOff,          "MinimizeOff.png" },
    { kImageMinimizeOn,           "MinimizeOn.png" },
    { kImageReadoutArrowLeftOff,  "EffectsSectionReadoutBoxArrowLeftOff@2x.png" },
    { kImageReadoutArrowLeftOn,   "EffectsSectionReadoutBoxArrowLeftOn@2x.png" },
    { kImageReadoutArrowRightOff, "EffectsSectionReadoutBoxArrowRightOff@2x.png" },
    { kImageReadoutArrowRightOn,  "EffectsSectionReadoutBoxArrowRightOn@2x.png" },
    { kImageListOff,              "ListOff@2x.png" },
    { kImageListOn,               "ListOn@2x.png" },
    { kImageSaveOff,              "SaveOff@2x.png" },
    { kImageSaveOn,               "SaveOn@2x.png" },
    { kImageFXBlockOff,           "FXBlockOff@2x.png" },
    { kImageFXBlockOn,            "FXBlockOn@2x.png" },
    { kImageFXReadout,            "FXReadout@2x.png" },
    { kImageFXRedLine,            "FXRedLine@2x.png" },
    { kImageFXScrollBar,          "FXScrollBar@2x.png" },
    { kImageNotAssigned,          "NotAssigned.png" },
    { kImageAssigned,             "Assigned.png" },
    { kImageInvert,               "Invert.png" },
} };
