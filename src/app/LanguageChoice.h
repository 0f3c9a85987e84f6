#pragma once

#include <QObject>
#include <QString>

#include <functional>

namespace nimbel {

class PreferencesStore;

// The interface language as the settings sheet chooses it. The language is
// fixed when the application starts, so a new choice is stored and the
// application starts again in it; choosing the language already stored does
// nothing.
class LanguageChoice final : public QObject
{
    Q_OBJECT
    // The stored preference: "system", "en" or "ru".
    Q_PROPERTY(QString preference READ preference NOTIFY preferenceChanged)

public:
    // `restart` starts a new instance and ends this one (reporting when it cannot).
    LanguageChoice(PreferencesStore &preferences, std::function<void()> restart, QObject *parent = nullptr);

    QString preference() const;
    // Stores `preference` ("system", "en" or "ru") and restarts; false when
    // nothing changed (the same choice, or not one of the three).
    Q_INVOKABLE bool choose(const QString &preference);

signals:
    void preferenceChanged();

private:
    PreferencesStore &m_preferences;
    std::function<void()> m_restart;
};

} // namespace nimbel
