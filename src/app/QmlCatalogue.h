#pragma once

#include <QObject>
#include <QString>

namespace nimbel {

// The message catalogue as the QML views see it.
class QmlCatalogue : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    Q_INVOKABLE QString text(const QString &key) const;
};

} // namespace nimbel
