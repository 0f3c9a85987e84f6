#include "gateway/MultipartBody.h"

#include <QUuid>

namespace nimbel {

MultipartBody::MultipartBody(QByteArray boundary)
    : m_boundary(std::move(boundary))
{
}

QByteArray MultipartBody::freshBoundary(QByteArrayView prefix)
{
    return prefix.toByteArray() + QUuid::createUuid().toByteArray(QUuid::WithoutBraces).toUpper();
}

MultipartBody &MultipartBody::addPart(QByteArrayView name, QByteArrayView data, std::optional<QByteArrayView> filename,
                                      std::optional<QByteArrayView> contentType)
{
    m_body += "--" + m_boundary + "\r\n";
    m_body += "Content-Disposition: form-data; name=\"";
    m_body += name;
    m_body += '"';
    if (filename) {
        m_body += "; filename=\"";
        m_body += *filename;
        m_body += '"';
    }
    m_body += "\r\n";
    if (contentType) {
        m_body += "Content-Type: ";
        m_body += *contentType;
        m_body += "\r\n";
    }
    m_body += "\r\n";
    m_body += data;
    m_body += "\r\n";
    return *this;
}

QByteArray MultipartBody::finish() const
{
    return m_body + "--" + m_boundary + "--\r\n";
}

} // namespace nimbel
