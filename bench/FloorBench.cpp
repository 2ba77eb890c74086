// The least a scan that keeps its listing in memory costs on this machine: the file read on
// every thread in the scan's 256 KiB blocks, each block classified once on the widest vector
// unit, and LISTING_BYTES of new memory written in 16 MiB blocks as the listing's are, each
// thread its share in step with its reading. No run is looked for and no row is made, so a
// whole scan of the file can be no faster; compare.sh pairs it against the same commands as
// the scan.
// Usage: tarnwick_floor FILE LISTING_BYTES [--threads N]
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "FileReader.h"
#include "TextRunFinder.h"
#include "UniqueFd.h"

namespace {

constexpr size_t kBlock = FileReader::kMaxView;
constexpr size_t kListingBlock = size_t(16) << 20;
constexpr size_t kPage = 4096;

int Usage() {
    std::fprintf(stderr, "usage: tarnwick_floor FILE LISTING_BYTES [--threads N]\n");
    return 2;
}

bool ParseCount(const char* text, unsigned long long most, unsigned long long* value) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || v > most)
        return false;
    *value = v;
    return true;
}

unsigned Processors() {
    cpu_set_t set;
    if (::sched_getaffinity(0, sizeof set, &set) == 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

// New memory written the way the listing's is: blocks from the system, filled in order.
class NewMemory {
public:
    NewMemory() = default;
    NewMemory(const NewMemory&) = delete;
    NewMemory& operator=(const NewMemory&) = delete;
    ~NewMemory() {
        for (void* block : m_blocks)
            ::munmap(block, kListingBlock);
    }
    // Appends n bytes taken, over and over, from the block just read.
    bool Write(const char* from, size_t fromBytes, size_t n) {
        while (n > 0) {
            if (m_at == kListingBlock || m_blocks.empty()) {
                void* block = ::mmap(nullptr, kListingBlock, PROT_READ | PROT_WRITE,
                                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
                if (block == MAP_FAILED)
                    return false;
                m_blocks.push_back(block);
                m_at = 0;
            }
            const size_t c = std::min({n, fromBytes, kListingBlock - m_at});
            std::memcpy(static_cast<char*>(m_blocks.back()) + m_at, from, c);
            m_at += c;
            n -= c;
        }
        return true;
    }

private:
    std::vector<void*> m_blocks;
    size_t m_at = 0;
};

struct Share {
    uint64_t begin = 0, end = 0, listingBytes = 0;
    uint64_t printable = 0;
    bool failed = false;
};

void Work(int fd, Share& share) {
    // Page-aligned, so that each read lands where it lies within a page of the file.
    void* buffer = std::aligned_alloc(kPage, kBlock);
    if (buffer == nullptr) {
        share.failed = true;
        return;
    }
    const auto* bytes = static_cast<const textrun::Byte*>(buffer);
    std::vector<uint64_t> masks(kBlock / 64);
    NewMemory listing;
    const uint64_t span = share.end - share.begin;
    uint64_t written = 0;
    for (uint64_t at = share.begin; at < share.end;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kBlock, share.end - at));
        const ssize_t got = ::pread(fd, buffer, want, static_cast<off_t>(at));
        if (got <= 0) {
            share.failed = got < 0;
            break;
        }
        const size_t n = static_cast<size_t>(got);
        const size_t whole = n / 64;
        textrun::ClassifyWords(bytes, whole, masks.data(), nullptr);
        for (size_t k = 0; k < whole; ++k)
            share.printable += static_cast<uint64_t>(__builtin_popcountll(masks[k]));
        if (n % 64)
            share.printable += static_cast<uint64_t>(
                __builtin_popcountll(textrun::MaskPortable(bytes + whole * 64, n % 64)));
        at += n;
        const uint64_t due = static_cast<uint64_t>(static_cast<double>(share.listingBytes) *
                                                   static_cast<double>(at - share.begin) /
                                                   static_cast<double>(span));
        if (due > written && !listing.Write(static_cast<const char*>(buffer), n, due - written)) {
            share.failed = true;
            break;
        }
        written = std::max(written, due);
    }
    std::free(buffer);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 5)
        return Usage();
    unsigned long long listingBytes = 0, threads = Processors();
    if (!ParseCount(argv[2], 1ull << 50, &listingBytes))
        return Usage();
    if (argc == 5 && (std::strcmp(argv[3], "--threads") != 0 ||
                      !ParseCount(argv[4], 256, &threads) || threads == 0))
        return Usage();
    const UniqueFd fd(::open(argv[1], O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fprintf(stderr, "tarnwick_floor: %s: not a readable file\n", argv[1]);
        return 1;
    }
    const auto size = static_cast<uint64_t>(st.st_size);

    const auto start = std::chrono::steady_clock::now();
    std::vector<Share> shares(threads);
    for (unsigned long long i = 0; i < threads; ++i) {
        // Shares begin on page boundaries, as the scan's stretches do.
        shares[i].begin = i == 0 ? 0 : (size * i / threads) & ~uint64_t(kPage - 1);
        shares[i].end = i + 1 == threads ? size : (size * (i + 1) / threads) & ~uint64_t(kPage - 1);
        shares[i].end = std::max(shares[i].end, shares[i].begin);
        const uint64_t span = shares[i].end - shares[i].begin;
        shares[i].listingBytes =
            size ? static_cast<uint64_t>(static_cast<double>(listingBytes) *
                                         static_cast<double>(span) / static_cast<double>(size))
                 : 0;
    }
    std::vector<std::thread> workers;
    for (Share& share : shares)
        workers.emplace_back([&fd, &share] { Work(fd.Get(), share); });
    for (std::thread& t : workers)
        t.join();
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();

    uint64_t printable = 0;
    for (const Share& share : shares) {
        if (share.failed) {
            std::fprintf(stderr, "tarnwick_floor: %s: read or memory failed\n", argv[1]);
            return 1;
        }
        printable += share.printable;
    }
    std::printf("file_bytes: %llu\nprintable_bytes: %llu\nlisting_bytes: %llu\nthreads: %llu\n"
                "floor_ms: %.2f\n",
                static_cast<unsigned long long>(size), static_cast<unsigned long long>(printable),
                listingBytes, threads, ms);
    return 0;
}
