#include "conversation/LinkOpener.h"

#include <QDesktopServices>

namespace nimbel {

bool DesktopLinkOpener::open(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

} // namespace nimbel
