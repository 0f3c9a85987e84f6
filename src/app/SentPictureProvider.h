#pragma once

#include <QQuickImageProvider>

namespace nimbel {

class OverlayViewModel;

// Serves the JPEG uploaded for a screen question as "image://sent/<message id>",
// decoded from the kept bytes in memory (nothing is written anywhere).
// Images are requested synchronously, on the main thread, where the view model lives.
class SentPictureProvider final : public QQuickImageProvider
{
public:
    explicit SentPictureProvider(const OverlayViewModel &viewModel);
    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override;

private:
    const OverlayViewModel &m_viewModel;
};

} // namespace nimbel
