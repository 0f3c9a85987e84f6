#include "conversation/ConversationWindow.h"

#include <gtest/gtest.h>

using namespace nimbel;
using namespace Qt::StringLiterals;
using Role = ChatMessage::Role;

namespace {

ChatMessage message(Role role, const QString &text)
{
    return ChatMessage::create(role, text, QDateTime(QDate(2026, 1, 15), QTime(9, 30), Qt::UTC));
}

QList<DesktopChatMessage> wired(std::initializer_list<std::pair<const char *, const char *>> entries)
{
    QList<DesktopChatMessage> list;
    for (const auto &[role, content] : entries)
        list.append({QString::fromUtf8(role), QString::fromUtf8(content)});
    return list;
}

QStringList texts(const QList<ChatMessage> &messages)
{
    QStringList result;
    for (const ChatMessage &m : messages)
        result.append(m.text);
    return result;
}

} // namespace

TEST(ConversationWindow, WireSkipsLeadingAssistantMessagesAndTagsHiddenContext)
{
    const QList<ChatMessage> conversation = {
        message(Role::assistant, "Welcome."),
        message(Role::assistant, "One moment."),
        message(Role::user, "  How do I export?\n"),
        message(Role::assistant, "Open the File menu."),
        message(Role::assistant, "   \n\t"), // blank: never sent
        message(Role::analyst, "Summary line\n1. Click File"),
        message(Role::screenFact, "Export button visible."),
        message(Role::assistant, "Then choose Export."),
    };
    EXPECT_EQ(ConversationWindow::wire(conversation),
              wired({{"user", "How do I export?"},
                     {"assistant", "Open the File menu."},
                     {"user", "[ANALYST]\nSummary line\n1. Click File"},
                     {"user", "[SCREEN]\nExport button visible."},
                     {"assistant", "Then choose Export."}}));
}

TEST(ConversationWindow, FullnessCountsMessagesAndUserPerceivedCharacters)
{
    // (Sixty messages are not full, more are: the question turn's compaction test.)
    // 59 messages holding 24,001 characters together are full; 24,000 are not.
    QList<ChatMessage> long59;
    for (int i = 0; i < 58; ++i)
        long59.append(message(Role::user, QString(400, u'x')));
    long59.append(message(Role::assistant, QString(24'000 - 58 * 400, u'y')));
    EXPECT_EQ(ConversationWindow::totalCharacters(long59), 24'000);
    EXPECT_FALSE(ConversationWindow::isFull(long59));
    long59.last().text += u'z';
    EXPECT_TRUE(ConversationWindow::isFull(long59));

    // Characters are grapheme clusters, not UTF-16 code units or bytes.
    EXPECT_EQ(ConversationWindow::characterCount(u"e\u0301"), 1);                 // e + combining acute
    EXPECT_EQ(ConversationWindow::characterCount(u"\U0001F468\u200D\U0001F469\u200D\U0001F467"), 1); // one family
}

TEST(ConversationWindow, CompactionKeepsRecentDistinctFactsAndRecentOthersInOrder)
{
    QList<ChatMessage> conversation = {message(Role::assistant, "Welcome.")};
    for (int i = 0; i < 20; ++i) {
        conversation.append(message(Role::user, u"question %1"_s.arg(i)));
        conversation.append(message(Role::screenFact, u"Fact %1"_s.arg(i)));
        conversation.append(message(Role::assistant, u"answer %1"_s.arg(i)));
    }
    // Five repeats of facts already seen, differing only in case and spaces.
    for (int i = 15; i < 20; ++i)
        conversation.append(message(Role::screenFact, u"  fact %1 "_s.arg(i)));
    ASSERT_TRUE(ConversationWindow::isFull(conversation));

    const QList<ChatMessage> result = ConversationWindow::compacted(conversation);
    QStringList expected;
    for (int i = 4; i < 20; ++i) {
        // Last 12 non-fact messages: questions and answers 14..19.
        if (i >= 14)
            expected.append(u"question %1"_s.arg(i));
        expected.append(u"Fact %1"_s.arg(i)); // first occurrence of the last 16 distinct facts
        if (i >= 14)
            expected.append(u"answer %1"_s.arg(i));
    }
    EXPECT_EQ(texts(result), expected);
    // The welcome message is older than the last 12: it goes.
    EXPECT_FALSE(texts(result).contains(u"Welcome."_s));
    // Nothing is rewritten: the kept messages are the same records.
    EXPECT_EQ(result.first().id, conversation.at(14).id);
}

TEST(ConversationWindow, EstablishedFactsAndRecentTurns)
{
    const QList<ChatMessage> conversation = {
        message(Role::assistant, "Welcome."),
        message(Role::user, "Where is save?"),
        message(Role::screenFact, "Button: Save\nDialog: Export"),
        message(Role::analyst, "Click Save."),
        message(Role::screenFact, "button: save \n\n  Status: ready  "),
        message(Role::assistant, "   "),
        message(Role::assistant, " Press Save. "),
    };
    EXPECT_EQ(ConversationWindow::established(conversation),
              (QStringList{"Button: Save", "Dialog: Export", "Status: ready"}));

    EXPECT_EQ(ConversationWindow::recentTurns(conversation),
              (QList<RecentTurn>{{"assistant", "Welcome."}, {"owner", "Where is save?"}, {"assistant", "Press Save."}}));
    // The limit applies before blank texts are dropped, so fewer may remain.
    EXPECT_EQ(ConversationWindow::recentTurns(conversation, 2), (QList<RecentTurn>{{"assistant", "Press Save."}}));
}

TEST(ConversationWindow, FindingNotePrefersFactsThenWhatTheCaptureShowed)
{
    EXPECT_EQ(ConversationWindow::findingNote({"Login form open", " Error shown! ", "  ", "Ready?"}, u"App"_s, u"Win"_s),
              u"Login form open.\nError shown!\nReady?"_s);
    EXPECT_EQ(ConversationWindow::findingNote({" "}, u" Files "_s, u" Report.pdf "_s),
              u"The screen showed the application Files, window “Report.pdf”."_s);
    EXPECT_EQ(ConversationWindow::findingNote({}, std::nullopt, std::nullopt), std::nullopt);
}
