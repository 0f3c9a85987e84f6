#include "screen/ScreenContextRules.h"

#include "screen/ScreenTextRules.h"

#include <QSet>

#include <algorithm>
#include <array>
#include <cmath>

namespace nimbel {

namespace {

constexpr qsizetype statusLimit = 12;
constexpr qsizetype summaryLineCount = 12;
constexpr qsizetype summaryLength = 700;
constexpr qsizetype visibleTextLimit = 32;
constexpr std::size_t controlLimit = 30;

} // namespace

QStringList statusLines(const QStringList &visibleText)
{
    static constexpr std::array markers{u"connected", u"installed", u"up to date", u"completed", u"ready",
                                        u"error",     u"failed",    u"warning",    u"подключ",   u"установ",
                                        u"обновлен",  u"готов",     u"ошиб",       u"не удалось", u"предупреж"};
    QStringList matching;
    for (const QString &line : visibleText) {
        const QString lower = line.toLower();
        for (const char16_t *marker : markers) {
            if (lower.contains(QStringView(marker))) {
                matching.append(line);
                break;
            }
        }
    }
    return unique(matching, statusLimit);
}

bool isInteractiveRole(QStringView role)
{
    static constexpr std::array roles{u"AXButton",      u"AXCheckBox",    u"AXComboBox",    u"AXDisclosureTriangle",
                                      u"AXLink",        u"AXMenuButton",  u"AXMenuItem",    u"AXPopUpButton",
                                      u"AXRadioButton", u"AXSearchField", u"AXSlider",      u"AXTabGroup",
                                      u"AXTextField"};
    return std::any_of(roles.begin(), roles.end(), [role](const char16_t *r) { return role == QStringView(r); });
}

std::vector<PreparedScreenControl> preparedControls(const QList<AccessibilityElementSummary> &elements,
                                                    const std::vector<RecognizedScreenText> &recognized)
{
    std::vector<PreparedScreenControl> controls;
    QSet<QString> seen;
    for (const AccessibilityElementSummary &element : elements) {
        if (!isInteractiveRole(element.role) || !element.label)
            continue;
        const std::optional<QString> label = sanitized(element.label);
        if (!label || isSensitive(*label))
            continue;
        const QString enabled = element.enabled ? (*element.enabled ? QStringLiteral("true") : QStringLiteral("false"))
                                                : QString();
        const QString key = element.role + u'|' + *label + u'|' + enabled;
        if (seen.contains(key))
            continue;
        seen.insert(key);

        PreparedScreenControl control;
        control.label = *label;
        control.role = element.role;
        if (element.enabled)
            control.state = *element.enabled ? QStringLiteral("enabled") : QStringLiteral("disabled");
        const QString wanted = label->toLower();
        for (const RecognizedScreenText &line : recognized) {
            const QString shown = line.text.toLower();
            if (shown == wanted || shown.contains(wanted) || wanted.contains(shown)) {
                control.targetRect = line.rect;
                break;
            }
        }
        controls.push_back(std::move(control));
    }
    if (controls.size() > controlLimit)
        controls.resize(controlLimit);
    return controls;
}

PreparedScreenContext assembledContext(const ScreenContextSources &sources,
                                       const std::vector<RecognizedScreenText> &recognized)
{
    PreparedScreenContext context;
    context.version = 1;
    context.captureID = sources.captureID;

    QStringList texts;
    for (const RecognizedScreenText &line : recognized)
        texts.append(line.text);
    context.visibleText = unique(texts, visibleTextLimit);
    if (sources.accessibility)
        context.controls = preparedControls(sources.accessibility->elements, recognized);
    context.statuses = statusLines(context.visibleText);

    context.product = sanitized(sources.applicationName);
    if (!sources.applicationName && sources.accessibility)
        context.product = sanitized(sources.accessibility->applicationName);
    if (sources.accessibility && sources.accessibility->focusedWindowTitle)
        context.page = sanitized(sources.accessibility->focusedWindowTitle);
    else
        context.page = sanitized(sources.windowTitle);
    // A title is screen text too ("Reset password for …"): what the filter
    // withholds from the lines may not leave through the names either.
    if (context.product && isSensitive(*context.product))
        context.product.reset();
    if (context.page && isSensitive(*context.page))
        context.page.reset();

    context.screenSummary = screenSummary(context.product, context.page, context.visibleText);
    return context;
}

QString screenSummary(const std::optional<QString> &product, const std::optional<QString> &page,
                      const QStringList &visibleText)
{
    QStringList parts;
    if (product)
        parts.append(QStringLiteral("Application: ") + *product);
    if (page)
        parts.append(QStringLiteral("Page or window: ") + *page);
    if (!visibleText.isEmpty())
        parts.append(QStringLiteral("Key visible text: ") + visibleText.mid(0, summaryLineCount).join(QStringLiteral(" | ")));
    return firstCharacters(parts.join(QStringLiteral(". ")), summaryLength);
}

} // namespace nimbel
