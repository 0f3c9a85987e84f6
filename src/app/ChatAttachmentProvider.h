#pragma once

#include <QQuickImageProvider>

namespace nimbel {

class OverlayViewModel;

// Serves the screenshot attached to a message as "image://chat/<message id>".
// Images are requested synchronously, on the main thread, where the view model lives.
class ChatAttachmentProvider final : public QQuickImageProvider
{
public:
    explicit ChatAttachmentProvider(const OverlayViewModel &viewModel);
    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override;

private:
    const OverlayViewModel &m_viewModel;
};

} // namespace nimbel
