// The least a scan that keeps its listing in memory costs on this machine: the file dealt
// out to every thread in the scan's 4 MiB stretches and read in its 256 KiB blocks, each block
// classified once on the widest vector unit, and LISTING_BYTES of new memory written in
// 16 MiB blocks as the listing's are, each stretch its share. No run is looked for and no row
// is made, so a scan of the file can be no faster; compare.sh pairs it against the same
// commands as the scan. floor_ms, like the bench's scan_ms, ends before the memory is freed.
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
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

#include "FileReader.h"
#include "TextRunFinder.h"
#include "UniqueFd.h"

namespace {

constexpr size_t kBlock = FileReader::kMaxView;
constexpr uint64_t kStretch = uint64_t(4) << 20; // as the scan deals the file out
constexpr size_t kListingBlock = size_t(16) << 20;
constexpr size_t kReadyChunk = size_t(1) << 20;
constexpr size_t kPage = 4096;

int Usage() {
    std::fprintf(stderr, "usage: tarnwick_floor FILE LISTING_BYTES [--threads N]\n");
    return 2;
}

bool ParseCount(const char* text, unsigned long long most, unsigned long long* value) {
    if (text[0] < '0' || text[0] > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || v > most)
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

// New memory written the way the listing's is: blocks from the system, filled in order, their
// pages faulted in a mebibyte at a time ahead of the writing, the cheapest way this system
// has. Given back only when the timing is over, as the scan's listing outlives the scan.
class NewMemory {
public:
    NewMemory() = default;
    NewMemory(const NewMemory&) = delete;
    NewMemory& operator=(const NewMemory&) = delete;
    ~NewMemory() {
        for (void* block : m_blocks)
            ::munmap(block, kListingBlock);
    }
    uint64_t Written() const { return m_written; }
    // Appends n bytes taken, over and over, from the kBlock bytes at from.
    bool Write(const char* from, uint64_t n) {
        while (n > 0) {
            if (m_at == kListingBlock || m_blocks.empty()) {
                void* block = ::mmap(nullptr, kListingBlock, PROT_READ | PROT_WRITE,
                                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
                if (block == MAP_FAILED)
                    return false;
                m_blocks.push_back(block);
                m_at = m_readied = 0;
            }
            char* block = static_cast<char*>(m_blocks.back());
            const size_t c =
                static_cast<size_t>(std::min<uint64_t>({n, kBlock, kListingBlock - m_at}));
            while (m_readied < m_at + c) {
                // (where the system cannot, the writing faults the pages in itself)
                ::madvise(block + m_readied, kReadyChunk, MADV_POPULATE_WRITE);
                m_readied += kReadyChunk;
            }
            std::memcpy(block + m_at, from, c);
            m_at += c;
            m_written += c;
            n -= c;
        }
        return true;
    }

private:
    std::vector<void*> m_blocks;
    size_t m_at = 0, m_readied = 0;
    uint64_t m_written = 0;
};

struct Floor {
    int fd = -1;
    uint64_t size = 0, listingBytes = 0;
    std::atomic<uint64_t> next{0}; // the next stretch to take
};

// What one thread did.
struct Worker {
    NewMemory listing;
    uint64_t printable = 0;
    const char* failure = nullptr;
};

// The listing's bytes for the file's first `at` bytes, so that the stretches' shares add up.
uint64_t ListingUpTo(const Floor& floor, uint64_t at) {
    return static_cast<uint64_t>(static_cast<unsigned __int128>(floor.listingBytes) * at /
                                 floor.size);
}

// Takes stretches in turn, as the scan's threads do, until the file is dealt out.
void Work(Floor& floor, Worker& worker) {
    // Page-aligned, so that each read lands where it lies within a page of the file.
    void* buffer = std::aligned_alloc(kPage, kBlock);
    if (buffer == nullptr) {
        worker.failure = "out of memory";
        return;
    }
    std::memset(buffer, 0, kBlock); // the listing's bytes come from all of it
    const auto* bytes = static_cast<const textrun::Byte*>(buffer);
    std::vector<uint64_t> masks(kBlock / 64);
    for (;;) {
        const uint64_t k = floor.next.fetch_add(1);
        if (k >= (floor.size + kStretch - 1) / kStretch)
            break;
        const uint64_t end = std::min(floor.size, (k + 1) * kStretch);
        for (uint64_t at = k * kStretch; at < end;) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(kBlock, end - at));
            const ssize_t got = ::pread(floor.fd, buffer, want, static_cast<off_t>(at));
            if (got <= 0) {
                worker.failure = got < 0 ? std::strerror(errno) : "the file got shorter";
                std::free(buffer);
                return;
            }
            const size_t n = static_cast<size_t>(got);
            const size_t whole = n / 64;
            textrun::ClassifyWords(bytes, whole, masks.data(), nullptr);
            for (size_t w = 0; w < whole; ++w)
                worker.printable += static_cast<uint64_t>(__builtin_popcountll(masks[w]));
            if (n % 64)
                worker.printable += static_cast<uint64_t>(
                    __builtin_popcountll(textrun::MaskPortable(bytes + whole * 64, n % 64)));
            const uint64_t due = ListingUpTo(floor, at + n) - ListingUpTo(floor, at);
            at += n;
            if (!worker.listing.Write(static_cast<const char*>(buffer), due)) {
                worker.failure = "out of memory";
                std::free(buffer);
                return;
            }
        }
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
    // Not blocking, so that a FIFO's name is turned away rather than waited on.
    const UniqueFd fd(::open(argv[1], O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fprintf(stderr, "tarnwick_floor: %s: not a readable file\n", argv[1]);
        return 1;
    }
    Floor floor;
    floor.fd = fd.Get();
    floor.size = static_cast<uint64_t>(st.st_size);
    floor.listingBytes = floor.size ? listingBytes : 0;
    // No more threads than stretches, as in the scan.
    threads = std::max<unsigned long long>(
        1, std::min<unsigned long long>(threads, (floor.size + kStretch - 1) / kStretch));

    std::vector<Worker> workers(threads);
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> running;
    for (size_t i = 1; i < workers.size(); ++i) {
        try {
            running.emplace_back([&floor, &workers, i] { Work(floor, workers[i]); });
        } catch (const std::system_error&) {
            break; // fewer threads: the stretches go to those there are
        }
    }
    Work(floor, workers[0]);
    for (std::thread& t : running)
        t.join();
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();

    uint64_t printable = 0, written = 0;
    for (const Worker& worker : workers) {
        if (worker.failure) {
            std::fprintf(stderr, "tarnwick_floor: %s: %s\n", argv[1], worker.failure);
            return 1;
        }
        printable += worker.printable;
        written += worker.listing.Written();
    }
    std::printf("file_bytes: %llu\nprintable_bytes: %llu\nlisting_bytes: %llu\nthreads: %zu\n"
                "floor_ms: %.2f\n",
                static_cast<unsigned long long>(floor.size),
                static_cast<unsigned long long>(printable),
                static_cast<unsigned long long>(written), running.size() + 1, ms);
    return 0;
}
