#include "app/HighlightController.h"

#include "core/Log.h"
#include "screen/ElementLocator.h"
#include "screen/WindowWatch.h"

namespace nimbel {

HighlightController::HighlightController(Clock &clock, WindowWatch &watch, HighlightSurface &surface,
                                         ElementLocator *locator, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
    , m_watch(watch)
    , m_surface(surface)
    , m_locator(locator)
{
}

HighlightController::~HighlightController()
{
    m_task.cancel();
    m_surface.hide();
}

void HighlightController::present(HighlightRequest request)
{
    follow(QPointer<HighlightController>(this), std::move(request), m_task.start());
}

void HighlightController::dismiss()
{
    if (m_showing)
        log::info(log::general(), QStringLiteral("event=highlight_ended reason=dismissed"));
    m_task.cancel();
    m_surface.hide();
    setShowing(false);
}

void HighlightController::setShowing(bool showing)
{
    if (m_showing == showing)
        return;
    m_showing = showing;
    emit showingChanged(showing);
}

QCoro::Task<void> HighlightController::follow(QPointer<HighlightController> self, HighlightRequest request,
                                              TaskSlot::Ticket ticket)
{
    HighlightController *c = self.data();
    const auto resumed = [&] {
        c = self.data();
        return c && c->m_task.isCurrent(ticket.id) && !ticket.token.stop_requested();
    };
    const std::optional<QString> label = request.target.label;
    const bool canLocate = label && request.processIdentifier && c->m_locator;
    // The control as the accessibility tree last placed it, with the window's
    // position at that moment: moving the window moves it along.
    std::optional<std::pair<QRect, QPoint>> control;
    bool looked = false;
    std::optional<Milliseconds> shownAt;
    Milliseconds nextLookup{0};
    const char16_t *ended = u"expired";

    for (;;) {
        if (shownAt && c->m_clock.uptime() - *shownAt >= lifetime)
            break;
        if (canLocate && c->m_clock.uptime() >= nextLookup) {
            nextLookup = c->m_clock.uptime() + elementRefresh;
            // Started outside the co_await expression: GCC 12 destroys the
            // temporaries of a co_await's operand twice, and a label shared
            // with the answer lost a reference each time.
            ElementLocator::LabelMatch matches = [wanted = *label](const QString &name) {
                return highlight::sameLabel(name, wanted);
            };
            QCoro::Task<std::optional<QRect>> locating =
                c->m_locator->locate(*request.processIdentifier, std::move(matches), ticket.token);
            const std::optional<QRect> found = co_await std::move(locating);
            if (!resumed())
                co_return;
            looked = true;
            if (found) {
                const WindowSight then = c->m_watch.look(request.window);
                // A control outside its window is not the one in the picture.
                if (then.state == WindowSight::State::shown && then.frame.intersects(*found))
                    control = std::pair{*found, then.frame.topLeft()};
            }
        }

        const WindowSight sight = c->m_watch.look(request.window);
        if (sight.state != WindowSight::State::shown) {
            ended = sight.state == WindowSight::State::gone ? u"window_gone" : u"window_hidden";
            break;
        }
        std::optional<QRect> spot;
        if (control)
            spot = control->first.translated(sight.frame.topLeft() - control->second);
        else if (request.target.rect && (!canLocate || looked))
            spot = highlight::onScreen(*request.target.rect, request.capturedFrame, sight.frame.topLeft());
        if (!spot) {
            ended = u"no_target";
            break;
        }
        if (sight.coveredBy.intersects(*spot)) {
            ended = u"covered";
            break;
        }

        c->m_surface.show(highlight::toSurface(*spot, c->m_surface.scale()), request.target.number);
        if (!shownAt) {
            shownAt = c->m_clock.uptime();
            c->setShowing(true);
            log::info(log::general(), QStringLiteral("event=highlight_shown ")
                                          + log::Record()
                                                .add(u"step", request.target.number)
                                                .add(u"source", control ? u"accessibility" : u"screenshot")
                                                .text());
        }
        Clock &clock = c->m_clock;
        co_await clock.sleep(pollInterval, ticket.token);
        if (!resumed())
            co_return;
    }
    c->m_task.finish(ticket.id);
    c->m_surface.hide();
    c->setShowing(false);
    log::info(log::general(), QStringLiteral("event=highlight_ended ") + log::Record().add(u"reason", ended).text());
}

} // namespace nimbel
