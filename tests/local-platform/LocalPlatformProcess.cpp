#include "LocalPlatformProcess.h"

#include <QFile>

#include <gtest/gtest.h>

#include <cstdio>

namespace nimbel::test {

LocalPlatformProcess::LocalPlatformProcess(QStringList arguments)
{
    m_process.start(QStringLiteral(LOCAL_PLATFORM_BINARY),
                    QStringList{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--token"), QString::fromLatin1(fixedKey)}
                        + arguments);
    if (!m_process.waitForStarted(5000))
        return;
    // The first line names the port the server chose.
    const QString prefix = QStringLiteral("listening on http://127.0.0.1:");
    while (!m_process.canReadLine()) {
        if (!m_process.waitForReadyRead(10000))
            return;
    }
    const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
    if (line.startsWith(prefix))
        m_port = line.mid(prefix.size()).toInt();
}

LocalPlatformProcess::~LocalPlatformProcess()
{
    if (m_process.state() == QProcess::NotRunning && m_port == 0)
        return;
    // Every test ends with a clean stop: a crash or a sanitizer report in the server fails it.
    const int code = stop();
    if (code != 0) {
        ADD_FAILURE() << "the local platform did not stop cleanly (exit " << code << "):\n"
                      << QString::fromUtf8(m_process.readAllStandardError()).toStdString();
    }
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString LocalPlatformProcess::errors()
{
    // QProcess fills its buffers only while waiting; give stderr a moment to arrive.
    m_process.setReadChannel(QProcess::StandardError);
    m_process.waitForReadyRead(200);
    m_process.setReadChannel(QProcess::StandardOutput);
    return QString::fromUtf8(m_process.readAllStandardError());
}

std::unique_ptr<httplib::Client> LocalPlatformProcess::client(int readTimeoutSeconds) const
{
    auto client = std::make_unique<httplib::Client>("127.0.0.1", m_port);
    client->set_read_timeout(readTimeoutSeconds, 0);
    return client;
}

int LocalPlatformProcess::stop(int waitMs)
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate(); // SIGTERM
        if (!m_process.waitForFinished(waitMs))
            return -1;
    }
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

ScriptFile::ScriptFile(const std::string &json)
    : m_path(m_dir.filePath(QStringLiteral("script.json")))
{
    write(json);
}

void ScriptFile::write(const std::string &json)
{
    // Write beside and rename, so that the server never reads half a file.
    const QString temporary = m_path + QStringLiteral(".new");
    QFile file(temporary);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(QByteArray::fromStdString(json));
        file.close();
        std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(m_path).constData());
    }
}

} // namespace nimbel::test
