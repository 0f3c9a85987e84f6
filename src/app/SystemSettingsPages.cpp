#include "app/SystemSettingsPages.h"

#include <span>

namespace nimbel::systemSettings {

std::optional<SettingsCommand> command(SettingsPage page, const std::function<bool(const QString &)> &has)
{
    struct Tool
    {
        const char *program;
        const char *argument;
    };
    static constexpr Tool microphoneTools[] = {
        {"gnome-control-center", "sound"}, {"systemsettings", "kcm_pulseaudio"}, {"pavucontrol", "--tab=4"}};
    static constexpr Tool accessibilityTools[] = {{"gnome-control-center", "universal-access"},
                                                  {"systemsettings", "kcm_access"}};
    std::span<const Tool> tools;
    switch (page) {
    case SettingsPage::microphone:
        tools = microphoneTools;
        break;
    case SettingsPage::accessibility:
        tools = accessibilityTools;
        break;
    case SettingsPage::screenRecording:
        return std::nullopt;
    }
    for (const Tool &tool : tools) {
        const QString program = QString::fromLatin1(tool.program);
        if (has(program))
            return SettingsCommand{program, {QString::fromLatin1(tool.argument)}};
    }
    return std::nullopt;
}

} // namespace nimbel::systemSettings
