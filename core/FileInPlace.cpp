// Writing a file in place, where it may not be replaced: its bytes go to a temporary file
// first; only once they are complete is the file's new size reserved on its disk and are they
// copied over the old bytes, so that only that final copy can be cut short.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

#include "FileWriter.h"
#include "WriteTarget.h"

namespace {

constexpr size_t kCopyBlock = 1 << 20;

std::function<int(WriteStep)>& StepHook() {
    static std::function<int(WriteStep)> s_hook;
    return s_hook;
}

int RunStep(WriteStep step) {
    const auto& hook = StepHook();
    return hook ? hook(step) : 0;
}

void SetBlocking(int fd) {
    int fl = ::fcntl(fd, F_GETFL);
    if (fl >= 0 && (fl & O_NONBLOCK))
        ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
}

// Whether copy_file_range() failed because it cannot copy between these two files, rather
// than because the copy failed.
bool CannotCopyBetween(int err) {
    return err == EXDEV || err == EINVAL || err == ENOSYS || err == EOPNOTSUPP || err == EBADF;
}

// Copies from in onward by the system while it can: 0 or the error. Where it cannot copy
// between the two files (some file systems copy nothing instead of saying so), in and out
// tell how far it got.
int CopyBySystem(int from, int to, off_t count, off_t& in, off_t& out) {
    while (in < count) {
        const size_t want = static_cast<size_t>(std::min<off_t>(count - in, off_t(1) << 30));
        const ssize_t n = ::copy_file_range(from, &in, to, &out, want, 0);
        if (n > 0)
            continue;
        const int err = n < 0 ? errno : 0;
        if (err == EINTR)
            continue;
        return err == 0 || CannotCopyBetween(err) ? 0 : err;
    }
    return 0;
}

// Writes n bytes at out, which moves past them: 0 or the error.
int WriteAllAt(int to, const char* p, size_t n, off_t& out) {
    for (size_t done = 0; done < n;) {
        const ssize_t w = ::pwrite(to, p + done, n - done, out);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return w < 0 ? errno : ENOSPC;
        done += static_cast<size_t>(w);
        out += w;
    }
    return 0;
}

// Copies from in onward a block at a time: 0 or the error.
int CopyByBlocks(int from, int to, off_t count, off_t in, off_t out) {
    if (in >= count)
        return 0;
    std::unique_ptr<char[]> buf(new char[kCopyBlock]);
    while (in < count) {
        const auto want = static_cast<size_t>(std::min<off_t>(count - in, kCopyBlock));
        const ssize_t n = ::pread(from, buf.get(), want, in);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO; // the temporary file ended early
        if (const int err = WriteAllAt(to, buf.get(), static_cast<size_t>(n), out))
            return err;
        in += n;
    }
    return 0;
}

// Copies count bytes from the start of one file to the start of another: by the system
// where it can, else read and written here. 0 or the error.
int CopyFrom(int from, int to, off_t count) {
    off_t in = 0, out = 0;
    if (const int err = CopyBySystem(from, to, count, in, out))
        return err;
    return CopyByBlocks(from, to, count, in, out);
}

// Creates the file that holds the bytes of a file written in place until they are complete:
// in the folder (or none) where it allows, else in $TMPDIR or /tmp. It never has a name for
// long: a named one is removed at once. Returns the descriptor, or -1 with errno set (the
// first failure's).
int CreateInPlaceTemporary(int folder, const std::string& name) {
    int firstErr = 0;
    auto tryIn = [&](int dirFd) {
        std::string tempName;
        const int fd =
            CreateTemporary(dirFd, name.empty() ? std::string("tarnwick") : name, tempName, false);
        if (fd >= 0 && !tempName.empty())
            ::unlinkat(dirFd, tempName.c_str(), 0);
        if (fd < 0 && firstErr == 0)
            firstErr = errno;
        return fd;
    };
    if (folder >= 0) {
        const int fd = tryIn(folder);
        if (fd >= 0)
            return fd;
    }
    const char* env = std::getenv("TMPDIR");
    const std::string tmpDir = env && *env ? env : "/tmp";
    UniqueFd tmp(OpenAt(AT_FDCWD, tmpDir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!tmp) {
        errno = firstErr ? firstErr : errno;
        return -1;
    }
    const int fd = tryIn(tmp.Get());
    if (fd < 0)
        errno = firstErr;
    return fd;
}

class InPlaceCopy : public WriteTarget {
public:
    InPlaceCopy(UniqueFd temporary, UniqueFd target)
        : WriteTarget(std::move(temporary)), m_target(std::move(target)) {}
    bool CanAbandon() const override { return !m_copying; }
    int Finish() override;

private:
    // Takes the room size bytes need on the target's disk: 0 or the error.
    int Reserve(off_t size);
    // Cuts the target to its new size and flushes it: 0 or the error.
    int Complete(off_t size);

    UniqueFd m_target;
    bool m_copying = false; // the copy has begun: the target is no longer as it was
};

int InPlaceCopy::Finish() {
    struct stat st {};
    if (::fstat(Fd(), &st) != 0)
        return errno;
    const off_t size = st.st_size;
    if (const int err = RunStep(WriteStep::written))
        return err;
    if (const int err = Reserve(size))
        return err;
    if (const int err = RunStep(WriteStep::reserved))
        return err;
    m_copying = true;
    if (const int err = RunStep(WriteStep::copying))
        return err;
    if (const int err = CopyFrom(Fd(), m_target.Get(), size))
        return err;
    if (const int err = RunStep(WriteStep::copied))
        return err;
    return Complete(size);
}

int InPlaceCopy::Reserve(off_t size) {
    // The room is taken before the target changes: a disk too full fails here, with the old
    // file as it was. The file keeps its size, and its old bytes are copied over from the
    // start: cutting it first would give the room back. A file system that cannot reserve
    // room is written without.
    if (size == 0)
        return 0;
    int r;
    do {
        r = ::fallocate(m_target.Get(), FALLOC_FL_KEEP_SIZE, 0, size);
    } while (r != 0 && errno == EINTR);
    if (r == 0 || errno == EOPNOTSUPP || errno == ENOSYS)
        return 0;
    const int err = errno;
    // What was reserved before the disk ran out stays the file's past its end on some file
    // systems (ext4) until it is cut there: cut at the end it has, which keeps every byte.
    struct stat st;
    if (::fstat(m_target.Get(), &st) == 0)
        while (::ftruncate(m_target.Get(), st.st_size) != 0 && errno == EINTR) {
        }
    return err;
}

int InPlaceCopy::Complete(off_t size) {
    int r;
    do {
        r = ::ftruncate(m_target.Get(), size);
    } while (r != 0 && errno == EINTR);
    if (r != 0)
        return errno;
    if (::fsync(m_target.Get()) != 0)
        return errno;
    return m_target.Close();
}

} // namespace

void SetWriteStepHook(std::function<int(WriteStep)> hook) {
    StepHook() = std::move(hook);
}

std::unique_ptr<WriteTarget> InPlaceTarget(UniqueFd target, UniqueFd folder,
                                           const std::string& name, int& err) {
    UniqueFd temporary(CreateInPlaceTemporary(folder.Get(), name));
    if (!temporary) {
        err = errno;
        return nullptr;
    }
    SetBlocking(target.Get());
    return std::make_unique<InPlaceCopy>(std::move(temporary), std::move(target));
}
