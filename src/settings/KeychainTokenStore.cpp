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

// QtKeychain jobs are asynchronous; callers of the store want an answer now.
// So each job runs in a local event loop bounded by `timeout`: the caller
// blocks for at most that long while other events keep being processed. A job
// that outlives the timeout finishes (and deletes itself) later on its own;
// its result is ignored.
template<typename Job>
JobOutcome runJob(Job *job, std::chrono::milliseconds timeout)
{
    JobOutcome outcome;
    QEventLoop loop;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&outcome, &loop](QKeychain::Job *finished) {
        outcome.finished = true;
        outcome.error = finished->error();
        if (auto *reader = qobject_cast<QKeychain::ReadPasswordJob *>(finished))
            outcome.data = reader->binaryData();
        loop.quit();
    });
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    job->setAutoDelete(true);
    job->start();
    if (!outcome.finished)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    return outcome;
}

// Why the secret service is considered absent, or nullptr when it answered.
const char *unreachableReason(const JobOutcome &outcome)
{
    if (!outcome.finished)
        return "timeout";
    switch (outcome.error) {
    case QKeychain::NoBackendAvailable:
        return "no_backend";
    case QKeychain::NotImplemented:
        return "not_implemented";
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
                                       QString fallbackPath, std::chrono::milliseconds timeout)
    : m_service(std::move(service))
    , m_fallbackPath(std::move(fallbackPath))
    , m_timeout(timeout)
    , m_enabled(!isUnitTestHost(environment))
{
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

QString KeychainTokenStore::read() const
{
    if (!m_enabled)
        return QString();
    if (QFileInfo::exists(m_fallbackPath)) {
        logFallback("read", "earlier_write");
        return readFallbackFile(m_fallbackPath);
    }
    auto *job = new QKeychain::ReadPasswordJob(m_service);
    job->setKey(account());
    const JobOutcome outcome = runJob(job, m_timeout);
    if (outcome.finished && outcome.error == QKeychain::NoError)
        return decodeKey(outcome.data);
    if (const char *reason = unreachableReason(outcome)) {
        // Nothing was ever written to the file, so there is no key to fall back to.
        logFallback("read", reason);
    } else if (outcome.error != QKeychain::EntryNotFound) {
        log::error(log::general(), log::Record().add(u"key_store", u"read_failed").add(u"code", int(outcome.error)));
    }
    return QString();
}

std::optional<KeychainError> KeychainTokenStore::write(const QString &key)
{
    if (!m_enabled)
        return std::nullopt;

    auto *remove = new QKeychain::DeletePasswordJob(m_service);
    remove->setKey(account());
    const JobOutcome removed = runJob(remove, m_timeout);
    if (const char *reason = unreachableReason(removed))
        return writeFallback(key, reason);
    // A failed delete is not reported by itself: the add below decides.

    if (key.isEmpty()) {
        discardFallback();
        return std::nullopt;
    }

    auto *add = new QKeychain::WritePasswordJob(m_service);
    add->setKey(account());
    add->setTextData(key);
    const JobOutcome added = runJob(add, m_timeout);
    if (const char *reason = unreachableReason(added))
        return writeFallback(key, reason);
    if (added.error != QKeychain::NoError) {
        log::error(log::general(), log::Record().add(u"key_store", u"write_failed").add(u"code", int(added.error)));
        return saveError(int(added.error));
    }
    discardFallback();
    return std::nullopt;
}

std::optional<KeychainError> KeychainTokenStore::writeFallback(const QString &key, const char *reason)
{
    logFallback("write", reason);
    // An empty file records the deletion, so that an older item in the secret
    // service does not come back once the service answers again.
    const int status = writePrivateFile(m_fallbackPath, key.toUtf8());
    if (status != 0) {
        log::error(log::general(), log::Record().add(u"key_store", u"fallback_write_failed").add(u"errno", status));
        return saveError(status);
    }
    return std::nullopt;
}

void KeychainTokenStore::discardFallback()
{
    if (QFileInfo::exists(m_fallbackPath) && !QFile::remove(m_fallbackPath))
        log::error(log::general(), log::Record().add(u"key_store", u"fallback_not_removed"));
}

} // namespace nimbel
