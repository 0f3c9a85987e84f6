#pragma once

#include <QString>

namespace nimbel::test {

// The self-test report of this build for an English profile, line by line as
// the report lays it out (the version and feed lines depend on the build).
QString expectedSelfTestReport(const QString &version, const QString &buildVersion, const QString &updateFeed,
                               const QString &screenText);

} // namespace nimbel::test
