#include "gateway/TextRules.h"

#include <QTextBoundaryFinder>

namespace nimbel {

qsizetype graphemeCount(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

QString leadingGraphemes(const QString &text, qsizetype count)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    for (qsizetype taken = 0; taken < count; ++taken) {
        const qsizetype next = finder.toNextBoundary();
        if (next == -1)
            return text;
        end = next;
    }
    return text.left(end);
}

QString trailingGraphemes(const QString &text, qsizetype count)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.toEnd();
    qsizetype start = text.size();
    for (qsizetype taken = 0; taken < count; ++taken) {
        const qsizetype previous = finder.toPreviousBoundary();
        if (previous == -1)
            return text;
        start = previous;
    }
    return text.mid(start);
}

bool containsCyrillic(const QString &text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= u'А' && u <= u'я') || u == u'Ё' || u == u'ё')
            return true;
    }
    return false;
}

QString wireLanguage(const QString &text)
{
    return containsCyrillic(text) ? QStringLiteral("ru") : QStringLiteral("en");
}

} // namespace nimbel
