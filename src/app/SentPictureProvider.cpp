#include "app/SentPictureProvider.h"

#include "conversation/OverlayViewModel.h"

namespace nimbel {

SentPictureProvider::SentPictureProvider(const OverlayViewModel &viewModel)
    : QQuickImageProvider(QQuickImageProvider::Image)
    , m_viewModel(viewModel)
{
}

QImage SentPictureProvider::requestImage(const QString &id, QSize *size, const QSize &requestedSize)
{
    const ChatMessage *message = m_viewModel.findMessage(QUuid::fromString(id));
    QImage image;
    if (message && message->sentContext)
        image = QImage::fromData(message->sentContext->jpeg, "JPEG");
    if (!image.isNull() && requestedSize.isValid())
        image = image.scaled(requestedSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (size)
        *size = image.size();
    return image;
}

} // namespace nimbel
