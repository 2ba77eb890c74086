// Pipes, terminals and other devices: written directly; a full one is waited on, and one
// whose reader left fails the write instead of ending the program.
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <pthread.h>

#include "WriteTarget.h"

namespace {

// How long a write waits on a full pipe between two looks at the writer's stop check.
constexpr int kWaitLookMs = 50;

// write() to a pipe or socket whose reader may have left: with SIGPIPE held back, the
// failure comes back as EPIPE. The signal it raised (also with a write cut short when the
// reader left midway) is taken off again before it is let through.
ssize_t WriteHoldingSigpipe(int fd, const void* buf, size_t n) {
    sigset_t pipeSet, old, pending;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    sigpending(&pending);
    const bool wasPending = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipeSet, &old);
    ssize_t r = ::write(fd, buf, n);
    const int err = errno;
    sigpending(&pending);
    if (!wasPending && sigismember(&pending, SIGPIPE) == 1) {
        const timespec zero{};
        while (sigtimedwait(&pipeSet, nullptr, &zero) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = err;
    return r;
}

// It stays non-blocking, as it was opened: a full pipe is waited on by the writer, which
// looks at its stop check now and then.
class Pipe : public WriteTarget {
public:
    using WriteTarget::WriteTarget;
    ssize_t WriteSome(const BYTE* p, size_t n) override { return WriteHoldingSigpipe(Fd(), p, n); }
    bool Direct() const override { return true; }
    int Finish() override { return m_fd.Close(); }
};

} // namespace

std::unique_ptr<WriteTarget> PipeTarget(UniqueFd fd) {
    return std::make_unique<Pipe>(std::move(fd));
}

bool WaitForRoom(int fd, const StopCheck& stop) {
    pollfd pfd{fd, POLLOUT, 0};
    return ::poll(&pfd, 1, stop ? kWaitLookMs : -1) != 0 || !stop();
}
