#pragma once

#include <QAnyStringView>
#include <QSettings>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace nimbel {

// Typed reads and writes over a QSettings. A value that is missing, or that
// cannot be read as the asked type (a damaged or hand-edited file), reads as
// absent, so callers fall back to their defaults; nothing here throws or
// crashes on bad content. Every write is flushed at once, and a write that
// finds the file unusable (unreadable, not a file) moves it aside and writes
// a fresh one, so the next write repairs a broken store.
class PreferencesStore
{
public:
    explicit PreferencesStore(QSettings *settings); // not owned

    // The real per-user store (native format).
    static std::unique_ptr<QSettings> openUserSettings();

    std::optional<QString> string(QAnyStringView key) const;
    std::optional<bool> boolean(QAnyStringView key) const;
    std::optional<qint64> integer(QAnyStringView key) const;
    // Finite numbers only: NaN or infinity read as absent.
    std::optional<double> real(QAnyStringView key) const;
    std::optional<QStringList> stringList(QAnyStringView key) const;
    bool contains(QAnyStringView key) const;

    void setString(QAnyStringView key, const QString &value);
    void setBoolean(QAnyStringView key, bool value);
    void setInteger(QAnyStringView key, qint64 value);
    void setReal(QAnyStringView key, double value);
    void setStringList(QAnyStringView key, const QStringList &value);
    void remove(QAnyStringView key);

    QSettings *settings() const { return m_settings; }

private:
    void write(QAnyStringView key, const QVariant &value);
    void commit();

    QSettings *m_settings;
};

} // namespace nimbel
