#include "Output.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Large enough that a write costs nothing beside the rows in it.
constexpr size_t kBufferBytes = size_t(1) << 20;

} // namespace

void ReaderLeft() {
    // The parent may have left SIGPIPE ignored or blocked: put it back so that the program
    // ends the way every other program in a pipeline does when its reader goes.
    std::signal(SIGPIPE, SIG_DFL);
    sigset_t pipeSet;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    pthread_sigmask(SIG_UNBLOCK, &pipeSet, nullptr);
    std::raise(SIGPIPE);
    _exit(128 + SIGPIPE);
}

Output::Output(int fd)
    : m_fd(fd), m_terminal(::isatty(fd) == 1), m_pipe(false), m_buf(new char[kBufferBytes]),
      m_cap(kBufferBytes) {
    struct stat st;
    if (::fstat(fd, &st) == 0)
        m_pipe = S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
}

void Output::PutSlow(const char* p, size_t n) {
    Flush();
    if (n >= m_cap) {
        WriteAll(p, n);
        return;
    }
    std::memcpy(m_buf.get(), p, n);
    m_len = n;
}

void Output::Flush() {
    const size_t n = m_len;
    m_len = 0;
    WriteAll(m_buf.get(), n);
}

void Output::WriteAll(const char* p, size_t n) {
    while (n > 0) {
        const ssize_t r = ::write(m_fd, p, n);
        if (r >= 0) {
            p += r;
            n -= static_cast<size_t>(r);
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // Standard output shared with a program that made it non-blocking: wait for room.
            pollfd pfd{m_fd, POLLOUT, 0};
            ::poll(&pfd, 1, -1);
            continue;
        }
        if (errno == EPIPE)
            ReaderLeft();
        throw OutputFailed{errno};
    }
}

void Output::EndIfReaderLeft() const {
    if (!m_pipe)
        return;
    // A pipe whose readers have all gone reports an error; a socket whose peer has, a hangup.
    pollfd pfd{m_fd, POLLOUT, 0};
    if (::poll(&pfd, 1, 0) == 1 && (pfd.revents & (POLLERR | POLLHUP)))
        ReaderLeft();
}
