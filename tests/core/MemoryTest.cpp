// What the process can still take, read from the kernel's texts; and a listing that stops
// growing at its limit with its rows whole.
#include <gtest/gtest.h>
#include <new>
#include <string>

#include "Listing.h"
#include "Memory.h"

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

} // namespace
