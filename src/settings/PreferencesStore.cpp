#include "settings/PreferencesStore.h"

#include "core/BuildInfo.h"
#include "core/Log.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include <cmath>
#include <limits>

namespace nimbel {

namespace {

// Text-based formats (the native format on Linux is one) give every scalar
// back as a string, so typed reads accept both the typed variant (values
// written during this run) and its canonical text.

bool isIntegral(const QVariant &value)
{
    switch (value.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return true;
    default:
        return false;
    }
}

std::optional<qint64> toInteger(const QVariant &value)
{
    if (value.metaType().id() == QMetaType::ULongLong || value.metaType().id() == QMetaType::ULong) {
        const qulonglong unsignedValue = value.toULongLong();
        if (unsignedValue > qulonglong(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return qint64(unsignedValue);
    }
    if (isIntegral(value))
        return value.toLongLong();
    if (value.metaType().id() == QMetaType::QString) {
        bool ok = false;
        const qint64 parsed = value.toString().trimmed().toLongLong(&ok, 10);
        if (ok)
            return parsed;
    }
    return std::nullopt;
}

} // namespace

PreferencesStore::PreferencesStore(QSettings *settings)
    : m_settings(settings)
{
}

std::unique_ptr<QSettings> PreferencesStore::openUserSettings()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QString::fromLatin1(build::appId));
}

bool PreferencesStore::contains(QAnyStringView key) const
{
    return m_settings->contains(key);
}

std::optional<QString> PreferencesStore::string(QAnyStringView key) const
{
    const QVariant value = m_settings->value(key);
    if (value.metaType().id() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

std::optional<bool> PreferencesStore::boolean(QAnyStringView key) const
{
    const QVariant value = m_settings->value(key);
    if (value.metaType().id() == QMetaType::Bool)
        return value.toBool();
    if (value.metaType().id() == QMetaType::QString) {
        const QString text = value.toString().trimmed();
        if (text.compare(u"true", Qt::CaseInsensitive) == 0)
            return true;
        if (text.compare(u"false", Qt::CaseInsensitive) == 0)
            return false;
    }
    return std::nullopt;
}

std::optional<qint64> PreferencesStore::integer(QAnyStringView key) const
{
    return toInteger(m_settings->value(key));
}

std::optional<double> PreferencesStore::real(QAnyStringView key) const
{
    const QVariant value = m_settings->value(key);
    std::optional<double> result;
    const int type = value.metaType().id();
    if (type == QMetaType::Double || type == QMetaType::Float) {
        result = value.toDouble();
    } else if (isIntegral(value)) {
        result = double(value.toLongLong());
    } else if (type == QMetaType::QString) {
        bool ok = false;
        const double parsed = QLocale::c().toDouble(value.toString().trimmed(), &ok);
        if (ok)
            result = parsed;
    }
    if (result && !std::isfinite(*result))
        return std::nullopt;
    return result;
}

std::optional<QStringList> PreferencesStore::stringList(QAnyStringView key) const
{
    if (!m_settings->contains(key))
        return std::nullopt;
    const QVariant value = m_settings->value(key);
    switch (value.metaType().id()) {
    case QMetaType::UnknownType:
        // An empty list is stored as an invalid value.
        return QStringList();
    case QMetaType::QStringList:
        return value.toStringList();
    case QMetaType::QString:
        // A one-element list reads back as its only string.
        return QStringList{value.toString()};
    case QMetaType::QVariantList: {
        QStringList list;
        for (const QVariant &item : value.toList()) {
            if (item.metaType().id() != QMetaType::QString)
                return std::nullopt;
            list.append(item.toString());
        }
        return list;
    }
    default:
        return std::nullopt;
    }
}

void PreferencesStore::setString(QAnyStringView key, const QString &value)
{
    write(key, value);
}

void PreferencesStore::setBoolean(QAnyStringView key, bool value)
{
    write(key, value);
}

void PreferencesStore::setInteger(QAnyStringView key, qint64 value)
{
    write(key, QVariant::fromValue<qlonglong>(value));
}

void PreferencesStore::setReal(QAnyStringView key, double value)
{
    write(key, value);
}

void PreferencesStore::setStringList(QAnyStringView key, const QStringList &value)
{
    write(key, value);
}

void PreferencesStore::remove(QAnyStringView key)
{
    m_settings->remove(key);
    commit();
}

void PreferencesStore::write(QAnyStringView key, const QVariant &value)
{
    m_settings->setValue(key, value);
    commit();
}

void PreferencesStore::commit()
{
    m_settings->sync();
    // QSettings keeps the first error it met, so AccessError may be an old
    // report; the file itself tells whether it is still in the way.
    if (m_settings->status() != QSettings::AccessError)
        return;
    const QString path = m_settings->fileName();
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return;
    if (info.isFile() && info.isReadable() && info.isWritable())
        return;
    // Nothing could be read from it anyway; keep it for inspection and let
    // QSettings write the values it holds into a fresh file.
    const QString aside = path + QStringLiteral(".broken-")
        + QString::number(QDateTime::currentMSecsSinceEpoch());
    const bool moved = QDir().rename(path, aside);
    log::error(log::general(), log::Record()
                                   .add(u"preferences", u"unusable_file")
                                   .add(u"moved_aside", moved));
    if (moved)
        m_settings->sync();
}

} // namespace nimbel
