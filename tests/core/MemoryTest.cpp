// What the process can still take, read from the kernel's texts; and a listing that stops
// growing at its limit with its rows whole; pages made ready ahead of their writer.
#include <cstring>
#include <gtest/gtest.h>
#include <new>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "Listing.h"
#include "Memory.h"
#include "MemorySource.h"
#include "PagesAhead.h"
#include "Scan.h"

namespace {

TEST(Memory, LimitsAreReadFromTheKernelsTexts) {
    EXPECT_EQ(MeminfoAvailable("MemTotal:       24684544 kB\n"
                               "MemFree:        22310000 kB\n"
                               "MemAvailable:   24041052 kB\n"),
              24041052ull * 1024);
    EXPECT_EQ(MeminfoAvailable("MemTotal: 100 kB\n"), kMemoryUnknown);
    // cgroup v2: the file cache counts as free; "max" sets no bound.
    const std::string stat2 = "anon 400000000\nfile 600000000\nkernel 1000\n"
                              "active_file 100000000\ninactive_file 400000000\n";
    EXPECT_EQ(CgroupLeft("1500000000\n", "1000000000\n", stat2), 1000000000ull);
    EXPECT_EQ(CgroupLeft("max\n", "1000000000\n", stat2), kMemoryUnknown);
    // Using more than the limit, as a group can for a moment, leaves nothing.
    EXPECT_EQ(CgroupLeft("100\n", "900\n", ""), 0ull);
    // cgroup v1: the whole subtree's cache (total_), and a limit of 2^63 that means none.
    const std::string stat1 = "inactive_file 5\nactive_file 5\n"
                              "total_inactive_file 200\ntotal_active_file 300\n";
    EXPECT_EQ(CgroupLeft("1000\n", "900\n", stat1), 600ull);
    EXPECT_EQ(CgroupLeft("9223372036854771712\n", "900\n", stat1), kMemoryUnknown);
    EXPECT_EQ(CgroupLeft("", "", ""), kMemoryUnknown);
    // This process has some memory left, whatever it runs in.
    EXPECT_GT(MemoryLeft(), uint64_t(Listing::kMemoryHeadroom));
    EXPECT_LE(MemoryLeft(), AddressSpaceLeft());
}

TEST(Memory, ThreadsAreStartedOnlyWhereTheAddressSpaceLeavesTheRowsRoom) {
    EXPECT_EQ(ThreadsAllowed(8, kMemoryUnknown), 8u);
    // Under ulimit -v 300000 or 1000000, one thread lists more rows than two.
    EXPECT_EQ(ThreadsAllowed(2, uint64_t(260) << 20), 1u);
    EXPECT_EQ(ThreadsAllowed(2, uint64_t(940) << 20), 1u);
    EXPECT_EQ(ThreadsAllowed(2, uint64_t(0)), 1u);
    EXPECT_EQ(ThreadsAllowed(4, uint64_t(4) << 30), 4u);
    EXPECT_EQ(ThreadsAllowed(64, uint64_t(4) << 30), 7u);
}

TEST(Memory, AListingAtItsLimitKeepsItsRowsWhole) {
    Listing rows;
    rows.SetLimit(size_t(3) << 24); // a block of rows and two of texts
    const std::string text(3000, 'x');
    int n = 0;
    try {
        for (;; ++n) {
            const std::string offset = std::to_string(n);
            rows.Append(offset.data(), offset.size(), text.data(), text.size());
        }
    } catch (const std::bad_alloc&) {
    }
    ASSERT_EQ(rows.Count(), n);
    EXPECT_GT(n, 10000);
    EXPECT_THROW(rows.Append("more", 4, text.data(), text.size()), std::bad_alloc);
    EXPECT_EQ(rows.Count(), n);
    for (int i : {0, n / 2, n - 1}) {
        size_t len;
        const char* p = rows.OffsetText(i, &len);
        EXPECT_EQ(std::string(p, len), std::to_string(i));
        rows.RunText(i, &len);
        EXPECT_EQ(len, text.size());
    }
    rows.SetLimit(SIZE_MAX);
    rows.Append("more", 4, text.data(), text.size());
    EXPECT_EQ(rows.Count(), n + 1);
}

// How many of the pages from begin to end are in memory.
size_t PagesIn(const char* begin, const char* end) {
    std::vector<unsigned char> in((end - begin + ::getpagesize() - 1) / ::getpagesize());
    if (::mincore(const_cast<char*>(begin), end - begin, in.data()) != 0)
        return SIZE_MAX;
    size_t n = 0;
    for (unsigned char page : in)
        n += page & 1;
    return n;
}

TEST(Memory, PagesAreMadeReadyWithinReachOfTheirWriterAndKeepWhatItWrote) {
    // A block with a page on each side that is not its own.
    const size_t kPage = static_cast<size_t>(::getpagesize());
    const size_t kBlock = PagesAhead::kReach + 3 * PagesAhead::kChunk / 2;
    char* map = static_cast<char*>(::mmap(nullptr, kBlock + 2 * kPage, PROT_READ | PROT_WRITE,
                                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(map, MAP_FAILED);
    char* block = map + kPage;
    PagesAhead ahead;
    ahead.SetBlock(PagesAhead::kRows, block, kBlock);
    // The writer is three pages and a bit in, and has written there: a small listing is
    // readied no further ahead than it has grown.
    char* writer = block + 3 * kPage + 100;
    std::memset(block, 'w', writer - block);
    const size_t written = writer - block;
    ahead.SetWriter(PagesAhead::kRows, writer, written);
    while (ahead.ReadyOne()) {
    }
    if (PagesIn(block, block + kBlock) == 4) {
        GTEST_SKIP() << "this system cannot fault pages in for a thread ahead of time";
    }
    const auto pageAfter = [&](const char* p) {
        return block + (p - block + kPage - 1) / kPage * kPage;
    };
    EXPECT_EQ(PagesIn(block, block + kBlock), size_t(pageAfter(writer + written) - block) / kPage);
    // A large one: from the writer's page to the reach past the writer, not one page more.
    ahead.SetWriter(PagesAhead::kRows, writer, size_t(1) << 30);
    int chunks = 0;
    while (ahead.ReadyOne())
        ++chunks;
    const char* reachPage = pageAfter(writer + PagesAhead::kReach);
    const size_t readied = reachPage - pageAfter(writer + written);
    EXPECT_EQ(size_t(chunks), (readied + PagesAhead::kChunk - 1) / PagesAhead::kChunk);
    EXPECT_EQ(PagesIn(block, reachPage), size_t(reachPage - block) / kPage);
    EXPECT_EQ(PagesIn(reachPage, block + kBlock), 0u);
    EXPECT_EQ(std::string(block, writer), std::string(writer - block, 'w'));
    // The writer moves on: the rest of the block, and nothing past its end.
    ahead.SetWriter(PagesAhead::kRows, block + PagesAhead::kReach / 2, size_t(1) << 30);
    EXPECT_TRUE(ahead.ReadyOne());
    while (ahead.ReadyOne()) {
    }
    EXPECT_EQ(PagesIn(block, block + kBlock), kBlock / kPage);
    EXPECT_EQ(PagesIn(block + kBlock, block + kBlock + kPage), 0u);
    EXPECT_EQ(PagesIn(map, block), 0u);
    // A forgotten block is readied no more.
    ahead.SetBlock(PagesAhead::kTexts, block + kBlock, kPage);
    ahead.Forget();
    EXPECT_FALSE(ahead.ReadyOne());
    EXPECT_EQ(PagesIn(block + kBlock, block + kBlock + kPage), 0u);
    ::munmap(map, kBlock + 2 * kPage);
}

TEST(Memory, PagesAreMadeReadyOnlyAsFarAsTheRestOfTheScanIsLikelyToFill) {
    const size_t kPage = static_cast<size_t>(::getpagesize());
    const size_t kBlock = PagesAhead::kReach;
    char* block = static_cast<char*>(
        ::mmap(nullptr, kBlock, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(block, MAP_FAILED);
    PagesAhead ahead;
    ahead.SetBlock(PagesAhead::kTexts, block, kBlock);
    // 2 MB written for 4 bytes of input, 1 to go: half a megabyte more, give or take a
    // quarter; the other kind's block is not there and is left alone.
    ahead.SetOutlook(4, 1);
    ahead.SetWriter(PagesAhead::kTexts, block, size_t(2) << 20);
    ahead.SetWriter(PagesAhead::kRows, block, size_t(2) << 20);
    while (ahead.ReadyOne()) {
    }
    const size_t likely = (size_t(5) << 20) / 8;
    if (PagesIn(block, block + kBlock) == 0) {
        GTEST_SKIP() << "this system cannot fault pages in for a thread ahead of time";
    }
    EXPECT_EQ(PagesIn(block, block + kBlock), (likely + kPage - 1) / kPage);
    // Nothing left to read: the pages past the writer stay out, however much was written.
    ahead.SetOutlook(5, 0);
    ahead.SetWriter(PagesAhead::kTexts, block + likely + kPage, size_t(1) << 30);
    EXPECT_FALSE(ahead.ReadyOne());
    EXPECT_EQ(PagesIn(block + likely + 2 * kPage, block + kBlock), 0u);
    // A new scan starts with no outlook: the reach is what has been written, up to the most.
    ahead.Forget();
    ahead.SetBlock(PagesAhead::kTexts, block, kBlock);
    ahead.SetWriter(PagesAhead::kTexts, block, size_t(1) << 30);
    while (ahead.ReadyOne()) {
    }
    EXPECT_EQ(PagesIn(block, block + kBlock), kBlock / kPage);
    ::munmap(block, kBlock);
}

TEST(Memory, AScanOnThreadsLeavesFewReadiedPagesPastItsLastRow) {
    // 8 MiB of the same line, in 32 stretches: the text block is half full at the end, where
    // a reach of what was written would have readied 8 MiB past the last row; as far as
    // the rest of the file is likely to fill, no more than a fifth of that.
    const std::string line = std::string(63, 'x') + '\n';
    std::string data;
    for (int i = 0; i < (1 << 17); ++i)
        data += line;
    ScanSettings settings;
    settings.threads = 2;
    settings.stretch = size_t(1) << 18;
    CFile file;
    file.OpenSource(std::make_unique<SharedMemorySource>(data));
    Listing listing;
    ScanFile(file, settings, listing);
    ASSERT_EQ(listing.Count(), 1 << 17);
    size_t len;
    const char* last = listing.RunText(listing.Count() - 1, &len);
    const size_t kPage = static_cast<size_t>(::getpagesize());
    const char* after = reinterpret_cast<const char*>(
        (reinterpret_cast<uintptr_t>(last + len) + kPage - 1) & ~uintptr_t(kPage - 1));
    EXPECT_LE(PagesIn(after, after + (size_t(4) << 20)), (size_t(2) << 20) / kPage);
}

} // namespace
