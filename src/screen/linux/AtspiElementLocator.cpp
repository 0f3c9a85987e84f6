#include "screen/linux/AtspiElementLocator.h"

#include "screen/AccessibilityContext.h"
#include "screen/linux/AtspiRoleMap.h"
#include "screen/linux/AtspiSession.h"
#include "screen/linux/AtspiWorker.h"

#include <QFuture>
#include <QPromise>

#include <QCoro/QCoroFuture>

#include <atspi/atspi.h>

#include <algorithm>
#include <memory>

namespace nimbel {

namespace {

using SteadyClock = std::chrono::steady_clock;

struct ObjectUnref
{
    void operator()(gpointer object) const { g_object_unref(object); }
};
using Accessible = std::unique_ptr<AtspiAccessible, ObjectUnref>;

// Elements below this depth are never looked at.
constexpr int deepestLevel = 24;

class Search
{
public:
    Search(ElementLocator::LabelMatch matches, SteadyClock::time_point deadline, std::stop_token stop)
        : m_matches(std::move(matches))
        , m_deadline(deadline)
        , m_stop(std::move(stop))
    {
    }

    std::optional<QRect> run(qint64 processIdentifier)
    {
        if (!ensureSession())
            return std::nullopt;
        dropLateReplies();
        if (!admit())
            return std::nullopt;
        const Accessible desktop(atspi_get_desktop(0));
        if (!desktop)
            return std::nullopt;
        for (int i = 0, count = childCount(desktop.get()); i < count && admit(); ++i) {
            GError *error = nullptr;
            const Accessible application(atspi_accessible_get_child_at_index(desktop.get(), i, &error));
            g_clear_error(&error);
            if (!application || !admit())
                continue;
            const guint pid = atspi_accessible_get_process_id(application.get(), &error);
            const bool failed = error != nullptr;
            g_clear_error(&error);
            if (!failed && qint64(pid) == processIdentifier)
                return walk(application.get(), 0);
        }
        return std::nullopt;
    }

private:
    bool admit()
    {
        if (m_stop.stop_requested())
            return false;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(m_deadline - SteadyClock::now());
        if (left <= std::chrono::milliseconds::zero())
            return false;
        atspi_set_timeout(int(std::min(left, AccessibilityLimits::callTimeout).count()), -1);
        return true;
    }

    int childCount(AtspiAccessible *element)
    {
        if (!admit())
            return 0;
        GError *error = nullptr;
        const int count = atspi_accessible_get_child_count(element, &error);
        const bool failed = error != nullptr;
        g_clear_error(&error);
        return failed ? 0 : std::max(count, 0);
    }

    bool isShown(AtspiAccessible *element)
    {
        if (!admit())
            return false;
        AtspiStateSet *set = atspi_accessible_get_state_set(element);
        if (!set)
            return false;
        const auto states = AtspiStateBits(set->states);
        g_object_unref(set);
        return (states & atspiStateBit(ATSPI_STATE_SHOWING)) && (states & atspiStateBit(ATSPI_STATE_VISIBLE))
            && !(states & atspiStateBit(ATSPI_STATE_DEFUNCT));
    }

    std::optional<QRect> extentsIfMatching(AtspiAccessible *element)
    {
        if (!admit())
            return std::nullopt;
        GError *error = nullptr;
        gchar *name = atspi_accessible_get_name(element, &error);
        g_clear_error(&error);
        const QString label = name ? QString::fromUtf8(name) : QString();
        g_free(name);
        if (label.isEmpty() || !m_matches(label) || !admit())
            return std::nullopt;
        AtspiComponent *component = atspi_accessible_get_component_iface(element);
        if (!component)
            return std::nullopt;
        AtspiRect *box = atspi_component_get_extents(component, ATSPI_COORD_TYPE_SCREEN, &error);
        g_clear_error(&error);
        g_object_unref(component);
        if (!box)
            return std::nullopt;
        const QRect rect(box->x, box->y, box->width, box->height);
        g_free(box);
        if (rect.isEmpty())
            return std::nullopt;
        return rect;
    }

    // Depth first, in the tree's order; hidden elements are skipped with what is below them.
    std::optional<QRect> walk(AtspiAccessible *element, int depth)
    {
        if (depth > 0) {
            if (!isShown(element))
                return std::nullopt;
            if (auto found = extentsIfMatching(element))
                return found;
        }
        if (depth >= deepestLevel)
            return std::nullopt;
        for (int i = 0, count = childCount(element); i < count && admit(); ++i) {
            GError *error = nullptr;
            const Accessible child(atspi_accessible_get_child_at_index(element, i, &error));
            g_clear_error(&error);
            if (child) {
                if (auto found = walk(child.get(), depth + 1))
                    return found;
            }
        }
        return std::nullopt;
    }

    ElementLocator::LabelMatch m_matches;
    SteadyClock::time_point m_deadline;
    std::stop_token m_stop;
};

// Runs `search` from inside a dispatch of a context of its own, so that the
// library never dispatches its connection on this thread (as the walker does).
std::optional<QRect> searchInsideDispatch(Search &search, qint64 processIdentifier)
{
    static GMainContext *const context = g_main_context_new();
    struct Job
    {
        Search *search;
        qint64 pid;
        std::optional<QRect> result;
        bool done = false;
    } job{&search, processIdentifier, std::nullopt};
    GSource *source = g_idle_source_new();
    g_source_set_callback(
        source,
        [](gpointer data) -> gboolean {
            auto *j = static_cast<Job *>(data);
            j->result = j->search->run(j->pid);
            j->done = true;
            return G_SOURCE_REMOVE;
        },
        &job, nullptr);
    g_source_attach(source, context);
    g_source_unref(source);
    while (!job.done)
        g_main_context_iteration(context, TRUE);
    return job.result;
}

} // namespace

QCoro::Task<std::optional<QRect>> AtspiElementLocator::locate(qint64 processIdentifier, LabelMatch matches,
                                                              std::stop_token stop)
{
    if (processIdentifier < 1 || stop.stop_requested())
        co_return std::nullopt;
    auto promise = std::make_shared<QPromise<std::optional<QRect>>>();
    QFuture<std::optional<QRect>> future = promise->future();
    promise->start();
    const auto deadline = SteadyClock::now() + budget;
    AtspiWorker::shared().post([promise, processIdentifier, matches = std::move(matches), deadline, stop] {
        Search search(matches, deadline, stop);
        promise->addResult(searchInsideDispatch(search, processIdentifier));
        promise->finish();
    });
    co_return co_await future;
}

} // namespace nimbel
