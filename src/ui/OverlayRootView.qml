import QtQuick
import Nimbel.Ui

// Everything inside the floating panel: the launcher while collapsed, the chat
// panel while expanded. The views keep no state of their own beyond the two
// view flags; they show the view model's published state and call its operations.
Item {
    id: root

    // The observed view model, the panel controller and the message catalogue.
    required property OverlayViewModel viewModel
    required property OverlayPanelController panel
    required property QmlCatalogue catalogue
    required property bool reduceMotion
    property FirstRunSession firstRunSession: null
    property UpdateService updates: null
    property LaunchAtLoginService loginItem: null
    property LanguageChoice language: null
    property alias showSettings: context.showSettings
    property alias showGatewaySettings: context.showGatewaySettings

    OverlayContext {
        id: context
        viewModel: root.viewModel
        panel: root.panel
        catalogue: root.catalogue
        reduceMotion: root.reduceMotion
        firstRunSession: root.firstRunSession
        updates: root.updates
        loginItem: root.loginItem
        language: root.language
    }

    Accessible.role: Accessible.Pane
    Accessible.name: context.headerTitle

    Launcher {
        anchors.fill: parent
        overlay: context
        visible: !context.expanded
    }

    ChatPanel {
        anchors.fill: parent
        overlay: context
        visible: context.expanded
        opacity: visible ? 1 : 0
        Behavior on opacity { NumberAnimation { duration: root.reduceMotion ? 0 : 160 } }
    }
}
