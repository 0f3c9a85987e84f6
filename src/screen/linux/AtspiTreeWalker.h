#pragma once

#include "screen/AccessibilityContext.h"
#include "screen/AccessibilityElementCollector.h"
#include "screen/linux/AtspiRoleMap.h"

#include <QString>
#include <QtGlobal>

#include <chrono>
#include <optional>
#include <stop_token>

typedef struct _AtspiAccessible AtspiAccessible;
typedef struct _AtspiApplication AtspiApplication;

namespace nimbel {

struct AtspiWalkRequest
{
    qint32 processIdentifier = 0;
    std::optional<QString> applicationName;
    std::optional<QString> bundleIdentifier;
    std::chrono::steady_clock::time_point deadline;
    std::stop_token stop;
};

struct AtspiWalkResult
{
    std::optional<AccessibilityContext> context;
    bool foundApplication = false;
    bool usedCollection = false; // the application answered one collection query
    int calls = 0;               // calls made to other processes
};

// One bounded walk over an application's accessibility tree. It runs on the
// libatspi worker thread only. Before every call into another process it checks
// the deadline and the stop request, and it never lets one call wait longer than
// what is left of the budget (at most the per-call timeout), so a hung or stopped
// application costs the walk at most one call timeout past its budget.
class AtspiTreeWalker
{
public:
    explicit AtspiTreeWalker(AtspiWalkRequest request);

    AtspiWalkResult run();

private:
    AtspiWalkResult runInsideDispatch();
    // The walk proper; `owner` receives a reference to the library's record
    // of the application it walked.
    AtspiWalkResult walkApplication(AtspiApplication **owner);
    bool admitCall();
    bool limitReached(int depth);
    // Both answer a new reference, or null.
    AtspiAccessible *findApplication();
    AtspiAccessible *focusedWindow(AtspiAccessible *application);
    bool collectByQuery(AtspiAccessible *root);
    void walk(AtspiAccessible *element, int depth);
    // What the walk does with one element it reached; false when the element is
    // hidden (nothing below it is looked at).
    bool visit(AtspiAccessible *element, std::optional<AtspiStateBits> knownStates = std::nullopt);
    std::optional<QString> visibleLabel(AtspiAccessible *element, const QString &role);
    std::optional<QString> pageAddress(AtspiAccessible *document);

    std::optional<AtspiStateBits> states(AtspiAccessible *element);
    std::optional<QString> name(AtspiAccessible *element);
    std::optional<QString> description(AtspiAccessible *element);
    std::optional<QString> placeholder(AtspiAccessible *element);
    std::optional<QString> text(AtspiAccessible *element);
    int childCount(AtspiAccessible *element);

    AtspiWalkRequest m_request;
    AccessibilityElementCollector m_collector;
    std::optional<QString> m_pageURL;
    bool m_didReachLimit = false;
    bool m_outOfTime = false;
    int m_calls = 0;
};

} // namespace nimbel
