#pragma once

#include "screen/RunningApplication.h"
#include "screen/WindowWatch.h"
#include "screen/linux/DesktopEntryIndex.h"

#include <memory>

namespace nimbel {

class X11Connection;

// A window's sight as the window server shows it: the stacking of the top-level
// windows, read afresh on each look over a connection of its own. The
// assistant's own windows never count as covering anything.
class X11WindowWatch final : public WindowWatch
{
public:
    explicit X11WindowWatch(AssistantIdentity self = AssistantIdentity::current(),
                            std::shared_ptr<DesktopEntryIndex> entries = std::make_shared<DesktopEntryIndex>());
    ~X11WindowWatch() override;

    WindowSight look(quint32 window) override;

private:
    AssistantIdentity m_self;
    std::shared_ptr<DesktopEntryIndex> m_entries;
    std::unique_ptr<X11Connection> m_connection;
};

} // namespace nimbel
