#pragma once

#include <QString>
#include <QStringList>

namespace nimbel {

// Latin and Cyrillic share a dozen letter shapes ("A"/"А", "H"/"Н", "o"/"о", "p"/"р"),
// and a recogniser that knows both alphabets reads a short Russian word made of
// them as Latin ("на" → "Ha", "Номер" → "Homep") or the other way round. What
// settles the alphabet is the text around the word.
enum class WritingScript { none, latin, cyrillic };

// The alphabet of the words that could only be written in one of them
// (a Latin "s", a Cyrillic "д"), by majority; none on a tie.
WritingScript decisiveScript(const QStringList &texts);

// The alphabet a reading of one line shows: the alphabet of its decisive
// words of two letters or more (a stray sign read as "f" decides nothing);
// words of look-alikes follow them. `none` when it has no such word or has
// them in both alphabets.
WritingScript lineScript(const QString &line);

// Whether `line` has letters at all (an amount, a time or a count has none).
bool hasLetters(const QString &line);

} // namespace nimbel
