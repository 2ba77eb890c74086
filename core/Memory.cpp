#include "Memory.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// The whole of a small file of the kernel's, or "" when it cannot be read.
std::string ReadSmall(const std::string& path) {
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char buf[4096];
    ssize_t n;
    while (text.size() < (1u << 16) && (n = ::read(fd, buf, sizeof buf)) > 0)
        text.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return text;
}

// The number after "key" at the start of a line ("key value" or "key: value"), or
// kMemoryUnknown.
uint64_t Field(const std::string& text, const char* key) {
    const size_t len = std::strlen(key);
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        if (text.compare(at, len, key) == 0 && at + len < end &&
            (text[at + len] == ' ' || text[at + len] == ':')) {
            const char* p = text.c_str() + at + len + 1;
            char* stop;
            const unsigned long long v = std::strtoull(p, &stop, 10);
            return stop == p ? kMemoryUnknown : v;
        }
        at = end + 1;
    }
    return kMemoryUnknown;
}

uint64_t Number(const std::string& text) {
    char* stop;
    const unsigned long long v = std::strtoull(text.c_str(), &stop, 10);
    // "max", an empty text or a limit of 2^62 and more (cgroup v1's "none") set no bound.
    return stop == text.c_str() || v >= (uint64_t(1) << 62) ? kMemoryUnknown : v;
}

// The least that the cgroup at `path` (below `root`) and those above it leave.
uint64_t CgroupChainLeft(const std::string& root, std::string path, const char* limit,
                         const char* usage) {
    uint64_t left = kMemoryUnknown;
    for (;;) {
        const std::string dir = root + path;
        left = std::min(left, CgroupLeft(ReadSmall(dir + "/" + limit), ReadSmall(dir + "/" + usage),
                                         ReadSmall(dir + "/memory.stat")));
        if (path.empty() || path == "/")
            return left;
        path.erase(path.rfind('/'));
    }
}

} // namespace

uint64_t MeminfoAvailable(const std::string& meminfo) {
    const uint64_t kb = Field(meminfo, "MemAvailable");
    return kb == kMemoryUnknown ? kb : kb * 1024;
}

uint64_t CgroupLeft(const std::string& limit, const std::string& usage, const std::string& stat) {
    const uint64_t max = Number(limit);
    const uint64_t used = Number(usage);
    if (max == kMemoryUnknown || used == kMemoryUnknown)
        return kMemoryUnknown;
    // v2 names the file cache inactive_file and active_file; v1 adds total_ for the subtree.
    uint64_t cache = 0;
    for (const char* key : {"inactive_file", "active_file"}) {
        uint64_t v = Field(stat, (std::string("total_") + key).c_str());
        if (v == kMemoryUnknown)
            v = Field(stat, key);
        if (v != kMemoryUnknown)
            cache += v;
    }
    const uint64_t held = used > cache ? used - cache : 0;
    return max > held ? max - held : 0;
}

namespace {
std::atomic<uint64_t> g_cap{kMemoryUnknown};
} // namespace

void SetMemoryCap(uint64_t bytes) {
    g_cap = bytes;
}

bool MemoryAllows(uint64_t bytes) {
    return bytes <= kMemoryUnknown - kMemoryHeadroom && MemoryLeft() >= bytes + kMemoryHeadroom;
}

uint64_t MemoryLeft() {
    uint64_t left = std::min(g_cap.load(), MeminfoAvailable(ReadSmall("/proc/meminfo")));

    // Lines of /proc/self/cgroup: "0::/path" for cgroup v2, "N:memory:/path" for v1's
    // memory controller.
    const std::string groups = ReadSmall("/proc/self/cgroup");
    for (size_t at = 0; at < groups.size();) {
        const size_t end = std::min(groups.find('\n', at), groups.size());
        const std::string line = groups.substr(at, end - at);
        at = end + 1;
        const size_t c1 = line.find(':');
        const size_t c2 = c1 == std::string::npos ? c1 : line.find(':', c1 + 1);
        if (c2 == std::string::npos)
            continue;
        const std::string controllers = line.substr(c1 + 1, c2 - c1 - 1);
        const std::string path = line.substr(c2 + 1);
        if (line.compare(0, c1, "0") == 0 && controllers.empty())
            left = std::min(
                left, CgroupChainLeft("/sys/fs/cgroup", path, "memory.max", "memory.current"));
        else if (("," + controllers + ",").find(",memory,") != std::string::npos)
            left =
                std::min(left, CgroupChainLeft("/sys/fs/cgroup/memory", path,
                                               "memory.limit_in_bytes", "memory.usage_in_bytes"));
    }

    return std::min(left, AddressSpaceLeft());
}

uint64_t AddressSpaceLeft() {
    // Its limit less what the process has mapped.
    struct rlimit as;
    if (::getrlimit(RLIMIT_AS, &as) != 0 || as.rlim_cur == RLIM_INFINITY)
        return kMemoryUnknown;
    const uint64_t pages = Number(ReadSmall("/proc/self/statm"));
    if (pages == kMemoryUnknown)
        return kMemoryUnknown;
    const uint64_t mapped = pages * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
    return as.rlim_cur > mapped ? as.rlim_cur - mapped : 0;
}

unsigned ThreadsAllowed(unsigned threads, uint64_t addressSpaceLeft) {
    if (addressSpaceLeft == kMemoryUnknown)
        return threads;
    // A stack of 8 MiB and a heap reserve of 64 MiB each; the threads may take an eighth of
    // what is left, and one thread is always there.
    constexpr uint64_t kThreadReserve = uint64_t(72) << 20;
    const uint64_t most = addressSpaceLeft / (8 * kThreadReserve);
    return static_cast<unsigned>(std::max<uint64_t>(1, std::min<uint64_t>(threads, most)));
}
