#include "conversation/ScreenQuestionPath.h"

#include "settings/Localized.h"

namespace nimbel {

QCoro::Task<Result<Done, TurnError>> UnavailableScreenQuestionPath::run(QPointer<OverlayViewModel>, QuestionTurn turn)
{
    if (turn.stop.stop_requested())
        co_return TurnError::stopped();
    co_return TurnError::from(ZelmFailure{L::text("error.screenQuestion.unavailable")});
}

} // namespace nimbel
