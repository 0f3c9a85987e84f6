#pragma once

#include "screen/AccessibilityContext.h"

#include <QCoro/QCoroTask>
#include <QString>
#include <QtGlobal>

#include <optional>
#include <stop_token>

namespace nimbel {

// Reads a small bounded summary of another application's window through the
// desktop's accessibility interface (platform boundary).
class AccessibilityContextService
{
public:
    virtual ~AccessibilityContextService() = default;

    // The summary of the application with this process identifier; the name and
    // bundle identifier are the ones the window tracker reports, cleaned into the
    // result (and used to find the application when its process is not known to
    // the accessibility interface). Absent when this process is not trusted, when
    // the identifier is below 1, or when the walk found nothing. Call it on the
    // main thread; it resumes there. Stopping `stop` ends the wait at once with
    // an absent value. The whole call is bounded by the walk budget plus one call
    // timeout, whatever the target application does.
    virtual QCoro::Task<std::optional<AccessibilityContext>> collect(qint32 processIdentifier,
                                                                     std::optional<QString> applicationName,
                                                                     std::optional<QString> bundleIdentifier,
                                                                     std::stop_token stop = {}) = 0;

    // Whether this process may read other applications' trees (no prompt).
    virtual bool isProcessTrusted() = 0;
    // The prompting check: asks for access and answers whether it is granted now.
    virtual bool promptForTrust() = 0;
};

} // namespace nimbel
