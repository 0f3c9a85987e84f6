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

// The desktop's handler for the link's scheme.
class DesktopLinkOpener final : public LinkOpener
{
public:
    bool open(const QUrl &url) override;
};

} // namespace nimbel
