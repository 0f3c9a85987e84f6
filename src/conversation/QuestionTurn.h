#pragma once

#include "conversation/DesktopRequestRouter.h"
#include "conversation/ZelmFailure.h"
#include "gateway/GatewayFailure.h"

#include <QString>
#include <QUuid>

#include <optional>
#include <stop_token>

namespace nimbel {

// What a running question turn carries from one step to the next. Taken by
// value: a step never holds references into the view model.
struct QuestionTurn
{
    QUuid requestID;
    // Stopped when a newer turn (or a cancel) supersedes this one.
    std::stop_token stop;
    // True for a typed or test question, false for a spoken one.
    bool shouldOpenChat = true;
    DesktopRequestRoute route = DesktopRequestRoute::general;
    // Trimmed.
    QString question;
    QUuid userMessageID;

    bool isSpoken() const { return !shouldOpenChat; }
};

// Why a step of a turn did not complete: the failure to show the owner, or
// nothing when the step was stopped (a stopped step ends without a trace).
struct TurnError
{
    std::optional<ZelmFailure> failure;

    static TurnError stopped() { return {}; }
    static TurnError from(const GatewayFailure &error)
    {
        if (error.isCancelled())
            return stopped();
        return {ZelmFailure::from(error)};
    }
    template<DescribedError E>
    static TurnError from(const E &error)
    {
        return {ZelmFailure::from(error)};
    }
    static TurnError from(const ZelmFailure &failure) { return {failure}; }

    bool isStopped() const { return !failure; }
};

} // namespace nimbel
