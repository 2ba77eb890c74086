// Temporary files for the bytes of a write, until they are complete.
#include <atomic>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "FileWriter.h"
#include "WriteTarget.h"

namespace {

// The part of the target's name kept in the temporary file's, which must fit a file name.
constexpr size_t kTempStem = 200;

std::atomic<bool> s_unnamedTemporaries{true};

// An unnamed file in the folder, when there may be one: the program killed before the end
// leaves nothing behind. -1 when there is none.
int CreateUnnamed(int dirFd, bool linkLater) {
    if (!s_unnamedTemporaries)
        return -1;
    UniqueFd fd(OpenAt(dirFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, kTempMode));
    // The unnamed file gets its name through /proc when it is complete.
    if (fd && linkLater && ::access("/proc/self/fd", X_OK) != 0)
        fd.Reset();
    return fd.Release();
}

} // namespace

void SetUnnamedTemporaries(bool allowed) {
    s_unnamedTemporaries = allowed;
}

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

int CreateTemporary(int dirFd, const std::string& name, std::string& tempName, bool linkLater) {
    tempName.clear();
    const int unnamed = CreateUnnamed(dirFd, linkLater);
    if (unnamed >= 0)
        return unnamed;
    int fd = -1;
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
