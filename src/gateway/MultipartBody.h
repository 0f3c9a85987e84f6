#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace nimbel {

// A multipart/form-data body written byte by byte: every part is
// "--boundary CRLF", its headers, an empty line, its data and CRLF; the body
// ends with "--boundary--" CRLF.
class MultipartBody
{
public:
    explicit MultipartBody(QByteArray boundary);

    // `prefix` followed by a fresh UUID in canonical upper-case form.
    static QByteArray freshBoundary(QByteArrayView prefix);

    // Adds a part with a Content-Disposition of form-data and `name`, plus
    // `filename` and a Content-Type header when given.
    MultipartBody &addPart(QByteArrayView name, QByteArrayView data, std::optional<QByteArrayView> filename = {},
                           std::optional<QByteArrayView> contentType = {});
    // The finished body (with the closing boundary).
    QByteArray finish() const;

    const QByteArray &boundary() const { return m_boundary; }
    // The request's "Content-Type" value.
    QByteArray contentType() const { return "multipart/form-data; boundary=" + m_boundary; }

private:
    QByteArray m_boundary;
    QByteArray m_body;
};

} // namespace nimbel
