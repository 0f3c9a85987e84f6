#pragma once

#include <QString>

namespace nimbel {

// Text rules of the wire formats. "Characters" are user-perceived characters
// (grapheme clusters), never bytes or UTF-16 units.
qsizetype graphemeCount(const QString &text);
// The first / last `count` grapheme clusters of `text` (all of it when shorter).
QString leadingGraphemes(const QString &text, qsizetype count);
QString trailingGraphemes(const QString &text, qsizetype count);

// Whether `text` holds a letter of the class [А-Яа-яЁё].
bool containsCyrillic(const QString &text);
// "ru" when `text` holds such a letter, "en" otherwise.
QString wireLanguage(const QString &text);

} // namespace nimbel
