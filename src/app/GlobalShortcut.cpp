#include "app/GlobalShortcut.h"

#include "core/Log.h"
#include "settings/PreferenceKeys.h"
#include "settings/PreferencesStore.h"

#include <QKeySequence>
#include <QSocketNotifier>

#include <xcb/xcb.h>

#include <cstdlib>
#include <vector>

namespace nimbel {

namespace {

constexpr std::uint32_t numLockSymbol = 0xff7f;
// The modifiers a combination is made of; the others (CapsLock, NumLock, …) are ignored.
constexpr std::uint16_t combinationMask =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;

std::optional<std::uint32_t> keySymbol(Qt::Key key)
{
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return std::uint32_t(key) + 0x20; // X names the lower-case letter
    if (key >= Qt::Key_Space && key <= Qt::Key_AsciiTilde)
        return std::uint32_t(key); // Latin-1 symbols are their own codes
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return 0xffbeu + std::uint32_t(key - Qt::Key_F1);
    struct Named
    {
        Qt::Key key;
        std::uint32_t symbol;
    };
    static constexpr Named named[] = {
        {Qt::Key_Escape, 0xff1b}, {Qt::Key_Tab, 0xff09},      {Qt::Key_Backspace, 0xff08}, {Qt::Key_Return, 0xff0d},
        {Qt::Key_Enter, 0xff8d},  {Qt::Key_Insert, 0xff63},   {Qt::Key_Delete, 0xffff},    {Qt::Key_Pause, 0xff13},
        {Qt::Key_Print, 0xff61},  {Qt::Key_Home, 0xff50},     {Qt::Key_End, 0xff57},       {Qt::Key_Left, 0xff51},
        {Qt::Key_Up, 0xff52},     {Qt::Key_Right, 0xff53},    {Qt::Key_Down, 0xff54},      {Qt::Key_PageUp, 0xff55},
        {Qt::Key_PageDown, 0xff56},
    };
    for (const Named &n : named) {
        if (n.key == key)
            return n.symbol;
    }
    return std::nullopt;
}

} // namespace

std::optional<X11KeyGrab> x11KeyGrab(QKeyCombination combination)
{
    const Qt::KeyboardModifiers modifiers = combination.keyboardModifiers();
    if (!(modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
        return std::nullopt;
    if (modifiers & ~(Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier | Qt::KeypadModifier))
        return std::nullopt;
    const std::optional<std::uint32_t> symbol = keySymbol(combination.key());
    if (!symbol)
        return std::nullopt;
    std::uint16_t mask = 0;
    if (modifiers & Qt::ShiftModifier)
        mask |= XCB_MOD_MASK_SHIFT;
    if (modifiers & Qt::ControlModifier)
        mask |= XCB_MOD_MASK_CONTROL;
    if (modifiers & Qt::AltModifier)
        mask |= XCB_MOD_MASK_1;
    if (modifiers & Qt::MetaModifier)
        mask |= XCB_MOD_MASK_4;
    return X11KeyGrab{*symbol, mask};
}

// The connection the grab is made on, with the keyboard map read once.
struct GlobalShortcut::Display
{
    xcb_connection_t *connection = nullptr;
    xcb_window_t root = XCB_NONE;
    std::uint8_t minKeyCode = 0;
    std::uint8_t symbolsPerCode = 0;
    std::vector<xcb_keysym_t> symbols;
    std::uint16_t numLockMask = 0;

    ~Display() { xcb_disconnect(connection); }
};

GlobalShortcut::GlobalShortcut(PreferencesStore &preferences, QObject *parent)
    : QObject(parent)
    , m_preferences(preferences)
{
    const QString stored = m_preferences.string(keys::voiceSessionShortcut).value_or(QString());
    const QKeySequence parsed = QKeySequence::fromString(stored, QKeySequence::PortableText);
    m_sequence = parsed.count() == 1 && x11KeyGrab(parsed[0]) ? parsed.toString(QKeySequence::PortableText)
                                                               : QString::fromLatin1(defaultSequence);

    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        log::info(log::general(), QStringLiteral("global_shortcut_unavailable reason=no_x11_display"));
        return;
    }
    m_display = std::make_unique<Display>();
    m_display->connection = connection;
    const xcb_setup_t *setup = xcb_get_setup(connection);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    m_display->root = screens.data->root;

    m_display->minKeyCode = setup->min_keycode;
    const std::uint8_t count = std::uint8_t(setup->max_keycode - setup->min_keycode + 1);
    if (xcb_get_keyboard_mapping_reply_t *mapping = xcb_get_keyboard_mapping_reply(
            connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, count), nullptr)) {
        const xcb_keysym_t *symbols = xcb_get_keyboard_mapping_keysyms(mapping);
        m_display->symbols.assign(symbols, symbols + xcb_get_keyboard_mapping_keysyms_length(mapping));
        m_display->symbolsPerCode = mapping->keysyms_per_keycode;
        std::free(mapping);
    }
    // The modifier NumLock is bound to (usually Mod2).
    const std::uint8_t numLock = keyCodeOf(numLockSymbol);
    if (xcb_get_modifier_mapping_reply_t *modifiers =
            xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr)) {
        const xcb_keycode_t *codes = xcb_get_modifier_mapping_keycodes(modifiers);
        for (int modifier = 0; modifier < 8 && numLock; ++modifier) {
            for (int i = 0; i < modifiers->keycodes_per_modifier; ++i) {
                if (codes[modifier * modifiers->keycodes_per_modifier + i] == numLock)
                    m_display->numLockMask = std::uint16_t(1u << modifier);
            }
        }
        std::free(modifiers);
    }

    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(connection), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &GlobalShortcut::readEvents);
    grab();
}

GlobalShortcut::~GlobalShortcut()
{
    ungrab();
}

QString GlobalShortcut::displayText() const
{
    return QKeySequence::fromString(m_sequence, QKeySequence::PortableText).toString(QKeySequence::NativeText);
}

QString GlobalShortcut::problemKey() const
{
    switch (m_state) {
    case State::active:
    case State::suspended:
        return {};
    case State::taken:
        return QStringLiteral("settings.shortcut.taken");
    case State::unsupported:
        return QStringLiteral("settings.shortcut.unsupported");
    case State::unavailable:
        return QStringLiteral("settings.shortcut.unavailable");
    }
    return {};
}

bool GlobalShortcut::setSequence(const QString &portableText)
{
    const QKeySequence parsed = QKeySequence::fromString(portableText, QKeySequence::PortableText);
    if (parsed.count() != 1 || !x11KeyGrab(parsed[0]))
        return false;
    const QString text = parsed.toString(QKeySequence::PortableText);
    m_preferences.setString(keys::voiceSessionShortcut, text);
    if (text != m_sequence) {
        m_sequence = text;
        emit sequenceChanged();
    }
    if (!m_recording)
        grab();
    return true;
}

bool GlobalShortcut::record(int key, int modifiers)
{
    const QKeyCombination combination{Qt::KeyboardModifiers(modifiers), static_cast<Qt::Key>(key)};
    if (!x11KeyGrab(combination))
        return false;
    const bool stored = setSequence(QKeySequence(combination).toString(QKeySequence::PortableText));
    if (stored)
        setRecording(false);
    return stored;
}

void GlobalShortcut::setRecording(bool recording)
{
    if (recording == m_recording)
        return;
    m_recording = recording;
    emit recordingChanged();
    if (recording) {
        ungrab();
        if (m_display)
            setState(State::suspended);
    } else {
        grab();
    }
}

std::uint8_t GlobalShortcut::keyCodeOf(std::uint32_t keySymbol) const
{
    const std::size_t perCode = m_display ? m_display->symbolsPerCode : 0;
    if (perCode == 0)
        return 0;
    for (std::size_t i = 0; i < m_display->symbols.size(); ++i) {
        if (m_display->symbols[i] == keySymbol)
            return std::uint8_t(m_display->minKeyCode + i / perCode);
    }
    return 0;
}

void GlobalShortcut::grab()
{
    ungrab();
    if (!m_display) {
        setState(State::unavailable);
        return;
    }
    const std::optional<X11KeyGrab> wanted =
        x11KeyGrab(QKeySequence::fromString(m_sequence, QKeySequence::PortableText)[0]);
    const std::uint8_t code = wanted ? keyCodeOf(wanted->keySymbol) : 0;
    if (code == 0) {
        setState(State::unsupported);
        return;
    }
    xcb_connection_t *c = m_display->connection;
    const std::uint16_t lock = XCB_MOD_MASK_LOCK;
    const std::uint16_t numLock = m_display->numLockMask;
    const std::uint16_t variants[] = {0, lock, numLock, std::uint16_t(lock | numLock)};
    std::vector<xcb_void_cookie_t> cookies;
    for (std::size_t i = 0; i < std::size(variants); ++i) {
        if (i >= 2 && numLock == 0)
            break;
        cookies.push_back(xcb_grab_key_checked(c, 1, m_display->root, wanted->modifiers | variants[i], code,
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    }
    bool taken = false;
    bool failed = false;
    for (xcb_void_cookie_t cookie : cookies) {
        if (xcb_generic_error_t *error = xcb_request_check(c, cookie)) {
            (error->error_code == XCB_ACCESS ? taken : failed) = true;
            std::free(error);
        }
    }
    m_keyCode = code;
    m_modifiers = wanted->modifiers;
    if (taken || failed) {
        // Half a grab would work only in some lock states: let all of it go.
        ungrab();
        log::info(log::general(), QStringLiteral("global_shortcut_grab_failed ")
                                  + log::Record().add(u"sequence", m_sequence).add(u"taken", taken).text());
        setState(taken ? State::taken : State::unsupported);
    } else {
        setState(State::active);
    }
    // Replies read above may have queued events the notifier will not announce.
    readEvents();
}

void GlobalShortcut::ungrab()
{
    if (!m_display || m_keyCode == 0)
        return;
    const std::uint16_t lock = XCB_MOD_MASK_LOCK;
    const std::uint16_t numLock = m_display->numLockMask;
    for (std::uint16_t variant : {std::uint16_t(0), lock, numLock, std::uint16_t(lock | numLock)})
        xcb_ungrab_key(m_display->connection, m_keyCode, m_display->root, m_modifiers | variant);
    xcb_flush(m_display->connection);
    m_keyCode = 0;
}

void GlobalShortcut::readEvents()
{
    if (!m_display)
        return;
    xcb_connection_t *c = m_display->connection;
    while (xcb_generic_event_t *event = xcb_poll_for_event(c)) {
        const std::uint8_t type = event->response_type & 0x7f;
        if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
            const auto *key = reinterpret_cast<const xcb_key_press_event_t *>(event);
            const bool ours = m_keyCode != 0 && key->detail == m_keyCode && (key->state & combinationMask) == m_modifiers;
            if (ours && type == XCB_KEY_RELEASE) {
                m_lastReleaseTime = key->time;
            } else if (ours && key->time != m_lastReleaseTime) {
                // A press at the very time of the last release is the key repeating while held.
                emit activated();
            }
        }
        std::free(event);
    }
    if (xcb_connection_has_error(c)) {
        // The display went away: nothing more will come from it.
        m_notifier->setEnabled(false);
        m_keyCode = 0;
        m_display.reset();
        setState(State::unavailable);
    }
}

void GlobalShortcut::setState(State state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit stateChanged();
}

} // namespace nimbel
