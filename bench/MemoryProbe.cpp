// How long this machine takes to hand out new memory: maps MiB mebibytes in blocks of
// 16 MiB, as the hit list does, and writes one byte per page; with "huge", in huge pages.
// The hit list of a text file needs about 1.4 times the file's size of such memory, so
// this bounds from below what a scan of it can cost here.
// Usage: tarnwick_memprobe [MiB=144 [huge]]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

int main(int argc, char** argv) {
    const long mib = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 144;
    const bool huge = argc > 2 && std::strcmp(argv[2], "huge") == 0;
    if (mib < 1 || mib > 1 << 20 || (argc > 2 && !huge) || argc > 3) {
        std::fprintf(stderr, "usage: tarnwick_memprobe [MiB=144 [huge]]\n");
        return 2;
    }
    constexpr size_t kBlock = size_t(16) << 20;
    const size_t total = static_cast<size_t>(mib) << 20;
    const auto start = std::chrono::steady_clock::now();
    for (size_t done = 0; done < total; done += kBlock) {
        void* p =
            ::mmap(nullptr, kBlock, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) {
            std::perror("mmap");
            return 1;
        }
#ifdef MADV_HUGEPAGE
        if (huge)
            ::madvise(p, kBlock, MADV_HUGEPAGE);
#endif
        volatile char* bytes = static_cast<char*>(p);
        for (size_t i = 0; i < kBlock && done + i < total; i += 4096)
            bytes[i] = 1;
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("new_memory_mb: %ld\ntouch_ms: %.1f\n", mib, ms);
    return 0;
}
