#pragma once

// Readable GoogleTest output for Qt value types; force-included in every test.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <ostream>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &value, std::ostream *os) { *os << '"' << value.toStdString() << '"'; }
inline void PrintTo(const QByteArray &value, std::ostream *os) { *os << '"' << value.toStdString() << '"'; }
inline void PrintTo(const QStringList &value, std::ostream *os)
{
    *os << '[' << value.join(QStringLiteral(", ")).toStdString() << ']';
}
inline void PrintTo(const QUrl &value, std::ostream *os) { *os << value.toString().toStdString(); }
QT_END_NAMESPACE
