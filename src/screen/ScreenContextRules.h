#pragma once

#include "screen/AccessibilityContext.h"
#include "screen/PreparedScreenContext.h"
#include "screen/RecognizedScreenText.h"

#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace nimbel {

// The rules that turn recognised lines into a prepared screen context.

// The lines that report a state ("Connected", "Ошибка: …"), at most 12.
QStringList statusLines(const QStringList &visibleText);

// "Application: …. Page or window: …. Key visible text: a | b | …", at most 700 characters.
QString screenSummary(const std::optional<QString> &product, const std::optional<QString> &page,
                      const QStringList &visibleText);

// The 13 roles a control can have.
bool isInteractiveRole(QStringView role);

// The interactive, labelled accessibility elements as controls, each with the
// box of the first recognised line (in reading order) that shows its label;
// distinct by role, label and enabled flag; at most 30.
std::vector<PreparedScreenControl> preparedControls(const QList<AccessibilityElementSummary> &elements,
                                                    const std::vector<RecognizedScreenText> &recognized);

// What a prepared context is made of besides the picture's text.
struct ScreenContextSources
{
    QString captureID;
    std::optional<QString> applicationName; // of the capture
    std::optional<QString> windowTitle;     // of the capture
    std::optional<AccessibilityContext> accessibility;
};

// The prepared context of a capture from its recognised lines (reading order).
PreparedScreenContext assembledContext(const ScreenContextSources &sources,
                                       const std::vector<RecognizedScreenText> &recognized);

} // namespace nimbel
