#pragma once

#include "conversation/QuestionTurn.h"
#include "core/Result.h"

#include <QPointer>

#include <QCoro/QCoroTask>

namespace nimbel {

class OverlayViewModel;

// The screen half of a question turn: the screen skills, a fresh capture with
// its prepared contexts, the analysis, the hidden context messages, and then
// the streamed visible answer through OverlayViewModel::runGeneralQuestion
// with `followingScreen` set. It runs inside the turn's task: after every
// await it must check, in this order, `turn.stop`, that `viewModel` is still
// there, and `viewModel->isActiveRequest(turn.requestID)`, and change nothing
// when any says no. A stopped path returns TurnError::stopped().
class ScreenQuestionPath
{
public:
    virtual ~ScreenQuestionPath() = default;
    virtual QCoro::Task<Result<Done, TurnError>> run(QPointer<OverlayViewModel> viewModel, QuestionTurn turn) = 0;
};

// Stands in while this build has no screen understanding: every screen
// question fails with a message that says so, rather than pretending to look.
class UnavailableScreenQuestionPath final : public ScreenQuestionPath
{
public:
    QCoro::Task<Result<Done, TurnError>> run(QPointer<OverlayViewModel> viewModel, QuestionTurn turn) override;
};

} // namespace nimbel
