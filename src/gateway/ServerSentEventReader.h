#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace nimbel {

// Splits a server-sent event stream into lines as its bytes arrive. A line
// ends at LF, CR or CRLF (a CRLF split across two reads is still one
// terminator); the terminator is not part of the line. A line is available
// as soon as its terminator has arrived. A line longer than the limit puts
// the reader into the overflowed state: it drops its buffer and yields
// nothing more, so a stream that never ends a line costs bounded memory.
class ServerSentEventReader
{
public:
    // Generous for one event (a sentence or a whole reply), small enough to
    // bound what a misbehaving server can make us hold.
    static constexpr qsizetype defaultMaxLineBytes = 1024 * 1024;

    explicit ServerSentEventReader(qsizetype maxLineBytes = defaultMaxLineBytes);

    void append(QByteArrayView bytes);
    // The body has ended: an unterminated last line becomes available too.
    void finish();
    // The next complete line, or nullopt until more bytes arrive.
    std::optional<QByteArray> nextLine();
    bool overflowed() const { return m_overflowed; }

    // The payload of a "data:" line (exact case, at the very start), decoded
    // as UTF-8 (invalid sequences become U+FFFD) and trimmed. Nullopt for
    // every other line, an empty payload and the "[DONE]" marker.
    static std::optional<QString> dataPayload(QByteArrayView line);

private:
    void compact();

    QByteArray m_buffer;
    qsizetype m_start = 0;   // first byte of the current line
    qsizetype m_scanned = 0; // bytes before this are known not to end a line
    qsizetype m_maxLineBytes;
    bool m_skipLineFeed = false; // the previous line ended with CR
    bool m_finished = false;
    bool m_overflowed = false;
};

} // namespace nimbel
