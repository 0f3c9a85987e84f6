#include "app/SingleInstance.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace nimbel;
using namespace std::chrono_literals;

namespace {

// Leaves a socket file behind as a crashed process would: bound, then closed, never unlinked.
bool leaveStaleSocket(const QString &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray native = QFile::encodeName(path);
    std::memcpy(address.sun_path, native.constData(), std::min<size_t>(native.size(), sizeof(address.sun_path) - 1));
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0;
    ::close(fd);
    return bound && QFile::exists(path);
}

} // namespace

// Handing links over is checked with the built program as the second launch
// (DesktopFaults.BareDesktopAnswersFromThePictureAndOpensFromASecondLaunch); letting go for a
// restart, by the restart in the chosen language (SettingsSession).
TEST(SingleInstance, SocketIsPrivateToTheUserAndForeignTalkIsIgnored)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("nimbel.instance"));
    SingleInstance first(path);
    ASSERT_EQ(first.claim({}), SingleInstance::Role::primary);
    struct stat info{};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & (S_IRWXG | S_IRWXO), 0u) << std::oct << info.st_mode;

    QSignalSpy received(&first, &SingleInstance::activated);
    QLocalSocket stranger;
    stranger.connectToServer(path);
    ASSERT_TRUE(stranger.waitForConnected(2000));
    stranger.write("GET / HTTP/1.0\nzelmdesktop://connect?code=x\n");
    stranger.waitForBytesWritten(2000);
    stranger.disconnectFromServer();
    EXPECT_FALSE(received.wait(500));
}

TEST(SingleInstance, SocketLeftByACrashIsTakenOver)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("nimbel.instance"));
    ASSERT_TRUE(leaveStaleSocket(path));

    SingleInstance revived(path);
    EXPECT_EQ(revived.claim({QStringLiteral("zelmdesktop://connect?code=lost")}, 500ms), SingleInstance::Role::primary);
    QSignalSpy received(&revived, &SingleInstance::activated);
    SingleInstance later(path);
    EXPECT_EQ(later.claim({QStringLiteral("zelmdesktop://connect?code=1")}), SingleInstance::Role::secondary);
    ASSERT_TRUE(received.wait(3000));
    EXPECT_EQ(received.at(0).at(0).toStringList(), QStringList{QStringLiteral("zelmdesktop://connect?code=1")});
}
