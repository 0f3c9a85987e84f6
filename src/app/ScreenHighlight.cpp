#include "app/ScreenHighlight.h"

#include "app/HighlightSettings.h"
#include "conversation/OverlayViewModel.h"
#include "screen/linux/X11InputWatch.h"

#include <algorithm>

namespace nimbel {

ScreenHighlight::ScreenHighlight(OverlayViewModel &model, HighlightSettings &settings,
                                 HighlightController &controller, X11InputWatch *input, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_settings(settings)
    , m_controller(controller)
    , m_userMessages(userMessages())
{
    connect(&model.screenContext(), &ScreenContextCoordinator::screenAnswered, this, &ScreenHighlight::answered);
    connect(&model, &OverlayViewModel::stateChanged, this, [this] {
        if (m_model.state() == OverlayViewModel::State::capturing)
            m_controller.dismiss();
    });
    connect(&model, &OverlayViewModel::messagesChanged, this, &ScreenHighlight::messagesChanged);
    connect(&settings, &HighlightSettings::enabledChanged, this, [this] {
        if (!m_settings.isEnabled())
            m_controller.dismiss();
    });
    if (input) {
        connect(&controller, &HighlightController::showingChanged, input, &X11InputWatch::setListening);
        connect(input, &X11InputWatch::pressed, &controller, &HighlightController::dismiss);
    }
}

std::optional<HighlightRequest> ScreenHighlight::requestFor(const NavigationResponse &answer,
                                                            const CaptureArtifact &capture,
                                                            const std::optional<PreparedScreenContext> &context,
                                                            bool useAccessibility)
{
    if (capture.metadata.kind != CaptureKind::window || !capture.source || !capture.source->window)
        return std::nullopt;
    const auto target = highlight::targetOf(answer, context);
    if (!target)
        return std::nullopt;
    HighlightRequest request;
    request.window = *capture.source->window;
    request.capturedFrame = capture.source->frame;
    request.target = *target;
    if (useAccessibility)
        request.processIdentifier = capture.source->processIdentifier;
    return request;
}

void ScreenHighlight::answered(const NavigationResponse &answer, const CaptureArtifact &capture,
                               const std::optional<PreparedScreenContext> &context)
{
    if (!m_settings.isEnabled() || !m_settings.isAvailable())
        return;
    if (auto request = requestFor(answer, capture, context, m_model.accessibilityContextEnabled()))
        m_controller.present(std::move(*request));
}

qsizetype ScreenHighlight::userMessages() const
{
    const QList<ChatMessage> &messages = m_model.messages();
    return std::count_if(messages.cbegin(), messages.cend(),
                         [](const ChatMessage &m) { return m.role == ChatMessage::Role::user; });
}

void ScreenHighlight::messagesChanged()
{
    // A question of the owner's: what shows belonged to the one before.
    const qsizetype users = userMessages();
    if (users > m_userMessages)
        m_controller.dismiss();
    m_userMessages = users;
}

} // namespace nimbel
