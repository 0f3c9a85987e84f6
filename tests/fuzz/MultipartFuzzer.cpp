// The upload builders frame their parts with a fresh boundary. Whatever the
// parts hold (the owner's question, screen text, picture and sound bytes, even
// pieces of the boundary itself), the body splits at its delimiters back into
// exactly the parts that went in: the delimiter never occurs inside a part.

#include "FuzzCheck.h"
#include "gateway/AnalyzeRequest.h"
#include "gateway/MultipartBody.h"
#include "gateway/SpeechWire.h"

#include <vector>

using namespace nimbel;

namespace {

struct Part
{
    QByteArray headers;
    QByteArray data;
};

// Splits `body` the way a server does: at every CRLF "--" boundary.
std::vector<Part> split(const QByteArray &body, const QByteArray &boundary)
{
    const QByteArray first = "--" + boundary + "\r\n";
    const QByteArray delimiter = "\r\n--" + boundary;
    check(body.startsWith(first));
    check(body.endsWith(delimiter + "--\r\n"));
    std::vector<Part> parts;
    qsizetype at = first.size();
    for (;;) {
        const qsizetype next = body.indexOf(delimiter, at);
        check(next >= 0);
        const QByteArray whole = body.mid(at, next - at);
        const qsizetype blank = whole.indexOf("\r\n\r\n");
        check(blank >= 0);
        parts.push_back({whole.left(blank), whole.mid(blank + 4)});
        at = next + delimiter.size();
        if (body.mid(at) == "--\r\n")
            return parts;
        check(body.mid(at, 2) == "\r\n");
        at += 2;
    }
}

// Pieces of the input, some of them salted with the start of the boundary.
class Pieces
{
public:
    Pieces(QByteArrayView input, QByteArray boundary)
        : m_input(input)
        , m_boundary(std::move(boundary))
    {
    }
    QByteArray next()
    {
        if (m_at >= m_input.size())
            return {};
        const uint8_t control = uint8_t(m_input[m_at++]);
        const qsizetype length = std::min<qsizetype>(m_input.size() - m_at, control & 63);
        QByteArray piece = m_input.sliced(m_at, length).toByteArray();
        m_at += length;
        if (control & 64) {
            // A near miss: the delimiter with the boundary's last byte
            // changed. (The boundary itself is 122 random bits that no part
            // can know in advance.)
            QByteArray nearMiss = "\r\n--" + m_boundary;
            nearMiss.back() = nearMiss.back() == 'Z' ? 'Y' : 'Z';
            piece.insert(piece.size() / 2, nearMiss);
        }
        if (control & 128)
            piece += "\r\n--";
        return piece;
    }

private:
    QByteArrayView m_input;
    QByteArray m_boundary;
    qsizetype m_at = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArrayView input(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    if (data[0] % 2 == 0) {
        const QByteArray boundary = MultipartBody::freshBoundary("ZelmVision-");
        Pieces pieces(input, boundary);
        const QByteArray payload = pieces.next();
        const QByteArray jpeg = pieces.next();
        const auto parts = split(analyzeUploadBody(boundary, payload, jpeg), boundary);
        check(parts.size() == 2);
        check(parts[0].data == payload && parts[1].data == jpeg);
        check(parts[0].headers.contains("name=\"payload\"") && parts[1].headers.contains("name=\"image\""));
    } else {
        const QByteArray boundary = MultipartBody::freshBoundary("ZelmVoice-");
        Pieces pieces(input, boundary);
        const QString language = QString::fromUtf8(pieces.next());
        const QString agent = QString::fromUtf8(pieces.next());
        const QString prompt = QString::fromUtf8(pieces.next());
        const QByteArray wav = pieces.next();
        const auto parts = split(transcriptionUploadBody(boundary, language, agent, prompt, wav), boundary);
        const qsizetype expected = 2 + (agent.trimmed().isEmpty() ? 0 : 1) + (prompt.trimmed().isEmpty() ? 0 : 1);
        check(qsizetype(parts.size()) == expected);
        check(parts.front().data == language.toUtf8());
        check(parts.back().data == wav && parts.back().headers.contains("filename=\"voice.wav\""));
    }
    return 0;
}
