// Which way a file is written: a pipe or device directly, a regular file (or a name not yet
// taken) by replacing it, and a file that may be written but not replaced in place.
#include "WriteTarget.h"

#include <cerrno>
#include <fcntl.h>

#include "FileIdentity.h"

namespace {

// Whether the open file is the root of a mount of its own, which no rename can replace.
bool IsMountRoot(int fd) {
    struct statx stx {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS, &stx) != 0)
        return false;
    return (stx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) &&
           (stx.stx_attributes & STATX_ATTR_MOUNT_ROOT);
}

// Whether a replacement would cut other hard links off the new content, change the owner
// of another user's file, or fail on a file mounted on its own (a bind mount, as containers
// give /etc/hosts).
bool MayNotReplace(int fd, const struct stat& st) {
    const uid_t me = ::geteuid();
    return st.st_nlink > 1 || (st.st_uid != me && me != 0) || IsMountRoot(fd);
}

std::unique_ptr<WriteTarget> Failed(int& err, int why) {
    err = why;
    return nullptr;
}

// The target for a regular file fd (or a name not yet taken, without one) reached by path.
std::unique_ptr<WriteTarget> FileTarget(const char* path, UniqueFd fd, const struct stat& st,
                                        int& err) {
    // The name to replace: where the links lead. One that leads through /proc (/dev/fd/N, a
    // descriptor of this process) names an open file, not a place: that file is written.
    const LinkTarget to = FollowLinks(path);
    if (to.err)
        return Failed(err, to.err);
    if (to.throughProc && fd)
        return InPlaceTarget(std::move(fd), UniqueFd(), std::string(), err);
    if (!to.NamesAFile())
        return Failed(err, EISDIR);
    UniqueFd dir(OpenAt(AT_FDCWD, to.folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!dir && !fd)
        return Failed(err, errno);
    if (dir && !(fd && MayNotReplace(fd.Get(), st))) {
        std::unique_ptr<WriteTarget> made = ReplacementTarget(fd, st, dir, to.name, err);
        if (made || err)
            return made;
    }
    return InPlaceTarget(std::move(fd), std::move(dir), to.name, err);
}

} // namespace

std::unique_ptr<WriteTarget> OpenWriteTarget(const char* path, int& err) {
    // Opened as it is, without truncating it: whether the user may write it, and what it is,
    // are known before anything changes. Non-blocking, so that a pipe without a reader fails
    // at once instead of hanging the window. The system follows the links, /dev/stdout's too.
    UniqueFd fd(OpenAt(AT_FDCWD, path, O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd && errno != ENOENT)
        return Failed(err, errno);
    struct stat st {};
    if (fd && ::fstat(fd.Get(), &st) != 0)
        return Failed(err, errno);
    if (fd && !S_ISREG(st.st_mode))
        return PipeTarget(std::move(fd));
    return FileTarget(path, std::move(fd), st, err);
}
