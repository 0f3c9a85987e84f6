#include "Subprocess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace nimbel::localplatform {

namespace {

struct Pipe
{
    int read = -1;
    int write = -1;
    bool open()
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return false;
        read = fds[0];
        write = fds[1];
        return true;
    }
    static void close(int &fd)
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    ~Pipe()
    {
        close(read);
        close(write);
    }
};

} // namespace

std::optional<ProcessOutcome> runProcess(const std::vector<std::string> &arguments, std::string_view input,
                                         std::chrono::milliseconds limit)
{
    if (arguments.empty())
        return std::nullopt;
    Pipe in, out, err;
    if (!in.open() || !out.open() || !err.open())
        return std::nullopt;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in.read, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out.write, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err.write, STDERR_FILENO);

    // The server blocks its stop signals in every thread; the child must not inherit that.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char *> argv;
    for (const std::string &a : arguments)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0)
        return std::nullopt;
    Pipe::close(in.read);
    Pipe::close(out.write);
    Pipe::close(err.write);
    ::fcntl(in.write, F_SETFL, O_NONBLOCK);

    ProcessOutcome outcome;
    std::size_t written = 0;
    if (input.empty())
        Pipe::close(in.write);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    char buffer[65536];
    while (out.read >= 0 || err.read >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            outcome.timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        pollfd fds[3];
        nfds_t count = 0;
        int *owners[3];
        for (int *fd : {&in.write, &out.read, &err.read}) {
            if (*fd < 0)
                continue;
            fds[count] = {*fd, static_cast<short>(fd == &in.write ? POLLOUT : POLLIN), 0};
            owners[count++] = fd;
        }
        const int ready = ::poll(fds, count, static_cast<int>(std::min<long long>(left.count(), 1000)));
        if (ready < 0 && errno != EINTR)
            break;
        for (nfds_t i = 0; i < count && ready > 0; ++i) {
            if (fds[i].revents == 0)
                continue;
            int &fd = *owners[i];
            if (&fd == &in.write) {
                const ssize_t n = ::write(fd, input.data() + written, input.size() - written);
                if (n > 0)
                    written += static_cast<std::size_t>(n);
                if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == input.size())
                    Pipe::close(fd);
            } else {
                const ssize_t n = ::read(fd, buffer, sizeof buffer);
                if (n > 0)
                    (&fd == &out.read ? outcome.output : outcome.errors).append(buffer, static_cast<std::size_t>(n));
                else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                    Pipe::close(fd);
            }
        }
    }
    // A child may close its output and still linger: keep the deadline while reaping it.
    int status = 0;
    for (;;) {
        const pid_t reaped = ::waitpid(pid, &status, WNOHANG);
        if (reaped == pid || (reaped < 0 && errno != EINTR))
            break;
        if (!outcome.timedOut && std::chrono::steady_clock::now() >= deadline) {
            outcome.timedOut = true;
            ::kill(pid, SIGKILL);
        }
        ::usleep(2000);
    }
    if (!outcome.timedOut && WIFEXITED(status))
        outcome.exitCode = WEXITSTATUS(status);
    return outcome;
}

} // namespace nimbel::localplatform
