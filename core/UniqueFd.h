// An open file descriptor with one owner, closed when the owner lets go of it.
#pragma once

#include <cerrno>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }

    int Get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    int Release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    // Closes what it holds and takes fd (or none), keeping errno as it was.
    void Reset(int fd = -1) {
        if (m_fd >= 0) {
            const int err = errno;
            ::close(m_fd);
            errno = err;
        }
        m_fd = fd;
    }
    // Closes what it holds: 0 or the error. An interrupted close has closed the file.
    int Close() {
        const int fd = Release();
        return fd >= 0 && ::close(fd) != 0 && errno != EINTR ? errno : 0;
    }

private:
    int m_fd = -1;
};

// openat(), tried again when a signal interrupts it. The descriptor, or -1 with errno set.
inline int OpenAt(int dirFd, const char* name, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::openat(dirFd, name, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}
