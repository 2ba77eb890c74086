// The listing's storage: texts kept whole up to their limits, marks counted and cleared.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "Listing.h"

namespace {

std::string OffsetOf(const Listing& rows, int row) {
    size_t len;
    const char* p = rows.OffsetText(row, &len);
    return std::string(p, len);
}

std::string RunOf(const Listing& rows, int row) {
    size_t len;
    const char* p = rows.RunText(row, &len);
    return std::string(p, len);
}

TEST(ListStorage, RowsAreCompactAndTextsWhole) {
    Listing rows;
    EXPECT_EQ(Listing::RowBytes(), 16u);
    std::string big(100000, 'z');
    rows.Append("000000", 6, "abc", 3);
    rows.Append("000010", 6);
    rows.SetRunText(1, big.data(), big.size());
    rows.SetMarked(1, true);
    rows.SetOffsetText(1, "0000FF", 6);
    EXPECT_EQ(RunOf(rows, 1), big);
    EXPECT_EQ(OffsetOf(rows, 1), "0000FF");
    EXPECT_EQ(OffsetOf(rows, 0), "000000");
    EXPECT_EQ(RunOf(rows, 0), "abc");
    EXPECT_TRUE(rows.Marked(1));
    EXPECT_FALSE(rows.Marked(0));
    EXPECT_EQ(rows.MarkedCount(), 1);
    rows.SetMarked(1, true);
    EXPECT_EQ(rows.MarkedCount(), 1);
    rows.ClearMarks();
    EXPECT_FALSE(rows.Marked(1));
    EXPECT_EQ(rows.MarkedCount(), 0);
}

TEST(ListStorage, MarkRangesAcrossBlocksAndClearThemAll) {
    // More rows than one block holds, so that ranges cross from one block into the next.
    Listing rows;
    const int n = (1 << 20) + 5000;
    for (int i = 0; i < n; ++i)
        rows.Append("", 0);
    std::vector<int> expect;
    auto marked = [&] {
        std::vector<int> m;
        for (int i = 0; i < n; ++i)
            if (rows.Marked(i))
                m.push_back(i);
        return m;
    };
    rows.SetMarked(5, true);
    rows.MarkRange((1 << 20) - 3, (1 << 20) + 2);
    rows.MarkRange((1 << 20) - 1, (1 << 20) + 4); // overlaps: counted once
    rows.MarkRange(n - 2, n + 10);                // cut at the end
    expect = {5};
    for (int i = (1 << 20) - 3; i <= (1 << 20) + 4; ++i)
        expect.push_back(i);
    expect.push_back(n - 2);
    expect.push_back(n - 1);
    EXPECT_EQ(marked(), expect);
    EXPECT_EQ(rows.MarkedCount(), static_cast<int>(expect.size()));
    rows.ClearMarks();
    EXPECT_EQ(marked(), std::vector<int>());
    EXPECT_EQ(rows.MarkedCount(), 0);
    // After a clear, marks far apart are all found again.
    rows.SetMarked(n - 1, true);
    rows.SetMarked(0, true);
    rows.SetMarked(0, false);
    rows.SetMarked(7, true);
    rows.ClearMarks();
    EXPECT_EQ(marked(), std::vector<int>());
    rows.MarkRange(0, n - 1);
    EXPECT_EQ(rows.MarkedCount(), n);
    rows.Clear();
    rows.Append("", 0);
    rows.Append("", 0);
    EXPECT_FALSE(rows.Marked(0) || rows.Marked(1));
    rows.MarkRange(1, 1);
    rows.ClearMarks();
    EXPECT_FALSE(rows.Marked(1));
}

TEST(ListStorage, TextsPastTheirLimitsAreCutAndLeaveTheMarkAlone) {
    // Each length fills its field in the row to the last bit, next to the mark.
    const std::string offset(Listing::kMaxOffsetText + 5, 'o');
    const std::string run(Listing::kMaxRunText + 5, 'r');
    Listing rows;
    rows.Append("000000", 6, "before", 6);
    rows.Append(offset.data(), offset.size(), run.data(), run.size());
    rows.Append("000010", 6, "after", 5);
    EXPECT_EQ(OffsetOf(rows, 1), offset.substr(0, Listing::kMaxOffsetText));
    EXPECT_EQ(RunOf(rows, 1), run.substr(0, Listing::kMaxRunText));
    EXPECT_EQ(RunOf(rows, 0), "before");
    EXPECT_EQ(RunOf(rows, 2), "after");
    EXPECT_FALSE(rows.Marked(1));
    EXPECT_EQ(rows.MarkedCount(), 0);
    // Texts replaced on a marked row keep it marked, and are cut alike.
    rows.SetMarked(2, true);
    rows.SetOffsetText(2, offset.data(), offset.size());
    rows.SetRunText(2, run.data(), run.size());
    EXPECT_EQ(OffsetOf(rows, 2).size(), Listing::kMaxOffsetText);
    EXPECT_EQ(RunOf(rows, 2).size(), Listing::kMaxRunText);
    EXPECT_TRUE(rows.Marked(2));
    rows.SetOffsetText(2, "000010", 6);
    EXPECT_EQ(OffsetOf(rows, 2), "000010");
    EXPECT_TRUE(rows.Marked(2));
    EXPECT_FALSE(rows.Marked(1));
    EXPECT_EQ(rows.MarkedCount(), 1);
}

} // namespace
