#include "gateway/ServerSentEventReader.h"

#include <algorithm>

namespace nimbel {

ServerSentEventReader::ServerSentEventReader(qsizetype maxLineBytes)
    : m_maxLineBytes(maxLineBytes)
{
}

void ServerSentEventReader::append(QByteArrayView bytes)
{
    if (m_overflowed || m_finished)
        return;
    m_buffer.append(bytes.data(), bytes.size());
}

void ServerSentEventReader::finish()
{
    m_finished = true;
}

std::optional<QByteArray> ServerSentEventReader::nextLine()
{
    if (m_overflowed)
        return std::nullopt;
    if (m_skipLineFeed && m_start < m_buffer.size()) {
        if (m_buffer.at(m_start) == '\n')
            ++m_start;
        m_skipLineFeed = false;
        m_scanned = std::max(m_scanned, m_start);
    }

    const char *begin = m_buffer.constData();
    const char *end = begin + m_buffer.size();
    const char *terminator = std::find_if(begin + m_scanned, end, [](char c) { return c == '\n' || c == '\r'; });
    if (terminator != end) {
        const qsizetype at = terminator - begin;
        if (at - m_start > m_maxLineBytes) {
            m_overflowed = true;
            m_buffer.clear();
            return std::nullopt;
        }
        QByteArray line = m_buffer.mid(m_start, at - m_start);
        m_skipLineFeed = *terminator == '\r';
        m_start = at + 1;
        m_scanned = m_start;
        compact();
        return line;
    }

    m_scanned = m_buffer.size();
    if (m_buffer.size() - m_start > m_maxLineBytes) {
        m_overflowed = true;
        m_buffer.clear();
        return std::nullopt;
    }
    if (m_finished && m_start < m_buffer.size()) {
        QByteArray line = m_buffer.mid(m_start);
        m_buffer.clear();
        m_start = m_scanned = 0;
        return line;
    }
    compact();
    return std::nullopt;
}

void ServerSentEventReader::compact()
{
    // Drop consumed bytes once they dominate, so the buffer stays near the
    // size of the line being assembled.
    if (m_start > 0 && (m_start == m_buffer.size() || m_start >= 64 * 1024)) {
        m_buffer.remove(0, m_start);
        m_scanned -= m_start;
        m_start = 0;
    }
}

std::optional<QString> ServerSentEventReader::dataPayload(QByteArrayView line)
{
    static constexpr QByteArrayView prefix("data:");
    if (!line.startsWith(prefix))
        return std::nullopt;
    const QString payload = QString::fromUtf8(line.sliced(prefix.size())).trimmed();
    if (payload.isEmpty() || payload == u"[DONE]")
        return std::nullopt;
    return payload;
}

} // namespace nimbel
