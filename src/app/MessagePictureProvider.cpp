#include "app/MessagePictureProvider.h"

#include "conversation/OverlayViewModel.h"

namespace nimbel {

MessagePictureProvider::MessagePictureProvider(const OverlayViewModel &viewModel, Picture picture)
    : QQuickImageProvider(QQuickImageProvider::Image)
    , m_viewModel(viewModel)
    , m_picture(std::move(picture))
{
}

QImage MessagePictureProvider::requestImage(const QString &id, QSize *size, const QSize &requestedSize)
{
    const ChatMessage *message = m_viewModel.findMessage(QUuid::fromString(id));
    QImage image = message ? m_picture(*message) : QImage();
    if (!image.isNull() && requestedSize.isValid())
        image = image.scaled(requestedSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (size)
        *size = image.size();
    return image;
}

QImage MessagePictureProvider::attachment(const ChatMessage &message)
{
    return message.attachment;
}

QImage MessagePictureProvider::sentPicture(const ChatMessage &message)
{
    return message.sentContext ? QImage::fromData(message.sentContext->jpeg, "JPEG") : QImage();
}

} // namespace nimbel
