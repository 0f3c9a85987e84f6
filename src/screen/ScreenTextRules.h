#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace nimbel {

// Text rules shared by everything that reads the screen: the recogniser, the
// accessibility summary and the prepared screen context.

// The shared text cleaner: control-character runs and white-space runs become
// one space, the ends are trimmed, an empty result is absent, and at most
// 240 user-perceived characters are kept.
std::optional<QString> sanitized(const std::optional<QString> &text);

// True for text that must never leave the device nor reach a log: a telling
// keyword, or something shaped like a key. A key is a run of at least 24
// base64 characters once hyphens, underscores and colons are removed, found in
// one space-separated piece or, when no piece is an ordinary word, in the
// whole text with its spaces removed (a key grouped like "ABCD 1234 EFGH ...").
bool isSensitive(QStringView text);

// The lines in order, case-insensitively distinct (the first spelling wins),
// at most `limit` of them.
QStringList unique(const QStringList &lines, qsizetype limit);

// The first `count` user-perceived characters (grapheme clusters) of `text`.
QString firstCharacters(const QString &text, qsizetype count);

} // namespace nimbel
