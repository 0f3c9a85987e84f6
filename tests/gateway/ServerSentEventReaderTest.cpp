#include "gateway/ServerSentEventReader.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace nimbel;

namespace {

QList<QByteArray> drain(ServerSentEventReader &reader)
{
    QList<QByteArray> lines;
    while (auto line = reader.nextLine())
        lines.append(*line);
    return lines;
}

// Feeds `stream` in pieces cut at `cuts` and returns every line, the last
// unterminated one included.
QList<QByteArray> splitInPieces(const QByteArray &stream, const QList<qsizetype> &cuts)
{
    ServerSentEventReader reader;
    QList<QByteArray> lines;
    qsizetype from = 0;
    for (qsizetype cut : cuts) {
        reader.append(QByteArrayView(stream).sliced(from, cut - from));
        lines += drain(reader);
        from = cut;
    }
    reader.append(QByteArrayView(stream).sliced(from));
    lines += drain(reader);
    reader.finish();
    lines += drain(reader);
    return lines;
}

} // namespace

TEST(ServerSentEventReader, givesTheSameLinesWhereverTheReadsAreCut)
{
    const QByteArray stream = "event: x\r\ndata: a\r\n\r\ndata: b\rdata: c\n\ndata: d\r\r\ndata: e";
    const QList<QByteArray> whole = splitInPieces(stream, {});
    EXPECT_EQ(whole, (QList<QByteArray>{"event: x", "data: a", "", "data: b", "data: c", "", "data: d", "", "data: e"}));
    for (qsizetype first = 1; first < stream.size(); ++first) {
        EXPECT_EQ(splitInPieces(stream, {first}), whole) << "cut at " << first;
        for (qsizetype second = first + 1; second < stream.size(); second += 3)
            EXPECT_EQ(splitInPieces(stream, {first, second}), whole) << "cuts at " << first << ", " << second;
    }
}

TEST(ServerSentEventReader, refusesALineLongerThanItsLimit)
{
    ServerSentEventReader exact(8);
    exact.append("12345678\n");
    EXPECT_EQ(exact.nextLine(), QByteArray("12345678"));
    EXPECT_FALSE(exact.overflowed());

    // Unterminated: detected while the line is still arriving.
    ServerSentEventReader endless(8);
    endless.append("123456");
    EXPECT_FALSE(endless.nextLine());
    endless.append("789");
    EXPECT_FALSE(endless.nextLine());
    EXPECT_TRUE(endless.overflowed());
    // Nothing more comes out, even when a terminator and good lines follow.
    endless.append("\nok\n");
    endless.finish();
    EXPECT_FALSE(endless.nextLine());

    // Terminated, but arriving in one piece together with its terminator.
    ServerSentEventReader whole(8);
    whole.append("ok\n123456789\nafter\n");
    EXPECT_EQ(whole.nextLine(), QByteArray("ok"));
    EXPECT_FALSE(whole.nextLine());
    EXPECT_TRUE(whole.overflowed());
}
