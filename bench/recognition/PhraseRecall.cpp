#include "PhraseRecall.h"

#include "screen/ScreenTextRules.h"

#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <map>
#include <string>
#include <vector>

namespace nimbel::bench {

namespace {

using Text = std::u32string;

Text codePoints(const QString &text)
{
    const QList<uint> ucs4 = text.toUcs4();
    return Text(ucs4.begin(), ucs4.end());
}

QString normalised(const QString &text)
{
    static const QRegularExpression spaces(QStringLiteral("\\s+"), QRegularExpression::UseUnicodePropertiesOption);
    return text.toLower().replace(spaces, QStringLiteral(" ")).trimmed();
}

struct Match
{
    std::size_t a, b, size;
};

// difflib.SequenceMatcher without junk: b2j indexes the second sequence.
class SequenceMatcher
{
public:
    SequenceMatcher(const Text &a, const Text &b)
        : m_a(a)
        , m_b(b)
    {
        for (std::size_t j = 0; j < b.size(); ++j)
            m_b2j[b[j]].push_back(j);
    }

    Match findLongestMatch(std::size_t alo, std::size_t ahi, std::size_t blo, std::size_t bhi) const
    {
        std::size_t besti = alo, bestj = blo, bestsize = 0;
        std::map<std::size_t, std::size_t> j2len;
        for (std::size_t i = alo; i < ahi; ++i) {
            std::map<std::size_t, std::size_t> newj2len;
            const auto found = m_b2j.find(m_a[i]);
            if (found != m_b2j.end()) {
                for (const std::size_t j : found->second) {
                    if (j < blo)
                        continue;
                    if (j >= bhi)
                        break;
                    const auto previous = j > 0 ? j2len.find(j - 1) : j2len.end();
                    const std::size_t k = (previous == j2len.end() ? 0 : previous->second) + 1;
                    newj2len[j] = k;
                    if (k > bestsize) {
                        besti = i - k + 1;
                        bestj = j - k + 1;
                        bestsize = k;
                    }
                }
            }
            j2len = std::move(newj2len);
        }
        return {besti, bestj, bestsize};
    }

    double ratio() const
    {
        std::size_t matches = 0;
        std::vector<std::array<std::size_t, 4>> queue{{0, m_a.size(), 0, m_b.size()}};
        while (!queue.empty()) {
            const auto [alo, ahi, blo, bhi] = queue.back();
            queue.pop_back();
            const Match m = findLongestMatch(alo, ahi, blo, bhi);
            if (m.size == 0)
                continue;
            matches += m.size;
            if (alo < m.a && blo < m.b)
                queue.push_back({alo, m.a, blo, m.b});
            if (m.a + m.size < ahi && m.b + m.size < bhi)
                queue.push_back({m.a + m.size, ahi, m.b + m.size, bhi});
        }
        const std::size_t length = m_a.size() + m_b.size();
        return length == 0 ? 1.0 : 2.0 * matches / length;
    }

private:
    const Text &m_a;
    const Text &m_b;
    std::map<char32_t, std::vector<std::size_t>> m_b2j;
};

bool present(const QString &phrase, const QString &recognised, const Text &rec)
{
    const QString normalisedPhrase = normalised(phrase);
    if (recognised.contains(normalisedPhrase))
        return true;
    const Text p = codePoints(normalisedPhrase);
    const Match m = SequenceMatcher(rec, p).findLongestMatch(0, rec.size(), 0, p.size());
    const long lo = std::max(0L, long(m.a) - long(m.b) - 3);
    const std::size_t from = std::min(rec.size(), std::size_t(lo));
    const Text window = rec.substr(from, p.size() + 6);
    return SequenceMatcher(window, p).ratio() >= 0.85;
}

} // namespace

PhraseScore scorePhrases(const QStringList &truthPhrases, const QStringList &recognisedLines)
{
    const QString recognised = normalised(recognisedLines.join(QLatin1Char(' ')));
    const Text rec = codePoints(recognised);
    PhraseScore score;
    for (const QString &phrase : truthPhrases) {
        if (isSensitive(phrase)) {
            if (phrase.size() >= 6 && present(phrase, recognised, rec))
                score.leaked.append(phrase);
            continue;
        }
        ++score.total;
        if (present(phrase, recognised, rec))
            ++score.found;
        else
            score.missed.append(phrase);
    }
    return score;
}

} // namespace nimbel::bench
