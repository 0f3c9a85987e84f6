#pragma once

#include <QString>

#include <functional>

namespace nimbel::test {

// The self-test report for an English profile, line by line as the report
// lays it out. The version and feed lines depend on the build; button titles
// come from `text` (catalogue key to English text).
QString expectedSelfTestReport(const QString &version, const QString &buildVersion, const QString &updateFeed,
                               const QString &screenText, const std::function<QString(const char *)> &text);

} // namespace nimbel::test
