#include "settings/ScriptedPrompter.h"

#define GCR_API_SUBJECT_TO_CHANGE
#include <gcr/gcr-base.h>

namespace nimbel::test::scriptedPrompter {

QString start() { return QString::fromUtf8(gcr_mock_prompter_start()); }
void stop() { gcr_mock_prompter_stop(); }
void expectPassword(const char *password) { gcr_mock_prompter_expect_password_ok(password, nullptr); }
void expectDismissal() { gcr_mock_prompter_expect_password_cancel(); }
bool isExpecting() { return gcr_mock_prompter_is_expecting(); }

} // namespace nimbel::test::scriptedPrompter
