#include "conversation/FallbackBargeInGuard.h"

#include "conversation/DesktopRequestRouter.h"

#include <QSet>
#include <QStringList>

namespace nimbel::FallbackBargeInGuard {

namespace {

constexpr QStringView fillers[] = {u"спасибо",    u"благодарю", u"продолжение следует", u"спасибо за просмотр",
                                   u"субтитры",   u"thanks",    u"thank you",           u"thanks for watching",
                                   u"the end"};
constexpr QStringView noisePrefixes[] = {u"субтитры сделал", u"субтитры подготовил", u"subtitles by"};

QSet<QString> words(const QString &text)
{
    const QStringList pieces = text.split(u' ', Qt::SkipEmptyParts);
    return QSet<QString>(pieces.begin(), pieces.end());
}

} // namespace

bool shouldInterrupt(QStringView transcript, QStringView assistantReference)
{
    const QString heard = DesktopRequestRouter::normalize(transcript);
    if (heard.isEmpty())
        return false;
    if (DesktopRequestRouter::route(heard, {}) == DesktopRequestRoute::stop)
        return true;
    for (QStringView filler : fillers) {
        if (heard == filler)
            return false;
    }
    for (QStringView prefix : noisePrefixes) {
        if (heard.startsWith(prefix))
            return false;
    }
    const QString reference = DesktopRequestRouter::normalize(assistantReference);
    if (reference.isEmpty())
        return true;
    if (reference.contains(heard))
        return false;
    const QSet<QString> heardWords = words(heard);
    if (heardWords.isEmpty())
        return false;
    const qsizetype shared = QSet<QString>(heardWords).intersect(words(reference)).size();
    return static_cast<double>(shared) / static_cast<double>(heardWords.size()) < 0.8;
}

} // namespace nimbel::FallbackBargeInGuard
