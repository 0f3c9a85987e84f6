#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>

#include <optional>

namespace nimbel::handOverMessage {

// What a later launch writes to the running instance: a greeting line, then
// one link per line. Anything of this user's may write to the socket, so the
// reader takes nothing else.

// A hand-over is a handful of links; anything longer is not one of ours.
inline constexpr qsizetype maximumBytes = 64 * 1024;

// Line breaks inside a link are dropped: a link is one line.
QByteArray encode(const QStringList &links);

// The links, in order, without empty ones; nullopt for anything that is not
// a whole hand-over message (no greeting, or longer than `maximumBytes`).
std::optional<QStringList> decode(QByteArrayView message);

} // namespace nimbel::handOverMessage
