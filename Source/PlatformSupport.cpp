#include "PlatformSupport.h"

namespace PlatformSupport
{
namespace
{
constexpr const char* kResourcesFolder = "Resources";

struct MainMenuState
{
    juce::MenuBarModel* model = nullptr;
    juce::String recentItemsMenuName;
};

MainMenuState& mainMenuState()
{
    static MainMenuState state;
    return state;
}
} // namespace

ResourceLocation locateResource (const juce::File& executableFolder, const juce::String& name)
{
    const juce::File candidates[] = {
        executableFolder.getChildFile (name),
        executableFolder.getChildFile (kResourcesFolder).getChildFile (name),
        executableFolder.getParentDirectory().getChildFile (kResourcesFolder).getChildFile (name),
    };

    for (const auto& candidate : candidates)
    {
        if (! candidate.existsAsFile())
            continue;

        const std::string path = candidate.getFullPathName().toStdString();
        const std::string url = juce::URL (candidate).toString (false).toStdString();
        if (path.size() > kMaxResourcePathLength)
            return { {}, url };
        return { path, url };
    }

    return {};
}

ResourceLocation locateBundleResource (const juce::String& name)
{
    const auto executable = juce::File::getSpecialLocation (juce::File::currentExecutableFile);
    return locateResource (executable.getParentDirectory(), name);
}

void MainMenu::set (juce::MenuBarModel* model, const juce::PopupMenu* extraAppleMenuItems,
                    const juce::String& recentItemsMenuName)
{
#if JUCE_MAC
    juce::MenuBarModel::setMacMainMenu (model, extraAppleMenuItems, recentItemsMenuName);
#else
    juce::ignoreUnused (extraAppleMenuItems);
#endif
    auto& state = mainMenuState();
    state.model = model;
    state.recentItemsMenuName = model != nullptr ? recentItemsMenuName : juce::String();
}

juce::MenuBarModel* MainMenu::get()
{
    return mainMenuState().model;
}

juce::String MainMenu::getRecentItemsMenuName()
{
    return mainMenuState().recentItemsMenuName;
}

} // namespace PlatformSupport
