#pragma once

#include <QString>

namespace nimbel::test {

// gcr's scripted system prompter, on its own thread and bus connection: it
// answers gnome-keyring's password prompts the way the test says, so that a
// locked keyring can be tested without a person at the keyboard.
namespace scriptedPrompter {
// Starts it on the session bus; its bus name is what gnome-keyring is given.
QString start();
void stop();
// The next prompt is answered with `password`, or dismissed.
void expectPassword(const char *password);
void expectDismissal();
// True while an expected prompt has not come.
bool isExpecting();
} // namespace scriptedPrompter

} // namespace nimbel::test
