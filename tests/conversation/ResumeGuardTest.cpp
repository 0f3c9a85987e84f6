#include "conversation/ResumeGuard.h"

#include "support/VirtualClock.h"

#include <QCoro/QCoroTask>
#include <QObject>

#include <gtest/gtest.h>

using namespace nimbel;

namespace {

class Owner : public QObject
{
public:
    TaskSlot work;
    QStringList results;

    // The shape of every cancellable step: inputs by value, the owner through a
    // guarded pointer, the check after the await.
    static QCoro::Task<> run(QPointer<Owner> self, Clock &clock, TaskSlot::Ticket ticket, QString result)
    {
        const bool slept = co_await clock.sleep(std::chrono::milliseconds(100), ticket.token);
        Owner *owner = resumeTarget(self, ticket, &Owner::work);
        if (!slept || !owner)
            co_return;
        owner->results << result;
        owner->work.finish(ticket.id);
    }
};

} // namespace

TEST(ResumeGuard, AnswersTheOwnerOnlyWhileTheTaskIsCurrent)
{
    auto owner = std::make_unique<Owner>();
    QPointer<Owner> guarded(owner.get());

    const TaskSlot::Ticket first = owner->work.start();
    EXPECT_EQ(resumeTarget(guarded, first, &Owner::work), owner.get());

    const TaskSlot::Ticket second = owner->work.start();
    EXPECT_EQ(resumeTarget(guarded, first, &Owner::work), nullptr) << "superseded and stopped";
    EXPECT_EQ(resumeTarget(guarded, second, &Owner::work), owner.get());

    // Current identifier but a stop already requested: stopped comes first.
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_EQ(resumeTarget(guarded, TaskSlot::Ticket{second.id, stopped.get_token()}, &Owner::work), nullptr);

    owner->work.cancel();
    EXPECT_EQ(resumeTarget(guarded, second, &Owner::work), nullptr);

    const TaskSlot::Ticket third = owner->work.start();
    owner.reset();
    EXPECT_EQ(resumeTarget(guarded, third, &Owner::work), nullptr) << "owner gone";
}

TEST(ResumeGuard, ASupersededTaskLeavesNoResult)
{
    test::VirtualClock clock;
    Owner owner;
    QPointer<Owner> guarded(&owner);

    Owner::run(guarded, clock, owner.work.start(), QStringLiteral("old"));
    clock.advance(std::chrono::milliseconds(50));
    Owner::run(guarded, clock, owner.work.start(), QStringLiteral("new"));
    clock.advance(std::chrono::milliseconds(200));
    EXPECT_EQ(owner.results, QStringList{QStringLiteral("new")});
    EXPECT_FALSE(owner.work.isRunning());

    // An owner destroyed mid-wait stops its task; the timer underneath goes too.
    auto doomed = std::make_unique<Owner>();
    Owner::run(QPointer<Owner>(doomed.get()), clock, doomed->work.start(), QStringLiteral("late"));
    EXPECT_EQ(clock.pendingTimers(), 1u);
    doomed.reset();
    clock.settle();
    EXPECT_EQ(clock.pendingTimers(), 0u);
}
