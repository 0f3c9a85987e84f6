#include "app/StatusItemController.h"

#include "settings/Localized.h"

#include <QCoreApplication>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

namespace nimbel {

namespace {
QIcon trayImage()
{
    QIcon icon(QStringLiteral(":/nimbel/icons/nimbel-tray.svg"));
    if (icon.availableSizes().isEmpty() && icon.pixmap(18, 18).isNull())
        icon = QIcon::fromTheme(QStringLiteral("starred"));
    return icon;
}
} // namespace

StatusItemController::StatusItemController(Actions actions, QObject *parent)
    : QObject(parent)
    , m_actions(std::move(actions))
    , m_menu(std::make_unique<QMenu>())
    , m_tray(std::make_unique<QSystemTrayIcon>())
{
    m_menu->addAction(L::text("menu.open"), this, &StatusItemController::openPanel);
    m_menu->addAction(L::text("menu.screenshot"), this, &StatusItemController::capture);
    m_menu->addSeparator();
    m_updates = m_menu->addAction(L::text("menu.updates"), this, &StatusItemController::checkForUpdate);
    m_menu->setToolTipsVisible(true);
    m_menu->addSeparator();
    QAction *quit = m_menu->addAction(L::text("menu.quit"), this, &StatusItemController::quitApplication);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    m_tray->setIcon(trayImage());
    m_tray->setToolTip(L::text("tray.tooltip"));
    m_tray->setContextMenu(m_menu.get());
    // A plain click on the tray item opens the assistant, as the first menu item does.
    connect(m_tray.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            openPanel();
    });
    m_tray->show();
}

StatusItemController::~StatusItemController()
{
    m_tray->setContextMenu(nullptr);
}

void StatusItemController::notify(const QString &message)
{
    m_tray->showMessage(QStringLiteral("Nimbel"), message, QSystemTrayIcon::Information, 4000);
}

void StatusItemController::disableUpdateCheck(const QString &why)
{
    m_updates->setEnabled(false);
    m_updates->setToolTip(why);
}

void StatusItemController::openPanel()
{
    if (m_actions.showPanel)
        m_actions.showPanel();
}

void StatusItemController::capture()
{
    if (m_actions.captureScreen)
        m_actions.captureScreen();
}

void StatusItemController::checkForUpdate()
{
    if (m_actions.checkForUpdates)
        m_actions.checkForUpdates();
}

void StatusItemController::quitApplication()
{
    QCoreApplication::quit();
}

} // namespace nimbel
