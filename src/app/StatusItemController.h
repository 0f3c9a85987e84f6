#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace nimbel {

// The tray item and its menu: open the assistant, take a screenshot, check
// for updates, quit. The actions are the application controller's.
class StatusItemController final : public QObject
{
    Q_OBJECT
public:
    struct Actions
    {
        std::function<void()> showPanel;
        std::function<void()> captureScreen;
        std::function<void()> checkForUpdates;
    };

    explicit StatusItemController(Actions actions, QObject *parent = nullptr);
    ~StatusItemController() override;

    QSystemTrayIcon *trayIcon() const { return m_tray.get(); }
    QMenu *menu() const { return m_menu.get(); }
    // Shows a short note from the tray item (where the desktop supports it).
    void notify(const QString &message);
    // The update entry stays in the menu, disabled, with `why` as its tooltip.
    void disableUpdateCheck(const QString &why);

    // Menu actions.
    void openPanel();
    void capture();
    void checkForUpdate();
    void quitApplication();

private:
    Actions m_actions;
    std::unique_ptr<QMenu> m_menu;
    QAction *m_updates = nullptr;
    std::unique_ptr<QSystemTrayIcon> m_tray;
};

} // namespace nimbel
