#include "MainComponent.h"

#include "ImageResourcePack.h"
#include "MainComponentStyle.h"
#include "OverlayComponent.h"
#include "StockAmpTable.h"
#include "Widgets.h"

#include <array>

using namespace MainComponentStyle;

namespace
{
using BlockID = MainComponent::BlockID;
using ParamMap = TovarekMk2::TovarekMk2ParamMap;

constexpr Bounds kViewportBounds { 36, 548, 562, 270 };
constexpr int kViewportScrollBarThickness = 8;
constexpr uint32_t kViewportThumbColour = 0xffcf1818;

constexpr Bounds kDesignBounds { 0, 0, 624, 890 };
constexpr Bounds kTabHeaderBounds { 26, 440, 572, 428 };
constexpr Bounds kDragBarBounds { 0, 0, 624, 70 };
constexpr Bounds kFootswitchesTabBounds { 223, 822, 188, 48 };
constexpr Bounds kGlobalTabBounds { 30, 822, 192, 48 };
constexpr Bounds kAboutTabBounds { 412, 822, 186, 48 };

constexpr Bounds kListBounds { 9, 16, 52, 20 };
constexpr Bounds kSaveBounds { 272, 12, 80, 28 };
constexpr Bounds kMaximiseBounds { 493, 7, 36, 36 };
constexpr Bounds kMinimiseBounds { 537, 7, 36, 36 };
constexpr Bounds kCloseBounds { 581, 7, 36, 36 };
constexpr Bounds kRedLineBounds { 29, 513, 566, 4 };

// The main page's three-way switches.
constexpr int kSwitchStep = 150, kSwitchOffset = 142, kSwitchY = 193, kSwitchWidth = 40, kSwitchHeight = 104;

// Knob parameters by (column, row), in creation order.
struct KnobPlace
{
    int column, row;
    TovarekMk2ParamID id;
};
constexpr std::array<KnobPlace, 8> kMainKnobs { {
    { 0, 0, kParamAmpKnobTop0 },
    { 1, 0, kParamAmpKnobTop1 },
    { 2, 0, kParamAmpKnobTop2 },
    { 3, 0, kParamAmpKnobTop3 },
    { 0, 1, kParamAmpKnobBottom0 },
    { 1, 1, kParamAmpKnobBottom1 },
    { 2, 1, kParamAmpKnobBottom2 },
    { 3, 1, kParamStatusLevel },
} };

// Block strip: creation order with each on-image tint, and the on/off parameter of each block.
struct BlockButtonStyle
{
    BlockID block;
    const char* label;
    float hue, saturation;
};
constexpr std::array<BlockButtonStyle, 8> kBlockButtonStyles { {
    { ParamMap::GTE, "GTE", 0.5625f, 1.0f },
    { ParamMap::CMP, "CMP", 0.625f, 0.7f },
    { ParamMap::BST, "BST", 0.125f, 1.0f },
    { ParamMap::EQ, "EQ", 1.0f, 1.0f },
    { ParamMap::AMP, "AMP", 0.0f, 1.0f },
    { ParamMap::REV, "REV", 0.25f, 1.0f },
    { ParamMap::ECO, "ECO", 0.8125f, 1.0f },
    { ParamMap::CAB, "CAB", 0.0625f, 1.0f },
} };
constexpr float kBlockOnBrightness = 0.9f;

// The ids whose changes re-lay the block strip: the eight on/off switches, then the footswitch
// assignments.
constexpr std::array<TovarekMk2ParamID, 24> kBlockLayoutParameters { {
    kParamGateOn, kParamCompOn, kParamBoostOn, kParamEqOn, kParamAmpOn, kParamCabOn, kParamReverbOn, kParamEchoOn,
    kParamFootswitchAGate, kParamFootswitchAComp, kParamFootswitchABoost, kParamFootswitchAEq,
    kParamFootswitchAAmp, kParamFootswitchACab, kParamFootswitchAReverb, kParamFootswitchAEcho,
    kParamFootswitchBGate, kParamFootswitchBComp, kParamFootswitchBBoost, kParamFootswitchBEq,
    kParamFootswitchBAmp, kParamFootswitchBCab, kParamFootswitchBReverb, kParamFootswitchBEcho,
} };

// Footswitch page.
struct AssignCell
{
    int row, column;
    const char* label;
    TovarekMk2ParamID id;
};
constexpr std::array<AssignCell, 16> kAssignCells { {
    { 0, 0, "GTE", kParamFootswitchAGate },
    { 0, 1, "CMP", kParamFootswitchAComp },
    { 0, 2, "BST", kParamFootswitchABoost },
    { 0, 3, "AMP", kParamFootswitchAAmp },
    { 0, 4, "EQ", kParamFootswitchAEq },
    { 0, 5, "ECO", kParamFootswitchAEcho },
    { 0, 6, "REV", kParamFootswitchAReverb },
    { 0, 7, "CAB", kParamFootswitchACab },
    { 1, 0, nullptr, kParamFootswitchBGate },
    { 1, 1, nullptr, kParamFootswitchBComp },
    { 1, 2, nullptr, kParamFootswitchBBoost },
    { 1, 3, nullptr, kParamFootswitchBAmp },
    { 1, 4, nullptr, kParamFootswitchBEq },
    { 1, 5, nullptr, kParamFootswitchBEcho },
    { 1, 6, nullptr, kParamFootswitchBReverb },
    { 1, 7, nullptr, kParamFootswitchBCab },
} };
constexpr Bounds kFootswitchTitleBounds { 101, 18, 350, 32 };
constexpr int kAssignColumnStep = 70, kAssignRowStep = 40;
constexpr int kAssignLabelX = 2, kAssignLabelY = 57, kAssignLabelSize = 56;
constexpr int kAssignStateX = 14, kAssignStateY = 116, kAssignStateSize = 32;
constexpr uint32_t kAssignStateTextColours[3] = { 0xff9b9b9b, 0xff222222, 0xff9b9b9b };

struct LegendItem
{
    int iconX, iconY, imageId, textX, textY;
    const char* text;
};
// Main-component coordinates: the page's own plus its place.
constexpr int kPageX = kPanelArea.x, kPageY = kPanelArea.y;
constexpr std::array<LegendItem, 3> kLegendItems { {
    { 96 + kPageX,  200 + kPageY, kImageNotAssigned, 30 + kPageX,  236 + kPageY, "NOT ASSIGNED" },
    { 260 + kPageX, 200 + kPageY, kImageAssigned,    194 + kPageX, 236 + kPageY, "ASSIGNED" },
    { 423 + kPageX, 200 + kPageY, kImageInvert,      357 + kPageX, 236 + kPageY, "INVERT" },
} };
constexpr int kLegendIconSize = 32, kLegendTextWidth = 164, kLegendTextHeight = 32;

constexpr float kAboutTextHeight = 24.0f;
constexpr float kPageTitleHeight = 30.0f;
constexpr float kLegendFontHeight = 24.0f;

constexpr float kOverlayTitleHeight = 26.0f;
constexpr float kOverlayMessageHeight = 20.0f;

void place (juce::Component& component, Bounds bounds)
{
    component.setBounds (bounds.x, bounds.y, bounds.width, bounds.height);
}

} // namespace

MainComponent::MainComponent (juce::PropertiesFile* settings, Service* service)
    : _settings (settings), _service (service)
{
    TovarekMk2::parseAllStockAmps();

    buildPages();

    auto overlay = std::make_unique<OverlayComponent>();
    overlay->_titleFontHeight = kOverlayTitleHeight;
    overlay->_messageFontHeight = kOverlayMessageHeight;
    overlay->repaint();

    own (new StaticImage (getImageResource (kImageBody)), this, kDesignBounds);
    _tabHeader = own (new StaticImage (getImageResource (kImageGlobalTab)), this, kTabHeaderBounds);
    _dragBar = own (new DragBar(), this, kDragBarBounds);

    _aboutText = own (new SimpleLabel (""), this, kPanelArea);
    setTextStyle (*_aboutText, kCaptionColour, kAboutTextHeight);

    _footswitchPage = own (new juce::Component(), nullptr, kPanelArea);

    _footswitchesTab = own (new SimpleTextButton (""), this, kFootswitchesTabBounds);
    _globalTab = own (new SimpleTextButton (""), this, kGlobalTabBounds);
    _aboutTab = own (new SimpleTextButton (""), this, kAboutTabBounds);

    _pageMode = kPanelPage;
    applyPageMode();
    _aboutTab->_clickCallback = [this] { toggleAboutPage(); };

    buildTopBarAndMainPage();

    addAndMakeVisible (_viewport);
    addAndMakeVisible (_footswitchPage);

    _globalTab->_clickCallback = [this] { showGlobalPage(); };
    _footswitchesTab->_clickCallback = [this] { showFootswitchPage(); };
    buildBlockStrip();
    bindBlockLayoutParameters();
    buildFootswitchPage();

    _overlay = own (overlay.release(), this, kDesignBounds);
    stackControls();

    _refreshCallback = [this] { refreshFromService(); };
    dataRefreshed = [this] { onDataRefreshed(); };
    stateChanged = [this] (State state) { onStateChanged (state); };
    parameterValueChanged = [this] (TovarekMk2ParamID id, const ParameterValue& value) {
        onParameterValueChanged (id, value);
    };

    setSize (kDesignWidth, kDesignHeight);
    showFXPanel (ParamMap::AMP);

    dataRefreshed();
    if (_service != nullptr)
        _service->addListener (this);
}

MainComponent::~MainComponent()
{
    // First, so that no listener call meets a control being deleted.
    if (_service != nullptr)
        _service->removeListener (this);
    TovarekMk2::freeAllStockAmps();

    // The panel's bindings point at its controls: they go before the controls do.
    _fxPanelBindings.clear();
    _parameterBindings.clear();
}

void MainComponent::paint (juce::Graphics&)
{
}

void MainComponent::resized()
{
}

void MainComponent::ownComponent (juce::Component* component, juce::Component* parent, Bounds bounds)
{
    place (*component, bounds);
    _ownedComponents.add (component);
    if (parent != nullptr)
        parent->addAndMakeVisible (component);
}

void MainComponent::ownPanelComponent (juce::Component* component, Bounds bounds)
{
    place (*component, bounds);
    _fxPanelComponents.add (component);
    _fxPanelContent->addAndMakeVisible (component);
}

void MainComponent::buildPages()
{
    _fxPanelContent = own (new juce::Component(), nullptr, { 0, 0, kPanelArea.width, kPanelArea.height });

    auto viewport = std::make_unique<juce::Viewport> (juce::String());
    // Vertical scrolling only; the bar shows when the panel is taller than the viewport.
    viewport->setScrollBarsShown (true, false, true, false);
    viewport->setScrollBarThickness (kViewportScrollBarThickness);
    viewport->setViewedComponent (_fxPanelContent, false);
    viewport->getVerticalScrollBar().setColour (juce::ScrollBar::thumbColourId, juce::Colour (kViewportThumbColour));
    _viewport = own (viewport.release(), nullptr, kViewportBounds);
}

void MainComponent::buildTopBarAndMainPage()
{
    _listButton = addImageButton (kListBounds.x, kListBounds.y, kListBounds.width, kListBounds.height, kImageListOff,
                                  kImageListOn, [this] { showFileMenu(); });
    _saveButton = addImageButton (kSaveBounds.x, kSaveBounds.y, kSaveBounds.width, kSaveBounds.height, kImageSaveOff,
                                  kImageSaveOn, [this] { saveCurrentPresetClicked(); });
    _maximiseButton = addImageButton (kMaximiseBounds.x, kMaximiseBounds.y, kMaximiseBounds.width,
                                      kMaximiseBounds.height, kImageMaximizeOff, kImageMaximizeOn,
                                      [this] { maximiseClicked(); });
    _minimiseButton = addImageButton (kMinimiseBounds.x, kMinimiseBounds.y, kMinimiseBounds.width,
                                      kMinimiseBounds.height, kImageMinimizeOff, kImageMinimizeOn,
                                      [this] { minimiseClicked(); });
    _closeButton = addImageButton (kCloseBounds.x, kCloseBounds.y, kCloseBounds.width, kCloseBounds.height,
                                   kImageCloseOff, kImageCloseOn, [this] { closeClicked(); });

    for (const auto& knob : kMainKnobs)
        addKnob (knob.column, knob.row, knob.id);

    _ampSwitch = addThreeWaySwitch (0, true);
    _cabinetSwitch = addThreeWaySwitch (1, true);
    _presetSwitch = addThreeWaySwitch (2, false);
    _ampSwitch->_positionCallback = [this] (int position) { replaceAmpSlot (position); };
    _cabinetSwitch->_positionCallback = [this] (int position) { replaceCabinetSlot (position); };
    _presetSwitch->_positionCallback = [this] (int position) { selectPreset (position); };

    own (new StaticImage (getImageResource (kImageFXRedLine)), this, kRedLineBounds);
}

void MainComponent::buildBlockStrip()
{
    for (const auto& style : kBlockButtonStyles)
        addFXBlockButton (style.block, style.label, style.hue, style.saturation);
}

void MainComponent::bindBlockLayoutParameters()
{
    for (const auto id : kBlockLayoutParameters)
        addBinding (_parameterBindings, id, [this] (const ParameterValue& value) { onBlockLayoutParameterChanged (value); });
}

void MainComponent::buildFootswitchPage()
{
    auto* title = own (new SimpleLabel ("FOOTSWITCH ASSIGN"), _footswitchPage, kFootswitchTitleBounds);
    setTextStyle (*title, kLightTextColour, kPageTitleHeight);
    title->_justification = juce::Justification (kCentred);

    for (const auto& cell : kAssignCells)
        addFootswitchAssignButton (cell.row, cell.column, cell.label, cell.id);

    for (const auto& item : kLegendItems)
        addLegendItem (item.iconX, item.iconY, item.imageId, item.textX, item.textY, item.text);
}

void MainComponent::stackControls()
{
    // Front to back: the about text, List, the tabs, Save, the window buttons, the drag bar, the
    // overlay, then the rest; so the top bar, the tabs and the file menu stay usable under the overlay.
    for (auto* component : std::initializer_list<juce::Component*> { _overlay, _dragBar, _closeButton, _minimiseButton,
                                                                      _maximiseButton, _saveButton, _aboutTab,
                                                                      _footswitchesTab, _globalTab, _listButton,
                                                                      _aboutText })
        component->toFront (false);
}

SimpleImageButton* MainComponent::addImageButton (int x, int y, int width, int height, int offImageId, int onImageId,
                                                  std::function<void()> click)
{
    auto* button = own (new SimpleImageButton (getImageResource (static_cast<unsigned> (offImageId)),
                                               getImageResource (static_cast<unsigned> (onImageId))),
                        this, { x, y, width, height });
    button->_clickCallback = std::move (click);
    return button;
}

MultiToggleSwitch* MainComponent::addThreeWaySwitch (int index, bool alwaysNotify)
{
    std::vector<MultiToggleSwitch::Position> positions { { getImageResource (kImageSwitchUp), 1.0f },
                                                         { getImageResource (kImageSwitchCenter), 1.0f },
                                                         { getImageResource (kImageSwitchDown), 1.0f } };
    auto* toggle = own (new MultiToggleSwitch (std::move (positions)), this,
                        { index * kSwitchStep + kSwitchOffset, kSwitchY, kSwitchWidth, kSwitchHeight });
    toggle->_alwaysNotify = alwaysNotify;
    return toggle;
}

SimpleImageButton* MainComponent::addFXBlockButton (BlockID block, const char* label, float hue, float saturation)
{
    const auto onImage = tintImage (getImageResource (kImageFXBlockOn),
                                    juce::Colour (hue, saturation, kBlockOnBrightness, 1.0f));
    auto* button = new SimpleImageButton (getImageResource (kImageFXBlockOff), onImage);
    button->_highlightWhilePressed = false;
    button->_text = label;
    setTextStyle (*button, juce::Colour (kBlockOffTextColour), juce::Colour (kBlockOnTextColour),
                  kBlockTextHeight, true);
    button->_clickCallback = [this, block] { showFXPanel (static_cast<int> (block)); };
    button->_doubleClickCallback = [this, block] { toggleBlockEnabled (block); };
    own (button, this, { kStripX, kStripY, kStripButtonSize, kStripButtonSize });
    _blockButtons[block] = button;
    return button;
}

void MainComponent::addFootswitchAssignButton (int row, int column, const char* label, TovarekMk2ParamID id)
{
    // The cells are laid out in main-component coordinates and placed on the page.
    const int pageX = _footswitchPage->getX();
    const int pageY = _footswitchPage->getY();
    const int cellX = kPanelArea.x + column * kAssignColumnStep;
    const int cellY = kPanelArea.y + row * kAssignRowStep;

    if (label != nullptr)
    {
        auto* blockLabel = own (new SimpleImageButton (getImageResource (kImageFXBlockOff),
                                                       getImageResource (kImageFXBlockOn)),
                                _footswitchPage,
                                { cellX + kAssignLabelX - pageX, cellY + kAssignLabelY - pageY, kAssignLabelSize,
                                  kAssignLabelSize });
        blockLabel->_text = label;
        setTextStyle (*blockLabel, juce::Colour (kBlockOffTextColour), juce::Colour (kBlockOnTextColour),
                      kBlockTextHeight, true);
    }

    auto* state = own (new MultiImageButton ({ getImageResource (kImageNotAssigned), getImageResource (kImageAssigned),
                                               getImageResource (kImageInvert) }),
                       _footswitchPage,
                       { cellX + kAssignStateX - pageX, cellY + kAssignStateY - pageY, kAssignStateSize,
                         kAssignStateSize });
    state->_text = row == 0 ? "A" : "B";
    for (int i = 0; i < 3; ++i)
        state->setStateValue (i, juce::Colour (kAssignStateTextColours[i]));
    state->_font = juce::Font (kBlockTextHeight, juce::Font::bold);
    state->_clickCallback = [this, id] { cycleFootswitchAssignment (id); };
    addBinding (_parameterBindings, id, [state] (const ParameterValue& value) { showAssignmentState (*state, value); });
}

void MainComponent::addLegendItem (int iconX, int iconY, int imageId, int textX, int textY, const char* text)
{
    own (new StaticImage (getImageResource (static_cast<unsigned> (imageId))), _footswitchPage,
         { iconX - kPanelArea.x, iconY - kPanelArea.y, kLegendIconSize, kLegendIconSize });
    auto* label = own (new SimpleLabel (text), _footswitchPage,
                       { textX - kPanelArea.x, textY - kPanelArea.y, kLegendTextWidth, kLegendTextHeight });
    setTextStyle (*label, kLightTextColour, kLegendFontHeight);
    label->_justification = juce::Justification (kCentred);
}

juce::Image MainComponent::tintImage (const juce::Image& image, juce::Colour colour)
{
    juce::Image tinted = image.createCopy();
    if (! tinted.isValid() || tinted.getHeight() == 0)
        return tinted;

    const float red = colour.getFloatRed(), green = colour.getFloatGreen(), blue = colour.getFloatBlue();
    const float alpha = colour.getFloatAlpha();
    juce::Image::BitmapData pixels (tinted, juce::Image::BitmapData::readWrite);
    for (int y = 0; y < pixels.height; ++y)
        for (int x = 0; x < pixels.width; ++x)
        {
            const auto p = pixels.getPixelColour (x, y);
            pixels.setPixelColour (x, y,
                                   juce::Colour::fromFloatRGBA (p.getFloatRed() * red, p.getFloatGreen() * green,
                                                                p.getFloatBlue() * blue, p.getFloatAlpha() * alpha));
        }
    return tinted;
}

juce::Justification MainComponent::justificationForCell (int column, int row)
{
    // Left, centred and right across; top, middle and bottom down.
    static constexpr int kCells[9] = { 9, 12, 10, 33, 36, 34, 17, 20, 18 };
    const int index = column + 3 * row + 4;
    if (index < 0 || index > 8)
        return juce::Justification (kCentred);
    return juce::Justification (kCells[index]);
}

void MainComponent::applyPageMode()
{
    const int header = _pageMode == kAboutPage ? kImageAboutTab
                       : _pageMode == kFootswitchPage ? kImageFootswitchesTab
                                                      : kImageGlobalTab;
    _tabHeader->_image = getImageResource (static_cast<unsigned> (header));
    _tabHeader->repaint();

    _viewport->setVisible (_pageMode == kPanelPage);
    _footswitchPage->setVisible (_pageMode == kFootswitchPage);
    _aboutText->setVisible (_pageMode == kAboutPage);

    updateTabButtons();
}

void MainComponent::updateTabButtons()
{
    _globalTab->_selected = _fxPanelBlock == kGlobalSettingsBlock && _pageMode == kPanelPage;
    _globalTab->repaint();
    _footswitchesTab->_selected = _pageMode == kFootswitchPage;
    _footswitchesTab->repaint();
    _aboutTab->_selected = _pageMode == kAboutPage;
    _aboutTab->repaint();
}
