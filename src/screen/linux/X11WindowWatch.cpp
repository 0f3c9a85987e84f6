#include "screen/linux/X11WindowWatch.h"

#include "screen/linux/X11Connection.h"
#include "screen/linux/X11Scene.h"

#include <algorithm>

namespace nimbel {

X11WindowWatch::X11WindowWatch(AssistantIdentity self, std::shared_ptr<DesktopEntryIndex> entries)
    : m_self(std::move(self))
    , m_entries(std::move(entries))
{
}

X11WindowWatch::~X11WindowWatch() = default;

WindowSight X11WindowWatch::look(quint32 window)
{
    if (!m_connection || m_connection->hasError()) {
        auto opened = X11Connection::open();
        if (!opened)
            return {};
        m_connection = std::move(opened).value();
    }
    const X11Scene scene = readScene(*m_connection, *m_entries, m_self);
    const auto found = std::find_if(scene.windows.cbegin(), scene.windows.cend(),
                                    [window](const ShareableWindow &w) { return w.id == window; });
    if (found == scene.windows.cend())
        return {};
    WindowSight sight;
    sight.frame = found->frame.toAlignedRect();
    const auto top = scene.topLevelOfClient.constFind(window);
    if (!found->onScreen || top == scene.topLevelOfClient.cend() || !scene.stacking[*top].shown) {
        sight.state = WindowSight::State::hidden;
        return sight;
    }
    sight.state = WindowSight::State::shown;
    for (qsizetype i = *top + 1; i < scene.stacking.size(); ++i) {
        const X11TopLevel &above = scene.stacking[i];
        if (above.shown && !above.own)
            sight.coveredBy += above.rect;
    }
    return sight;
}

} // namespace nimbel
