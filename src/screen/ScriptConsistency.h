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

// The alphabet `line` should be re-read in: when it holds words whose letters
// all have look-alikes in the other alphabet, or that mix both alphabets, and
// its own decisive words (or, failing those, the rest of its row) are in that
// other alphabet and none are in the word's. `none` when the reading stands.
WritingScript rereadScript(const QString &line, const QStringList &rowNeighbours);

} // namespace nimbel
