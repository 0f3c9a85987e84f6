#include "SelfTestReport.h"

namespace nimbel::test {

QString expectedSelfTestReport(const QString &version, const QString &buildVersion, const QString &updateFeed,
                               const QString &screenText, const std::function<QString(const char *)> &text)
{
    QString report = QStringLiteral("  app                    app.nimbel.desktop\n"
                          "  version                %1 (%2)\n"
                          "  localizations          en, ru\n"
                          "  resolved language      en\n"
                          "  speech locale          en-US\n"
                          "  update feed            %3\n"
                          "  screen text            %4\n"
                          "\n"
                          "── the first run, on a profile that has never seen it ──\n"
                          "  already completed?     false\n"
                          "\n"
                          "  • welcome\n"
                          "      button:  {firstRun.continue}\n"
                          "      way out: — (the welcome page)\n"
                          "      action:  firstRunAdvance\n"
                          "\n"
                          "  • microphone [1/3]\n"
                          "      button:  {firstRun.allow}\n"
                          "      way out: {firstRun.skip}\n"
                          "      action:  firstRunAsk\n"
                          "\n"
                          "  • screen [2/3]\n"
                          "      button:  {firstRun.allow}\n"
                          "      way out: {firstRun.skip}\n"
                          "      action:  firstRunAsk\n"
                          "\n"
                          "  • accessibility [3/3]\n"
                          "      button:  {firstRun.allow}\n"
                          "      way out: {firstRun.skip}\n"
                          "      action:  firstRunAsk\n"
                          "\n"
                          "  • connect\n"
                          "      button:  {firstRun.connect.openConsole}\n"
                          "      way out: {firstRun.skip}\n"
                          "      action:  openPlatformConnectionPage\n"
                          "  pages walked           5\n"
                          "\n"
                          "── and what a refusal offers ──\n"
                          "\n"
                          "  • microphone [1/3]\n"
                          "      button:  {firstRun.openSettings}\n"
                          "      way out: {firstRun.skip}\n"
                          "      action:  openMicrophoneSettings\n"
                          "\n"
                          "  • screen [2/3]\n"
                          "      button:  {firstRun.openSettings}\n"
                          "      way out: {firstRun.skip}\n"
                          "      action:  openScreenRecordingSettings\n"
                          "\n"
                          "  • screen [2/3]\n"
                          "      button:  {firstRun.restart}\n"
                          "      way out: {firstRun.skip}\n"
                          "      action:  restartApplication\n"
                          "\n"
                          "  completed, and stays completed true\n"
                          "\n"
                          "selftest ok — the app started, read its bundle and walked its introduction, and drew nothing.\n")
        .arg(version, buildVersion, updateFeed, screenText);
    for (const char *key : {"firstRun.continue", "firstRun.allow", "firstRun.skip", "firstRun.openSettings",
                            "firstRun.restart", "firstRun.connect.openConsole"})
        report.replace(u'{' + QString::fromLatin1(key) + u'}', text(key));
    return report;
}

} // namespace nimbel::test
