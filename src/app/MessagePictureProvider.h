#pragma once

#include <QQuickImageProvider>

#include <functional>

namespace nimbel {

struct ChatMessage;
class OverlayViewModel;

// Serves a picture a chat message holds as "image://<provider>/<message id>":
// the screenshot attached to a message, or the JPEG uploaded for a screen
// question, both from memory (nothing is written anywhere). Images are
// requested synchronously, on the main thread, where the view model lives.
class MessagePictureProvider final : public QQuickImageProvider
{
public:
    using Picture = std::function<QImage(const ChatMessage &)>;

    MessagePictureProvider(const OverlayViewModel &viewModel, Picture picture);
    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override;

    static QImage attachment(const ChatMessage &message);
    static QImage sentPicture(const ChatMessage &message);

private:
    const OverlayViewModel &m_viewModel;
    Picture m_picture;
};

} // namespace nimbel
