#pragma once

#include "app/HighlightController.h"
#include "gateway/NavigationResponse.h"
#include "screen/CaptureArtifact.h"
#include "screen/PreparedScreenContext.h"

#include <QObject>

#include <optional>

namespace nimbel {

class HighlightSettings;
class OverlayViewModel;
class X11InputWatch;

// Points out on the screen what a screen answer points at, when the owner
// wants it: it hands each answer about a window to the highlight controller
// and takes the ring away when the owner clicks or presses Escape anywhere,
// asks the next question, takes a screenshot or switches the setting off.
class ScreenHighlight final : public QObject
{
    Q_OBJECT
public:
    // `input` may be absent (no XInput on this display): the ring then goes
    // by the other rules only.
    ScreenHighlight(OverlayViewModel &model, HighlightSettings &settings, HighlightController &controller,
                    X11InputWatch *input, QObject *parent = nullptr);

    // What an answer about `capture` asks to point out; absent when it points
    // at nothing or the capture was not of one window.
    static std::optional<HighlightRequest> requestFor(const NavigationResponse &answer, const CaptureArtifact &capture,
                                                      const std::optional<PreparedScreenContext> &context,
                                                      bool useAccessibility);

private:
    void answered(const NavigationResponse &answer, const CaptureArtifact &capture,
                  const std::optional<PreparedScreenContext> &context);
    void messagesChanged();
    qsizetype userMessages() const;

    OverlayViewModel &m_model;
    HighlightSettings &m_settings;
    HighlightController &m_controller;
    qsizetype m_userMessages = 0;
};

} // namespace nimbel
