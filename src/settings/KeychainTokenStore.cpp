#include "settings/KeychainTokenStore.h"

#include "core/BuildInfo.h"
#include "core/Log.h"
#include "settings/Localized.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTimer>

#include <qt6keychain/keychain.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace nimbel {

namespace {

struct JobOutcome
{
    bool finished = false;
    QKeychain::Error error = QKeychain::NoError;
    QByteArray data;
};

// The start-up read needs its answer before the view model exists, so it runs
// in a local event loop bounded by `timeout`. A job that outlives the bound
// finishes (and deletes itself) later on its own; its result is ignored.
JobOutcome runReadJob(QKeychain::ReadPasswordJob *job, std::chrono::milliseconds timeout)
{
    JobOutcome outcome;
    QEventLoop loop;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&outcome, &loop](QKeychain::Job *finished) {
        outcome.finished = true;
        outcome.error = finished->error();
        outcome.data = static_cast<QKeychain::ReadPasswordJob *>(finished)->binaryData();
        loop.quit();
    });
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    job->setAutoDelete(true);
    job->start();
    if (!outcome.finished)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    return outcome;
}

// Why the secret service did not take the key, or nullptr when it answered.
// A declined prompt leaves the keyring locked, which QtKeychain reports as
// access denied.
const char *unreachableReason(QKeychain::Error error)
{
    switch (error) {
    case QKeychain::NoBackendAvailable:
        return "no_backend";
    case QKeychain::NotImplemented:
        return "not_implemented";
    case QKeychain::AccessDenied:
    case QKeychain::AccessDeniedByUser:
        return "declined";
    case QKeychain::OtherError:
        // What QtKeychain reports when the D-Bus service is missing or broken.
        return "other_error";
    default:
        return nullptr;
    }
}

// Empty for bytes that are not valid UTF-8.
QString decodeKey(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString key = decoder(bytes);
    if (decoder.hasError())
        return QString();
    return key;
}

void logFallback(const char *operation, const char *reason)
{
    log::info(log::general(), log::Record()
                                  .add(u"key_store", u"fallback_file")
                                  .add(u"operation", operation)
                                  .add(u"reason", reason));
}

QString readFallbackFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return decodeKey(file.readAll());
}

// Writes `bytes` to `path` with mode 0600 from the first byte on, replacing the
// old file in one rename so that a crash never leaves half a key.
int writePrivateFile(const QString &path, const QByteArray &bytes)
{
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        return EACCES;
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary = target + ".tmp";
    ::unlink(temporary.constData());
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0)
        return errno;
    int result = 0;
    if (::fchmod(fd, S_IRUSR | S_IWUSR) != 0)
        result = errno;
    qsizetype written = 0;
    while (result == 0 && written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0) {
            if (errno != EINTR)
                result = errno;
        } else {
            written += n;
        }
    }
    if (result == 0 && ::fsync(fd) != 0)
        result = errno;
    if (::close(fd) != 0 && result == 0)
        result = errno;
    if (result == 0 && ::rename(temporary.constData(), target.constData()) != 0)
        result = errno;
    if (result != 0)
        ::unlink(temporary.constData());
    return result;
}

KeychainError saveError(int code)
{
    return KeychainError{code, L::text("error.keychain.save")};
}

} // namespace

KeychainTokenStore::KeychainTokenStore(const QProcessEnvironment &environment, QString service,
                                       QString fallbackPath, std::chrono::milliseconds promptBound)
    : m_service(std::move(service))
    , m_fallbackPath(std::move(fallbackPath))
    , m_promptBound(promptBound)
    , m_enabled(!isUnitTestHost(environment))
{
    m_bound.setSingleShot(true);
    connect(&m_bound, &QTimer::timeout, this, &KeychainTokenStore::onBoundPassed);
}

KeychainTokenStore::~KeychainTokenStore()
{
    if (!isStoring())
        return;
    const QString key = m_queued ? *m_queued : m_inFlightKey;
    logFallback("write", "quit");
    if (const int status = writePrivateFile(m_fallbackPath, key.toUtf8()); status != 0)
        log::error(log::general(), log::Record().add(u"key_store", u"fallback_write_failed").add(u"errno", status));
}

bool KeychainTokenStore::isUnitTestHost(const QProcessEnvironment &environment)
{
    return environment.contains(QStringLiteral("XCTestConfigurationFilePath"))
        || environment.contains(QStringLiteral("XCTestBundlePath"));
}

QString KeychainTokenStore::defaultService()
{
    return QString::fromLatin1(build::appId);
}

QString KeychainTokenStore::defaultFallbackPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/")
        + QString::fromLatin1(accountName);
}

void KeychainTokenStore::setLocation(KeyLocation location) const
{
    if (m_location == location)
        return;
    m_location = location;
    emit const_cast<KeychainTokenStore *>(this)->keyLocationChanged();
}

QString KeychainTokenStore::read() const
{
    if (!m_enabled)
        return QString();
    if (m_memory)
        return *m_memory;
    if (QFileInfo::exists(m_fallbackPath)) {
        logFallback("read", "earlier_write");
        const QString key = readFallbackFile(m_fallbackPath);
        setLocation(key.isEmpty() ? KeyLocation::none : KeyLocation::privateFile);
        return key;
    }
    // The background read answers for the service.
    if (m_loading)
        return QString();
    auto *job = new QKeychain::ReadPasswordJob(m_service);
    job->setKey(account());
    const JobOutcome outcome = runReadJob(job, m_promptBound);
    return acceptRead(outcome.finished, outcome.error, outcome.data);
}

QString KeychainTokenStore::acceptRead(bool finished, int code, const QByteArray &data) const
{
    const JobOutcome outcome{finished, QKeychain::Error(code), data};
    if (outcome.finished && outcome.error == QKeychain::NoError) {
        const QString key = decodeKey(outcome.data);
        setLocation(key.isEmpty() ? KeyLocation::none : KeyLocation::secretService);
        return key;
    }
    if (!outcome.finished) {
        logFallback("read", "timeout");
    } else if (const char *reason = unreachableReason(outcome.error)) {
        // Nothing was ever written to the file, so there is no key to fall back to.
        logFallback("read", reason);
    } else if (outcome.error != QKeychain::EntryNotFound) {
        log::error(log::general(), log::Record().add(u"key_store", u"read_failed").add(u"code", int(outcome.error)));
    }
    return QString();
}

void KeychainTokenStore::loadInBackground()
{
    if (!m_enabled || m_memory || m_loading || QFileInfo::exists(m_fallbackPath))
        return;
    m_loading = true;
    auto *job = new QKeychain::ReadPasswordJob(m_service);
    job->setKey(account());
    job->setAutoDelete(true);
    connect(job, &QKeychain::Job::finished, this, [this](QKeychain::Job *finished) {
        m_loading = false;
        // A key written meanwhile (a pairing) is newer than the stored one.
        if (m_memory)
            return;
        const QString key =
            acceptRead(true, finished->error(), static_cast<QKeychain::ReadPasswordJob *>(finished)->binaryData());
        if (key.isEmpty())
            return;
        m_memory = key;
        emit loaded(key);
    });
    job->start();
}

std::optional<KeychainError> KeychainTokenStore::write(const QString &key)
{
    if (!m_enabled)
        return std::nullopt;
    m_memory = key;
    // Only the latest key matters: a write made while another is being stored
    // replaces any write still waiting its turn.
    m_queued = key;
    setLocation(KeyLocation::storing);
    startNextStore();
    return std::nullopt;
}

void KeychainTokenStore::startNextStore()
{
    if (m_inFlight || !m_queued)
        return;
    m_inFlightKey = *std::exchange(m_queued, std::nullopt);
    m_inFlight = true;
    const quint64 generation = ++m_generation;
    m_bound.start(m_promptBound);

    auto *remove = new QKeychain::DeletePasswordJob(m_service, this);
    remove->setKey(account());
    remove->setAutoDelete(true);
    connect(remove, &QKeychain::Job::finished, this, [this, generation, key = m_inFlightKey](QKeychain::Job *job) {
        onRemoved(generation, key, int(job->error()));
    });
    remove->start();
}

void KeychainTokenStore::onRemoved(quint64 generation, const QString &key, int error)
{
    if (generation != m_generation)
        return;
    // A failed delete of an item that is not there is not a failure: the add decides.
    if (const char *reason = unreachableReason(QKeychain::Error(error))) {
        storeInFile(key, reason);
        return;
    }
    if (key.isEmpty()) {
        discardFallback();
        finish(KeyLocation::none);
        return;
    }
    auto *add = new QKeychain::WritePasswordJob(m_service, this);
    add->setKey(account());
    add->setTextData(key);
    add->setAutoDelete(true);
    connect(add, &QKeychain::Job::finished, this, [this, generation, key](QKeychain::Job *job) {
        onAdded(generation, key, int(job->error()));
    });
    add->start();
}

void KeychainTokenStore::onAdded(quint64 generation, const QString &key, int error)
{
    if (generation != m_generation)
        return;
    if (error == QKeychain::NoError) {
        discardFallback();
        finish(KeyLocation::secretService);
        return;
    }
    const char *reason = unreachableReason(QKeychain::Error(error));
    if (!reason) {
        log::error(log::general(), log::Record().add(u"key_store", u"write_failed").add(u"code", error));
        reason = "write_failed";
    }
    storeInFile(key, reason);
}

void KeychainTokenStore::onBoundPassed()
{
    if (!m_inFlight)
        return;
    // The owner did not answer in time. The prompt stays theirs; whatever it
    // ends with is no longer waited for.
    ++m_generation;
    storeInFile(m_inFlightKey, "timeout");
}

void KeychainTokenStore::storeInFile(const QString &key, const char *reason)
{
    logFallback("write", reason);
    // An empty file records the deletion, so that an older item in the secret
    // service does not come back once the service answers again.
    const int status = writePrivateFile(m_fallbackPath, key.toUtf8());
    if (status != 0) {
        log::error(log::general(), log::Record().add(u"key_store", u"fallback_write_failed").add(u"errno", status));
        finish(key.isEmpty() ? KeyLocation::none : KeyLocation::memoryOnly);
        emit storeFailed(saveError(status));
        return;
    }
    finish(key.isEmpty() ? KeyLocation::none : KeyLocation::privateFile);
}

void KeychainTokenStore::finish(KeyLocation location)
{
    m_bound.stop();
    m_inFlight = false;
    m_inFlightKey.clear();
    if (m_queued) {
        startNextStore();
        return;
    }
    setLocation(location);
    emit storingFinished();
}

void KeychainTokenStore::discardFallback()
{
    if (QFileInfo::exists(m_fallbackPath) && !QFile::remove(m_fallbackPath))
        log::error(log::general(), log::Record().add(u"key_store", u"fallback_not_removed"));
}

} // namespace nimbel
