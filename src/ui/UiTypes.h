#pragma once

// The C++ objects the views bind to, as typed QML names. The application
// builds them and hands them to the root view; QML never creates them.
#include "app/FirstRunSession.h"
#include "app/GlobalShortcut.h"
#include "app/LanguageChoice.h"
#include "app/LaunchAtLoginService.h"
#include "app/OverlayPanelController.h"
#include "app/QmlCatalogue.h"
#include "app/SentContextSheet.h"
#include "app/UpdateService.h"
#include "conversation/ChatMessageListModel.h"
#include "conversation/OverlayViewModel.h"
#include "voice/SpeechRecognitionService.h"

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

struct FirstRunSessionType
{
    Q_GADGET
    QML_FOREIGN(nimbel::FirstRunSession)
    QML_NAMED_ELEMENT(FirstRunSession)
    QML_UNCREATABLE("The application runs the introduction.")
};

struct UpdateServiceType
{
    Q_GADGET
    QML_FOREIGN(nimbel::UpdateService)
    QML_NAMED_ELEMENT(UpdateService)
    QML_UNCREATABLE("The application builds the updater.")
};

struct LaunchAtLoginServiceType
{
    Q_GADGET
    QML_FOREIGN(nimbel::LaunchAtLoginService)
    QML_NAMED_ELEMENT(LaunchAtLoginService)
    QML_UNCREATABLE("The application builds the login item.")
};

struct LanguageChoiceType
{
    Q_GADGET
    QML_FOREIGN(nimbel::LanguageChoice)
    QML_NAMED_ELEMENT(LanguageChoice)
    QML_UNCREATABLE("The application keeps the language choice.")
};

struct MicrophoneServiceType
{
    Q_GADGET
    QML_FOREIGN(nimbel::SpeechRecognitionService)
    QML_NAMED_ELEMENT(MicrophoneService)
    QML_UNCREATABLE("The application builds the microphone service.")
};

struct GlobalShortcutType
{
    Q_GADGET
    QML_FOREIGN(nimbel::GlobalShortcut)
    QML_NAMED_ELEMENT(GlobalShortcut)
    QML_UNCREATABLE("The application owns the shortcut.")
};

// Made by the "what was sent" view for the message it shows.
struct SentContextSheetType
{
    Q_GADGET
    QML_FOREIGN(nimbel::SentContextSheet)
    QML_NAMED_ELEMENT(SentContextSheet)
};

} // namespace nimbel::ui
