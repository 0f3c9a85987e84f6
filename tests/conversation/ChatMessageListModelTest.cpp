#include "conversation/ChatMessageListModel.h"

#include <QAbstractItemModelTester>

#include <gtest/gtest.h>

using namespace nimbel;
using namespace Qt::StringLiterals;
using Role = ChatMessage::Role;

namespace {

const QDateTime stamp(QDate(2026, 2, 1), QTime(10, 0), Qt::UTC);

ChatMessage message(Role role, const QString &text)
{
    return ChatMessage::create(role, text, stamp);
}

QString change(int row, const QList<int> &roles)
{
    QStringList names;
    for (int role : roles)
        names << QString::number(role);
    return u"change %1-%1 %2"_s.arg(row).arg(names.join(u','));
}

// Records the model's change notifications as short strings, under the model tester's checks.
class ModelEvents
{
public:
    explicit ModelEvents(ChatMessageListModel &model)
        : m_tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal)
    {
        const auto span = [this](const char *kind) {
            return [this, kind](const QModelIndex &, int first, int last) {
                events << u"%1 %2-%3"_s.arg(QLatin1String(kind)).arg(first).arg(last);
            };
        };
        QObject::connect(&model, &QAbstractItemModel::rowsInserted, &model, span("insert"));
        QObject::connect(&model, &QAbstractItemModel::rowsRemoved, &model, span("remove"));
        QObject::connect(&model, &QAbstractItemModel::modelReset, &model, [this] { events << u"reset"_s; });
        QObject::connect(&model, &QAbstractItemModel::dataChanged, &model,
                         [this](const QModelIndex &top, const QModelIndex &bottom, const QList<int> &roles) {
                             events << (top.row() == bottom.row() ? change(top.row(), roles) : u"span"_s);
                         });
    }

    QStringList take() { return std::exchange(events, {}); }

private:
    QAbstractItemModelTester m_tester;
    QStringList events;
};

QStringList texts(const ChatMessageListModel &model)
{
    QStringList result;
    for (int row = 0; row < model.rowCount(); ++row)
        result << model.data(model.index(row), ChatMessageListModel::TextRole).toString();
    return result;
}

} // namespace

TEST(ChatMessageListModel, ReportsEachChangePreciselyAndResetsOnlyOnReordering)
{
    ChatMessageListModel model;
    ModelEvents events(model);
    QList<ChatMessage> messages = {message(Role::assistant, u"welcome"_s)};
    model.setMessages(messages);
    EXPECT_EQ(events.take(), QStringList({"insert 0-0"}));

    // A turn appends the question and an opening line at once: one insertion.
    messages << message(Role::user, u"q"_s) << message(Role::assistant, u"Let me look."_s);
    model.setMessages(messages);
    EXPECT_EQ(events.take(), QStringList({"insert 1-2"}));

    // Hidden context changes nothing the views see.
    messages << message(Role::analyst, u"note"_s) << message(Role::screenFact, u"facts"_s);
    model.setMessages(messages);
    EXPECT_EQ(events.take(), QStringList());

    // The streamed answer appears after the hidden messages, then grows in place.
    ChatMessage answer = message(Role::assistant, u"First."_s);
    messages << answer;
    model.setMessages(messages);
    EXPECT_EQ(events.take(), QStringList({"insert 3-3"}));
    messages.last().text += u" Second."_s;
    model.setMessages(messages);
    EXPECT_EQ(events.take(), QStringList({change(3, {ChatMessageListModel::TextRole, Qt::DisplayRole})}));
    EXPECT_EQ(texts(model).last(), u"First. Second.");

    // The same list again is silent.
    model.setMessages(messages);
    EXPECT_EQ(events.take(), QStringList());

    // Rows removed around rows that stay, then new ones between them.
    const ChatMessage a = message(Role::assistant, u"a"_s);
    const ChatMessage b = message(Role::user, u"b"_s);
    const ChatMessage c = message(Role::assistant, u"c"_s);
    const ChatMessage d = message(Role::user, u"d"_s);
    const ChatMessage e = message(Role::assistant, u"e"_s);
    model.setMessages({a, b, c, d, e});
    events.take();
    model.setMessages({a, c, e});
    EXPECT_EQ(events.take(), QStringList({"remove 3-3", "remove 1-1"}));
    EXPECT_EQ(texts(model), QStringList({"a", "c", "e"}));

    // New rows between and before rows that stay.
    const ChatMessage x = message(Role::user, u"x"_s);
    const ChatMessage y = message(Role::user, u"y"_s);
    model.setMessages({x, a, b, c, y, e});
    EXPECT_EQ(events.take(), QStringList({"insert 0-0", "insert 2-2", "insert 4-4"}));
    EXPECT_EQ(texts(model), QStringList({"x", "a", "b", "c", "y", "e"}));

    // Reordered or repeated messages reset the model.
    model.setMessages({c, a});
    EXPECT_EQ(events.take(), QStringList({"reset"}));
    model.setMessages({a, a});
    EXPECT_EQ(events.take(), QStringList({"reset"}));
    EXPECT_EQ(texts(model), QStringList({"a", "a"}));
}
