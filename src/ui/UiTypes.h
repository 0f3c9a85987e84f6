#pragma once

// The C++ objects the views bind to, as typed QML names. The application
// builds them and hands them to the root view; QML never creates them.
#include "app/OverlayPanelController.h"
#include "app/QmlCatalogue.h"
#include "app/SentContextSheet.h"
#include "conversation/ChatMessageListModel.h"
#include "conversation/OverlayViewModel.h"

#include <QtQml/qqml.h>

namespace nimbel::ui {

struct OverlayViewModelType
{
    Q_GADGET
    QML_FOREIGN(nimbel::OverlayViewModel)
    QML_NAMED_ELEMENT(OverlayViewModel)
    QML_UNCREATABLE("The application builds the view model.")
};

struct ChatMessageListModelType
{
    Q_GADGET
    QML_FOREIGN(nimbel::ChatMessageListModel)
    QML_NAMED_ELEMENT(ChatMessageListModel)
    QML_UNCREATABLE("The view model owns its message list.")
};

struct OverlayPanelControllerType
{
    Q_GADGET
    QML_FOREIGN(nimbel::OverlayPanelController)
    QML_NAMED_ELEMENT(OverlayPanelController)
    QML_UNCREATABLE("The application builds the panel.")
};

struct QmlCatalogueType
{
    Q_GADGET
    QML_FOREIGN(nimbel::QmlCatalogue)
    QML_NAMED_ELEMENT(QmlCatalogue)
    QML_UNCREATABLE("The panel owns the catalogue.")
};

// Made by the "what was sent" view for the message it shows.
struct SentContextSheetType
{
    Q_GADGET
    QML_FOREIGN(nimbel::SentContextSheet)
    QML_NAMED_ELEMENT(SentContextSheet)
};

} // namespace nimbel::ui
