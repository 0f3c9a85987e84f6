#pragma once

#include "settings/AppLanguage.h"

#include <QString>
#include <QStringList>

// The message catalogue: every text the assistant shows or speaks on its own,
// looked up by its dotted key ("state.analyzing"). The English defaults live in
// the code; other languages come from Qt translation files whose message ids
// are the same keys. Messages with a value inside have one function each; their
// texts carry %1 (and %2) where the values go.
namespace nimbel::L {

// The text in the installed language, else the English default. An unknown
// key returns the key itself and is logged (a test scans the sources for them).
QString text(const char *key);

QString chatAgentConnected(const QString &agentName);
QString errorLocalSpeechUnavailable(const QString &language);
QString contextScreenWindow(const QString &title);
QString contextScreenApplication(const QString &app);
QString contextScreenApplicationWindow(const QString &app, const QString &title);
QString firstRunStep(int n, int count);
QString firstRunConnected(const QString &agent);
QString firstRunConnectBody(const QString &address);
QString settingsUpdateUnavailable(const QString &error);
QString settingsVersion(const QString &version);
QString orbVoiceCall(const QString &agent);
QString statusAgentSpeaking(const QString &agent);
QString transcriptWarning(const QString &note);

// Catalogue introspection: every key, sorted; whether a key exists; its
// English default (empty for an unknown key).
QStringList keys();
bool contains(const char *key);
QString englishDefault(const char *key);

} // namespace nimbel::L

namespace nimbel {

// The compiled translation embedded for `language` (a Qt resource path).
QString translationResource(AppLanguage language);

// Makes `language` the language of L::text for the whole application,
// replacing an earlier choice. False when its translation cannot be loaded
// (English is then left in place) or there is no application object.
bool installTranslations(AppLanguage language);

} // namespace nimbel
