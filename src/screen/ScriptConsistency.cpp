#include "screen/ScriptConsistency.h"

#include <QRegularExpression>

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

WritingScript rereadScript(const QString &line, const QStringList &rowNeighbours)
{
    bool doubtfulLatin = false;    // reads as Latin, could be Cyrillic
    bool doubtfulCyrillic = false; // and the other way round
    for (const QString &word : words(line)) {
        const WordLetters count = letters(word);
        if (count.latin > 0 && count.cyrillic > 0) {
            doubtfulLatin = doubtfulLatin || count.latinOnly == 0;
            doubtfulCyrillic = doubtfulCyrillic || count.cyrillicOnly == 0;
        } else if (count.latin > 0) {
            doubtfulLatin = doubtfulLatin || count.latinOnly == 0;
        } else if (count.cyrillic > 0) {
            doubtfulCyrillic = doubtfulCyrillic || count.cyrillicOnly == 0;
        }
    }
    if (!doubtfulLatin && !doubtfulCyrillic)
        return WritingScript::none;

    int decisiveLatin = 0;
    int decisiveCyrillic = 0;
    for (const QString &word : words(line)) {
        const WordLetters count = letters(word);
        if (count.cyrillic == 0 && count.latinOnly > 0)
            ++decisiveLatin;
        else if (count.latin == 0 && count.cyrillicOnly > 0)
            ++decisiveCyrillic;
    }
    // A line that holds decisive words of both alphabets is really mixed
    // ("Заказы за декабрь / December orders"): re-reading it in one would spoil the other.
    if (decisiveLatin > 0 && decisiveCyrillic > 0)
        return WritingScript::none;
    WritingScript context = decisiveLatin > 0 ? WritingScript::latin
        : decisiveCyrillic > 0                ? WritingScript::cyrillic
                                              : decisiveScript(rowNeighbours);
    if (context == WritingScript::cyrillic && doubtfulLatin)
        return WritingScript::cyrillic;
    if (context == WritingScript::latin && doubtfulCyrillic)
        return WritingScript::latin;
    return WritingScript::none;
}

} // namespace nimbel
