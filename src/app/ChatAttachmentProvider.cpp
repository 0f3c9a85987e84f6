#include "app/ChatAttachmentProvider.h"

#include "conversation/OverlayViewModel.h"

namespace nimbel {

ChatAttachmentProvider::ChatAttachmentProvider(const OverlayViewModel &viewModel)
    : QQuickImageProvider(QQuickImageProvider::Image)
    , m_viewModel(viewModel)
{
}

QImage ChatAttachmentProvider::requestImage(const QString &id, QSize *size, const QSize &requestedSize)
{
    const ChatMessage *message = m_viewModel.findMessage(QUuid::fromString(id));
    QImage image = message ? message->attachment : QImage();
    if (!image.isNull() && requestedSize.isValid())
        image = image.scaled(requestedSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (size)
        *size = image.size();
    return image;
}

} // namespace nimbel
