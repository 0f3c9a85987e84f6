#pragma once

#include <QList>
#include <QString>

namespace nimbel::test {

// A catalogue key found in source text.
struct KeyUse
{
    QString key;
    QString file;
    int line = 0;
};

// Keys in `text`: arguments of L::text / qtTrId / qsTrId / L.text calls, and
// any string literal shaped like a key of a catalogue area ("status.online"),
// so that keys kept in tables are found too.
QList<KeyUse> scanText(const QString &text, const QString &file);
// scanText over every C++, QML and JavaScript file under `root`.
QList<KeyUse> scanTree(const QString &root);

} // namespace nimbel::test
