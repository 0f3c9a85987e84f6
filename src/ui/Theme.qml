pragma Singleton
import QtQuick

// Colours and metrics of the overlay. Dark or light follows the desktop's palette.
QtObject {
    id: theme

    readonly property SystemPalette system: SystemPalette { colorGroup: SystemPalette.Active }
    readonly property bool dark: (0.299 * system.window.r + 0.587 * system.window.g + 0.114 * system.window.b) < 0.5

    readonly property color panel: dark ? "#17181f" : "#fbfbfe"
    readonly property color panelBorder: dark ? "#2c2e3a" : "#e3e4ee"
    readonly property color surface: dark ? "#20222c" : "#f1f2f8"
    readonly property color surfaceHover: dark ? "#2a2c38" : "#e6e7f2"
    readonly property color text: dark ? "#eceef6" : "#1b1d29"
    readonly property color textSecondary: dark ? "#9a9db0" : "#646779"
    readonly property color accent: dark ? "#8b7bff" : "#5b4bea"
    readonly property color accentText: "#ffffff"
    readonly property color userBubble: dark ? "#5b4bea" : "#5b4bea"
    readonly property color userBubbleText: "#ffffff"
    readonly property color assistantBubble: dark ? "#23252f" : "#ffffff"
    readonly property color assistantBubbleBorder: dark ? "#30323f" : "#e6e7ef"
    readonly property color danger: dark ? "#ff7a85" : "#d43848"
    readonly property color dangerSurface: dark ? "#3a1f26" : "#fdecee"
    readonly property color good: dark ? "#5ad39a" : "#1f9d63"
    readonly property color focusRing: accent

    // The orb's liquid palette per mood: core, rim and halo.
    readonly property var orbIdle: ["#9c8cff", "#4b6bff", "#7f6bff"]
    readonly property var orbListening: ["#5ff0d8", "#1aa7ff", "#2fd3ff"]
    readonly property var orbSpeaking: ["#ff8ad8", "#8a5bff", "#d46bff"]
    readonly property var orbThinking: ["#ffd27a", "#ff7a59", "#ffae5c"]
    readonly property var orbMuted: ["#b8bccc", "#6d7285", "#9094a6"]

    readonly property int radius: 18
    readonly property int bubbleRadius: 16
    readonly property int spacing: 12
    readonly property int fontSize: 14
    readonly property int smallFontSize: 12
    readonly property int titleFontSize: 15
    readonly property int animationMs: 180
}
