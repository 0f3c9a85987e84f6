#pragma once

// The highlight's settings as the QML singleton HighlightSettings: the one
// instance the application built (HighlightSettings::setInstance).
#include "app/HighlightSettings.h"

#include <QtQml/qqml.h>
#include <QQmlEngine>

namespace nimbel::ui {

struct HighlightSettingsType
{
    Q_GADGET
    QML_FOREIGN(nimbel::HighlightSettings)
    QML_NAMED_ELEMENT(HighlightSettings)
    QML_SINGLETON
public:
    static nimbel::HighlightSettings *create(QQmlEngine *, QJSEngine *engine)
    {
        nimbel::HighlightSettings *settings = nimbel::HighlightSettings::instance();
        if (!settings)
            return nullptr;
        // One instance serves every engine, owned by the application.
        QJSEngine::setObjectOwnership(settings, QJSEngine::CppOwnership);
        Q_UNUSED(engine);
        return settings;
    }
};

} // namespace nimbel::ui
