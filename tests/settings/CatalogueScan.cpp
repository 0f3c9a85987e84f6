#include "settings/CatalogueScan.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

using namespace Qt::StringLiterals;

namespace nimbel::test {

namespace {

int lineOf(const QString &text, qsizetype offset)
{
    return int(QStringView(text).left(offset).count(u'\n')) + 1;
}

} // namespace

QList<KeyUse> scanText(const QString &text, const QString &file)
{
    static const QRegularExpression call(
        uR"re((?:\bL::text|\bqtTrId|\bqsTrId|\bL\.text)\s*\(\s*"([^"\\\n]+)")re"_s);
    static const QRegularExpression areaLiteral(QStringLiteral(
        R"re("((?:state|status|chat|orb|error|skill|speech|context|transcript|permission|settings|menu|firstRun)(?:\.[A-Za-z]+)+)")re"));
    QList<KeyUse> uses;
    QSet<qsizetype> seen;
    for (const QRegularExpression *pattern : {&call, &areaLiteral}) {
        auto it = pattern->globalMatch(text);
        while (it.hasNext()) {
            const auto match = it.next();
            const qsizetype at = match.capturedStart(1);
            if (seen.contains(at))
                continue;
            seen.insert(at);
            uses.append({match.captured(1), file, lineOf(text, at)});
        }
    }
    return uses;
}

QList<KeyUse> scanTree(const QString &root)
{
    QList<KeyUse> uses;
    QDirIterator it(root, {u"*.h"_s, u"*.cpp"_s, u"*.qml"_s, u"*.js"_s,
                     u"*.mjs"_s},
                    QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        uses += scanText(QString::fromUtf8(file.readAll()), path);
    }
    return uses;
}

} // namespace nimbel::test
