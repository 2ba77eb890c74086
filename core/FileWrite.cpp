// Writing files: a regular file is replaced, or written over in place, only once its new
// content is complete; pipes are waited on, and a reader that leaves is a failed write, never
// the end of the program.
#include "File.h"
#include "UniqueFd.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace {

// The part of the target's name kept in the replacement's, which must fit a file name.
constexpr size_t kTempStem = 200;
// How long a write waits on a full pipe between two looks at the writer's stop check.
constexpr int kWaitLookMs = 50;

// A name for the replacement beside the target: hidden, and not one a user would pick.
std::string TempName(const std::string& name) {
    static std::atomic<unsigned> s_count{0};
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const unsigned salt = static_cast<unsigned>(::getpid()) * 2654435761u ^
                          static_cast<unsigned>(now.tv_nsec) ^ (s_count++ * 40503u);
    char tail[32];
    std::snprintf(tail, sizeof tail, ".%08x.part", salt);
    return "." + name.substr(0, kTempStem) + tail;
}

std::function<int(CFile::WriteStep)>& StepHook() {
    static std::function<int(CFile::WriteStep)> s_hook;
    return s_hook;
}
std::atomic<bool> s_unnamedTemporaries{true};

// A temporary file is the user's alone (0600) until it is complete: the listing it will
// hold may be one that others may not read, and a kill can leave a named one behind.
constexpr mode_t kTempMode = 0600;

// Creates a temporary file in the folder for the bytes of a write, readable and writable:
// an unnamed one where the file system has them (and, when it is to be linked into the
// folder later, where /proc can give it a name), else one under a hidden name, which
// tempName receives. Returns the descriptor, or -1 with errno set.
int CreateTemporary(int dirFd, const std::string& name, std::string& tempName, bool linkLater) {
    tempName.clear();
    int fd = -1;
    if (s_unnamedTemporaries) {
        fd = OpenAt(dirFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, kTempMode);
        // The unnamed file gets its name through /proc when it is complete.
        if (fd >= 0 && (!linkLater || ::access("/proc/self/fd", X_OK) == 0))
            return fd;
        if (fd >= 0)
            ::close(fd);
    }
    for (int tries = 0; tries < 100; ++tries) {
        tempName = TempName(name);
        fd = OpenAt(dirFd, tempName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
                    kTempMode);
        if (fd >= 0 || errno != EEXIST)
            break;
    }
    if (fd < 0) {
        const int err = errno;
        tempName.clear();
        errno = err;
    }
    return fd;
}

// Creates the file that will replace the target. An unnamed one first, so that a program
// killed before the end leaves nothing behind; where the file system has none, a hidden
// name. Returns the descriptor, or -1 with errno set.
int CreateReplacement(int dirFd, const std::string& name, std::string& tempName) {
    return CreateTemporary(dirFd, name, tempName, true);
}

// Creates the file that holds the bytes of a file written in place until they are complete:
// beside it where the folder (dirFd, or none) allows, else in $TMPDIR or /tmp. It never has
// a name for long: a named one is removed at once. Returns the descriptor, or -1 with errno
// set (the first failure's).
int CreateInPlaceTemporary(int dirFd, const std::string& name) {
    std::string tempName;
    int firstErr = 0;
    auto tryIn = [&](int folder) {
        int fd =
            CreateTemporary(folder, name.empty() ? std::string("tarnwick") : name, tempName, false);
        if (fd >= 0 && !tempName.empty())
            ::unlinkat(folder, tempName.c_str(), 0);
        if (fd < 0 && firstErr == 0)
            firstErr = errno;
        return fd;
    };
    if (dirFd >= 0) {
        int fd = tryIn(dirFd);
        if (fd >= 0)
            return fd;
    }
    const char* env = std::getenv("TMPDIR");
    const std::string tmpDir = env && *env ? env : "/tmp";
    int folder = OpenAt(AT_FDCWD, tmpDir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        errno = firstErr ? firstErr : errno;
        return -1;
    }
    int fd = tryIn(folder);
    ::close(folder);
    if (fd < 0)
        errno = firstErr;
    return fd;
}

// The mode a plain create would give a new file: 0666 less the umask. /proc tells the umask
// without changing it; umask() itself would change it, for a moment, for every thread.
mode_t NewFileMode() {
    mode_t mask = 022;
    bool known = false;
    int fd = OpenAt(AT_FDCWD, "/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char buf[4096];
        ssize_t n = ::read(fd, buf, sizeof buf - 1);
        ::close(fd);
        if (n > 0) {
            buf[n] = '\0';
            if (const char* at = std::strstr(buf, "\nUmask:")) {
                mask = static_cast<mode_t>(std::strtoul(at + 7, nullptr, 8)) & 0777;
                known = true;
            }
        }
    }
    if (!known) {
        mask = ::umask(022);
        ::umask(mask);
    }
    return 0666 & ~mask;
}

// Whether the open file is the root of a mount of its own, which no rename can replace.
bool IsMountRoot(int fd) {
    struct statx stx {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS, &stx) != 0)
        return false;
    return (stx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) &&
           (stx.stx_attributes & STATX_ATTR_MOUNT_ROOT);
}

// Gives the replacement the old file's extended attributes (its ACLs among them), as far
// as the user may set them.
void CopyAttributes(int from, int to) {
    ssize_t n = ::flistxattr(from, nullptr, 0);
    if (n <= 0)
        return;
    std::vector<char> names(static_cast<size_t>(n));
    n = ::flistxattr(from, names.data(), names.size());
    for (ssize_t at = 0; at < n; at += static_cast<ssize_t>(std::strlen(&names[at])) + 1) {
        const char* key = &names[static_cast<size_t>(at)];
        ssize_t len = ::fgetxattr(from, key, nullptr, 0);
        if (len < 0)
            continue;
        std::vector<char> value(static_cast<size_t>(len) + 1);
        len = ::fgetxattr(from, key, value.data(), value.size());
        if (len >= 0)
            ::fsetxattr(to, key, value.data(), static_cast<size_t>(len), 0);
    }
}

void SetBlocking(int fd) {
    int fl = ::fcntl(fd, F_GETFL);
    if (fl >= 0 && (fl & O_NONBLOCK))
        ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
}

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

} // namespace

BOOL CFile::OpenForWriting(const char* path, CFileException* pError) {
    auto fail = [&](int err) {
        if (pError)
            *pError = CFileException(CFileException::OsErrorToCause(err), err, CString(path));
        return FALSE;
    };
    // Opened as it is, without truncating it: whether the user may write it, and what it is,
    // are known before anything changes. Non-blocking, so that a pipe without a reader fails
    // at once instead of hanging the window. The system follows the links, /dev/stdout's too.
    int fd = OpenAt(AT_FDCWD, path, O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    const bool exists = fd >= 0;
    if (!exists && errno != ENOENT)
        return fail(errno);
    struct stat st {};
    if (exists && ::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        return fail(err);
    }
    if (exists && !S_ISREG(st.st_mode)) {
        // A pipe, terminal or device takes the bytes directly. It stays non-blocking: a full
        // pipe is waited on in Flush, which lets the writer look up now and then.
        Start(fd, path, true);
        m_pipe = true;
        return TRUE;
    }
    // Written in place: the bytes go to a temporary file until Close copies them over the
    // target's. The target's folder (or none) is where that file goes if it may.
    auto inPlace = [&](int folder, const std::string& name) {
        const int tmp = CreateInPlaceTemporary(folder, name);
        const int err = errno;
        if (folder >= 0)
            ::close(folder);
        if (tmp < 0) {
            ::close(fd);
            return fail(err);
        }
        SetBlocking(fd);
        Start(tmp, path, true);
        m_inPlace = true;
        m_targetFd = fd;
        return TRUE;
    };

    // The name to replace: where the links lead. One that leads through /proc (/dev/fd/N, a
    // descriptor of this process) names an open file, not a place: that file is written.
    const LinkTarget to = FollowLinks(path);
    if (to.err) {
        if (exists)
            ::close(fd);
        return fail(to.err);
    }
    if (to.throughProc && exists)
        return inPlace(-1, std::string());
    const std::string& name = to.name;
    if (!to.NamesAFile()) {
        if (exists)
            ::close(fd);
        return fail(EISDIR);
    }
    int dirFd = OpenAt(AT_FDCWD, to.folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0 && !exists)
        return fail(errno);
    // A replacement would cut other hard links off the new content, change the owner of
    // another user's file, or fail on a file mounted on its own (a bind mount, as
    // containers give /etc/hosts).
    if (dirFd < 0 ||
        (exists &&
         (st.st_nlink > 1 || (st.st_uid != ::geteuid() && ::geteuid() != 0) || IsMountRoot(fd))))
        return inPlace(dirFd, name);
    int tmp = CreateReplacement(dirFd, name, m_tempName);
    if (tmp < 0) {
        const int err = errno;
        // A folder the user may not write in, holding a file the user may write.
        if (exists && (err == EACCES || err == EPERM)) {
            ::close(dirFd);
            return inPlace(-1, name);
        }
        ::close(dirFd);
        if (exists)
            ::close(fd);
        return fail(err);
    }
    m_mode = exists ? st.st_mode & 07777 : NewFileMode();
    if (exists) {
        // The replacement takes the old file's owner and group; where the user may not give
        // it the group (one the user is not in), the old file is written in place instead.
        struct stat made {};
        const bool owned =
            ::fchown(tmp, st.st_uid, st.st_gid) == 0 ||
            (::fstat(tmp, &made) == 0 && made.st_uid == st.st_uid && made.st_gid == st.st_gid);
        if (!owned) {
            ::close(tmp);
            if (!m_tempName.empty())
                ::unlinkat(dirFd, m_tempName.c_str(), 0);
            m_tempName.clear();
            return inPlace(dirFd, name);
        }
    }
    Start(tmp, path, true);
    // The old file stays open: the replacement takes its attributes when complete.
    m_targetFd = exists ? fd : -1;
    m_dirFd = dirFd;
    m_targetName = name;
    return TRUE;
}

void CFile::Flush(const StopCheck& stop) {
    size_t off = 0;
    while (off < m_bufLen) {
        const BYTE* p = m_buf.get() + off;
        const size_t n = m_bufLen - off;
        ssize_t r = m_pipe ? WriteHoldingSigpipe(m_fd, p, n) : ::write(m_fd, p, n);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A full pipe or terminal: wait until its reader takes more, looking now and
            // then whether the writer would rather give up.
            pollfd pfd{m_fd, POLLOUT, 0};
            if (::poll(&pfd, 1, stop ? kWaitLookMs : -1) == 0 && stop()) {
                std::memmove(m_buf.get(), m_buf.get() + off, m_bufLen - off);
                m_bufLen -= off;
                throw WriteAbandoned();
            }
            continue;
        }
        if (r <= 0) {
            const int err = r < 0 ? errno : ENOSPC;
            // Keep what did not go out, so that a retry on close does not duplicate bytes.
            std::memmove(m_buf.get(), m_buf.get() + off, m_bufLen - off);
            m_bufLen -= off;
            Throw(err, true);
        }
        off += static_cast<size_t>(r);
    }
    m_bufLen = 0;
}

void CFile::Offer() {
    size_t off = 0;
    while (off < m_bufLen && m_fd >= 0) {
        const ssize_t r = WriteHoldingSigpipe(m_fd, m_buf.get() + off, m_bufLen - off);
        if (r > 0)
            off += static_cast<size_t>(r);
        else if (r == 0 || errno != EINTR)
            break;
    }
    m_bufLen = 0;
}

void CFile::WriteSlow(const void* buf, UINT nCount, const StopCheck& stop) {
    if (m_fd < 0 || !m_bWrite)
        Throw(EBADF, true);
    const BYTE* p = static_cast<const BYTE*>(buf);
    while (nCount > 0) {
        if (m_bufLen == m_bufCap)
            Flush(stop);
        size_t n = m_bufCap - m_bufLen;
        if (n > nCount)
            n = nCount;
        std::memcpy(m_buf.get() + m_bufLen, p, n);
        m_bufLen += n;
        p += n;
        nCount -= static_cast<UINT>(n);
        m_pos += n;
    }
}

int CFile::Commit() {
    // The old file's extended attributes (its ACLs among them) and mode go on only now, the
    // mode last: writing clears set-user-id and set-group-id bits, and until now only the
    // user could read what was written.
    if (m_targetFd >= 0)
        CopyAttributes(m_targetFd, m_fd);
    ::fchmod(m_fd, m_mode);
    if (::fsync(m_fd) != 0)
        return errno;
    if (m_tempName.empty()) {
        char self[64];
        std::snprintf(self, sizeof self, "/proc/self/fd/%d", m_fd);
        for (int tries = 0;; ++tries) {
            m_tempName = TempName(m_targetName);
            if (::linkat(AT_FDCWD, self, m_dirFd, m_tempName.c_str(), AT_SYMLINK_FOLLOW) == 0)
                break;
            const int err = errno;
            m_tempName.clear();
            if (err != EEXIST || tries == 100)
                return err;
        }
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0 && errno != EINTR)
        return errno;
    if (::renameat(m_dirFd, m_tempName.c_str(), m_dirFd, m_targetName.c_str()) != 0)
        return errno;
    m_tempName.clear(); // it is the target now
    // The new name reaches the disk with its folder.
    int dir = OpenAt(m_dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return 0;
}

namespace {

int RunStep(CFile::WriteStep step) {
    const auto& hook = StepHook();
    return hook ? hook(step) : 0;
}

// Copies count bytes from the start of one file to the start of another: by the system
// where it can, else read and written here. 0 or the error.
int CopyFrom(int from, int to, off_t count) {
    off_t in = 0, out = 0;
    bool bySystem = true;
    std::unique_ptr<char[]> buf;
    constexpr size_t kCopyBlock = 1 << 20;
    while (in < count) {
        const size_t want = static_cast<size_t>(std::min<off_t>(count - in, off_t(1) << 30));
        if (bySystem) {
            ssize_t n = ::copy_file_range(from, &in, to, &out, want, 0);
            if (n > 0)
                continue;
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EXDEV && errno != EINVAL && errno != ENOSYS &&
                errno != EOPNOTSUPP && errno != EBADF)
                return errno;
            // Not between these two files (some file systems copy nothing instead of
            // saying so): a block at a time from where it stopped.
            bySystem = false;
            buf.reset(new char[kCopyBlock]);
            continue;
        }
        ssize_t n = ::pread(from, buf.get(), std::min(want, kCopyBlock), in);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO; // the temporary file ended early
        for (ssize_t done = 0; done < n;) {
            ssize_t w = ::pwrite(to, buf.get() + done, static_cast<size_t>(n - done), out);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return w < 0 ? errno : ENOSPC;
            done += w;
            out += w;
        }
        in += n;
    }
    return 0;
}

} // namespace

void CFile::SetStepHook(std::function<int(WriteStep)> hook) {
    StepHook() = std::move(hook);
}

void CFile::SetUnnamedTemporaries(bool allowed) {
    s_unnamedTemporaries = allowed;
}

int CFile::CopyIntoTarget() {
    struct stat st {};
    if (::fstat(m_fd, &st) != 0)
        return errno;
    const off_t size = st.st_size;
    if (int err = RunStep(WriteStep::written))
        return err;
    // The room the new content needs is taken before the target changes: a disk too full
    // fails here, with the old file as it was. The file keeps its size, and its old bytes are
    // copied over from the start: cutting it first would give the room back. A file system
    // that cannot reserve room is written without.
    if (size > 0) {
        int r;
        do {
            r = ::fallocate(m_targetFd, FALLOC_FL_KEEP_SIZE, 0, size);
        } while (r != 0 && errno == EINTR);
        if (r != 0 && errno != EOPNOTSUPP && errno != ENOSYS)
            return errno;
    }
    if (int err = RunStep(WriteStep::reserved))
        return err;
    m_copying = true;
    if (int err = RunStep(WriteStep::copying))
        return err;
    if (int err = CopyFrom(m_fd, m_targetFd, size))
        return err;
    if (int err = RunStep(WriteStep::copied))
        return err;
    int r;
    do {
        r = ::ftruncate(m_targetFd, size);
    } while (r != 0 && errno == EINTR);
    if (r != 0)
        return errno;
    if (::fsync(m_targetFd) != 0)
        return errno;
    const int fd = m_targetFd;
    m_targetFd = -1;
    if (::close(fd) != 0 && errno != EINTR)
        return errno;
    return 0;
}

void CFile::EndWriting() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (m_targetFd >= 0)
        ::close(m_targetFd);
    m_targetFd = -1;
    if (m_dirFd >= 0) {
        if (!m_tempName.empty())
            ::unlinkat(m_dirFd, m_tempName.c_str(), 0);
        ::close(m_dirFd);
    }
    m_dirFd = -1;
    m_tempName.clear();
    m_targetName.clear();
    m_inPlace = false;
    m_copying = false;
    m_bWrite = false;
    m_writing = false;
    m_pipe = false;
    m_buf.reset();
    m_bufLen = 0;
}
