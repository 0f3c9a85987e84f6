#include "app/QmlCatalogue.h"

#include "settings/Localized.h"

namespace nimbel {

QString QmlCatalogue::text(const QString &key) const
{
    return L::text(key.toUtf8().constData());
}

} // namespace nimbel
