#pragma once

#include "app/GlobalShortcut.h"
#include "app/PanelGeometry.h"

#include <QHash>
#include <QObject>
#include <QPointF>
#include <QString>

#include <cstdint>
#include <memory>

class QQuickView;

namespace nimbel {

class Clock;
class FirstRunSession;
class LanguageChoice;
class LaunchAtLoginService;
class OverlayViewModel;
class UpdateService;
class PreferencesStore;
class QmlCatalogue;
enum class PermissionState : std::uint8_t;

// The floating panel: a frameless, always-on-top Qt Quick window that shows
// the launcher while collapsed and the chat while expanded. It stays where the
// owner dragged it (the launcher anchor, remembered across launches), grows to
// the left and upwards from that anchor when expanded, and takes keyboard
// focus only when the owner starts typing.
class OverlayPanelController final : public QObject
{
    Q_OBJECT
    // Derived values the views need in a form QML can read.
    Q_PROPERTY(QString stateName READ stateName NOTIFY viewStateChanged)
    Q_PROPERTY(QString failureRecovery READ failureRecovery NOTIFY viewStateChanged)
    Q_PROPERTY(bool microphoneAuthorized READ microphoneAuthorized NOTIFY viewStateChanged)
    // The catalogue key of the microphone permission's label ("permission.allowed", …).
    Q_PROPERTY(QString microphonePermissionKey READ microphonePermissionKey NOTIFY viewStateChanged)
    // The voice session's global shortcut; null where the application has none.
    Q_PROPERTY(nimbel::GlobalShortcut *globalShortcut READ globalShortcut NOTIFY globalShortcutChanged)

public:
    OverlayPanelController(OverlayViewModel &viewModel, PreferencesStore &preferences, Clock &clock,
                           QObject *parent = nullptr);
    ~OverlayPanelController() override;

    void restoreOrSetDefaultPosition();
    void applyExpanded(bool expanded);
    // Shows the panel above other windows without taking focus from them.
    void bringToFront();

    // The application's own services the settings sheet and the first-run
    // pages bind to; any of them may be absent (the views then hide their controls).
    struct ShellObjects
    {
        FirstRunSession *firstRun = nullptr;
        UpdateService *updates = nullptr;
        LaunchAtLoginService *loginItem = nullptr;
        LanguageChoice *language = nullptr;
    };
    void attach(const ShellObjects &objects);

    panel::Point launcherAnchor() const { return m_anchor; }
    panel::ChatPlacement placement() const { return m_placement; }
    QQuickView *window() const { return m_view.get(); }

    QString stateName() const;
    QString failureRecovery() const;
    bool microphoneAuthorized() const;
    QString microphonePermissionKey() const;
    GlobalShortcut *globalShortcut() const { return m_globalShortcut; }
    void setGlobalShortcut(GlobalShortcut *shortcut);

    // Called by the views.
    Q_INVOKABLE void launcherPressed(QPointF globalPosition);
    Q_INVOKABLE void launcherMoved(QPointF globalPosition);
    // True when the press was a click (the orb's action then runs).
    Q_INVOKABLE bool launcherReleased();
    Q_INVOKABLE void startPanelDrag();
    Q_INVOKABLE void wantKeyboard();
    Q_INVOKABLE void messageDisplayed(const QString &id, const QString &role, const QString &text);
    // The views ask for fresh permission states (when the chat or the settings show).
    Q_INVOKABLE void refreshPermissions() { emit permissionRefreshRequested(); }

signals:
    void viewStateChanged();
    void permissionRefreshRequested();
    void globalShortcutChanged();

private:
    PermissionState microphonePermission() const;
    void windowMoved();
    void setAcceptsFocus(bool accepts);
    void setFrame(const panel::Rect &frame);

    OverlayViewModel &m_viewModel;
    PreferencesStore &m_preferences;
    Clock &m_clock;
    std::unique_ptr<QmlCatalogue> m_catalogue;
    GlobalShortcut *m_globalShortcut = nullptr;
    std::unique_ptr<QQuickView> m_view;
    panel::Point m_anchor;
    panel::ChatPlacement m_placement = panel::ChatPlacement::above;
    panel::LauncherPress m_press;
    bool m_isResizing = false;
    QHash<QString, QString> m_displayedTexts; // message id -> text last written to the log
};

} // namespace nimbel
