#pragma once

#include "app/HighlightController.h"

#include <QRasterWindow>
#include <QVariantAnimation>

namespace nimbel {

// The ring on the real screen: a frameless window above everything that the
// window manager leaves alone, shaped to the ring and its number so that it
// needs no compositor, with an empty input shape so that every click goes to
// the window beneath. It belongs to the assistant, so captures leave it out.
// Unless the desktop asks for reduced motion, the ring closes in on its
// target when it first shows.
class HighlightWindow final : public QRasterWindow, public HighlightSurface
{
    Q_OBJECT
public:
    HighlightWindow();

    void show(const QRect &target, int number) override;
    void hide() override;
    double scale() const override;

    // GNOME's "enable-animations" switched off.
    static bool desktopPrefersReducedMotion();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void place();
    QRect ringRect() const;

    QRect m_target;
    int m_number = 1;
    int m_spread = 0; // how far the ring still is from its target while it closes in
    QVariantAnimation m_closeIn;
};

} // namespace nimbel
