// The scan and the run finder against the listing rule, and the listing's storage.
#include <climits>
#include <gtest/gtest.h>
#include <random>
#include <utility>
#include <vector>

#include "ListingRule.h"
#include "MemorySource.h"
#include "Scan.h"
#include "TestSupport.h"
#include "TextRunFinder.h"

namespace {

using Row = ListingRow;

std::vector<Row> Model(const std::string& data, int minLen) {
    return ListingOf(data, minLen);
}

std::vector<Row> Scan(const std::string& path, int minLen) {
    CFile file;
    EXPECT_TRUE(file.Open(path.c_str(), CFile::modeRead));
    Listing listing;
    ScanFile(file, minLen, listing);
    return RowsOf(listing);
}

std::vector<Row> ScanMemory(const std::string& data, int minLen) {
    CFile file;
    file.OpenSource(std::make_unique<MemorySource>(data));
    Listing listing;
    ScanFile(file, minLen, listing);
    return RowsOf(listing);
}

// Random bytes with printable stretches of random lengths; density sets how much is text.
std::string RandomFile(std::mt19937& rng, size_t size, int density) {
    std::string s(size, '\0');
    std::uniform_int_distribution<int> byte(0, 255), pct(0, 99), printable(0x20, 0x7E);
    std::geometric_distribution<int> runLen(0.02);
    size_t i = 0;
    while (i < size) {
        if (pct(rng) < density) {
            size_t n = std::min(size - i, static_cast<size_t>(runLen(rng) + 1));
            if (pct(rng) < 10)
                n = std::min(size - i, static_cast<size_t>(4000 + pct(rng) * 100));
            for (size_t k = 0; k < n; ++k)
                s[i++] = static_cast<char>(printable(rng));
        } else {
            s[i++] = static_cast<char>(byte(rng));
        }
    }
    return s;
}

TEST(Scan, MatchesTheListingRuleOnRandomFiles) {
    TempDir dir;
    std::mt19937 rng(20261207);
    const size_t sizes[] = {0, 1, 10, 11, 4095, 4096, 4097, 8191, 8192, 8193, 12290, 40000};
    const int mins[] = {-5, 0, 1, 10, 4095, 4096, INT_MAX, INT_MIN};
    int file = 0;
    for (size_t size : sizes) {
        for (int density : {3, 40, 97}) {
            std::string data = RandomFile(rng, size, density);
            std::string path = dir.Write("f" + std::to_string(file++), data);
            for (int m : mins)
                ASSERT_EQ(Scan(path, m), Model(data, m))
                    << "size " << size << ", density " << density << ", minimum " << m;
        }
    }
}

TEST(Scan, MatchesTheListingRuleOnARealBinary) {
    std::string data = ReadFileBytes("/proc/self/exe");
    ASSERT_GT(data.size(), 100000u);
    for (int m : {10, 4, 1})
        EXPECT_EQ(Scan("/proc/self/exe", m), Model(data, m)) << "minimum " << m;
}

// The scan reads the file in blocks of many windows; a run near a block's end, or across
// it, is listed as the windows list it.
TEST(Scan, MatchesTheListingRuleAcrossBlocks) {
    const size_t block = CFile::kMaxView;
    for (size_t back : {1, 5, 9, 10, 11, 64, 65, 100, 4095, 4096, 4097, 5000}) {
        for (size_t len : {back - 1, back, back + 1, size_t(4096), size_t(4097), size_t(9000)}) {
            if (len == 0)
                continue;
            std::string data(block + 20000, '\x01');
            for (size_t i = 0; i < len; ++i)
                data[block - back + i] = static_cast<char>('A' + i % 26);
            for (int m : {1, 10, 64, 65, 4095})
                ASSERT_EQ(ScanMemory(data, m), Model(data, m))
                    << "run at block end - " << back << ", length " << len << ", minimum " << m;
        }
    }
    // Files of several blocks, some all text, one ending in the middle of a long run.
    std::mt19937 rng(7);
    for (int density : {40, 97, 100}) {
        std::string data = RandomFile(rng, 3 * block + 777, density);
        if (density == 100)
            data = std::string(3 * block + 5, 'z');
        for (int m : {0, 3, 10, 100, 4095})
            ASSERT_EQ(ScanMemory(data, m), Model(data, m))
                << "density " << density << ", minimum " << m;
    }
}

TEST(Scan, EdgeCasesOfWindowsAndRuns) {
    TempDir dir;
    // A run longer than two windows loses no byte between its pieces.
    std::string text(10000, 'x');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char>('a' + i % 26);
    auto rows = Scan(dir.Write("long", text), 10);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], Row("000000...", text.substr(0, 4096)));
    EXPECT_EQ(rows[1], Row("001000...", text.substr(4096, 4096)));
    EXPECT_EQ(rows[2], Row("002000", text.substr(8192)));

    // A run that begins in the last bytes of a window keeps its head.
    std::string tail(4090, '\0');
    tail += "ABCDEFGHIJKLMNOPQRST";
    tail += '\0';
    EXPECT_EQ(Scan(dir.Write("tail", tail), 10),
              std::vector<Row>({Row("000FFA", "ABCDEFGHIJKLMNOPQRST")}));

    // The start limit is strict: exactly the minimum at the end of the file is not listed.
    EXPECT_TRUE(Scan(dir.Write("ten", "0123456789"), 10).empty());
    EXPECT_EQ(Scan(dir.Write("eleven", "0123456789A"), 10),
              std::vector<Row>({Row("000000", "0123456789A")}));

    // Offsets have at least six upper-case digits; one byte between runs separates rows.
    std::string two = std::string(42, '\x01') + "Hello World" + '\t' + "second run here";
    EXPECT_EQ(Scan(dir.Write("two", two), 10),
              std::vector<Row>({Row("00002A", "Hello World"), Row("000036", "second run here")}));

    // An empty file lists nothing.
    EXPECT_TRUE(Scan(dir.Write("empty", ""), 0).empty());
}

TEST(Finder, FollowsItsBounds) {
    int min = 10;
    int len = -1;
    const BYTE w1[] = "abc\0"
                      "0123456789\0";
    const BYTE* r = FindTextRun(w1, w1 + 15, min, &len);
    EXPECT_EQ(r, w1 + 4);
    EXPECT_EQ(len, 10);
    const BYTE digits[] = "0123456789A";
    EXPECT_EQ(FindTextRun(digits, digits + 10, min, &len), nullptr);
    EXPECT_EQ(FindTextRun(digits, digits + 11, min, &len), digits);
    EXPECT_EQ(len, 11);
    const BYTE nulDigits[] = "\0"
                             "0123456789";
    EXPECT_EQ(FindTextRun(nulDigits, nulDigits + 11, min, &len), nullptr);

    // Space and tilde are printable; TAB, DEL and bytes above 0x7F are not.
    min = 1;
    const BYTE edges[] = {0x09, 0x7F, 0x80, 0xFF, 0x20, 0x7E, 0x00};
    EXPECT_EQ(FindTextRun(edges, edges + 7, min, &len), edges + 4);
    EXPECT_EQ(len, 2);

    // Below zero searches like zero, up to the last byte and never beyond the end.
    const BYTE last[] = {0, 0, 'x', 'y'};
    for (int m : {0, -1, INT_MIN}) {
        min = m;
        EXPECT_EQ(FindTextRun(last + 3, last + 4, min, &len), last + 3) << m;
        EXPECT_EQ(len, 1);
        EXPECT_EQ(FindTextRun(last, last, min, &len), nullptr) << m;
    }
    // A huge minimum leaves no place to begin and does not wrap the limit around.
    std::vector<BYTE> full(4096, 'a');
    min = 4095;
    EXPECT_EQ(FindTextRun(full.data(), full.data() + 4096, min, &len), full.data());
    EXPECT_EQ(len, 4096);
    for (int m : {4096, INT_MAX}) {
        min = m;
        EXPECT_EQ(FindTextRun(full.data(), full.data() + 4096, min, &len), nullptr);
    }
}

TEST(Finder, WideAndPortablePathsAgreeWithTheRule) {
    std::mt19937 rng(99);
    std::uniform_int_distribution<int> size(0, 4096), density(0, 100), pick(0, 99);
    std::vector<int> mins = {INT_MIN, -1, 0,  1,   2,   3,   7,   10,  31,   32,   33,
                             63,      64, 65, 100, 127, 128, 129, 500, 4095, 4096, INT_MAX};
    for (int round = 0; round < 3000; ++round) {
        const int d = density(rng);
        std::string w = RandomFile(rng, static_cast<size_t>(size(rng)), d);
        if (pick(rng) < 20) // long stretches of text with rare breaks
            for (char& c : w)
                c = pick(rng) < 2 ? '\n' : 'a';
        const BYTE* b = reinterpret_cast<const BYTE*>(w.data());
        const BYTE* e = b + w.size();
        const int first = static_cast<int>(pick(rng) % 70);
        const BYTE* s = std::min(b + first, e);
        textrun::BlockMasks wideMasks(w.size()), portableMasks(w.size());
        wideMasks.Classify<true>(b, w.size());
        portableMasks.Classify<false>(b, w.size());
        for (int m : mins) {
            int lr = -1;
            const BYTE* r = FindRunByRule(s, e, m, &lr);
            // The block finder, on masks from either path, from the same place.
            const size_t from = static_cast<size_t>(s - b);
            const size_t expected = r ? static_cast<size_t>(r - b) : w.size();
            int lbw = -1, lbp = -1;
            ASSERT_EQ(wideMasks.FindRun(from, m, &lbw), expected)
                << "min " << m << " round " << round;
            ASSERT_EQ(portableMasks.FindRun(from, m, &lbp), expected) << "min " << m;
            if (r) {
                ASSERT_EQ(lbw, lr);
                ASSERT_EQ(lbp, lr);
            }
            // The finder on one window, from the same place.
            int lf = -1;
            ASSERT_EQ(FindTextRun(s, e, m, &lf), r) << "size " << w.size() << " min " << m;
            if (r) {
                ASSERT_EQ(lf, lr);
            }
        }
    }
}

TEST(ListStorage, RowsAreCompactAndTextsWhole) {
    Listing rows;
    EXPECT_EQ(Listing::RowBytes(), 16u);
    std::string big(100000, 'z');
    rows.Append("000000", 6, "abc", 3);
    rows.Append("000010", 6);
    rows.SetText(1, 1, big.data(), big.size());
    rows.SetMarked(1, true);
    rows.SetText(1, 0, "0000FF", 6);
    size_t len;
    const char* p = rows.Text(1, 1, &len);
    EXPECT_EQ(std::string(p, len), big);
    p = rows.Text(1, 0, &len);
    EXPECT_EQ(std::string(p, len), "0000FF");
    EXPECT_TRUE(rows.Marked(1));
    EXPECT_FALSE(rows.Marked(0));
    EXPECT_EQ(rows.MarkedCount(), 1);
    rows.SetMarked(1, true);
    EXPECT_EQ(rows.MarkedCount(), 1);
    rows.ClearMarks();
    EXPECT_FALSE(rows.Marked(1));
    EXPECT_EQ(rows.MarkedCount(), 0);
}

} // namespace
