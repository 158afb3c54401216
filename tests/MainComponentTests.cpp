#include "MainComponent.h"

#include "FXPanelLayouts.h"
#include "GuiTestEnvironment.h"
#include "ImageResourcePack.h"
#include "LoaderImage.h"
#include "OverlayComponent.h"
#include "StockAmpTable.h"
#include "UnitConnection.h"
#include "Widgets.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Service = TovarekMk2::TovarekMk2EditorService;
using ParamMap = TovarekMk2::TovarekMk2ParamMap;

// The tests' view of the main component's controls.
class MainComponentInspector
{
public:
    explicit MainComponentInspector (MainComponent& main) : _main (main) {}

    template <typename Type>
    std::vector<Type*> owned() const
    {
        std::vector<Type*> found;
        for (auto* component : _main._ownedComponents)
            if (auto* typed = dynamic_cast<Type*> (component))
                found.push_back (typed);
        return found;
    }

    template <typename Type>
    std::vector<Type*> panelControls() const
    {
        std::vector<Type*> found;
        for (auto* component : _main._fxPanelComponents)
            if (auto* typed = dynamic_cast<Type*> (component))
                found.push_back (typed);
        return found;
    }

    std::vector<FilmStripKnob*> mainKnobs() const { return owned<FilmStripKnob>(); }
    SimpleImageButton& blockButton (ParamMap::BlockID block) const { return *_main._blockButtons.at (block); }
    OverlayComponent& overlay() const { return *_main._overlay; }
    SimpleLabel& aboutText() const { return *_main._aboutText; }
    SimpleTextButton& globalTab() const { return *_main._globalTab; }
    SimpleTextButton& footswitchesTab() const { return *_main._footswitchesTab; }
    SimpleTextButton& aboutTab() const { return *_main._aboutTab; }
    SimpleImageButton& listButton() const { return *_main._listButton; }
    SimpleImageButton& saveButton() const { return *_main._saveButton; }
    SimpleImageButton& closeButton() const { return *_main._closeButton; }
    SimpleImageButton& maximiseButton() const { return *_main._maximiseButton; }
    SimpleImageButton& minimiseButton() const { return *_main._minimiseButton; }
    StaticImage& tabHeader() const { return *_main._tabHeader; }
    MultiToggleSwitch& ampSwitch() const { return *_main._ampSwitch; }
    MultiToggleSwitch& cabinetSwitch() const { return *_main._cabinetSwitch; }
    MultiToggleSwitch& presetSwitch() const { return *_main._presetSwitch; }
    juce::Viewport& viewport() const { return *_main._viewport; }
    juce::Component& panelContent() const { return *_main._fxPanelContent; }
    juce::Component& footswitchPage() const { return *_main._footswitchPage; }
    DragBar& dragBar() const { return *_main._dragBar; }
    SimpleImageButton* ampNameLabel() const { return _main._ampNameLabel; }
    int fxPanelBlock() const { return _main._fxPanelBlock; }
    int pageMode() const { return _main._pageMode; }
    size_t panelBindingCount() const { return _main._fxPanelBindings.size(); }
    size_t bindingCount (TovarekMk2ParamID id) const { return _main._parameterBindings.count (id); }

    void showFXPanel (int block) { _main.showFXPanel (block); }
    void answerMenus (std::function<int (juce::PopupMenu&)> answer) { _main._runMenu = std::move (answer); }
    void addBinding (TovarekMk2ParamID id, MainComponent::Binding binding)
    {
        _main._parameterBindings.emplace (id, std::move (binding));
    }

    std::vector<MultiImageButton*> assignmentButtons() const { return owned<MultiImageButton>(); }

private:
    MainComponent& _main;
};

namespace
{
const auto* const guiEnvironment = testing::AddGlobalTestEnvironment (new GuiTestEnvironment);

// An alert window leaves allocations that only libX11's own data points to. The framework unloads
// libX11 at shut-down, and the leak checker would then count them as leaks: keep it loaded.
void* const keepX11Loaded = dlopen ("libX11.so.6", RTLD_NOW | RTLD_NODELETE);

constexpr auto kWait = 5000ms;

// Runs the message loop until the condition holds or the time is up.
bool pumpUntil (const std::function<bool()>& condition, std::chrono::milliseconds timeout = kWait)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (! condition())
    {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
    }
    return true;
}

// Lets every message posted so far run.
void pump()
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
}

Korvantal::KorvantalData::FirmwareVersionInfo applicationMinimum()
{
    Korvantal::KorvantalData::FirmwareVersionInfo minimum;
    minimum.dspVersion = { 4, 2, 0, 0 };
    return minimum;
}

Service::Timing fastTiming()
{
    Service::Timing timing;
    timing.settleDelay = 1ms;
    timing.reconnectPoll = 2ms;
    timing.readyWait = 1ms;
    return timing;
}

juce::Rectangle<int> rect (int x, int y, int w, int h)
{
    return { x, y, w, h };
}

// The unit's set-parameter packet: C7 08, the id as 32 bits and the value as a 32-bit float,
// both little-endian.
std::vector<uint8_t> setParameterPacket (uint32_t id, float value)
{
    uint32_t bits = 0;
    std::memcpy (&bits, &value, sizeof (bits));
    std::vector<uint8_t> packet { 0xC7, 0x08 };
    for (const uint32_t word : { id, bits })
        for (int shift = 0; shift < 32; shift += 8)
            packet.push_back (static_cast<uint8_t> (word >> shift));
    return packet;
}

std::vector<std::vector<uint8_t>> setParameterPackets (const SimUnit::SimulatedUnit& unit)
{
    std::vector<std::vector<uint8_t>> found;
    for (const auto& packet : unit.hostPackets())
        if (packet.size() >= 10 && packet[0] == 0xC7)
            found.emplace_back (packet.begin(), packet.begin() + 10);
    return found;
}

// The open alert windows, oldest first.
std::vector<juce::AlertWindow*> openAlerts()
{
    std::vector<juce::AlertWindow*> alerts;
    auto* modal = juce::ModalComponentManager::getInstance();
    for (int i = modal->getNumModalComponents(); --i >= 0;)
        if (auto* alert = dynamic_cast<juce::AlertWindow*> (modal->getModalComponent (i)))
            alerts.push_back (alert);
    return alerts;
}

void closeAlerts()
{
    for (auto* alert : openAlerts())
        alert->exitModalState (0);
    pumpUntil ([] { return openAlerts().empty(); });
}

// The editor without a unit: a service that was never connected.
struct DisconnectedEditor
{
    DisconnectedEditor() : service (nullptr), main (std::make_unique<MainComponent> (nullptr, &service)), view (*main)
    {
    }

    ~DisconnectedEditor()
    {
        main.reset();
        closeAlerts();
    }

    Service service;
    std::unique_ptr<MainComponent> main;
    MainComponentInspector view;
};

// The editor over a simulated unit, connected the way the application does it.
struct ConnectedEditor
{
    explicit ConnectedEditor (SimUnit::UnitOptions options = {})
        : connection (std::move (options)), minimum (applicationMinimum()), service (&minimum, fastTiming()),
          main (std::make_unique<MainComponent> (nullptr, &service)), view (*main)
    {
    }

    ~ConnectedEditor()
    {
        main.reset();
        closeAlerts();
        service.setProtocol (nullptr);
    }

    // Attaches the protocol and waits until the full refresh has ended and the main component
    // has shown it: the status request after the refresh is the last thing it sends.
    bool attach()
    {
        if (! connection.isConnected())
            return false;
        service.setProtocol (&connection.protocol());
        const auto statusRequested = [this] {
            for (const auto& packet : connection.unit().hostPackets())
                if (! packet.empty() && packet[0] == 0xCE)
                    return true;
            return false;
        };
        return pumpUntil ([&] { return statusRequested() && service.getState() == Service::Idle; })
               && connection.unit().waitUntilIdle (kWait) && pumpUntil ([this] { return ! view.overlay().isVisible(); });
    }

    SimUnit::SimulatedUnit& unit() { return connection.unit(); }

    // Runs the gesture and checks that it sent exactly one set-parameter packet, of id = value.
    testing::AssertionResult sends (const std::function<void()>& gesture, uint32_t id, float value)
    {
        unit().clearHostPackets();
        gesture();
        if (! unit().waitForHostPackets (1, kWait))
            return testing::AssertionFailure() << "nothing sent for " << id;
        const auto sent = setParameterPackets (unit());
        if (sent != std::vector<std::vector<uint8_t>> { setParameterPacket (id, value) })
            return testing::AssertionFailure() << testing::PrintToString (sent) << " sent, not " << id << " = " << value;
        return testing::AssertionSuccess();
    }

    SimUnit::UnitConnection connection;
    Korvantal::KorvantalData::FirmwareVersionInfo minimum;
    Service service;
    std::unique_ptr<MainComponent> main;
    MainComponentInspector view;
};
} // namespace

//==============================================================================
// Layout

namespace
{
std::vector<juce::Image> imagesOf (SimpleImageButton& button)
{
    return { button._offImage, button._onImage };
}

std::vector<juce::Image> imagesOf (MultiToggleSwitch& toggle)
{
    std::vector<juce::Image> images;
    for (const auto& position : toggle._positions)
        images.push_back (position.image);
    return images;
}

StaticImage& staticImageAt (MainComponentInspector& view, juce::Rectangle<int> bounds)
{
    for (auto* image : view.owned<StaticImage>())
        if (image->getBounds() == bounds)
            return *image;
    ADD_FAILURE() << "no picture at " << bounds.toString();
    static StaticImage none;
    return none;
}
} // namespace

TEST (MainComponentLayout, placesEachFixedControlWithTheImagesOfItsIds)
{
    DisconnectedEditor editor;
    auto& view = editor.view;
    EXPECT_EQ (editor.main->getBounds(), rect (0, 0, 624, 890));

    // The images: a button's off and on, a switch's up, centre and down, a picture's one.
    const struct { const char* name; juce::Component& control; juce::Rectangle<int> bounds;
                   std::vector<juce::Image> images; std::vector<unsigned> ids; } rows[] = {
        { "List", view.listButton(), rect (9, 16, 52, 20), imagesOf (view.listButton()), { 19, 20 } },
        { "Save", view.saveButton(), rect (272, 12, 80, 28), imagesOf (view.saveButton()), { 21, 22 } },
        { "Maximise", view.maximiseButton(), rect (493, 7, 36, 36), imagesOf (view.maximiseButton()), { 11, 12 } },
        { "Minimise", view.minimiseButton(), rect (537, 7, 36, 36), imagesOf (view.minimiseButton()), { 13, 14 } },
        { "Close", view.closeButton(), rect (581, 7, 36, 36), imagesOf (view.closeButton()), { 9, 10 } },
        { "amp switch", view.ampSwitch(), rect (142, 193, 40, 104), imagesOf (view.ampSwitch()), { 6, 7, 8 } },
        { "cabinet switch", view.cabinetSwitch(), rect (292, 193, 40, 104), imagesOf (view.cabinetSwitch()), { 6, 7, 8 } },
        { "preset switch", view.presetSwitch(), rect (442, 193, 40, 104), imagesOf (view.presetSwitch()), { 6, 7, 8 } },
        { "body", staticImageAt (view, rect (0, 0, 624, 890)), rect (0, 0, 624, 890),
          { staticImageAt (view, rect (0, 0, 624, 890))._image }, { 0 } },
        { "red line", staticImageAt (view, rect (29, 513, 566, 4)), rect (29, 513, 566, 4),
          { staticImageAt (view, rect (29, 513, 566, 4))._image }, { 26 } },
        { "tab header", view.tabHeader(), rect (26, 440, 572, 428), { view.tabHeader()._image }, { 1 } },
        { "drag bar", view.dragBar(), rect (0, 0, 624, 70), {}, {} },
        { "overlay", view.overlay(), rect (0, 0, 624, 890), {}, {} },
        { "viewport", view.viewport(), rect (36, 548, 562, 270), {}, {} },
        { "footswitch page", view.footswitchPage(), rect (36, 548, 551, 270), {}, {} },
        { "about text", view.aboutText(), rect (36, 548, 551, 270), {}, {} },
        { "Global tab", view.globalTab(), rect (30, 822, 192, 48), {}, {} },
        { "Footswitches tab", view.footswitchesTab(), rect (223, 822, 188, 48), {}, {} },
        { "About tab", view.aboutTab(), rect (412, 822, 186, 48), {}, {} },
    };
    for (const auto& row : rows)
    {
        EXPECT_EQ (row.control.getBounds(), row.bounds) << row.name;
        ASSERT_EQ (row.images.size(), row.ids.size()) << row.name;
        for (size_t i = 0; i < row.ids.size(); ++i)
            EXPECT_TRUE (isImageResource (row.images[i], row.ids[i])) << row.name;
    }

    // The knobs in creation order on their grid, with the large dial's film strip.
    const auto knobs = view.mainKnobs();
    ASSERT_EQ (knobs.size(), 8u);
    for (int i = 0; i < 8; ++i)
    {
        EXPECT_EQ (knobs[(size_t) i]->getBounds(), rect ((i % 4) * 149 + 21, (i / 4) * 185 + 80, 136, 136)) << i;
        EXPECT_TRUE (isImageResource (knobs[(size_t) i]->_filmStrip, 4)) << i;
    }
    EXPECT_TRUE (view.ampSwitch()._alwaysNotify);
    EXPECT_TRUE (view.cabinetSwitch()._alwaysNotify);
    EXPECT_FALSE (view.presetSwitch()._alwaysNotify);
    EXPECT_EQ (view.overlay()._titleFontHeight, 26.0f);
    EXPECT_EQ (view.overlay()._messageFontHeight, 20.0f);
}

TEST (MainComponentLayout, stacksTheTopBarAndTabsAboveTheOverlayAndTheRestBelowIt)
{
    DisconnectedEditor editor;
    auto& view = editor.view;
    auto& main = *editor.main;
    const auto index = [&] (juce::Component& c) { return main.getIndexOfChildComponent (&c); };

    // Front to back: about text, List, the tabs, Save, the window buttons, the drag bar, the overlay.
    EXPECT_EQ (index (view.aboutText()), main.getNumChildComponents() - 1);
    EXPECT_GT (index (view.aboutText()), index (view.listButton()));
    EXPECT_GT (index (view.listButton()), index (view.globalTab()));
    EXPECT_GT (index (view.globalTab()), index (view.footswitchesTab()));
    EXPECT_GT (index (view.aboutTab()), index (view.saveButton()));
    EXPECT_GT (index (view.saveButton()), index (view.closeButton()));
    EXPECT_GT (index (view.closeButton()), index (view.dragBar()));
    EXPECT_GT (index (view.dragBar()), index (view.overlay()));
    EXPECT_GT (index (view.overlay()), index (view.viewport()));
    EXPECT_GT (index (view.overlay()), index (*view.mainKnobs()[0]));
    EXPECT_GT (index (view.overlay()), index (view.blockButton (ParamMap::AMP)));
}

TEST (MainComponentLayout, startsOnTheAmpPanelWithDefaultsAndNoTabLitShowingNotConnected)
{
    DisconnectedEditor editor;
    auto& view = editor.view;
    // Before any refresh pass. The knobs in creation order: 117, 118, 119, 120, 115 and 116 at
    // their default 0.5 of 0 to 1; 224 and 214 at 1. The assignments' default is 0, not assigned.
    std::vector<double> positions;
    for (auto* knob : view.mainKnobs())
        positions.push_back (knob->_value);
    EXPECT_EQ (positions, (std::vector<double> { 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 1.0, 1.0 }));
    for (auto* button : view.assignmentButtons())
        EXPECT_EQ (button->_currentState, 0) << button->getBounds().toString();
    EXPECT_EQ (view.fxPanelBlock(), (int) ParamMap::AMP);
    EXPECT_EQ (view.pageMode(), 0);
    EXPECT_TRUE (view.viewport().isVisible());
    EXPECT_FALSE (view.footswitchPage().isVisible());
    EXPECT_FALSE (view.aboutText().isVisible());
    EXPECT_FALSE (view.globalTab()._selected);
    EXPECT_FALSE (view.footswitchesTab()._selected);
    EXPECT_FALSE (view.aboutTab()._selected);
    EXPECT_NE (view.ampNameLabel(), nullptr);

    pump();
    auto& overlay = view.overlay();
    EXPECT_TRUE (overlay.isVisible());
    EXPECT_EQ (overlay.getTitle(), "Not Connected");
    EXPECT_EQ (overlay.getMessage(), "");
    EXPECT_FALSE (overlay.getSpinner().isVisible());
    EXPECT_EQ (overlay.getProgress(), -1.0);
    EXPECT_EQ (view.aboutText()._text, "Editor Version: 4.2.0.0\nFirmware Version: (unknown)\n");
}

TEST (MainComponentLayout, parsesEveryStockAmpWhileItLivesAndFreesThemAfter)
{
    {
        DisconnectedEditor editor;
        for (const auto& row : TovarekMk2::StockAmpTable)
            EXPECT_NE (row.amp, nullptr) << row.displayName;
    }
    for (const auto& row : TovarekMk2::StockAmpTable)
        EXPECT_EQ (row.amp, nullptr) << row.displayName;
}

TEST (MainComponentLayout, laysTheFootswitchGridOutOnItsPage)
{
    DisconnectedEditor editor;
    const auto buttons = editor.view.assignmentButtons();
    ASSERT_EQ (buttons.size(), 16u);
    // Row 0 column 0, and row 1 column 7, in the page's own coordinates.
    EXPECT_EQ (buttons[0]->getBounds(), rect (14, 116, 32, 32));
    EXPECT_EQ (buttons[15]->getBounds(), rect (7 * 70 + 14, 40 + 116, 32, 32));
    EXPECT_EQ (buttons[0]->getParentComponent(), &editor.view.footswitchPage());
    EXPECT_EQ (buttons[0]->_text, "A");
    EXPECT_EQ (buttons[15]->_text, "B");
    for (auto* button : buttons) // not assigned, assigned, invert
        EXPECT_TRUE (isImageResource (button->_stateImages.at (0), 28) && isImageResource (button->_stateImages.at (1), 29)
                     && isImageResource (button->_stateImages.at (2), 30) && button->_stateImages.size() == 3)
            << button->getBounds().toString();
    // Row A's block labels, untinted.
    int labels = 0;
    for (auto* button : editor.view.owned<SimpleImageButton>())
        if (button->getParentComponent() == &editor.view.footswitchPage() && dynamic_cast<SimpleLabel*> (button) == nullptr)
        {
            ++labels;
            EXPECT_TRUE (isImageResource (button->_offImage, 23) && isImageResource (button->_onImage, 24)) << button->_text;
        }
    EXPECT_EQ (labels, 8);
    // The title and the legend under the grid, with its icons.
    int checked = 0;
    for (auto* label : editor.view.owned<SimpleLabel>())
        if (label->_text == "INVERT" || label->_text == "FOOTSWITCH ASSIGN")
        {
            EXPECT_EQ (label->getBounds(), label->_text == "INVERT" ? rect (357, 236, 164, 32) : rect (101, 18, 350, 32));
            ++checked;
        }
    EXPECT_EQ (checked, 2);
    for (const auto& [x, id] : { std::pair { 96, 28u }, { 260, 29u }, { 423, 30u } })
        EXPECT_TRUE (isImageResource (staticImageAt (editor.view, rect (x, 200, 32, 32))._image, id)) << x;

    // Each assignment id carries the button's binding and the block strip's.
    EXPECT_EQ (editor.view.bindingCount (kParamFootswitchAEcho), 2u);
    EXPECT_EQ (editor.view.bindingCount (kParamAmpOn), 1u);
}

//==============================================================================
// Images of the block strip, the panels and the pages

TEST (MainComponentImages, theBlockButtonsTintTheOnImageByTheirOwnHue)
{
    DisconnectedEditor editor;
    // Each block's colour at brightness 0.9, as red, green and blue (by Python's colorsys).
    const struct { ParamMap::BlockID block; float red, green, blue; } tints[] = {
        { ParamMap::GTE, 0.0f, 0.5625f, 0.9f }, { ParamMap::CMP, 0.27f, 0.4275f, 0.9f },
        { ParamMap::BST, 0.9f, 0.675f, 0.0f },  { ParamMap::EQ, 0.9f, 0.0f, 0.0f },
        { ParamMap::AMP, 0.9f, 0.0f, 0.0f },    { ParamMap::REV, 0.45f, 0.9f, 0.0f },
        { ParamMap::ECO, 0.7875f, 0.0f, 0.9f }, { ParamMap::CAB, 0.9f, 0.3375f, 0.0f },
    };
    const auto onImage = getImageResource (24);
    ASSERT_TRUE (onImage.isValid());
    const int x = onImage.getWidth() / 2, y = onImage.getHeight() / 2;
    // The registry's image stays as drawn, light grey, after eight tints: they work on copies.
    const auto untinted = onImage.getPixelAt (x, y);
    ASSERT_GT (untinted.getBrightness(), 0.5f);
    EXPECT_LT (untinted.getSaturation(), 0.05f);
    for (const auto& row : tints)
    {
        auto& button = editor.view.blockButton (row.block);
        EXPECT_TRUE (isImageResource (button._offImage, 23)) << row.block;
        ASSERT_EQ (button._onImage.getBounds(), onImage.getBounds()) << row.block;
        const auto tinted = button._onImage.getPixelAt (x, y);
        EXPECT_NEAR (tinted.getRed(), untinted.getRed() * row.red, 1.5) << row.block;
        EXPECT_NEAR (tinted.getGreen(), untinted.getGreen() * row.green, 1.5) << row.block;
        EXPECT_NEAR (tinted.getBlue(), untinted.getBlue() * row.blue, 1.5) << row.block;
        EXPECT_EQ (tinted.getAlpha(), untinted.getAlpha()) << row.block;
    }
    EXPECT_FALSE (MainComponent::tintImage ({}, juce::Colours::red).isValid());

    // Each channel by its own, alpha too: (200, 100, 50, 255) x (0.5, 1, 0, 0.5).
    juce::Image coloured (juce::Image::ARGB, 1, 1, true);
    coloured.setPixelAt (0, 0, juce::Colour::fromRGBA (200, 100, 50, 255));
    const auto mixed = MainComponent::tintImage (coloured, juce::Colour::fromFloatRGBA (0.5f, 1.0f, 0.0f, 0.5f)).getPixelAt (0, 0);
    EXPECT_NEAR (mixed.getRed(), 100, 2);
    EXPECT_NEAR (mixed.getGreen(), 100, 2);
    EXPECT_EQ (mixed.getBlue(), 0);
    EXPECT_NEAR (mixed.getAlpha(), 128, 1);
}

TEST (MainComponentImages, thePanelsShowTheirDialsReadoutsAndArrows)
{
    DisconnectedEditor editor;
    for (const int block : { (int) ParamMap::BST, MainComponent::kGlobalSettingsBlock })
    {
        editor.view.showFXPanel (block);
        const auto knobs = editor.view.panelControls<FilmStripKnob>();
        ASSERT_FALSE (knobs.empty()) << block;
        for (auto* knob : knobs)
            EXPECT_TRUE (isImageResource (knob->_filmStrip, 5)) << block;

        // Each choice: its read-out (the image both ways), then its left and right arrows.
        std::vector<SimpleImageButton*> buttons;
        for (auto* button : editor.view.panelControls<SimpleImageButton>())
            if (dynamic_cast<SimpleLabel*> (button) == nullptr)
                buttons.push_back (button);
        ASSERT_EQ (buttons.size() % 3, 0u) << block;
        ASSERT_FALSE (buttons.empty()) << block;
        for (size_t i = 0; i < buttons.size(); i += 3)
        {
            EXPECT_TRUE (isImageResource (buttons[i]->_offImage, 25)) << block << " choice " << i / 3;
            EXPECT_TRUE (isImageResource (buttons[i]->_onImage, 25)) << block << " choice " << i / 3;
            for (unsigned arrow = 0; arrow < 2; ++arrow)
            {
                EXPECT_TRUE (isImageResource (buttons[i + 1 + arrow]->_offImage, 15 + 2 * arrow)) << block;
                EXPECT_TRUE (isImageResource (buttons[i + 1 + arrow]->_onImage, 16 + 2 * arrow)) << block;
            }
        }
    }
    // The amp panel's name read-out has no arrows.
    editor.view.showFXPanel (ParamMap::AMP);
    ASSERT_NE (editor.view.ampNameLabel(), nullptr);
    EXPECT_TRUE (isImageResource (editor.view.ampNameLabel()->_offImage, 25));
}

TEST (MainComponentImages, theTabHeaderShowsThePageChosen)
{
    DisconnectedEditor editor;
    auto& view = editor.view;
    EXPECT_TRUE (isImageResource (view.tabHeader()._image, 1));

    enum Page { panel, footswitches, about };
    const struct { const char* click; std::function<void()> action; unsigned header; Page page; } steps[] = {
        { "Footswitches", view.footswitchesTab()._clickCallback, 2, footswitches },
        { "About", view.aboutTab()._clickCallback, 3, about },
        { "About again", view.aboutTab()._clickCallback, 1, panel },
        { "About from the panels", view.aboutTab()._clickCallback, 3, about },
        { "Global", view.globalTab()._clickCallback, 1, panel },
        { "Footswitches again", view.footswitchesTab()._clickCallback, 2, footswitches },
        { "a block", view.blockButton (ParamMap::REV)._clickCallback, 1, panel },
    };
    for (const auto& step : steps)
    {
        step.action();
        EXPECT_TRUE (isImageResource (view.tabHeader()._image, step.header)) << step.click;
        EXPECT_EQ (view.viewport().isVisible(), step.page == panel) << step.click;
        EXPECT_EQ (view.footswitchPage().isVisible(), step.page == footswitches) << step.click;
        EXPECT_EQ (view.aboutText().isVisible(), step.page == about) << step.click;
    }
}

//==============================================================================
// Block strip

TEST (MainComponentBlockStrip, standsAtTheStartPlaceUntilTheFirstPassThenEnlargesTheSelectedBlock)
{
    DisconnectedEditor editor;
    auto& view = editor.view;
    EXPECT_EQ (view.blockButton (ParamMap::GTE).getBounds(), rect (36, 485, 60, 60));

    pump();

    // Slots left to right: GTE, CMP, BST, AMP, EQ, ECO, REV, CAB. The defaults of the on/off
    // parameters light the cabinet (96), reverb (144) and echo (192).
    const ParamMap::BlockID slots[] = { ParamMap::GTE, ParamMap::CMP, ParamMap::BST, ParamMap::AMP,
                                        ParamMap::EQ,  ParamMap::ECO, ParamMap::REV, ParamMap::CAB };
    const int xs[] = { 39, 109, 179, 249, 319, 389, 459, 530 };
    for (int i = 0; i < 8; ++i)
    {
        const auto& button = view.blockButton (slots[i]);
        EXPECT_EQ (button.getBounds(), slots[i] == ParamMap::AMP ? rect (xs[i] - 6, 482, 66, 66) : rect (xs[i], 488, 54, 54)) << i;
        EXPECT_EQ (button._selected, slots[i] == ParamMap::CAB || slots[i] == ParamMap::REV || slots[i] == ParamMap::ECO) << i;
    }

    // A click selects the block's panel and enlarges its button instead.
    view.blockButton (ParamMap::CAB)._clickCallback();
    EXPECT_EQ (view.fxPanelBlock(), (int) ParamMap::CAB);
    pump();

    EXPECT_EQ (view.blockButton (ParamMap::CAB).getBounds(), rect (524, 482, 66, 66));
    EXPECT_EQ (view.blockButton (ParamMap::AMP).getBounds(), rect (249, 488, 54, 54));
    EXPECT_EQ (view.ampNameLabel(), nullptr);
    EXPECT_GT (view.panelBindingCount(), 0u);

    // The global panel enlarges no button and lights the Global tab.
    view.showFXPanel (MainComponent::kGlobalSettingsBlock);
    pump();

    for (uint32_t block = 0; block < ParamMap::kBlockCount; ++block)
        EXPECT_EQ (view.blockButton ((ParamMap::BlockID) block).getWidth(), 54) << block;
    EXPECT_TRUE (view.globalTab()._selected);
    EXPECT_FALSE (view.footswitchesTab()._selected);
    EXPECT_FALSE (view.aboutTab()._selected);
}

TEST (MainComponentBlockStrip, theEqPanelIsElevenHundredPixelsHighAndScrolls)
{
    DisconnectedEditor editor;
    editor.view.showFXPanel (ParamMap::EQ);
    EXPECT_EQ (editor.view.panelContent().getHeight(), 4 * 38 + 4 * 61 + 4 * 176);
    EXPECT_EQ (editor.view.panelContent().getWidth(), 551);
    EXPECT_TRUE (editor.view.viewport().canScrollVertically());
}

TEST (MainComponentBlockStrip, everyPanelBuildsAControlRowForEachBoundItemAndOneWithoutLayoutStaysEmpty)
{
    DisconnectedEditor editor;
    for (uint32_t panel = 0; panel <= TovarekMk2::FXPanelLayouts::kPanelCount; ++panel)
    {
        editor.view.showFXPanel ((int) panel);
        EXPECT_EQ (editor.view.fxPanelBlock(), (int) panel);
        const auto* layout = TovarekMk2::FXPanelLayouts::getLayout (panel);
        EXPECT_EQ (editor.view.panelContent().getNumChildComponents() == 0, layout == nullptr) << panel;
        size_t bound = 0;
        for (const auto& row : layout != nullptr ? *layout : TovarekMk2::FXPanelLayouts::Layout {})
            for (const auto& item : row)
                if (item.kind == TovarekMk2::FXPanelLayouts::Knob || item.kind == TovarekMk2::FXPanelLayouts::Choice
                    || item.kind == TovarekMk2::FXPanelLayouts::Switch
                    || item.kind == TovarekMk2::FXPanelLayouts::InlineSwitch)
                    ++bound;
        EXPECT_EQ (editor.view.panelBindingCount(), bound) << panel;
    }
}

//==============================================================================
// Bindings through the service to the unit

TEST (MainComponentBindings, aMainKnobAndABlockDoubleClickSendAndFollowTheUnit)
{
    ConnectedEditor editor;
    ASSERT_TRUE (editor.attach());
    auto* knob = editor.view.mainKnobs()[0]; // parameter 117, 0 to 1 linear, default 0.5

    // A turn, then a double-click; each sends one packet.
    ASSERT_TRUE (editor.sends ([&] { knob->_valueCallback (0.25); }, kParamAmpKnobTop0, 0.25f));
    ASSERT_TRUE (editor.sends ([&] { knob->_doubleClickCallback(); }, kParamAmpKnobTop0, 0.5f));
    ASSERT_TRUE (pumpUntil ([&] { return editor.service.isModified() && editor.view.saveButton()._selected; }));

    // Turned on the unit: the knob follows after the refresh pass.
    editor.unit().turnKnob (kParamAmpKnobTop1, 0.75f);
    ASSERT_TRUE (pumpUntil ([&] { return editor.view.mainKnobs()[1]->_value == 0.75; }));

    // A double-click on a block switches it; the strip follows what the service reports.
    auto& reverb = editor.view.blockButton (ParamMap::REV);
    const bool wasOn = reverb._selected;
    ASSERT_TRUE (editor.sends ([&] { reverb._doubleClickCallback(); }, kParamReverbOn, wasOn ? 0.0f : 1.0f));
    ASSERT_TRUE (pumpUntil ([&] { return reverb._selected != wasOn; }));
}

namespace
{
// The control of the panel shown at the bounds (panel coordinates), found by its place.
template <typename Control>
Control* panelControlAt (MainComponentInspector& view, juce::Rectangle<int> bounds)
{
    for (auto* control : view.panelControls<Control>())
        if (control->getBounds() == bounds)
            return control;
    return nullptr;
}
} // namespace

TEST (MainComponentBindings, aFootswitchAssignmentCyclesAndShowsOnlyWhatTheServiceReports)
{
    ConnectedEditor editor;
    ASSERT_TRUE (editor.attach());
    auto* button = editor.view.assignmentButtons()[0]; // footswitch A, gate; 0 at start
    ASSERT_EQ (button->_currentState, 0);

    // Not assigned, assigned, invert, not assigned; a value beyond the states counts on modulo 3.
    const struct { float fromUnit; int sent; } clicks[] = { { -1, 1 }, { -1, 2 }, { -1, 0 }, { 4.0f, 2 } };
    for (const auto& click : clicks)
    {
        if (click.fromUnit >= 0)
        {
            editor.unit().turnKnob (kParamFootswitchAGate, click.fromUnit);
            ASSERT_TRUE (pumpUntil ([&] { return button->_currentState == (int) click.fromUnit; }));
        }
        ASSERT_TRUE (editor.sends (button->_clickCallback, kParamFootswitchAGate, (float) click.sent));
        ASSERT_TRUE (pumpUntil ([&] { return button->_currentState == click.sent; })) << click.sent;
    }
}

TEST (MainComponentBindings, typedTextIsScaledClampedAndSent)
{
    ConnectedEditor editor;
    ASSERT_TRUE (editor.attach());
    editor.view.showFXPanel (ParamMap::BST);
    pump();

    // The drive's read-out, a percentage from 0 to 1: the third row's first knob (y 38 + 56).
    auto* drive = panelControlAt<SimpleEditLabel> (editor.view, rect (9, 94 + 120, 108, 32));
    ASSERT_NE (drive, nullptr);
    for (const auto& [text, sent] : { std::pair<const char*, float> { "75", 0.75f }, { "500", 1.0f }, { "loud", 0.0f } })
        ASSERT_TRUE (editor.sends ([&, text = text] { EXPECT_TRUE (drive->_validator (text)) << text; }, kParamBoostDrive, sent));

    // The read-out shows the value the service reports back.
    ASSERT_TRUE (pumpUntil ([&] { return drive->getText() == "0 %"; })) << drive->getText();
}

namespace
{
// The first read-out of the panel shown with the text, followed by its left and right arrows.
struct ChoiceControls
{
    SimpleImageButton* readout = nullptr;
    SimpleImageButton* left = nullptr;
    SimpleImageButton* right = nullptr;
};

ChoiceControls findChoice (MainComponentInspector& view, const juce::String& shown)
{
    std::vector<SimpleImageButton*> buttons;
    for (auto* button : view.panelControls<SimpleImageButton>())
        if (dynamic_cast<SimpleLabel*> (button) == nullptr)
            buttons.push_back (button);
    for (size_t i = 0; i + 2 < buttons.size(); ++i)
        if (buttons[i]->_text == shown)
            return { buttons[i], buttons[i + 1], buttons[i + 2] };
    return {};
}
} // namespace

TEST (MainComponentBindings, optionArrowsStopAtTheFirstAndLastOption)
{
    ConnectedEditor editor;
    ASSERT_TRUE (editor.attach());
    editor.view.showFXPanel (ParamMap::ECO);
    pump();

    const auto echo = findChoice (editor.view, "DIGITAL"); // the echo type, 0 at start
    ASSERT_NE (echo.readout, nullptr);
    // Left at the first option sends the first again; right walks on and stops at the last.
    const struct { SimpleImageButton* arrow; float sent; const char* shown; } steps[] = {
        { echo.left, 0.0f, "DIGITAL" },   { echo.right, 1.0f, "ANALOG" },       { echo.right, 2.0f, "TAPE" },
        { echo.right, 3.0f, "DARK TAPE" }, { echo.right, 4.0f, "SOFT DIGITAL" }, { echo.right, 4.0f, "SOFT DIGITAL" },
    };
    for (const auto& step : steps)
    {
        ASSERT_TRUE (editor.sends (step.arrow->_clickCallback, kParamEchoType, step.sent)) << step.shown;
        ASSERT_TRUE (pumpUntil ([&] { return echo.readout->_text == step.shown; })) << step.shown;
    }
}

TEST (MainComponentBindings, thePopUpSendsTheChosenOptionsOwnValue)
{
    ConnectedEditor editor;
    ASSERT_TRUE (editor.attach());
    editor.view.showFXPanel (ParamMap::EQ);
    pump();

    // The pre-tone filter type, whose options run from "NONE" = -1: "HIGHPASS 1" is the fourth
    // item (id 4) and carries the value 2.
    const auto type = findChoice (editor.view, "GAIN ONLY");
    ASSERT_NE (type.readout, nullptr);
    std::vector<std::pair<int, juce::String>> offered;
    int answer = 0;
    editor.view.answerMenus ([&] (juce::PopupMenu& menu) {
        offered.clear();
        for (juce::PopupMenu::MenuItemIterator item (menu); item.next();)
            offered.emplace_back (item.getItem().itemID, item.getItem().text);
        return answer;
    });

    // Dismissed (answer 0), then answered: only the answer sends.
    ASSERT_TRUE (editor.sends ([&] { type.readout->_clickCallback(); answer = 4; type.readout->_clickCallback(); },
                               kParamPreToneType, 2.0f));
    ASSERT_EQ (offered.size(), 13u);
    EXPECT_EQ (offered.front(), std::make_pair (1, juce::String ("NONE")));
    EXPECT_EQ (offered[3], std::make_pair (4, juce::String ("HIGHPASS 1")));
    EXPECT_EQ (offered.back(), std::make_pair (13, juce::String ("PEAKING")));
    ASSERT_TRUE (pumpUntil ([&] { return type.readout->_text == "HIGHPASS 1"; }));
}

TEST (MainComponentBindings, aFrequencyKnobSendsTheLogarithmicValueAndATwoWaySwitchLightsWhatTheServiceReports)
{
    ConnectedEditor editor;
    ASSERT_TRUE (editor.attach());
    editor.view.showFXPanel (ParamMap::EQ);
    pump();

    // The first band's frequency (20 to 20000 Hz): the sixth row's third item, at column 2 (x 282)
    // below rows of 38, 61, 176, 38 and 61 pixels (y 374).
    auto* frequency = panelControlAt<FilmStripKnob> (editor.view, rect (282 - 6, 374 + 9, 146, 156));
    ASSERT_NE (frequency, nullptr);
    EXPECT_TRUE (editor.sends ([&] { frequency->_valueCallback (0.5); }, kParamEq1Freq, (float) std::sqrt (20.0 * 20000.0)));

    // The pre-tone's inline switch, "ON" 1 then "OFF" 0, at column 0.5 (x 70) of the row under the
    // header (y 38): side by side at x - 1 and x + 63.
    auto* on = panelControlAt<SimpleLabel> (editor.view, rect (69, 38 + 7, 64, 52));
    auto* off = panelControlAt<SimpleLabel> (editor.view, rect (133, 38 + 7, 64, 52));
    ASSERT_TRUE (on != nullptr && off != nullptr);
    EXPECT_EQ (on->_text, "ON");
    EXPECT_EQ (off->_text, "OFF");

    for (auto* button : { on, off, on })
    {
        ASSERT_TRUE (editor.sends (button->_clickCallback, kParamPreToneOn, button == on ? 1.0f : 0.0f)) << button->_text;
        ASSERT_TRUE (pumpUntil ([&] { return button->_selected; })) << button->_text;
        EXPECT_FALSE ((button == on ? off : on)->_selected) << button->_text;
    }
}

TEST (MainComponentBindings, anAssignmentOutsideTheThreeStatesShowsNoImage)
{
    DisconnectedEditor editor;
    pump();
    auto* button = editor.view.assignmentButtons()[0];
    // Each value follows one shown otherwise, so each wait sees that value applied.
    const std::pair<double, int> steps[] = { { 5.0, 5 }, { -1.0, -1 }, { 5.0, 5 }, { std::nan (""), -1 } };
    for (const auto& [value, shown] : steps)
    {
        editor.main->parameterValueChanged (kParamFootswitchAGate, { ParamMap::kFloat, value });
        ASSERT_TRUE (pumpUntil ([&, shown = shown] { return button->_currentState == shown; })) << value;
    }
}

//==============================================================================
// Asynchronous refresh

TEST (MainComponentRefresh, aPendingValueReachesItsBindingsOnceAsLastReportedUnlessADataRefreshSupersedesIt)
{
    // Reported twice from another thread; a data refresh after them shows the service's own value,
    // the default 0.5 of 117.
    for (const auto& [refresh, shown] : { std::pair { false, 0.9 }, { true, 0.5 } })
    {
        DisconnectedEditor editor;
        pump();
        std::vector<double> seen;
        editor.view.addBinding (kParamAmpKnobTop0, [&] (const Service::ParameterValue& v) { seen.push_back (v.value); });
        std::thread reporter ([&, refresh = refresh] {
            editor.main->parameterValueChanged (kParamAmpKnobTop0, { ParamMap::kFloat, 0.25 });
            editor.main->parameterValueChanged (kParamAmpKnobTop0, { ParamMap::kFloat, 0.9 });
            if (refresh)
                editor.main->dataRefreshed();
        });
        reporter.join();
        ASSERT_TRUE (pumpUntil ([&] { return ! seen.empty(); }));
        pump();
        EXPECT_EQ (seen, (std::vector<double> { shown })) << refresh;
        EXPECT_EQ (editor.view.mainKnobs()[0]->_value, shown) << refresh;
    }
}

TEST (MainComponentRefresh, showsTheProgressOfABackup)
{
    ConnectedEditor editor;
    ASSERT_TRUE (editor.attach());
    editor.unit().setReportDelay (200us);
    auto* main = editor.main.get();
    ASSERT_TRUE (editor.service.beginBackup ([main] (double p) { main->onProgress (p); }, [] (const auto&) {}).ok);

    auto& overlay = editor.view.overlay();
    ASSERT_TRUE (pumpUntil ([&] { return overlay.getTitle() == "Receiving..." && overlay.getProgress() > 0.0; }));
    EXPECT_TRUE (overlay.getSpinner().isVisible());
    EXPECT_TRUE (overlay.getProgressBar().isVisible());
    editor.unit().setReportDelay (0us);
    ASSERT_TRUE (pumpUntil ([&] { return ! overlay.isVisible(); }, 30000ms));
}

namespace
{
// Keeps the service in a state while a refresh pass shows it: the first thread other than the
// message thread to report the state (the thread that started the task, or the worker) waits in
// the service's listener call until released, so neither the task nor the service moves on.
class StateHold
{
public:
    // The start runs on a thread of its own: reported on the message thread, it would wait there
    // for the listener lock that the hold keeps.
    StateHold (Service& service, Service::State state, std::function<void()> start) : _service (service), _state (state)
    {
        _listener.stateChanged = [this] (Service::State entered) { hold (entered); };
        _service.addListener (&_listener);
        _starter = std::thread (std::move (start));
    }

    ~StateHold()
    {
        {
            const std::lock_guard<std::mutex> lock (_mutex);
            _released = true;
        }
        _changed.notify_all();
        _starter.join();
        _service.removeListener (&_listener);
    }

    bool waitUntilHeld()
    {
        std::unique_lock<std::mutex> lock (_mutex);
        return _changed.wait_for (lock, kWait, [this] { return _held; });
    }

private:
    void hold (Service::State entered)
    {
        if (entered != _state || juce::MessageManager::getInstance()->isThisTheMessageThread())
            return;
        std::unique_lock<std::mutex> lock (_mutex);
        _held = true;
        _changed.notify_all();
        _changed.wait_for (lock, kWait, [this] { return _released; });
    }

    Service& _service;
    const Service::State _state;
    Service::Listener _listener;
    std::mutex _mutex;
    std::condition_variable _changed;
    bool _held = false, _released = false;
    std::thread _starter;
};

// Runs the message loop until everything posted so far has run.
bool runPostedMessages()
{
    auto done = std::make_shared<std::atomic<bool>> (false);
    juce::MessageManager::callAsync ([done] { *done = true; });
    return pumpUntil ([done] { return done->load(); });
}
} // namespace

// Each state of the service, reached through the service's own tasks and held there: the pass
// shows its title and message, the spinner when busy, and the bar, at the progress reported,
// only for the long transfers. Task failures are not alerts. (No task enters state 2.)
TEST (MainComponentRefresh, showsEachServiceStateWithItsTextSpinnerAndBar)
{
    SimUnit::UnitOptions good, tooOld, unsupported;
    tooOld.dspVersion = { 4, 1, 0 };
    unsupported.systemVersion = { 3, 0, 0 };
    Korvantal::KorvantalData::TovarekMk2Archive empty, withImage;
    withImage.firmwareImage = std::make_unique<std::vector<uint8_t>> (SimUnit::makeLoaderImage ({ 4, 3, 0 }, 600));
    const auto noProgress = [] (double) {};
    using Start = std::function<void (ConnectedEditor&)>;
    const Start connect = [] (auto& e) { e.service.setProtocol (&e.connection.protocol()); };
    const Start detach = [] (auto& e) { e.service.setProtocol (nullptr); };
    const Start send = [] (auto& e) { e.service.setCurrentCabData ({}); };
    const Start read = [] (auto& e) { e.service.getCurrentPresetData ([] (const auto&) {}); };
    const Start restore = [&] (auto& e) { e.service.beginRestore (empty, noProgress); };
    const Start backUp = [&] (auto& e) { e.service.beginBackup (noProgress, [] (const auto&) {}); };
    const Start update = [&] (auto& e) { e.service.beginFirmwareUpdate (empty, noProgress); };
    const Start updateAndRestart = [&] (auto& e) { e.service.beginFirmwareUpdate (withImage, noProgress); };

    const struct { Service::State state; SimUnit::UnitOptions unit; bool attachFirst; Start start;
                   const char* title; const char* message; bool busy, bar; } rows[] = {
        { Service::Disconnected, good, true, detach, "Not Connected", "", false, false },
        { Service::Idle, good, false, connect, "", "", false, false },
        { Service::Refreshing, good, false, connect, "Refreshing...", "", true, false },
        { Service::Sending, good, true, send, "Sending...", "", true, false },
        { Service::Reading, good, true, read, "Receiving...", "", true, false },
        { Service::Restoring, good, true, restore, "Sending...", "", true, true },
        { Service::BackingUp, good, true, backUp, "Receiving...", "", true, true },
        { Service::UpdatingFirmware, good, true, update, "Updating FW...", "", true, true },
        { Service::Reconnecting, good, true, updateAndRestart,
          "Update Complete", "Please disconnect/reconnect power supply", false, false },
        { Service::FirmwareTooOld, tooOld, false, connect,
          "Firmware update required", "Select 'Update Firmware' from the file menu", false, false },
        { Service::Error, unsupported, false, connect, "Error:", "Connected device is not supported", false, false },
    };
    constexpr double reported = 0.375;

    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.state);
        ConnectedEditor editor (row.unit);
        ASSERT_TRUE (! row.attachFirst || editor.attach());
        StateHold hold (editor.service, row.state, [&] { row.start (editor); });
        ASSERT_TRUE (hold.waitUntilHeld());
        editor.main->onProgress (reported);
        ASSERT_TRUE (runPostedMessages());

        auto& overlay = editor.view.overlay();
        EXPECT_EQ (overlay.getTitle(), row.title);
        EXPECT_EQ (overlay.getMessage(), row.message);
        EXPECT_EQ (overlay.isVisible(), juce::String (row.title).isNotEmpty());
        EXPECT_EQ (overlay.getSpinner().isVisible(), row.busy);
        EXPECT_EQ (overlay.getProgressBar().isVisible(), row.bar);
        EXPECT_EQ (overlay.getProgress(), row.bar ? reported : -1.0);
        EXPECT_TRUE (openAlerts().empty());
    }
}

TEST (MainComponentRefresh, hidesTheOverlayWhenIdleAndFollowsTheUnitsFirmwarePresetAmpSlotsAndModifiedFlag)
{
    SimUnit::UnitOptions options;
    options.dspVersion = { 4, 2, 1 };
    ConnectedEditor editor (options);
    ASSERT_TRUE (editor.attach());
    EXPECT_FALSE (editor.view.overlay().isVisible());
    EXPECT_EQ (editor.view.overlay().getTitle(), "");
    EXPECT_EQ (editor.view.aboutText()._text, "Editor Version: 4.2.0.0\nFirmware Version: 4.2.1\n");

    // An edit on the unit lights Save; the full re-read after a program change puts it out again.
    auto& save = editor.view.saveButton();
    EXPECT_FALSE (save._selected);
    editor.unit().turnKnob (kParamAmpKnobTop1, 0.75f);
    ASSERT_TRUE (pumpUntil ([&] { return save._selected; }));
    editor.unit().pressFootswitch (3);
    ASSERT_TRUE (pumpUntil ([&] { return editor.view.presetSwitch()._currentPosition == 2 && ! save._selected; }));
    EXPECT_EQ (editor.view.presetSwitch()._currentPosition, editor.service.getCurrentPresetIndex());

    // Presets 3 to 6 leave the three-position switch showing no position.
    editor.unit().pressFootswitch (6);
    ASSERT_TRUE (pumpUntil ([&] { return editor.view.presetSwitch()._currentPosition == 5; }));

    ASSERT_NE (editor.view.ampNameLabel(), nullptr);
    EXPECT_EQ (editor.view.ampNameLabel()->_text, juce::String (editor.service.getCurrentAmpName()));
    EXPECT_EQ (editor.view.ampSwitch()._currentPosition, editor.service.getCurrentAmpIndex());
    EXPECT_EQ (editor.view.cabinetSwitch()._currentPosition, editor.service.getCurrentCabIndex());
}

TEST (MainComponentRefresh, formatsTheFirmwareVersionWithTheFourthNumberOnlyWhenSet)
{
    EXPECT_EQ (MainComponent::formatFirmwareVersion ({ 4, 2, 0, 0 }), "4.2.0");
    EXPECT_EQ (MainComponent::formatFirmwareVersion ({ 4, 2, 0, 1 }), "4.2.0.1");
    EXPECT_EQ (MainComponent::formatFirmwareVersion ({ 255, 0, 10, 0 }), "255.0.10");
}

//==============================================================================
// Errors

TEST (MainComponentErrors, setErrorFromAnotherThreadShowsOneAlertPerCallInOrder)
{
    DisconnectedEditor editor;
    pump();
    std::thread worker ([&] {
        editor.main->setError ("First %d", 1);
        editor.main->setError ("Second");
    });
    worker.join();
    EXPECT_TRUE (openAlerts().empty());

    ASSERT_TRUE (pumpUntil ([] { return openAlerts().size() == 2; }));
    const auto alerts = openAlerts();
    EXPECT_EQ (alerts[0]->getName(), "Error");
    EXPECT_EQ (alerts[0]->getDescription(), "Error. First 1");
    EXPECT_EQ (alerts[1]->getDescription(), "Error. Second");
    EXPECT_EQ (alerts[0]->getNumButtons(), 1);
}

TEST (MainComponentErrors, cutsALongErrorAt511CharactersAndReportsARefusedParameter)
{
    const std::string longText (600, 'x');
    const struct { const char* what; std::function<void (MainComponentInspector&, MainComponent&)> cause; juce::String shown; } rows[] = {
        { "long", [&] (auto&, auto& main) { main.setError ("%s", longText.c_str()); }, "Error. " + juce::String (std::string (511, 'x')) },
        { "refused", [] (auto& view, auto&) { view.mainKnobs()[0]->_valueCallback (0.3); }, "Error. Failed to set parameter" },
    };
    for (const auto& row : rows)
    {
        DisconnectedEditor editor;
        row.cause (editor.view, *editor.main);
        ASSERT_TRUE (pumpUntil ([] { return openAlerts().size() == 1; })) << row.what;
        EXPECT_EQ (openAlerts()[0]->getDescription(), row.shown) << row.what;
    }
}

TEST (MainComponentErrors, aClosurePostedByAClosureRunsAtTheNextUpdate)
{
    DisconnectedEditor editor;
    std::vector<int> order;
    editor.main->postToMessageThread ([&] {
        order.push_back (1);
        editor.main->postToMessageThread ([&] { order.push_back (3); });
    });
    editor.main->postToMessageThread ([&] { order.push_back (2); });
    ASSERT_TRUE (pumpUntil ([&] { return order.size() == 3; }));
    EXPECT_EQ (order, (std::vector<int> { 1, 2, 3 }));
}

//==============================================================================
// Helpers

TEST (MainComponentHelpers, justifiesTheNineCellsAndCentresAnythingElse)
{
    const int expected[9] = { 9, 12, 10, 33, 36, 34, 17, 20, 18 };
    for (int row = -1; row <= 1; ++row)
        for (int column = -1; column <= 1; ++column)
            EXPECT_EQ (MainComponent::justificationForCell (column, row).getFlags(), expected[column + 3 * row + 4]);
    EXPECT_EQ (MainComponent::justificationForCell (2, 1).getFlags(), 36);
    EXPECT_EQ (MainComponent::justificationForCell (-2, -1).getFlags(), 36);
}
