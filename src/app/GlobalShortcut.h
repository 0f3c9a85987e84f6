#pragma once

#include <QKeyCombination>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

class QSocketNotifier;

namespace nimbel {

class PreferencesStore;

// An X key grab: the key symbol and the modifier mask (X's Shift, Control, Mod1, Mod4).
struct X11KeyGrab
{
    std::uint32_t keySymbol = 0;
    std::uint16_t modifiers = 0;
    bool operator==(const X11KeyGrab &) const = default;
};

// The grab for `combination`; nothing for a combination that would take
// ordinary typing away from other applications (no Ctrl, Alt or Meta), a
// modifier on its own, or a key without an X symbol.
std::optional<X11KeyGrab> x11KeyGrab(QKeyCombination combination);

// Starts and ends a voice session from any application: a key combination
// grabbed on the X root window (with every NumLock/CapsLock variant, so that
// it works whatever their state). The combination is a preference; when
// another program already holds it the state says so. Main thread only.
class GlobalShortcut final : public QObject
{
    Q_OBJECT
    // Portable text, "Ctrl+Alt+Space".
    Q_PROPERTY(QString sequence READ sequence NOTIFY sequenceChanged)
    // As this desktop writes it.
    Q_PROPERTY(QString displayText READ displayText NOTIFY sequenceChanged)
    // The catalogue key of what keeps the shortcut from working; empty while it works.
    Q_PROPERTY(QString problemKey READ problemKey NOTIFY stateChanged)
    // While the owner types a new combination the current one is let go.
    Q_PROPERTY(bool recording READ recording WRITE setRecording NOTIFY recordingChanged)

public:
    enum class State : std::uint8_t {
        active,
        // Another program grabbed the combination first.
        taken,
        // Not a combination that can be grabbed.
        unsupported,
        // No X display (a Wayland session, no display at all).
        unavailable,
        // Let go while a new combination is recorded.
        suspended,
    };

    static constexpr char defaultSequence[] = "Ctrl+Alt+Space";

    explicit GlobalShortcut(PreferencesStore &preferences, QObject *parent = nullptr);
    ~GlobalShortcut() override;

    QString sequence() const { return m_sequence; }
    QString displayText() const;
    State state() const { return m_state; }
    QString problemKey() const;
    bool recording() const { return m_recording; }
    void setRecording(bool recording);

    // Stores and grabs `portableText`; false (nothing changes) when it is not one usable combination.
    bool setSequence(const QString &portableText);
    // The combination of a key event from the views (Qt key and modifiers); ends
    // the recording when it is usable.
    Q_INVOKABLE bool record(int key, int modifiers);
    Q_INVOKABLE void restoreDefault() { setSequence(QString::fromLatin1(defaultSequence)); }

signals:
    void activated();
    void sequenceChanged();
    void stateChanged();
    void recordingChanged();

private:
    void grab();
    void ungrab();
    void readEvents();
    void setState(State state);
    std::uint8_t keyCodeOf(std::uint32_t keySymbol) const;

    PreferencesStore &m_preferences;
    QString m_sequence;
    State m_state = State::unavailable;
    bool m_recording = false;
    struct Display;
    std::unique_ptr<Display> m_display;
    QSocketNotifier *m_notifier = nullptr;
    std::uint8_t m_keyCode = 0;
    std::uint16_t m_modifiers = 0;
    std::uint32_t m_lastReleaseTime = 0;
};

} // namespace nimbel
