#include "MainComponent.h"

#include "FXPanelLayouts.h"
#include "ImageResourcePack.h"
#include "MainComponentStyle.h"
#include "Widgets.h"

#include <algorithm>
#include <cmath>
#include <limits>

using namespace MainComponentStyle;

namespace
{
using ParamMap = TovarekMk2::TovarekMk2ParamMap;
namespace Layouts = TovarekMk2::FXPanelLayouts;

// Main-page knobs.
constexpr int kKnobColumnStep = 149, kKnobColumnOffset = 21;
constexpr int kKnobRowStep = 185, kKnobRowOffset = 80;
constexpr int kKnobSize = 136;

// A panel column is 141 pixels wide.
constexpr double kPanelColumnWidth = 141.0;

constexpr uint32_t kOptionOffColour = 0xff464646;
constexpr uint32_t kOptionOnColour = 0xffffffff;
constexpr float kCaptionHeight = 24.0f;
constexpr float kHeadlineHeight = 30.0f;
constexpr float kValueTextHeight = 18.0f;
constexpr float kReadoutTextHeight = 24.0f;
constexpr float kOptionTextHeight = 28.0f;

constexpr int kCentredTop = 12;
constexpr int kRightCentred = 34;

// Item heights by kind.
constexpr int kKnobItemHeight = 176;
constexpr int kReadoutItemHeight = 56;
constexpr int kHeaderItemHeight = 38;
constexpr int kInlineSwitchItemHeight = 61;

// The two-way switch buttons, in main-component coordinates relative to the panel's origin.
struct SwitchStyle
{
    int captionColumn, captionRow; // justificationForCell
    uint32_t captionColour;
    float captionHeight;
    Bounds button0, button1;
    int height;
};
constexpr SwitchStyle kSwitchStyle { 0, -1, kCaptionColour, kCaptionHeight, { 28, 586, 142, 38 }, { 28, 628, 142, 38 },
                                     kKnobItemHeight };
constexpr SwitchStyle kInlineSwitchStyle { 0, 0, kLightTextColour, kHeadlineHeight, { 35, 555, 64, 52 },
                                           { 99, 555, 64, 52 }, kInlineSwitchItemHeight };

SimpleLabel* makeLabel (const char* text, uint32_t colour, float height, int justification)
{
    auto* label = new SimpleLabel (text != nullptr ? text : "");
    setTextStyle (*label, colour, height);
    label->_justification = juce::Justification (justification);
    return label;
}

// A device value as a whole number, for comparisons of option values.
bool sameWholeNumber (double a, double b)
{
    return std::trunc (a) == std::trunc (b);
}

MainComponent::ParameterValue sentValue (double value)
{
    // Every computed value goes out tagged as an integer; the service uses only the number.
    return { ParamMap::kInteger, value };
}
} // namespace

void MainComponent::addBinding (BindingMap& bindings, TovarekMk2ParamID id, Binding binding)
{
    const auto entry = bindings.emplace (id, std::move (binding));
    entry->second (currentValue (id));
}

MainComponent::ParameterValue MainComponent::currentValue (TovarekMk2ParamID id) const
{
    ParameterValue value;
    if (_service != nullptr)
        _service->getParameterValue (id, value);
    return value;
}

MainComponent::ParameterInfo MainComponent::infoFor (TovarekMk2ParamID id) const
{
    ParameterInfo info;
    if (_service == nullptr || ! _service->getParameterInfo (id, info).ok)
        return {};
    return info;
}

FilmStripKnob* MainComponent::addKnob (int column, int row, TovarekMk2ParamID id)
{
    auto* knob = own (new FilmStripKnob(), this,
                      { column * kKnobColumnStep + kKnobColumnOffset, row * kKnobRowStep + kKnobRowOffset, kKnobSize,
                        kKnobSize });
    knob->_dragSensitivity = kKnobDragSensitivity;
    knob->_fineDragSensitivity = kKnobFineDragSensitivity;
    knob->_minValue = 0.0;
    knob->_maxValue = 1.0;
    knob->setFilmStrip (getImageResource (kImageLargeDialFilm), 1, kDialFilmFrameCount, -1);

    const auto info = infoFor (id);
    knob->_valueCallback = [this, id, info] (double position) { knobPositionToValue (id, info, position); };
    knob->_doubleClickCallback = [this, id, info] { setParameter (id, info.defaultValue); };
    addBinding (_parameterBindings, id,
                [knob, info] (const ParameterValue& value) { valueToKnobPosition (*knob, info, value); });
    return knob;
}

void MainComponent::knobPositionToValue (TovarekMk2ParamID id, const ParameterInfo& info, double position)
{
    setParameter (id, sentValue (TovarekMk2::knobPositionToValue (info, position)));
}

void MainComponent::valueToKnobPosition (FilmStripKnob& knob, const ParameterInfo& info, const ParameterValue& value)
{
    knob.setValue (TovarekMk2::valueToKnobPosition (info, value.value));
}

void MainComponent::formatValueText (SimpleEditLabel& label, const ParameterInfo& info, const ParameterValue& value)
{
    const auto text = juce::String (TovarekMk2::formatValueText (info, value.value));
    label._lastAcceptedText = text;
    label.setText (text, juce::dontSendNotification);
}

bool MainComponent::parseValueText (TovarekMk2ParamID id, const ParameterInfo& info, const juce::String& text)
{
    return setParameter (id, sentValue (TovarekMk2::valueFromShownNumber (info, text.getDoubleValue())));
}

void MainComponent::toggleBlockEnabled (BlockID block)
{
    if (static_cast<uint32_t> (block) >= ParamMap::kBlockCount)
        return;
    const auto id = TovarekMk2::getBlockEnableParameter (block);
    // A NaN counts as on, like the block strip shows it.
    setParameter (id, sentValue (currentValue (id).value == 0.0 ? 1.0 : 0.0));
}

void MainComponent::cycleFootswitchAssignment (TovarekMk2ParamID id)
{
    // Not assigned -> assigned -> invert -> not assigned, counting on from the value modulo 3. A
    // negative value or one that is no number starts the cycle again rather than sending a state
    // the unit does not know.
    const double current = std::trunc (currentValue (id).value);
    const double next = (std::isfinite (current) && current >= 0.0) ? std::fmod (current + 1.0, 3.0) : 0.0;
    setParameter (id, sentValue (next));
}

void MainComponent::showAssignmentState (MultiImageButton& button, const ParameterValue& value)
{
    const double state = std::trunc (value.value);
    // Anything that is no state index shows no image.
    button._currentState = (state >= 0.0 && state <= std::numeric_limits<int32_t>::max()) ? static_cast<int32_t> (state)
                                                                                          : -1;
    button.repaint();
}

void MainComponent::stepOption (TovarekMk2ParamID id, const ParameterInfo& info, int step)
{
    setParameter (id, sentValue (TovarekMk2::stepOptionValue (info, currentValue (id).value, step)));
}

void MainComponent::chooseOption (TovarekMk2ParamID id, const ParameterInfo& info)
{
    juce::PopupMenu menu;
    for (size_t i = 0; i < info.options.size(); ++i)
        menu.addItem (static_cast<int> (i) + 1, juce::String (info.options[i].name), true, false);

    const int chosen = _runMenu ? _runMenu (menu) : 0;
    if (chosen > 0 && static_cast<size_t> (chosen) <= info.options.size())
        setParameter (id, info.options[static_cast<size_t> (chosen) - 1].value);
}

void MainComponent::showOptionName (SimpleImageButton& readout, const ParameterInfo& info, const ParameterValue& value)
{
    const auto* option = TovarekMk2::findOptionForValue (info, value.value);
    readout._text = option != nullptr ? juce::String (option->name) : juce::String();
    readout.repaint();
}

void MainComponent::selectSwitchOption (TovarekMk2ParamID id, double optionValue)
{
    setParameter (id, sentValue (std::trunc (optionValue)));
}

void MainComponent::showSwitchOption (SimpleLabel& button0, SimpleLabel& button1, double option0Value,
                                      double option1Value, const ParameterValue& value)
{
    button0._selected = sameWholeNumber (value.value, option0Value);
    button0.repaint();
    button1._selected = sameWholeNumber (value.value, option1Value);
    button1.repaint();
}

void MainComponent::showFXPanel (int block)
{
    _pageMode = kPanelPage;
    // The tab flags still follow the panel shown before; the refresh at the end sets them anew.
    applyPageMode();

    // Bindings first: they point at the controls deleted next.
    _ampNameLabel = nullptr;
    _cabNameLabel = nullptr;
    _fxPanelBindings.clear();
    _fxPanelContent->removeAllChildren();
    _fxPanelComponents.clear (true);

    _fxPanelBlock = block;

    const auto* layout = block < 0 ? nullptr : Layouts::getLayout (static_cast<uint32_t> (block));
    if (layout == nullptr)
        return;

    int rowTop = 0;
    for (const auto& row : *layout)
    {
        int bottom = rowTop;
        double column = 0.0;
        for (const auto& item : row)
        {
            const auto info = infoFor (item.paramId);
            const int x = static_cast<int> (column * kPanelColumnWidth);
            const int y = rowTop;
            const auto id = item.paramId;

            switch (item.kind)
            {
                case Layouts::Knob:
                    addFXKnobItem (id, info, item.label, x, y);
                    bottom = std::max (bottom, y + kKnobItemHeight);
                    break;

                case Layouts::Choice:
                {
                    // A choice starts one column to the left of its position, its caption in that column.
                    auto* readout = createFXItemControl (static_cast<int> ((column - 1.0) * kPanelColumnWidth), y,
                                                         bottom, item.label,
                                                         [this, id, info] (int step) { stepOption (id, info, step); });
                    readout->_clickCallback = [this, id, info] { chooseOption (id, info); };
                    addBinding (_fxPanelBindings, id, [readout, info] (const ParameterValue& value) {
                        showOptionName (*readout, info, value);
                    });
                    break;
                }

                case Layouts::Header:
                    ownPanelControl (makeLabel (item.label, kLightTextColour, kHeadlineHeight, kCentred),
                                     { 0, y + 9, kPanelArea.width, kHeaderItemHeight });
                    bottom = std::max (bottom, y + kHeaderItemHeight);
                    break;

                case Layouts::Switch:
                case Layouts::InlineSwitch:
                {
                    const bool inlineSwitch = item.kind == Layouts::InlineSwitch;
                    addFXSwitchItem (id, inlineSwitch, item.label, x, y, item.option0Label, item.option0Value,
                                     item.option1Label, item.option1Value);
                    bottom = std::max (bottom, y + (inlineSwitch ? kInlineSwitchStyle : kSwitchStyle).height);
                    break;
                }

                case Layouts::AmpModelRow:
                    _ampNameLabel = createFXItemControl (0, y, bottom, nullptr, {});
                    _ampNameLabel->_clickCallback = [this] { chooseStockAmp(); };
                    break;

                case Layouts::CabinetRow:
                    _cabNameLabel = createFXItemControl (0, y, bottom, nullptr, {});
                    _cabNameLabel->_clickCallback = [this] { importCabinetToEditBuffer(); };
                    break;

                default: // a spacer, or a kind this editor does not know: only advances
                    break;
            }
            column += item.width;
        }
        rowTop = bottom;
    }

    // Taller than the viewport: it scrolls.
    _fxPanelContent->setBounds (0, 0, _fxPanelContent->getWidth(), rowTop);

    dataRefreshed();
}

void MainComponent::addFXKnobItem (TovarekMk2ParamID id, const ParameterInfo& info, const char* label, int x, int y)
{
    ownPanelControl (makeLabel (label, kCaptionColour, kCaptionHeight, kCentredTop), { x - 11, y + 147, 148, 52 });

    auto* knob = ownPanelControl (new FilmStripKnob(), { x - 6, y + 9, 146, 156 });
    knob->_dragSensitivity = kKnobDragSensitivity;
    knob->_fineDragSensitivity = kKnobFineDragSensitivity;
    knob->_minValue = 0.0;
    knob->_maxValue = 1.0;
    knob->setFilmStrip (getImageResource (kImageFXDialFilm), 1, kDialFilmFrameCount, -1);
    knob->_valueCallback = [this, id, info] (double position) { knobPositionToValue (id, info, position); };
    knob->_doubleClickCallback = [this, id, info] { setParameter (id, info.defaultValue); };

    auto* readout = ownPanelControl (new SimpleEditLabel(), { x + 9, y + 120, 108, 32 });
    readout->setJustificationType (juce::Justification (kCentred));
    readout->setColours (juce::Colour (kCaptionColour));
    readout->setFont (juce::Font (kValueTextHeight, juce::Font::plain));
    readout->_validator = [this, id, info] (const juce::String& text) { return parseValueText (id, info, text); };

    addBinding (_fxPanelBindings, id, [knob, readout, info] (const ParameterValue& value) {
        valueToKnobPosition (*knob, info, value);
        formatValueText (*readout, info, value);
    });
}

void MainComponent::addFXSwitchItem (TovarekMk2ParamID id, bool inlineSwitch, const char* label, int x, int y,
                                     const char* option0Label, double option0Value, const char* option1Label,
                                     double option1Value)
{
    const auto& style = inlineSwitch ? kInlineSwitchStyle : kSwitchStyle;

    if (label != nullptr)
    {
        auto* caption = ownPanelControl (makeLabel (label, style.captionColour, style.captionHeight, kCentred),
                                         { x - 11, y + 147, 148, 52 });
        caption->_justification = justificationForCell (style.captionColumn, style.captionRow);
    }

    const auto buttonBounds = [x, y] (Bounds b) { return Bounds { x + b.x - kPanelArea.x, y + b.y - kPanelArea.y, b.width, b.height }; };
    auto* button0 = ownPanelControl (new SimpleLabel (option0Label != nullptr ? option0Label : ""),
                                     buttonBounds (style.button0));
    auto* button1 = ownPanelControl (new SimpleLabel (option1Label != nullptr ? option1Label : ""),
                                     buttonBounds (style.button1));
    for (auto* button : { button0, button1 })
        setTextStyle (*button, juce::Colour (kOptionOffColour), juce::Colour (kOptionOnColour), kOptionTextHeight);

    button0->_clickCallback = [this, id, option0Value] { selectSwitchOption (id, option0Value); };
    button1->_clickCallback = [this, id, option1Value] { selectSwitchOption (id, option1Value); };
    addBinding (_fxPanelBindings, id, [button0, button1, option0Value, option1Value] (const ParameterValue& value) {
        showSwitchOption (*button0, *button1, option0Value, option1Value, value);
    });
}

SimpleImageButton* MainComponent::createFXItemControl (int x, int y, int& bottom, const char* caption,
                                                       std::function<void (int)> step)
{
    auto* readout = ownPanelControl (new SimpleImageButton (getImageResource (kImageFXReadout)),
                                     { x + 136, y + 9, 274, 52 });
    setTextStyle (*readout, kLightTextColour, kReadoutTextHeight);

    if (caption != nullptr)
        ownPanelControl (makeLabel (caption, kCaptionColour, kCaptionHeight, kRightCentred), { x + 6, y + 9, 126, 52 });

    if (step)
    {
        auto* left = ownPanelControl (new SimpleImageButton (getImageResource (kImageReadoutArrowLeftOff),
                                                             getImageResource (kImageReadoutArrowLeftOn)),
                                      { x + 358, y + 22, 20, 26 });
        left->_clickCallback = [step] { step (-1); };
        auto* right = ownPanelControl (new SimpleImageButton (getImageResource (kImageReadoutArrowRightOff),
                                                              getImageResource (kImageReadoutArrowRightOn)),
                                       { x + 381, y + 22, 20, 26 });
        right->_clickCallback = [step] { step (1); };
    }

    bottom = std::max (bottom, y + kReadoutItemHeight);
    return readout;
}
