#include "screen/linux/AtspiTreeWalker.h"

#include "screen/linux/AtspiSession.h"

#include "screen/SanitizedURL.h"
#include "screen/ScreenTextRules.h"

#include <atspi/atspi.h>
#include <atspi/atspi-gmain.h>
#include <dbus/dbus.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace nimbel {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct ObjectUnref
{
    void operator()(gpointer object) const { g_object_unref(object); }
};
using Accessible = std::unique_ptr<AtspiAccessible, ObjectUnref>;

class ErrorSlot
{
public:
    ErrorSlot() = default;
    ErrorSlot(const ErrorSlot &) = delete;
    ErrorSlot &operator=(const ErrorSlot &) = delete;
    ~ErrorSlot() { g_clear_error(&m_error); }
    GError **out()
    {
        g_clear_error(&m_error);
        return &m_error;
    }
    bool failed() const { return m_error != nullptr; }

private:
    GError *m_error = nullptr;
};

std::optional<QString> takeString(gchar *value)
{
    if (!value)
        return std::nullopt;
    QString text = QString::fromUtf8(value);
    g_free(value);
    return text;
}

bool isHidden(AtspiStateBits states)
{
    return (states & atspiStateBit(ATSPI_STATE_DEFUNCT)) != 0 || (states & atspiStateBit(ATSPI_STATE_SHOWING)) == 0
        || (states & atspiStateBit(ATSPI_STATE_VISIBLE)) == 0;
}

// The hand-over of libatspi's connection to a context of its own.
struct SessionSetup
{
    enum class State { idle, pending, ready, failed };
    std::mutex mutex;
    std::condition_variable settled;
    State state = State::idle;
    DBusConnection *bus = nullptr;
};

SessionSetup &sessionSetup()
{
    static SessionSetup setup;
    return setup;
}

// How long a walk waits for the event loop to take the hand-over; a walk that
// gives up goes without a summary, and the next one waits again.
constexpr auto handOverWait = std::chrono::seconds(2);

// Runs where the default main context is not being dispatched meanwhile: on the
// worker thread while it owns that context, or in the event loop that owns it.
gboolean moveSession(gpointer)
{
    SessionSetup &setup = sessionSetup();
    DBusConnection *bus = nullptr;
    {
        const std::lock_guard lock(setup.mutex);
        bus = setup.bus;
    }
    // The library looks the connection up again; one that dropped meanwhile it
    // would open anew, blocking: left to the next walk instead.
    bool ready = dbus_connection_get_is_connected(bus);
    if (ready && atspi_init() > 1) {
        // Undone, so that no later call meets a library without a bus.
        atspi_exit();
        ready = false;
    }
    if (ready) {
        GMainContext *quiet = g_main_context_new();
        atspi_set_main_context(quiet);
        atspi_dbus_connection_setup_with_g_main(bus, quiet);
        static constexpr std::array subscriptions{
            "type='signal',interface='org.a11y.atspi.Cache',member='AddAccessible'",
            "type='signal',interface='org.a11y.atspi.Cache',member='RemoveAccessible'",
            "type='signal',interface='org.a11y.atspi.Event.Object',member='ChildrenChanged'",
            "type='signal',interface='org.a11y.atspi.Event.Object',member='PropertyChange'",
            "type='signal',interface='org.a11y.atspi.Event.Object',member='StateChanged'",
            "type='signal',interface='org.freedesktop.DBus',member='NameOwnerChanged'",
        };
        for (const char *rule : subscriptions)
            dbus_bus_remove_match(bus, rule, nullptr);
    }
    {
        const std::lock_guard lock(setup.mutex);
        setup.state = ready ? SessionSetup::State::ready : SessionSetup::State::failed;
    }
    setup.settled.notify_all();
    return G_SOURCE_REMOVE;
}

} // namespace

// Prepares libatspi once. atspi_init() attaches the library's bus connection to
// the process's default main context, which the Qt main thread iterates; it is
// moved to a context of its own that nobody iterates, so that once set up no
// libatspi code runs on another thread than the worker's. The move itself must not
// overlap a dispatch of the default context: a watch the event loop dispatches
// while the move frees it is handled as a null watch. So the library is set up
// through g_main_context_invoke(), which runs it here when this thread can own
// the default context and otherwise in the event loop that owns it.
// Nothing here needs events: the signal subscriptions the library makes for its
// caches are dropped, so that the desktop's traffic does not pile up on a
// connection that is never dispatched. Without events the library reads every
// value afresh.
bool ensureSession()
{
    SessionSetup &setup = sessionSetup();
    std::unique_lock lock(setup.mutex);
    // The library cannot move to a bus that came back: after a lost bus the
    // accessibility summary stays unavailable instead of calling into a
    // closed connection.
    if (setup.state == SessionSetup::State::ready)
        return dbus_connection_get_is_connected(setup.bus);
    if (setup.state != SessionSetup::State::pending) {
        lock.unlock();
        // Opened here, where blocking is harmless. Checked before the library is
        // initialised: once initialised without a bus it aborts the process on
        // its next call.
        DBusConnection *bus = atspi_get_a11y_bus();
        if (!bus)
            return false;
        lock.lock();
        setup.bus = bus;
        setup.state = SessionSetup::State::pending;
        lock.unlock();
        g_main_context_invoke(nullptr, moveSession, nullptr);
        lock.lock();
    }
    setup.settled.wait_for(lock, handOverWait, [&] { return setup.state != SessionSetup::State::pending; });
    if (setup.state == SessionSetup::State::failed)
        setup.state = SessionSetup::State::idle; // the next walk tries again
    return setup.state == SessionSetup::State::ready;
}

// Replies that came too late for their call stay queued on a connection that
// is never dispatched; they are dropped unread, without running any handler.
void dropLateReplies()
{
    if (DBusConnection *bus = atspi_get_a11y_bus()) {
        while (DBusMessage *message = dbus_connection_pop_message(bus))
            dbus_message_unref(message);
    }
}

namespace {

bool sameApplicationName(const QString &atspiName, const AtspiWalkRequest &request)
{
    if (atspiName.isEmpty())
        return false;
    std::vector<QString> candidates;
    if (request.applicationName)
        candidates.push_back(*request.applicationName);
    if (request.bundleIdentifier) {
        QString id = *request.bundleIdentifier;
        if (id.endsWith(u".desktop"))
            id.chop(8);
        candidates.push_back(id);
        candidates.push_back(id.section(u'.', -1));
    }
    return std::any_of(candidates.begin(), candidates.end(), [&](const QString &candidate) {
        return candidate.compare(atspiName, Qt::CaseInsensitive) == 0;
    });
}

// The match rule of the collection query: shown elements of the roles that are
// summarised, and the documents that may carry a page address.
AtspiMatchRule *summaryMatchRule()
{
    GArray *stateList = g_array_new(FALSE, FALSE, sizeof(AtspiStateType));
    for (AtspiStateType state : {ATSPI_STATE_SHOWING, ATSPI_STATE_VISIBLE})
        g_array_append_val(stateList, state);
    AtspiStateSet *states = atspi_state_set_new(stateList);
    g_array_free(stateList, TRUE);

    GArray *roles = g_array_new(FALSE, FALSE, sizeof(AtspiRole));
    QList<AtspiRole> wanted = summarisedAtspiRoles();
    wanted << ATSPI_ROLE_DOCUMENT_WEB << ATSPI_ROLE_DOCUMENT_FRAME;
    for (AtspiRole role : wanted) {
        // The rule's role set holds 128 roles; the newest ones cannot be asked for.
        if (int(role) < 128)
            g_array_append_val(roles, role);
    }
    AtspiMatchRule *rule = atspi_match_rule_new(states, ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_ALL,
                                                roles, ATSPI_Collection_MATCH_ANY, nullptr, ATSPI_Collection_MATCH_ALL,
                                                FALSE);
    g_array_free(roles, TRUE);
    g_object_unref(states);
    return rule;
}

// Matches asked for at once: room for the elements left out as duplicates,
// unlabelled text or secrets.
constexpr int queryCount = AccessibilityLimits::elements * 3;

} // namespace

AtspiTreeWalker::AtspiTreeWalker(AtspiWalkRequest request)
    : m_request(std::move(request))
{
}

bool AtspiTreeWalker::admitCall()
{
    if (m_outOfTime)
        return false;
    if (m_request.stop.stop_requested()) {
        m_outOfTime = true;
        return false;
    }
    const auto remaining = std::chrono::ceil<milliseconds>(m_request.deadline - Clock::now());
    if (remaining <= milliseconds::zero()) {
        m_outOfTime = true;
        m_didReachLimit = true;
        return false;
    }
    atspi_set_timeout(int(std::clamp(remaining, milliseconds(1), AccessibilityLimits::callTimeout).count()), -1);
    ++m_calls;
    return true;
}

bool AtspiTreeWalker::limitReached(int depth)
{
    if (m_outOfTime || m_request.stop.stop_requested() || Clock::now() >= m_request.deadline
        || depth > AccessibilityLimits::deepestLevel || m_collector.isFull()) {
        m_didReachLimit = true;
        return true;
    }
    return false;
}

std::optional<AtspiStateBits> AtspiTreeWalker::states(AtspiAccessible *element)
{
    if (!admitCall())
        return std::nullopt;
    AtspiStateSet *set = atspi_accessible_get_state_set(element);
    if (!set)
        return std::nullopt;
    const auto bits = AtspiStateBits(set->states);
    g_object_unref(set);
    return bits;
}

std::optional<QString> AtspiTreeWalker::name(AtspiAccessible *element)
{
    if (!admitCall())
        return std::nullopt;
    ErrorSlot error;
    return takeString(atspi_accessible_get_name(element, error.out()));
}

std::optional<QString> AtspiTreeWalker::description(AtspiAccessible *element)
{
    if (!admitCall())
        return std::nullopt;
    ErrorSlot error;
    return takeString(atspi_accessible_get_description(element, error.out()));
}

std::optional<QString> AtspiTreeWalker::placeholder(AtspiAccessible *element)
{
    if (!admitCall())
        return std::nullopt;
    ErrorSlot error;
    GHashTable *attributes = atspi_accessible_get_attributes(element, error.out());
    if (!attributes)
        return std::nullopt;
    std::optional<QString> value;
    if (const auto *text = static_cast<const gchar *>(g_hash_table_lookup(attributes, "placeholder-text")))
        value = QString::fromUtf8(text);
    g_hash_table_unref(attributes);
    return value;
}

std::optional<QString> AtspiTreeWalker::text(AtspiAccessible *element)
{
    if (!admitCall())
        return std::nullopt;
    ErrorSlot error;
    // A little more than a label can hold: the cleaner still has white space to fold.
    return takeString(atspi_text_get_text(ATSPI_TEXT(element), 0, AccessibilityLimits::labelLength * 4, error.out()));
}

int AtspiTreeWalker::childCount(AtspiAccessible *element)
{
    if (!admitCall())
        return 0;
    ErrorSlot error;
    const gint count = atspi_accessible_get_child_count(element, error.out());
    return error.failed() ? 0 : std::max(count, 0);
}

std::optional<QString> AtspiTreeWalker::visibleLabel(AtspiAccessible *element, const QString &role)
{
    // Help texts have no separate attribute here: toolkits put tooltips into
    // the description.
    if (auto label = sanitized(name(element)))
        return label;
    if (auto label = sanitized(description(element)))
        return label;
    if (auto label = sanitized(placeholder(element)))
        return label;
    // Only static text is read for its content; a text field's value never is.
    if (role == u"AXStaticText")
        return sanitized(text(element));
    return std::nullopt;
}

std::optional<QString> AtspiTreeWalker::pageAddress(AtspiAccessible *document)
{
    for (const char *attribute : {"DocURL", "URI"}) {
        if (!admitCall())
            return std::nullopt;
        ErrorSlot error;
        const auto value = takeString(
            atspi_document_get_document_attribute_value(ATSPI_DOCUMENT(document), const_cast<gchar *>(attribute),
                                                         error.out()));
        if (auto url = sanitizedURL(value))
            return url;
    }
    return std::nullopt;
}

bool AtspiTreeWalker::visit(AtspiAccessible *element, std::optional<AtspiStateBits> knownStates)
{
    const std::optional<AtspiStateBits> elementStates = knownStates ? knownStates : states(element);
    if (elementStates && isHidden(*elementStates))
        return false;
    if (!admitCall())
        return true;
    ErrorSlot error;
    const AtspiRole role = atspi_accessible_get_role(element, error.out());
    if (error.failed())
        return true;
    if (!m_pageURL && isDocumentRole(role))
        m_pageURL = pageAddress(element);

    const QString summaryRole = accessibilityRoleName(role, elementStates.value_or(0));
    if (isIncludedAccessibilityRole(summaryRole) && !m_collector.isFull()) {
        std::optional<QString> label = visibleLabel(element, summaryRole);
        std::optional<bool> enabled;
        if (elementStates)
            enabled = (*elementStates & atspiStateBit(ATSPI_STATE_ENABLED)) != 0;
        m_collector.add(summaryRole, std::move(label), enabled);
    }
    return true;
}

void AtspiTreeWalker::walk(AtspiAccessible *element, int depth)
{
    if (limitReached(depth))
        return;
    if (!visit(element))
        return;
    const int count = childCount(element);
    if (count > 0 && depth >= AccessibilityLimits::deepestLevel) {
        m_didReachLimit = true;
        return;
    }
    for (int index = 0; index < count; ++index) {
        if (limitReached(depth + 1))
            return;
        if (!admitCall())
            return;
        ErrorSlot error;
        const Accessible child(atspi_accessible_get_child_at_index(element, index, error.out()));
        if (child)
            walk(child.get(), depth + 1);
    }
}

bool AtspiTreeWalker::collectByQuery(AtspiAccessible *root)
{
    if (!admitCall())
        return false;
    const std::unique_ptr<AtspiCollection, ObjectUnref> collection(atspi_accessible_get_collection_iface(root));
    if (!collection)
        return false;
    const std::unique_ptr<AtspiMatchRule, ObjectUnref> rule(summaryMatchRule());
    if (!admitCall())
        return false;
    ErrorSlot error;
    GArray *matches = atspi_collection_get_matches(collection.get(), rule.get(), ATSPI_Collection_SORT_ORDER_CANONICAL,
                                                   queryCount, TRUE, error.out());
    if (!matches)
        return false;
    std::vector<Accessible> found;
    found.reserve(matches->len);
    for (guint index = 0; index < matches->len; ++index)
        found.emplace_back(g_array_index(matches, AtspiAccessible *, index));
    g_array_free(matches, TRUE);

    for (const Accessible &element : found) {
        if (limitReached(0))
            return true;
        if (element)
            visit(element.get());
    }
    // A full answer may have stopped short of further matches.
    if (found.size() >= size_t(queryCount))
        m_didReachLimit = true;
    return true;
}

AtspiAccessible *AtspiTreeWalker::findApplication()
{
    if (!admitCall())
        return nullptr;
    const Accessible desktop(atspi_get_desktop(0));
    if (!desktop)
        return nullptr;
    const int count = childCount(desktop.get());
    std::vector<Accessible> applications;
    for (int index = 0; index < count; ++index) {
        if (!admitCall())
            return nullptr;
        ErrorSlot error;
        Accessible application(atspi_accessible_get_child_at_index(desktop.get(), index, error.out()));
        if (!application)
            continue;
        // Answered by the bus itself, not by the application.
        if (!admitCall())
            return nullptr;
        const guint pid = atspi_accessible_get_process_id(application.get(), error.out());
        if (!error.failed() && pid == guint(m_request.processIdentifier))
            return application.release();
        applications.push_back(std::move(application));
    }
    // A process the bus knows under another identifier (a sandbox, a launcher
    // script): the application's own name is the next best evidence.
    if (!m_request.applicationName && !m_request.bundleIdentifier)
        return nullptr;
    for (Accessible &application : applications) {
        const auto atspiName = name(application.get());
        if (m_outOfTime)
            return nullptr;
        if (atspiName && sameApplicationName(*atspiName, m_request))
            return application.release();
    }
    return nullptr;
}

AtspiAccessible *AtspiTreeWalker::focusedWindow(AtspiAccessible *application)
{
    const int count = childCount(application);
    Accessible firstShown;
    for (int index = 0; index < count; ++index) {
        if (!admitCall())
            break;
        ErrorSlot error;
        Accessible window(atspi_accessible_get_child_at_index(application, index, error.out()));
        if (!window)
            continue;
        const auto windowStates = states(window.get());
        if (!windowStates)
            continue;
        if (*windowStates & atspiStateBit(ATSPI_STATE_ACTIVE))
            return window.release();
        if (!firstShown && !isHidden(*windowStates))
            firstShown = std::move(window);
    }
    return firstShown.release();
}

AtspiWalkResult AtspiTreeWalker::run()
{
    // libatspi dispatches its bus connection after a call whenever no GLib
    // main loop is dispatching on the calling thread. A dispatch runs its
    // handlers, and those open direct connections to applications that they
    // hand to the process's default main context, which the Qt main thread
    // iterates: from then on both threads read the same connection. Walking
    // from inside a dispatch of a private context keeps the library from ever
    // dispatching, so every message stays on this thread.
    static GMainContext *const walkContext = g_main_context_new();
    struct Walk
    {
        AtspiTreeWalker *walker;
        AtspiWalkResult result;
        bool done = false;
    } walk{this, {}};
    GSource *source = g_idle_source_new();
    g_source_set_callback(
        source,
        [](gpointer data) -> gboolean {
            auto *w = static_cast<Walk *>(data);
            w->result = w->walker->runInsideDispatch();
            w->done = true;
            return G_SOURCE_REMOVE;
        },
        &walk, nullptr);
    g_source_attach(source, walkContext);
    g_source_unref(source);
    while (!walk.done)
        g_main_context_iteration(walkContext, TRUE);
    return std::move(walk.result);
}

AtspiWalkResult AtspiTreeWalker::runInsideDispatch()
{
    if (m_request.stop.stop_requested() || !ensureSession())
        return {};
    dropLateReplies();
    AtspiApplication *owner = nullptr;
    AtspiWalkResult result = walkApplication(&owner);
    // The library keeps every object it handed out in a table of its
    // application, emptied only by the events this process does not listen
    // to: in front of a page that keeps changing, the table would grow all
    // day. Nothing is held from one walk to the next, so it is emptied here
    // and the next walk asks afresh.
    if (owner) {
        if (owner->hash)
            g_hash_table_remove_all(owner->hash);
        g_object_unref(owner);
    }
    return result;
}

AtspiWalkResult AtspiTreeWalker::walkApplication(AtspiApplication **owner)
{
    AtspiWalkResult result;
    const Accessible application(findApplication());
    if (!application)
        return result;
    result.foundApplication = true;
    if (application->parent.app)
        *owner = static_cast<AtspiApplication *>(g_object_ref(application->parent.app));
    const Accessible window(focusedWindow(application.get()));
    AtspiAccessible *root = window ? window.get() : application.get();

    const std::optional<QString> title = sanitized(name(root));
    result.usedCollection = collectByQuery(root);
    if (!result.usedCollection)
        walk(root, 0);
    result.calls = m_calls;

    if (m_request.stop.stop_requested())
        return result;
    if (m_collector.size() == 0 && !title && !m_pageURL)
        return result;
    AccessibilityContext context;
    context.applicationName = sanitized(m_request.applicationName);
    context.bundleIdentifier = sanitized(m_request.bundleIdentifier);
    context.focusedWindowTitle = title;
    context.pageURL = m_pageURL;
    context.elements = m_collector.takeElements();
    context.truncated = m_didReachLimit;
    result.context = std::move(context);
    return result;
}

} // namespace nimbel
