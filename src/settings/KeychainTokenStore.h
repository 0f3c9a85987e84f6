#pragma once

#include "settings/TokenStore.h"

#include <QObject>
#include <QProcessEnvironment>
#include <QString>
#include <QTimer>

#include <chrono>
#include <optional>

namespace nimbel {

// The API key in the desktop's secret service (Secret Service or KWallet,
// through QtKeychain): one item identified by `service` and `account`, whose
// data is the key's UTF-8 bytes.
//
// Writing never waits for the secret service: the key is kept in memory and is
// what read() returns at once, while it is stored in the background. A locked
// keyring shows the owner its password prompt; the prompt is left to the owner
// for `promptBound` rather than cancelled. When the owner declines, the
// service is missing or the bound passes, the key goes to a file readable only
// by the owner (0600) in the application's data folder, apart from the
// preferences. Once a write has gone to that file, the file holds the latest
// key (an empty file records a deletion) until a write reaches the secret
// service again, which removes it. Using the file is logged; the key never is.
// `keyLocation` tells the settings where the key is kept.
//
// Disabled under a unit-test host: read() is empty and write() stores nothing.
class KeychainTokenStore final : public QObject, public TokenStore
{
    Q_OBJECT
    Q_PROPERTY(KeyLocation keyLocation READ keyLocation NOTIFY keyLocationChanged)
    Q_PROPERTY(QString fallbackPath READ fallbackPath CONSTANT)

public:
    enum class KeyLocation {
        none,          // no key stored
        storing,       // being stored; in memory meanwhile (a prompt may be open)
        secretService, // in the desktop's secret service
        privateFile,   // in the owner-only file at fallbackPath
        memoryOnly,    // neither store took it: kept for this session only
    };
    Q_ENUM(KeyLocation)

    static constexpr char accountName[] = "platform-api-key";
    // How long the owner has to answer a keyring prompt.
    static constexpr std::chrono::milliseconds defaultPromptBound{120000};

    explicit KeychainTokenStore(const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
                                QString service = defaultService(),
                                QString fallbackPath = defaultFallbackPath(),
                                std::chrono::milliseconds promptBound = defaultPromptBound);
    // A key still being stored when the application ends goes to the file:
    // the owner's answer can no longer arrive, and the key must not be lost.
    ~KeychainTokenStore() override;

    QString service() const { return m_service; }
    QString account() const { return QString::fromLatin1(accountName); }
    bool isEnabled() const { return m_enabled; }
    QString fallbackPath() const { return m_fallbackPath; }
    KeyLocation keyLocation() const { return m_location; }
    bool isStoring() const { return m_inFlight || m_queued.has_value(); }
    bool isLoading() const { return m_loading; }

    // The key written last in this process, else the stored one. Unless a
    // background load is under way, reading the secret service waits for its
    // answer, a prompt included, within the prompt bound.
    QString read() const override;
    // Starts reading the stored key without waiting for the secret service,
    // whose locked keyring may be showing the owner its prompt for as long as
    // the owner takes. Until it answers, read() answers at once with what is
    // known here (a key written since, or the fallback file; else nothing);
    // `loaded` then announces the stored key, unless a key was written meanwhile.
    void loadInBackground();
    // Keeps `key` and stores it in the background; never fails by itself.
    // A key that no store takes is announced by storeFailed.
    std::optional<KeychainError> write(const QString &key) override;

    // True when `XCTestConfigurationFilePath` or `XCTestBundlePath` is present.
    static bool isUnitTestHost(const QProcessEnvironment &environment);
    // The application identifier.
    static QString defaultService();
    // "platform-api-key" in the application's writable data folder.
    static QString defaultFallbackPath();

signals:
    void keyLocationChanged();
    // The latest write has reached its store (or failed to).
    void storingFinished();
    void storeFailed(const nimbel::KeychainError &error);
    // The stored key, read by loadInBackground (not empty).
    void loaded(const QString &key);

private:
    void startNextStore();
    // The key from a finished (or timed-out) read of the secret service; logs why there is none.
    QString acceptRead(bool finished, int code, const QByteArray &data) const;
    void onRemoved(quint64 generation, const QString &key, int error);
    void onAdded(quint64 generation, const QString &key, int error);
    void onBoundPassed();
    void storeInFile(const QString &key, const char *reason);
    void finish(KeyLocation location);
    void setLocation(KeyLocation location) const;
    void discardFallback();

    QString m_service;
    QString m_fallbackPath;
    std::chrono::milliseconds m_promptBound;
    bool m_enabled;

    std::optional<QString> m_memory;
    std::optional<QString> m_queued;
    QString m_inFlightKey;
    bool m_inFlight = false;
    bool m_loading = false;
    quint64 m_generation = 0;
    QTimer m_bound;
    mutable KeyLocation m_location = KeyLocation::none;
};

} // namespace nimbel
