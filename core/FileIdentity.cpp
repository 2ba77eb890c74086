#include "FileIdentity.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// Symbolic links followed to the target, at most; as many as the system follows.
constexpr int kMaxLinks = 40;

// The link's text; 0 or the error.
int ReadLink(const std::string& path, std::string& link) {
    char to[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), to, sizeof to);
    if (n < 0)
        return errno;
    if (static_cast<size_t>(n) == sizeof to)
        return ENAMETOOLONG;
    link.assign(to, static_cast<size_t>(n));
    return 0;
}

// Follows symbolic links from path to the path they lead to. 0 or the error; throughProc
// tells whether the way led through /proc.
int FollowPath(std::string& path, bool& throughProc) {
    struct stat proc {};
    ::stat("/proc/self", &proc);
    for (int hops = 0;; ++hops) {
        if (path.compare(0, 6, "/proc/") == 0)
            throughProc = true;
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return 0;
        // A link of /proc reached through another name (/dev/fd/N).
        if (st.st_dev == proc.st_dev)
            throughProc = true;
        if (hops == kMaxLinks)
            return ELOOP;
        std::string link;
        if (int err = ReadLink(path, link))
            return err;
        const size_t slash = path.rfind('/');
        if (link[0] == '/' || slash == std::string::npos)
            path = link;
        else
            path = path.substr(0, slash + 1) + link;
    }
}

// realpath() as a string; empty, with errno set, when it fails.
std::string RealPath(const char* path) {
    std::string place;
    if (char* real = ::realpath(path, nullptr)) {
        place = real;
        std::free(real);
    }
    return place;
}

} // namespace

FileIdentity FileIdentity::At(int dirFd, const char* path) {
    FileIdentity id;
    // An empty path with no open file would name the working folder.
    if (!path || (!*path && dirFd < 0))
        return id;
    struct statx stx {};
    if (::statx(dirFd, path, *path ? 0 : AT_EMPTY_PATH, STATX_INO | STATX_BTIME, &stx) != 0 ||
        !(stx.stx_mask & STATX_INO))
        return id;
    id.dev = makedev(stx.stx_dev_major, stx.stx_dev_minor);
    id.ino = static_cast<ino_t>(stx.stx_ino);
    if (stx.stx_mask & STATX_BTIME) {
        id.hasBirth = true;
        id.birthSec = stx.stx_btime.tv_sec;
        id.birthNsec = stx.stx_btime.tv_nsec;
    }
    id.valid = true;
    return id;
}

LinkTarget FollowLinks(const char* path) {
    LinkTarget to;
    std::string target = path;
    to.err = FollowPath(target, to.throughProc);
    const size_t slash = target.rfind('/');
    if (slash == std::string::npos) {
        to.folder = ".";
        to.name = target;
    } else {
        to.folder = slash == 0 ? "/" : target.substr(0, slash);
        to.name = target.substr(slash + 1);
    }
    return to;
}

std::string CanonicalPathOf(const char* path) {
    if (!path || !*path)
        return std::string();
    std::string place = RealPath(path);
    if (!place.empty() || errno != ENOENT)
        return place;
    // A name not yet taken (or a link to one): the place is its folder's and the name.
    const LinkTarget to = FollowLinks(path);
    if (to.err != 0 || !to.NamesAFile())
        return std::string();
    place = RealPath(to.folder.c_str());
    if (place.empty())
        return place;
    return (place == "/" ? place : place + "/") + to.name;
}

std::string PlaceOfPath(const char* path) {
    const std::string canonical = CanonicalPathOf(path);
    const size_t slash = canonical.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    struct stat folder;
    if (::stat(slash == 0 ? "/" : canonical.substr(0, slash).c_str(), &folder) != 0)
        return std::string();
    return std::to_string(folder.st_dev) + ":" + std::to_string(folder.st_ino) + "/" +
           canonical.substr(slash + 1);
}
