#pragma once

#include "settings/TokenStore.h"

#include <QProcessEnvironment>
#include <QString>

#include <chrono>

namespace nimbel {

// The API key in the desktop's secret service (Secret Service or KWallet,
// through QtKeychain): one item identified by `service` and `account`, whose
// data is the key's UTF-8 bytes.
//
// When no secret service answers, the key goes to a file readable only by the
// owner (0600) in the application's data folder, apart from the preferences.
// Once a write has gone to that file, the file holds the latest key (an empty
// file records a deletion) until a write reaches the secret service again,
// which removes it. Using the file is logged; the key never is.
//
// Disabled under a unit-test host: read() is empty and write() stores nothing.
class KeychainTokenStore final : public TokenStore
{
public:
    static constexpr char accountName[] = "platform-api-key";
    static constexpr std::chrono::milliseconds defaultTimeout{5000};

    explicit KeychainTokenStore(const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
                                QString service = defaultService(),
                                QString fallbackPath = defaultFallbackPath(),
                                std::chrono::milliseconds timeout = defaultTimeout);

    QString service() const { return m_service; }
    QString account() const { return QString::fromLatin1(accountName); }
    bool isEnabled() const { return m_enabled; }
    QString fallbackPath() const { return m_fallbackPath; }

    QString read() const override;
    std::optional<KeychainError> write(const QString &key) override;

    // True when `XCTestConfigurationFilePath` or `XCTestBundlePath` is present.
    static bool isUnitTestHost(const QProcessEnvironment &environment);
    // The application identifier.
    static QString defaultService();
    // "platform-api-key" in the application's writable data folder.
    static QString defaultFallbackPath();

private:
    std::optional<KeychainError> writeFallback(const QString &key, const char *reason);
    void discardFallback();

    QString m_service;
    QString m_fallbackPath;
    std::chrono::milliseconds m_timeout;
    bool m_enabled;
};

} // namespace nimbel
