#include "app/SelfTest.h"

#include "app/AppMetadata.h"
#include "core/BuildInfo.h"
#include "settings/AppLanguage.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTextStream>
#include <QUuid>

namespace nimbel {

namespace {
const QString missing = QStringLiteral("—");
const QString firstRunCompletedKey = QStringLiteral("desktopFirstRunCompletedVersion");

QString orMissing(const std::optional<QString> &value)
{
    return value ? *value : missing;
}

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

bool firstRunCompleted(const QSettings &settings)
{
    return settings.value(firstRunCompletedKey, 0).toInt() >= 1;
}

std::optional<QString> nonEmpty(const char *text)
{
    const QString value = QString::fromUtf8(text);
    if (value.isEmpty())
        return std::nullopt;
    return value;
}
} // namespace

BundleInfo BundleInfo::compiledIn()
{
    BundleInfo info;
    info.identifier = nonEmpty(build::appId);
    info.shortVersion = nonEmpty(build::version);
    info.buildVersion = nonEmpty(build::buildVersion);
    info.localizations = appLanguage::shippedLocalizations();
    info.updateFeed = nonEmpty(appmeta::updateFeedURL);
    info.screenUsageDescription = nonEmpty(appmeta::screenUsageDescription);
    return info;
}

SelfTest::SelfTest(BundleInfo bundle, TextLookup text, LanguageResolver language)
    : m_bundle(std::move(bundle))
    , m_text(std::move(text))
    , m_language(std::move(language))
{
}

QString SelfTest::line(const QString &label, const QString &value)
{
    return QStringLiteral("  ") + label.leftJustified(22) + u' ' + value;
}

QStringList SelfTest::page(const FirstRunState &state) const
{
    QString title = QStringLiteral("  • ") + FirstRunFlow::stepName(state.step);
    if (const auto position = FirstRunFlow::position(state.step))
        title += QStringLiteral(" [%1/%2]").arg(position->first).arg(position->second);
    const FirstRunButton button = FirstRunFlow::primaryButton(state);
    const auto wayOut = FirstRunFlow::wayOutKey(state.step);
    return {
        QString(),
        title,
        QStringLiteral("      button:  ") + m_text(button.titleKey),
        QStringLiteral("      way out: ") + (wayOut ? m_text(*wayOut) : QStringLiteral("— (the welcome page)")),
        QStringLiteral("      action:  ") + FirstRunFlow::operationName(button.operation),
    };
}

QStringList SelfTest::report(QSettings &privateSettings) const
{
    QStringList out;
    out << line(QStringLiteral("app"), m_bundle.identifier.value_or(QStringLiteral("?")));
    out << line(QStringLiteral("version"),
                orMissing(m_bundle.shortVersion) + QStringLiteral(" (") + orMissing(m_bundle.buildVersion) + u')');
    QStringList localizations = m_bundle.localizations;
    localizations.sort();
    out << line(QStringLiteral("localizations"), localizations.join(QStringLiteral(", ")));
    const QString language = m_language(privateSettings) == u"ru" ? QStringLiteral("ru") : QStringLiteral("en");
    out << line(QStringLiteral("resolved language"), language);
    out << line(QStringLiteral("speech locale"), language == u"ru" ? QStringLiteral("ru-RU") : QStringLiteral("en-US"));
    out << line(QStringLiteral("update feed"), orMissing(m_bundle.updateFeed));
    out << line(QStringLiteral("screen text"), orMissing(m_bundle.screenUsageDescription));

    out << QString() << QStringLiteral("── the first run, on a profile that has never seen it ──");
    out << line(QStringLiteral("already completed?"), boolText(firstRunCompleted(privateSettings)));

    // A profile that has never seen the introduction: nothing granted, nothing connected.
    FirstRunState state;
    int walked = 0;
    for (std::optional<FirstRunStep> step = FirstRunStep::welcome; step; step = FirstRunFlow::next(*step)) {
        state.step = *step;
        out << page(state);
        ++walked;
    }
    out << line(QStringLiteral("pages walked"), QString::number(walked));

    out << QString() << QStringLiteral("── and what a refusal offers ──");
    FirstRunState refusedMicrophone;
    refusedMicrophone.step = FirstRunStep::microphone;
    refusedMicrophone.microphone = FirstRunPermission::refusedForGood;
    out << page(refusedMicrophone);
    FirstRunState refusedScreen;
    refusedScreen.step = FirstRunStep::screen;
    refusedScreen.screen = FirstRunPermission::refusedForGood;
    out << page(refusedScreen);
    FirstRunState restartScreen;
    restartScreen.step = FirstRunStep::screen;
    restartScreen.screen = FirstRunPermission::needsRestart;
    out << page(restartScreen);

    privateSettings.setValue(firstRunCompletedKey, 1);
    privateSettings.sync();
    out << QString() << line(QStringLiteral("completed, and stays completed"), boolText(firstRunCompleted(privateSettings)));
    out << QString()
        << QStringLiteral("selftest ok — the app started, read its bundle and walked its introduction, and drew nothing.");
    return out;
}

int SelfTest::run(QTextStream &out) const
{
    const QString domain = QStringLiteral("zelm.selftest.") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QString path = QDir(QDir::tempPath()).filePath(domain + QStringLiteral(".conf"));
    {
        QSettings privateSettings(path, QSettings::IniFormat);
        for (const QString &text : report(privateSettings))
            out << text << '\n';
        out.flush();
    }
    QFile::remove(path);
    return 0;
}

} // namespace nimbel
