#include "screen/RunningApplication.h"

#include "core/BuildInfo.h"

#include <QCoreApplication>

namespace nimbel {

AssistantIdentity AssistantIdentity::current()
{
    return {QString::fromUtf8(build::appId), QCoreApplication::applicationPid()};
}

bool AssistantIdentity::isSelf(const RunningApplication &app) const
{
    if (app.bundleIdentifier == bundleIdentifier)
        return true;
    return processIdentifier && app.processIdentifier == processIdentifier;
}

} // namespace nimbel
