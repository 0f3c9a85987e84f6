#pragma once

#include <QObject>
#include <QString>

namespace nimbel {

class PreferencesStore;

// The owner's switch for pointing out a screen answer's target on the screen,
// kept in the preferences store, and whether this desktop can do it at all.
class HighlightSettings final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool enabled READ isEnabled WRITE setEnabled NOTIFY enabledChanged)
    Q_PROPERTY(bool available READ isAvailable CONSTANT)
    Q_PROPERTY(QString title READ title CONSTANT)
    Q_PROPERTY(QString hint READ hint CONSTANT)
    Q_PROPERTY(QString unavailableReason READ unavailableReason CONSTANT)
public:
    HighlightSettings(PreferencesStore &preferences, bool available, QObject *parent = nullptr);

    // The one instance the views bind to; set by the application before any view loads.
    static HighlightSettings *instance();
    static void setInstance(HighlightSettings *settings);

    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    bool isAvailable() const { return m_available; }
    QString title() const;
    QString hint() const;
    QString unavailableReason() const;

signals:
    void enabledChanged();

private:
    PreferencesStore &m_preferences;
    bool m_available;
    bool m_enabled;
};

} // namespace nimbel
