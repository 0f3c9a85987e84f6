#pragma once

#include "app/FirstRunFlow.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QSettings;
class QTextStream;

namespace nimbel {

// What the application knows about itself: identifier, versions, shipped
// languages and the metadata entries the self-test reports.
struct BundleInfo
{
    std::optional<QString> identifier;
    std::optional<QString> shortVersion;
    std::optional<QString> buildVersion;
    QStringList localizations;
    std::optional<QString> updateFeed;
    std::optional<QString> screenUsageDescription;

    // The metadata compiled into this build.
    static BundleInfo compiledIn();
};

// The self-test report: what the application read about itself and how its
// introduction looks on a profile that has never seen it. It works on a
// private settings file, so the owner's settings are never touched.
class SelfTest
{
public:
    using TextLookup = std::function<QString(const QString &key)>;
    // Resolved interface language ("en" or "ru") for the given settings.
    using LanguageResolver = std::function<QString(QSettings &settings)>;

    SelfTest(BundleInfo bundle, TextLookup text, LanguageResolver language);

    // Prints the report and returns the exit status (0).
    int run(QTextStream &out) const;
    // The report for the given private settings (read and written by the walk).
    QStringList report(QSettings &privateSettings) const;

    // "  " + label padded to 22 + " " + value.
    static QString line(const QString &label, const QString &value);

private:
    QStringList page(const FirstRunState &state) const;

    BundleInfo m_bundle;
    TextLookup m_text;
    LanguageResolver m_language;
};

} // namespace nimbel
