#include "StreamSource.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

// A pipe this large lets its writer run well ahead of the scan, with far fewer switches
// between the two; the system may allow less, and then the pipe stays as it is.
constexpr int kPipeBytes = 1 << 20;

} // namespace

StreamSource::StreamSource(int fd) : m_fd(fd) {
    ::fcntl(fd, F_SETPIPE_SZ, kPipeBytes);
}

long StreamSource::ReadAt(ULONGLONG offset, BYTE* buf, size_t n) {
    if (offset != m_next)
        return -ESPIPE;
    // After its end a terminal would wait for more: the end is kept instead.
    if (m_ended || n == 0)
        return 0;
    for (;;) {
        const ssize_t r = ::read(m_fd, buf, n);
        if (r > 0) {
            m_next += static_cast<ULONGLONG>(r);
            return static_cast<long>(r);
        }
        if (r == 0) {
            m_ended = true;
            return 0;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // Standard input shared with a program that made it non-blocking: wait for bytes.
            pollfd pfd{m_fd, POLLIN, 0};
            ::poll(&pfd, 1, -1);
            continue;
        }
        return -errno;
    }
}
