// The scan and the run finder against the listing rule, on good files and on files that fail
// or change while scanned.
#include <algorithm>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <random>
#include <unistd.h>
#include <utility>
#include <vector>

#include "ListingRule.h"
#include "MemorySource.h"
#include "RandomFiles.h"
#include "Scan.h"
#include "TestSupport.h"
#include "TextRunFinder.h"

namespace {

using Row = ListingRow;

std::vector<Row> Model(const std::string& data, int minLen, bool utf16 = false) {
    return ListingOf(data, minLen, utf16);
}

std::vector<Row> Scan(const std::string& path, int minLen, bool utf16 = false) {
    CFile file;
    EXPECT_TRUE(file.Open(path.c_str(), CFile::modeRead));
    Listing listing;
    ScanFile(file, minLen, listing, utf16);
    return RowsOf(listing);
}

std::vector<Row> ScanMemory(const std::string& data, int minLen, bool utf16 = false) {
    CFile file;
    file.OpenSource(std::make_unique<MemorySource>(data));
    Listing listing;
    ScanFile(file, minLen, listing, utf16);
    return RowsOf(listing);
}

// UTF-16 text inside this very program, for the scan of a real binary. "used" makes the
// compiler emit the array even where the optimiser folds every read of it into code (at
// -O3 the test would otherwise hold the text only as the narrow string it builds from it).
[[gnu::used]] const char16_t kWideSample[] = u"UTF-16 text kept inside the test program";

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

TEST(Utf16, MatchesTheRuleOnFilesRichInUnits) {
    std::mt19937 rng(16);
    const size_t block = CFile::kMaxView;
    for (size_t size :
         {size_t(0), size_t(1), size_t(2), size_t(3), size_t(100), size_t(9000), 2 * block + 333}) {
        const std::string data = WideRichFile(rng, size);
        for (int m : {INT_MIN, 0, 1, 2, 3, 10, 4096, 4097})
            ASSERT_EQ(ScanMemory(data, m, true), Model(data, m, true))
                << "size " << size << ", minimum " << m;
    }
    // Off, the same bytes list as they always did.
    const std::string data = WideRichFile(rng, 50000);
    EXPECT_EQ(ScanMemory(data, 3), Model(data, 3));
    EXPECT_NE(ScanMemory(data, 3, true), Model(data, 3));
}

// A run across a block's end, at either parity and of any length, is listed once and whole,
// and so is one that ends the file.
TEST(Utf16, RunsAcrossBlockEndsAreListedOnceAndWhole) {
    const size_t block = CFile::kMaxView;
    for (size_t back : {1, 2, 3, 4, 5, 64, 65, 8191, 8192, 8193, 9001}) {
        for (size_t chars : {1, 5, 10, 4096, 4097, 9000}) {
            std::string data(2 * block + 20000, '\x01');
            const size_t at = block - back;
            for (size_t k = 0; k < chars; ++k) {
                data[at + 2 * k] = static_cast<char>('a' + k % 26);
                data[at + 2 * k + 1] = '\0';
            }
            // Text of the other kind right after it, and a run that ends the file.
            std::memcpy(&data[at + 2 * chars + 1], "plain text run", 14);
            for (size_t k = 0; k < 8; ++k) {
                data[data.size() - 16 + 2 * k] = 'Z';
                data[data.size() - 15 + 2 * k] = '\0';
            }
            for (int m : {1, 10, 4096})
                ASSERT_EQ(ScanMemory(data, m, true), Model(data, m, true))
                    << "run at block end - " << back << ", " << chars << " characters, minimum "
                    << m;
        }
    }
}

TEST(Utf16, ARealBinaryListsItsWideText) {
    const std::string data = ReadFileBytes("/proc/self/exe");
    const std::string sample(kWideSample, kWideSample + sizeof kWideSample / 2 - 1);
    // The wide text is really in the file, as UTF-16LE bytes: else the test tests nothing.
    std::string wide;
    for (char c : sample)
        wide += std::string{c, '\0'};
    ASSERT_NE(data.find(wide), std::string::npos) << "the program holds no UTF-16 text";
    const std::vector<Row> rows = Scan("/proc/self/exe", 10, true);
    EXPECT_EQ(rows, Model(data, 10, true));
    EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [&](const Row& r) {
        return r.second == sample && r.first.back() == 'u';
    }));
}

TEST(Scan, EveryVectorUnitTheProcessorHasListsTheSameRows) {
    std::mt19937 rng(12);
    const std::string data =
        WideRichFile(rng, 3 * CFile::kMaxView + 77) + RandomFile(rng, 200001, 50);
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    textrun::BlockMasks portable(data.size()), vector(data.size());
    portable.ClassifyWithUnits<false>(bytes, data.size());
    const textrun::VectorUnit active = textrun::ActiveVectorUnit();
    int tried = 0;
    for (auto unit : {textrun::VectorUnit::kPortable, textrun::VectorUnit::kSse2,
                      textrun::VectorUnit::kAvx2, textrun::VectorUnit::kAvx512bw}) {
        if (!textrun::UseVectorUnit(unit))
            continue;
        ++tried;
        vector.ClassifyWithUnits<true>(bytes, data.size());
        for (size_t at = 0; at < data.size(); at += 64) {
            ASSERT_EQ(vector.Printable().At(at), portable.Printable().At(at)) << at;
            ASSERT_EQ(vector.Units().At(at), portable.Units().At(at)) << at;
            ASSERT_EQ(vector.UnitBytes().At(at), portable.UnitBytes().At(at)) << at;
        }
        // The marks of long stretches, for minimums across the shifts' halvings, against a
        // search word by word on the portable masks.
        for (int min : {2, 3, 5, 10, 31, 32, 33, 63, 64, 65, 100, 4095}) {
            vector.MarkStretches(min);
            for (size_t from = 0; from < data.size(); from += 1 + from % 977) {
                int lp = -1, lv = -1;
                const size_t p = portable.FindRun(from, min, &lp);
                ASSERT_EQ(vector.FindRun(from, min, &lv), p) << from << ", minimum " << min;
                if (p < data.size()) {
                    ASSERT_EQ(lv, lp) << from << ", minimum " << min;
                }
            }
        }
        for (int min : {5, 64}) {
            for (bool utf16 : {false, true}) {
                EXPECT_EQ(ScanMemory(data, min, utf16), Model(data, min, utf16))
                    << "unit " << static_cast<int>(unit) << (utf16 ? ", UTF-16" : "")
                    << ", minimum " << min;
            }
        }
    }
    textrun::UseVectorUnit(active);
#if defined(__x86_64__)
    EXPECT_GE(tried, 2) << "every x86-64 processor has SSE2";
#endif
}

TEST(Scan, MarksFindWhatTheSearchFindsAtEveryLengthAndStart) {
    // Blocks of every length up to a few words, so that each vector form's last words and
    // the block's end meet every minimum the marks stand for, from every start; past 64,
    // where a mark only begins a run that may fall short, in blocks of longer runs.
    std::mt19937 rng(13);
    const textrun::VectorUnit active = textrun::ActiveVectorUnit();
    for (size_t n = 1; n < 600; n += n < 300 ? 1 : 7) {
        std::string bytes(n, 'a');
        for (char& c : bytes)
            c = rng() % (n < 300 ? 8 : 90) ? static_cast<char>(' ' + rng() % 95) : '\n';
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        textrun::BlockMasks searched(n), marked(n);
        searched.Classify<false>(p, n);
        for (auto unit : {textrun::VectorUnit::kPortable, textrun::VectorUnit::kSse2,
                          textrun::VectorUnit::kAvx2, textrun::VectorUnit::kAvx512bw}) {
            if (!textrun::UseVectorUnit(unit))
                continue;
            marked.Classify<true>(p, n);
            for (int min = n < 300 ? 2 : 60; min <= (n < 300 ? 64 : 200); ++min) {
                marked.MarkStretches(min);
                for (size_t from = 0; from < n; ++from) {
                    int ls = -1, lm = -1;
                    const size_t at = searched.FindRun(from, min, &ls);
                    ASSERT_EQ(marked.FindRun(from, min, &lm), at)
                        << n << " bytes, unit " << static_cast<int>(unit) << ", minimum " << min
                        << ", from " << from;
                    if (at < n) {
                        ASSERT_EQ(lm, ls) << n << " bytes, minimum " << min << ", from " << from;
                    }
                }
            }
        }
    }
    textrun::UseVectorUnit(active);
}

TEST(Scan, InStepsListsTheSameRowsAsAtOnce) {
    std::mt19937 rng(11);
    const size_t block = CFile::kMaxView;
    for (int density : {30, 99, -1}) {
        // (-1: text rich in UTF-16, scanned for both kinds.)
        const bool utf16 = density < 0;
        const std::string data = utf16 ? WideRichFile(rng, 5 * block + 1234)
                                       : RandomFile(rng, 5 * block + 1234, density);
        for (ULONGLONG step : {ULONGLONG(1), ULONGLONG(block / 3), ULONGLONG(3 * block)}) {
            CFile file;
            file.OpenSource(std::make_unique<MemorySource>(data));
            Listing listing;
            ScanSettings settings;
            settings.utf16 = utf16;
            FileScan scan(file, settings, listing);
            ULONGLONG before = 0;
            int steps = 0;
            while (scan.Step(step)) {
                ASSERT_GT(scan.Position(), before) << "a step that read nothing";
                ASSERT_LE(scan.Position(), data.size());
                before = scan.Position();
                ++steps;
            }
            EXPECT_FALSE(scan.Step(step)); // an ended scan stays ended
            EXPECT_EQ(RowsOf(listing), Model(data, 10, utf16)) << "steps of " << step;
            EXPECT_GE(steps, static_cast<int>(data.size() / std::max<ULONGLONG>(step, block)));
        }
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

TEST(Scan, ReadErrorMidScanKeepsTheRowsListedSoFar) {
    const std::string data = LargeSample(3 << 20);
    const std::vector<ListingRow> all = ListingOf(data, 10);
    auto src = std::make_unique<MemorySource>(data);
    src->m_failAt = 2 << 20;
    CFile f;
    f.OpenSource(std::move(src));
    Listing listing;
    try {
        ScanFile(f, 10, listing);
        ADD_FAILURE() << "the read error was not reported";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.GetErrorMessage(),
                  "A hardware I/O error was reported while accessing an unnamed file.");
    }
    EXPECT_TRUE(f.IsOpen()); // the caller's file stays the caller's
    std::vector<ListingRow> got = RowsOf(listing);
    // Everything read before the failure is listed as a full scan lists it; the last row
    // may end where the readable bytes ended.
    ASSERT_GT(got.size(), all.size() / 2);
    ASSERT_LT(got.size(), all.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end() - 1, all.begin()));
    const ListingRow& last = got.back();
    const ListingRow& full = all[got.size() - 1];
    EXPECT_EQ(last.first.substr(0, 6), full.first.substr(0, 6));
    EXPECT_EQ(full.second.compare(0, last.second.size(), last.second), 0);
    EXPECT_GE(std::stoull(got.back().first, nullptr, 16) + got.back().second.size(),
              (2u << 20) - 4096);
}

TEST(Scan, FilesThatChangeWhileScannedGiveAListingOfWhatWasThere) {
    const std::string data = LargeSample(2 << 20);
    {
        // Cut to half after the first reads: the rows before the cut are the file's own.
        auto src = std::make_unique<MemorySource>(data);
        src->m_onRead = [](std::string& d, int n) {
            if (n == 3)
                d.resize(d.size() / 2);
        };
        CFile f;
        f.OpenSource(std::move(src));
        Listing listing;
        ScanFile(f, 10, listing);
        std::vector<ListingRow> got = RowsOf(listing);
        ASSERT_FALSE(got.empty());
        for (const ListingRow& r : got) {
            const size_t at = std::stoull(r.first, nullptr, 16);
            ASSERT_LT(at + r.second.size(), data.size() / 2 + 1);
            ASSERT_EQ(data.substr(at, r.second.size()), r.second);
        }
    }
    // A file that grows while it is scanned is read as it was when opened; so is one that
    // was empty or nearly so: size 0 is empty on an ordinary disk.
    TempDir dir;
    const std::string path = dir.Path("growing.log");
    for (const std::string& start : {data.substr(0, 100000), std::string(), std::string("x")}) {
        WriteFileBytes(path, start);
        CFile f;
        ASSERT_TRUE(f.Open(path.c_str(), CFile::modeRead));
        int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
        std::string more(500000, 'G');
        ASSERT_EQ(::write(fd, more.data(), more.size()), static_cast<ssize_t>(more.size()));
        ::close(fd);
        Listing listing;
        ScanFile(f, 10, listing);
        EXPECT_EQ(RowsOf(listing), ListingOf(start, 10)) << start.size() << " bytes at first";
    }
}

// Zeros, with a few texts at chosen offsets, of any size without holding it in memory.
class SparseSource : public CFile::Source {
public:
    SparseSource(ULONGLONG size, std::vector<std::pair<ULONGLONG, std::string>> texts)
        : m_size(size), m_texts(std::move(texts)) {}
    long ReadAt(ULONGLONG offset, BYTE* buf, size_t n) override {
        if (offset >= m_size)
            return 0;
        n = static_cast<size_t>(std::min<ULONGLONG>(n, m_size - offset));
        std::memset(buf, 0, n);
        for (const auto& t : m_texts)
            for (size_t i = 0; i < t.second.size(); ++i)
                if (t.first + i >= offset && t.first + i < offset + n)
                    buf[t.first + i - offset] = static_cast<BYTE>(t.second[i]);
        return static_cast<long>(n);
    }

private:
    ULONGLONG m_size;
    std::vector<std::pair<ULONGLONG, std::string>> m_texts;
};

TEST(Scan, OffsetsBeyondFourGigabytesAreExact) {
    const ULONGLONG fourGiB = ULONGLONG(1) << 32;
    CFile f;
    f.OpenSource(std::make_unique<SparseSource>(
        fourGiB + 8192,
        std::vector<std::pair<ULONGLONG, std::string>>{{0xFFFFFFF0ull, "across the 4 GiB line"},
                                                       {fourGiB + 0x10, "well past 4 GiB"}}));
    Listing listing;
    ScanFile(f, 10, listing);
    EXPECT_EQ(RowsOf(listing), std::vector<ListingRow>({{"FFFFFFF0", "across the 4 GiB line"},
                                                        {"100000010", "well past 4 GiB"}}));
}

TEST(Scan, ExtremeMinimumsOnEmptyTinyAndLargeFiles) {
    TempDir dir;
    const std::string large = LargeSample(3 << 20);
    const std::vector<std::string> files = {"", "x", "0123456789", large};
    for (size_t i = 0; i < files.size(); ++i) {
        std::string path = dir.Write("f" + std::to_string(i), files[i]);
        for (int m : {INT_MIN, -1, 0, 4095, 4096, INT_MAX}) {
            CFile f;
            ASSERT_TRUE(f.Open(path.c_str(), CFile::modeRead));
            Listing listing;
            ScanFile(f, m, listing);
            EXPECT_EQ(RowsOf(listing), ListingOf(files[i], m)) << "file " << i << " minimum " << m;
        }
    }
}

} // namespace
