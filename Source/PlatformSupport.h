#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <string>

// What the editor needs from the platform beyond the framework: where its bundled resources
// are, and the application's main menu bar. Message thread only.
namespace PlatformSupport
{

// A resource shipped with the application: its file-system path and the URL text logged when
// it cannot be opened. Both empty when no such resource was found.
struct ResourceLocation
{
    std::string path;
    std::string url;
};

// Paths longer than this are refused, as the file-system representation buffer is that small.
constexpr size_t kMaxResourcePathLength = 1023;

// Looks for the named resource beside the running executable, then in a "Resources" folder
// beside it, then in the "Resources" folder next to the executable's folder (an application
// bundle's layout). The first that exists as a file wins.
ResourceLocation locateBundleResource (const juce::String& name);

// The same search from a given executable folder.
ResourceLocation locateResource (const juce::File& executableFolder, const juce::String& name);

// The application's main menu bar. Where the framework offers one (macOS) this sets it; elsewhere
// the editor keeps the model here and nothing draws it. The model is not owned; a null model
// clears the menu.
class MainMenu
{
public:
    static void set (juce::MenuBarModel* model, const juce::PopupMenu* extraAppleMenuItems,
                     const juce::String& recentItemsMenuName);
    static juce::MenuBarModel* get();
    static juce::String getRecentItemsMenuName();
};

} // namespace PlatformSupport
