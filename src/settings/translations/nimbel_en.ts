<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name></name>
    <message id="error.keychain.save">
        <source>Could not save the Zelm API key to the Keychain.</source>
        <translation>Could not save the Zelm API key to the key store.</translation>
    </message>
    <message id="error.mic.denied">
        <source>No microphone access. Allow it in the macOS privacy settings.</source>
        <translation>No microphone access. Allow it in the system privacy settings.</translation>
    </message>
    <message id="error.mic.engine">
        <source>macOS could not start the audio input. Check the selected microphone.</source>
        <translation>The system could not start the audio input. Check the selected microphone.</translation>
    </message>
    <message id="error.screen.denied">
        <source>Allow Nimbel to record the screen in System Settings → Privacy &amp; Security.</source>
        <translation>Allow Nimbel to record the screen in the system settings.</translation>
    </message>
    <message id="error.screen.empty">
        <source>macOS returned an empty screenshot. Try another window.</source>
        <translation>The system returned an empty screenshot. Try another window.</translation>
    </message>
    <message id="firstRun.microphone.refused">
        <source>macOS only lets an app ask once, so I can’t ask again from here. The switch is in System Settings → Privacy &amp; Security → Microphone. Without it you can still type to me.</source>
        <translation>The system only lets an app ask once, so I can’t ask again from here. The switch is in the system settings, under privacy for the microphone. Without it you can still type to me.</translation>
    </message>
    <message id="firstRun.openSettings">
        <source>Open System Settings</source>
        <translation>Open the system settings</translation>
    </message>
    <message id="firstRun.screen.monthly">
        <source>macOS will ask you to confirm this again about once a month. That’s macOS, not us — every app that can look at a screen gets the same reminder, and it can’t be switched off.</source>
        <translation>The system may ask you to confirm this again from time to time. That’s the system, not us — every app that can look at a screen gets the same reminder, and it can’t be switched off.</translation>
    </message>
    <message id="firstRun.screen.refused">
        <source>Fine — I’ll answer everything that doesn’t need the screen. You can turn it on later in System Settings → Privacy &amp; Security → Screen &amp; System Audio Recording.</source>
        <translation>Fine — I’ll answer everything that doesn’t need the screen. You can turn it on later in the system settings, under screen recording.</translation>
    </message>
    <message id="firstRun.screen.restart">
        <source>macOS doesn’t hand a changed screen permission to an app that’s already running. One restart and it takes effect.</source>
        <translation>The system doesn’t hand a changed screen permission to an app that’s already running. One restart and it takes effect.</translation>
    </message>
    <message id="firstRun.welcome.body">
        <source>I live in the menu bar. Press the sphere and talk to me, or type. I can answer about what’s on your screen when you ask — and I’ll ask for two permissions first, one at a time, explaining each.</source>
        <translation>I live in the system tray. Press the sphere and talk to me, or type. I can answer about what’s on your screen when you ask — and I’ll ask for two permissions first, one at a time, explaining each.</translation>
    </message>
    <message id="settings.language.system">
        <source>Same as macOS</source>
        <translation>Same as the system</translation>
    </message>
    <message id="settings.launchAtLogin">
        <source>Launch with macOS</source>
        <translation>Launch at login</translation>
    </message>
    <message id="settings.launchAtLogin.hint">
        <source>The agent stays reachable in every space.</source>
        <translation>The agent stays reachable on every workspace.</translation>
    </message>
    <message id="settings.noRedownload">
        <source>No need to download the DMG again.</source>
        <translation>No need to download the package again.</translation>
    </message>
    <message id="settings.privacy.hint">
        <source>One screenshot per question you ask, never a recording — and a straight answer about what leaves your Mac.</source>
        <translation>One screenshot per question you ask, never a recording — and a straight answer about what leaves your computer.</translation>
    </message>
</context>
</TS>
