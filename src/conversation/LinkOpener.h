#pragma once

#include <QUrl>

namespace nimbel {

// Opens a page in the owner's browser (the platform's console, system pages).
class LinkOpener
{
public:
    virtual ~LinkOpener() = default;
    // False when no application could open it.
    virtual bool open(const QUrl &url) = 0;
};

} // namespace nimbel
