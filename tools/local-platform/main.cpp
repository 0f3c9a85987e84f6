#include "Credentials.h"
#include "Options.h"
#include "PlatformServer.h"
#include "RequestJournal.h"
#include "ScriptSource.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <thread>

using namespace nimbel::localplatform;

int main(int argc, char **argv)
{
    auto options = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!options) {
        std::fprintf(stderr, "nimbel-local-platform: %s\n%s", options.error().message.c_str(), usage().c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(usage().c_str(), stdout);
        return 0;
    }

    ScriptSource script = options->script ? ScriptSource(*options->script) : ScriptSource();
    if (auto loaded = script.load(); !loaded) {
        std::fprintf(stderr, "nimbel-local-platform: %s\n", loaded.error().message.c_str());
        return 2;
    }
    Credentials credentials(options->stateDirectory);
    if (auto restored = credentials.restore(); !restored) {
        std::fprintf(stderr, "nimbel-local-platform: %s\n", restored.error().message.c_str());
        return 2;
    }

    // Stop signals are taken by one waiting thread (blocked everywhere else, inherited by the
    // server's workers); a client that hangs up mid-answer must not kill the process.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    RequestJournal journal;
    PlatformServer server(options.value(), script, credentials, journal);
    const auto port = server.bind();
    if (!port) {
        std::fprintf(stderr, "nimbel-local-platform: %s\n", port.error().message.c_str());
        return 1;
    }
    std::printf("listening on http://127.0.0.1:%d\n", port.value());
    std::fflush(stdout);

    std::atomic<bool> signalled = false;
    std::atomic<bool> finished = false;
    std::thread signalWaiter([&] {
        int received = 0;
        sigwait(&stopSignals, &received);
        if (finished)
            return;
        signalled = true;
        std::printf("stopping on signal %d\n", received);
        std::fflush(stdout);
        server.stop();
    });
    server.run();
    finished = true;
    // run() also ends when the listening socket fails; wake the waiter so that it can be joined.
    if (!signalled)
        pthread_kill(signalWaiter.native_handle(), SIGTERM);
    signalWaiter.join();
    return 0;
}
