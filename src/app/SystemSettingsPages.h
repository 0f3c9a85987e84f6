#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace nimbel {

// The desktop's own settings page for a permission, opened with the desktop's
// settings tool where one is installed.
enum class SettingsPage { microphone, screenRecording, accessibility };

struct SettingsCommand
{
    QString program;
    QStringList arguments;
    bool operator==(const SettingsCommand &) const = default;
};

namespace systemSettings {
// The command that opens `page`, given the programs found on PATH (`has`);
// none when no known tool is there. X11 has no screen-recording switch to open.
std::optional<SettingsCommand> command(SettingsPage page, const std::function<bool(const QString &)> &has);
} // namespace systemSettings

} // namespace nimbel
