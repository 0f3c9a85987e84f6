#include "screen/ScriptConsistency.h"

#include <QRegularExpression>

#include <algorithm>

namespace nimbel {

namespace {

// Letters drawn (nearly) alike in both alphabets, as a recogniser confuses them.
bool isLatinLookAlike(QChar c)
{
    static const QString letters = QStringLiteral("ABCEHKMOPTXYacekmopxy");
    return letters.contains(c);
}

bool isCyrillicLookAlike(QChar c)
{
    static const QString letters = QStringLiteral("АВСЕНКМОРТХУасеорху");
    return letters.contains(c);
}

struct WordLetters
{
    int latin = 0;
    int cyrillic = 0;
    int latinOnly = 0;    // Latin letters without a Cyrillic look-alike
    int cyrillicOnly = 0; // and the other way round
};

WordLetters letters(const QString &word)
{
    WordLetters count;
    for (const QChar c : word) {
        if (!c.isLetter())
            continue;
        if (c.script() == QChar::Script_Latin) {
            ++count.latin;
            count.latinOnly += isLatinLookAlike(c) ? 0 : 1;
        } else if (c.script() == QChar::Script_Cyrillic) {
            ++count.cyrillic;
            count.cyrillicOnly += isCyrillicLookAlike(c) ? 0 : 1;
        }
    }
    return count;
}

QStringList words(const QString &text)
{
    static const QRegularExpression spaces(QStringLiteral("\\s+"));
    return text.split(spaces, Qt::SkipEmptyParts);
}

} // namespace

WritingScript decisiveScript(const QStringList &texts)
{
    int latin = 0;
    int cyrillic = 0;
    for (const QString &text : texts) {
        for (const QString &word : words(text)) {
            const WordLetters count = letters(word);
            if (count.cyrillic == 0 && count.latinOnly > 0)
                ++latin;
            else if (count.latin == 0 && count.cyrillicOnly > 0)
                ++cyrillic;
        }
    }
    if (latin == cyrillic)
        return WritingScript::none;
    return latin > cyrillic ? WritingScript::latin : WritingScript::cyrillic;
}

WritingScript lineScript(const QString &line)
{
    // A Russian model reads Latin text with the Cyrillic letters its shapes
    // are closest to ("Home" → "Ноте", "On" → "Оп"): those decide nothing either.
    static const QString readForLatin = QStringLiteral("тпигдьз");
    int latin = 0;
    int cyrillic = 0;
    for (const QString &word : words(line)) {
        const WordLetters count = letters(word);
        if (count.latin + count.cyrillic < 2)
            continue;
        const auto confusable = std::count_if(word.begin(), word.end(), [](QChar c) { return readForLatin.contains(c); });
        if (count.cyrillic == 0 && count.latinOnly > 0)
            ++latin;
        else if (count.latin == 0 && count.cyrillicOnly > confusable)
            ++cyrillic;
    }
    if ((latin > 0) == (cyrillic > 0))
        return WritingScript::none;
    return latin > 0 ? WritingScript::latin : WritingScript::cyrillic;
}

bool hasLetters(const QString &line)
{
    return std::any_of(line.begin(), line.end(), [](QChar c) { return c.isLetter(); });
}

} // namespace nimbel
