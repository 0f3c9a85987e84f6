#include "app/OverlayPanelController.h"

#include "app/FirstRunSession.h"
#include "app/LanguageChoice.h"
#include "app/LaunchAtLoginService.h"
#include "app/LauncherAnchorStore.h"
#include "app/MessagePictureProvider.h"
#include "app/QmlCatalogue.h"
#include "app/ScreenSpace.h"
#include "app/UpdateService.h"
#include "conversation/OverlayViewModel.h"
#include "core/Clock.h"
#include "core/Log.h"
#include "settings/PreferencesStore.h"
#include "voice/SpeechTypes.h"

#include <QDir>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQuickItem>
#include <QQmlEngine>
#include <QQuickView>
#include <QSettings>
#include <QStandardPaths>

namespace nimbel {

namespace {

const QUrl rootView(QStringLiteral("qrc:/qt/qml/Nimbel/Ui/OverlayRootView.qml"));

constexpr Qt::WindowFlags panelFlags =
    Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::NoDropShadowWindowHint;

panel::ScreenLayout currentLayout()
{
    return ScreenSpace::current().layout(QGuiApplication::screens(), QGuiApplication::primaryScreen());
}

// The desktop's reduce-motion choice, as GTK desktops store it.
bool desktopReducesMotion()
{
    const QString path =
        QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)).filePath(QStringLiteral("gtk-3.0/settings.ini"));
    if (!QFile::exists(path))
        return false;
    const QString value = QSettings(path, QSettings::IniFormat).value(QStringLiteral("Settings/gtk-enable-animations")).toString();
    return value == u"0" || value.compare(u"false", Qt::CaseInsensitive) == 0;
}

QString oneLine(QString text)
{
    return text.replace(u'\n', QStringLiteral("\\n")).replace(u'\r', QString());
}

} // namespace

OverlayPanelController::OverlayPanelController(OverlayViewModel &viewModel, PreferencesStore &preferences, Clock &clock,
                                               QObject *parent)
    : QObject(parent)
    , m_viewModel(viewModel)
    , m_preferences(preferences)
    , m_clock(clock)
    , m_catalogue(std::make_unique<QmlCatalogue>())
    , m_view(std::make_unique<QQuickView>())
{
    m_view->setTitle(QStringLiteral("Nimbel"));
    m_view->setFlags(panelFlags | Qt::WindowDoesNotAcceptFocus);
    m_view->setColor(Qt::transparent);
    m_view->setResizeMode(QQuickView::SizeRootObjectToView);
    m_view->resize(int(panel::collapsedSize.width), int(panel::collapsedSize.height));
    auto *engine = m_view->engine();
    engine->addImageProvider(QStringLiteral("chat"),
                             new MessagePictureProvider(m_viewModel, MessagePictureProvider::attachment));
    engine->addImageProvider(QStringLiteral("sent"),
                             new MessagePictureProvider(m_viewModel, MessagePictureProvider::sentPicture));
    // Built by hand rather than through setSource: a view that cannot be
    // created is reported here instead of bringing the process down.
    auto *component = new QQmlComponent(m_view->engine(), rootView, m_view.get());
    QObject *root = component->isReady() ? component->beginCreate(m_view->rootContext()) : nullptr;
    if (root) {
        component->setInitialProperties(root, {
            {QStringLiteral("viewModel"), QVariant::fromValue(static_cast<QObject *>(&m_viewModel))},
            {QStringLiteral("panel"), QVariant::fromValue(static_cast<QObject *>(this))},
            {QStringLiteral("catalogue"), QVariant::fromValue(static_cast<QObject *>(m_catalogue.get()))},
            {QStringLiteral("reduceMotion"), desktopReducesMotion()},
        });
        component->completeCreate();
        m_view->setContent(rootView, component, root);
    }
    for (const QQmlError &error : component->errors())
        log::error(log::general(), log::Record().add(u"event", u"overlay_view_error").add(u"error", error.toString()));

    for (auto signal : {&OverlayViewModel::stateChanged, &OverlayViewModel::failureChanged,
                        &OverlayViewModel::voicePermissionsChanged})
        connect(&m_viewModel, signal, this, &OverlayPanelController::viewStateChanged);

    restoreOrSetDefaultPosition();
    // The view model announces isExpanded only when it really changes.
    connect(&m_viewModel, &OverlayViewModel::isExpandedChanged, this,
            [this] { applyExpanded(m_viewModel.isExpanded()); });
    connect(m_view.get(), &QWindow::xChanged, this, &OverlayPanelController::windowMoved);
    connect(m_view.get(), &QWindow::yChanged, this, &OverlayPanelController::windowMoved);
}

OverlayPanelController::~OverlayPanelController()
{
    // The view refers to this controller and the catalogue: it goes first.
    m_view.reset();
}

void OverlayPanelController::attach(const ShellObjects &objects)
{
    QQuickItem *root = m_view->rootObject();
    if (!root)
        return;
    const std::pair<const char *, QObject *> properties[] = {
        {"firstRunSession", objects.firstRun},
        {"updates", objects.updates},
        {"loginItem", objects.loginItem},
        {"language", objects.language},
    };
    for (const auto &[name, object] : properties)
        if (object)
            root->setProperty(name, QVariant::fromValue(object));
}

void OverlayPanelController::restoreOrSetDefaultPosition()
{
    const panel::SavedPlacement saved = readSavedPlacement(*m_preferences.settings());
    m_anchor = panel::initialLauncherAnchor(saved, currentLayout());
    setFrame(panel::panelFrame(m_anchor, false, panel::ChatPlacement::above));
}

void OverlayPanelController::applyExpanded(bool expanded)
{
    m_placement = expanded ? panel::preferredPlacement() : panel::ChatPlacement::above;
    const bool below = m_placement == panel::ChatPlacement::below;
    if (m_viewModel.chatOpensBelow() != below)
        m_viewModel.setChatOpensBelow(below);
    setFrame(panel::panelFrame(m_anchor, expanded, m_placement));
    if (!expanded)
        setAcceptsFocus(false);
    bringToFront();
}

void OverlayPanelController::setFrame(const panel::Rect &frame)
{
    m_isResizing = true;
    m_view->setGeometry(ScreenSpace::current().toQt(frame).toRect());
    m_isResizing = false;
}

void OverlayPanelController::bringToFront()
{
    m_view->show();
    m_view->raise();
}

void OverlayPanelController::windowMoved()
{
    if (m_isResizing)
        return;
    // A move reported while the window manager is still applying a resize
    // would put the anchor in the wrong place: only settled sizes count.
    const panel::Size expected = m_viewModel.isExpanded() ? panel::expandedSize : panel::collapsedSize;
    if (m_view->width() != int(expected.width) || m_view->height() != int(expected.height))
        return;
    const ScreenSpace space = ScreenSpace::current();
    const panel::Rect frame = space.fromQt(QRectF(m_view->geometry()));
    const panel::Rect allowed = panel::constrainedFrame(frame, currentLayout());
    if (!(allowed == frame))
        setFrame(allowed);
    m_anchor = panel::anchorOfFrame(allowed, m_placement);
    saveLauncherAnchor(*m_preferences.settings(), m_anchor);
    m_preferences.settings()->sync();
}

void OverlayPanelController::setAcceptsFocus(bool accepts)
{
    const Qt::WindowFlags flags = accepts ? panelFlags : panelFlags | Qt::WindowDoesNotAcceptFocus;
    if (m_view->flags() != flags)
        m_view->setFlags(flags);
}

QString OverlayPanelController::stateName() const
{
    switch (m_viewModel.state()) {
    case OverlayViewModel::State::idle:
        return QStringLiteral("idle");
    case OverlayViewModel::State::capturing:
        return QStringLiteral("capturing");
    case OverlayViewModel::State::captured:
        return QStringLiteral("captured");
    case OverlayViewModel::State::analyzing:
        return QStringLiteral("analyzing");
    case OverlayViewModel::State::answered:
        return QStringLiteral("answered");
    case OverlayViewModel::State::failed:
        return QStringLiteral("failed");
    }
    return QStringLiteral("idle");
}

QString OverlayPanelController::failureRecovery() const
{
    if (!m_viewModel.failure())
        return QStringLiteral("none");
    switch (m_viewModel.failure()->recovery) {
    case ZelmRecovery::none:
        return QStringLiteral("none");
    case ZelmRecovery::restart:
        return QStringLiteral("restart");
    case ZelmRecovery::screenRecordingSettings:
        return QStringLiteral("screenRecordingSettings");
    case ZelmRecovery::voicePrivacySettings:
        return QStringLiteral("voicePrivacySettings");
    }
    return QStringLiteral("none");
}

PermissionState OverlayPanelController::microphonePermission() const
{
    // The permission snapshot publishes the microphone's PermissionState, as a
    // number, under "microphone"; nothing is known before the first check.
    const QVariant microphone = m_viewModel.voicePermissions().toMap().value(QStringLiteral("microphone"));
    return microphone.isValid() ? static_cast<PermissionState>(microphone.toInt()) : PermissionState::notDetermined;
}

bool OverlayPanelController::microphoneAuthorized() const
{
    return microphonePermission() == PermissionState::authorized;
}

QString OverlayPanelController::microphonePermissionKey() const
{
    return QString::fromLatin1(permissionLabelKey(microphonePermission()));
}

void OverlayPanelController::setGlobalShortcut(GlobalShortcut *shortcut)
{
    if (shortcut == m_globalShortcut)
        return;
    m_globalShortcut = shortcut;
    emit globalShortcutChanged();
}

void OverlayPanelController::launcherPressed(QPointF globalPosition)
{
    m_press.press(ScreenSpace::current().fromQt(globalPosition), m_clock.uptime().count());
}

void OverlayPanelController::launcherMoved(QPointF globalPosition)
{
    if (m_press.move(ScreenSpace::current().fromQt(globalPosition)))
        m_view->startSystemMove();
}

bool OverlayPanelController::launcherReleased()
{
    return m_press.release(m_clock.uptime().count());
}

void OverlayPanelController::startPanelDrag()
{
    m_view->startSystemMove();
}

void OverlayPanelController::wantKeyboard()
{
    setAcceptsFocus(true);
    m_view->requestActivate();
}

void OverlayPanelController::messageDisplayed(const QString &id, const QString &role, const QString &text)
{
    // A bubble reports itself when it appears and whenever its text changes;
    // each text it shows is written once.
    auto shown = m_displayedTexts.find(id);
    if (shown != m_displayedTexts.end() && *shown == text)
        return;
    m_displayedTexts.insert(id, text);
    log::info(log::general(), log::Record()
                                  .add(u"event", u"chat_message_displayed")
                                  .add(u"id", id)
                                  .add(u"role", role)
                                  .add(u"text", oneLine(text)));
}

} // namespace nimbel
