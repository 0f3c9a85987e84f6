// Derived texts and enabled rules of the overlay views, as pure functions so
// they can be checked without drawing anything. `text` looks a catalogue key up.

export function trimmed(value) {
    return (value === undefined || value === null) ? "" : String(value).trim();
}

// The agent's name, or the assistant's own name when none is connected.
export function launcherName(agentName) {
    const name = trimmed(agentName);
    return name.length > 0 ? name : "Nimbel";
}

// s: { firstRunPresent, showSettings, agentName }
export function headerTitle(s, text) {
    if (s.firstRunPresent)
        return "Nimbel";
    if (s.showSettings)
        return text("settings.title");
    return launcherName(s.agentName);
}

const stateKeys = {
    idle: "state.ready",
    capturing: "state.capturing",
    captured: "state.captured",
    analyzing: "state.analyzing",
    answered: "state.answered",
    failed: "state.failed",
};

export function stateLabelKey(state) {
    return stateKeys[state] || "state.ready";
}

// s: { isListening, isSpeaking, isVoiceSessionActive, isBusy, showSettings,
//      microphoneAuthorized, state }
export function headerStatus(s, text) {
    if (s.isListening)
        return text("status.listening");
    if (s.isSpeaking)
        return text("status.answering");
    if (s.isVoiceSessionActive && s.isBusy)
        return text("status.thinking");
    if (s.isVoiceSessionActive)
        return text("status.voiceConnected");
    if (s.showSettings)
        return text(s.microphoneAuthorized ? "status.voiceReady" : "status.checkPermissions");
    if (s.state === "idle")
        return text("status.online");
    return text(stateLabelKey(s.state));
}

// The orb's tooltip and accessibility hint. s: { isBusy, isSpeaking, isVoiceSessionActive }
export function orbHelp(s, text) {
    if (s.isBusy || s.isSpeaking)
        return text("orb.interrupt");
    return text(s.isVoiceSessionActive ? "orb.voiceOff" : "orb.voiceOn");
}

// s: { isVoiceSessionActive, isMicrophoneMuted }
export function microphoneLabel(s, text) {
    if (s.isVoiceSessionActive)
        return text(s.isMicrophoneMuted ? "orb.unmute" : "orb.mute");
    return text("orb.connectVoice");
}

export function chatToggleLabel(isExpanded, text) {
    return text(isExpanded ? "orb.collapse" : "orb.open");
}

export function canSend(question, isBusy) {
    return trimmed(question).length > 0 && !isBusy;
}

export function canCapture(isBusy) {
    return !isBusy;
}

export function failureTitle(isPermissionProblem, text) {
    return text(isPermissionProblem ? "error.title.permission" : "error.title.general");
}

// Empty when the failure offers no action.
export function failureActionTitle(recovery, text) {
    switch (recovery) {
    case "restart": return text("error.action.restart");
    case "screenRecordingSettings": return text("error.action.screenSettings");
    case "voicePrivacySettings": return text("error.action.voiceSettings");
    default: return "";
    }
}

export function isDisplayedRole(role) {
    return role === "user" || role === "assistant";
}

export function connectButtonLabel(isPlatformConnected, text) {
    return text(isPlatformConnected ? "settings.change" : "settings.connect");
}

// s: { isPlatformConnected, agentName }
export function connectionStatus(s, text) {
    if (s.isPlatformConnected) {
        const name = trimmed(s.agentName);
        return name.length > 0 ? text("settings.platformConnected") + " · " + name : text("settings.platformConnected");
    }
    return text("settings.agentNotConnected");
}

export function connectionHint(isPlatformConnected, text) {
    return isPlatformConnected ? "" : text("settings.chooseAgent");
}
