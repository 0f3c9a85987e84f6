#include "screen/ScreenTextRules.h"

#include <QRegularExpression>
#include <QSet>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <array>

namespace nimbel {

namespace {

constexpr qsizetype maximumTextLength = 240;
constexpr qsizetype shortestKey = 24;

bool isBase64(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9') || u == u'+' || u == u'/'
        || u == u'=';
}

bool isKeyLike(const QString &candidate)
{
    return candidate.size() >= shortestKey && std::all_of(candidate.cbegin(), candidate.cend(), isBase64);
}

// Digits among upper- and lower-case letters: how generated keys look, and
// how words and codes people type do not.
bool looksGenerated(const QString &candidate)
{
    const auto has = [&](auto test) { return std::any_of(candidate.cbegin(), candidate.cend(), test); };
    return std::all_of(candidate.cbegin(), candidate.cend(), isBase64) && has([](QChar c) { return c.isDigit(); })
        && has([](QChar c) { return c.isUpper(); }) && has([](QChar c) { return c.isLower(); });
}

// Part of a key the text recogniser split off ("sk_live_4eC3…" read as
// "sk live 4eC3…"): shorter than a whole key, but plainly generated.
constexpr qsizetype shortestKeyPart = 16;

// A piece without what frames it: the border of a text field read as "|" or
// "]", brackets, quotes, a trailing comma.
QString withoutFrame(const QString &piece)
{
    qsizetype begin = 0;
    qsizetype end = piece.size();
    while (begin < end && !isBase64(piece.at(begin)))
        ++begin;
    while (end > begin && !isBase64(piece.at(end - 1)))
        --end;
    return piece.mid(begin, end - begin);
}

// Three or more letters, lower-case after an optional capital: "Share", "usage".
bool isOrdinaryWord(const QString &piece)
{
    static const QRegularExpression word(QStringLiteral("^[A-Za-z][a-z]{2,}$"));
    return word.match(piece).hasMatch();
}

} // namespace

QString firstCharacters(const QString &text, qsizetype count)
{
    if (text.size() <= count)
        return text; // a cluster is at least one code unit
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    for (qsizetype n = 0; n < count; ++n) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0)
            return text;
        end = next;
    }
    return text.left(end);
}

std::optional<QString> sanitized(const std::optional<QString> &text)
{
    if (!text)
        return std::nullopt;
    static const QRegularExpression controls(QStringLiteral("[\\x{0000}-\\x{001F}\\x{007F}]+"));
    static const QRegularExpression spaces(QStringLiteral("\\s+"), QRegularExpression::UseUnicodePropertiesOption);
    // Broken UTF-16 (a lone surrogate) would make every pattern below fail
    // to match; it is read as U+FFFD instead.
    QString cleaned = QString::fromUtf8(text->toUtf8());
    cleaned.replace(controls, QStringLiteral(" "));
    cleaned.replace(spaces, QStringLiteral(" "));
    cleaned = cleaned.trimmed();
    if (cleaned.isEmpty())
        return std::nullopt;
    // A cut after a space would leave one at the end.
    return firstCharacters(cleaned, maximumTextLength).trimmed();
}

bool isSensitive(QStringView text)
{
    static constexpr std::array keywords{u"password", u"пароль", u"secret", u"api key", u"token"};
    // As in `sanitized`: the patterns must see valid UTF-16, or a broken
    // character next to a key would hide it.
    const QString valid = QString::fromUtf8(text.toUtf8());
    const QString lower = valid.toLower();
    for (const char16_t *keyword : keywords) {
        if (lower.contains(QStringView(keyword)))
            return true;
    }

    static const QRegularExpression separators(QStringLiteral("[\\-_:]+"));
    static const QRegularExpression spacesAndSeparators(QStringLiteral("[\\s\\-_:]+"),
                                                        QRegularExpression::UseUnicodePropertiesOption);
    static const QRegularExpression spaces(QStringLiteral("\\s+"), QRegularExpression::UseUnicodePropertiesOption);

    const QStringList pieces = valid.split(spaces, Qt::SkipEmptyParts);
    bool hasOrdinaryWord = false;
    // Neighbouring pieces that are no ordinary words, read together: a key
    // the recogniser broke at its separators.
    QString run;
    const auto generatedRun = [&run] {
        const bool generated = isKeyLike(run) && looksGenerated(run);
        run.clear();
        return generated;
    };
    for (const QString &piece : pieces) {
        const QString bare = withoutFrame(QString(piece).remove(separators));
        if (isKeyLike(bare) || (bare.size() >= shortestKeyPart && looksGenerated(bare)))
            return true;
        const bool ordinary = isOrdinaryWord(piece);
        hasOrdinaryWord = hasOrdinaryWord || ordinary;
        if (ordinary || bare.isEmpty() || !std::all_of(bare.cbegin(), bare.cend(), isBase64)) {
            if (generatedRun())
                return true;
        } else {
            run += bare;
        }
    }
    if (generatedRun())
        return true;
    // Only without ordinary words may the pieces be read together: otherwise
    // every plain five-word sentence would look like a key.
    return !hasOrdinaryWord && isKeyLike(QString(valid).remove(spacesAndSeparators));
}

QStringList unique(const QStringList &lines, qsizetype limit)
{
    QStringList result;
    if (limit <= 0)
        return result;
    QSet<QString> seen;
    for (const QString &line : lines) {
        const QString key = line.toLower();
        if (seen.contains(key))
            continue;
        seen.insert(key);
        result.append(line);
        if (result.size() >= limit)
            break;
    }
    return result;
}

} // namespace nimbel
