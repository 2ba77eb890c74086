// Files and what the scan makes of them when they fail or change, the writing of rows, and
// find and mark: the core alone, no window.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <random>
#include <sys/resource.h>
#include <unistd.h>

#include "ListingRule.h"
#include "MemorySource.h"
#include "Results.h"
#include "Scan.h"
#include "TestSupport.h"

namespace {

TEST(FileException, EveryCauseHasItsTextAndErrnoMapsToIt) {
    const char* const texts[] = {
        "No error occurred.",
        "An unknown error occurred while accessing /x/y.",
        "/x/y was not found.",
        "/x/y contains an invalid path.",
        "/x/y could not be opened because there are too many open files.",
        "Access to /x/y was denied.",
        "An invalid file handle was associated with /x/y.",
        "/x/y could not be removed because it is the current directory.",
        "/x/y could not be created because the directory is full.",
        "Seek failed on /x/y",
        "A hardware I/O error was reported while accessing /x/y.",
        "A sharing violation occurred while accessing /x/y.",
        "A locking violation occurred while accessing /x/y.",
        "Disk full while accessing /x/y.",
        "An attempt was made to access /x/y past its end.",
    };
    for (int cause = 0; cause < 15; ++cause)
        EXPECT_EQ(CFileException(cause, 0, "/x/y").GetErrorMessage(), texts[cause]);
    EXPECT_EQ(CFileException(CFileException::hardIO).GetErrorMessage(),
              "A hardware I/O error was reported while accessing an unnamed file.");
    const std::pair<int, int> map[] = {{ENOENT, 2},  {ENOTDIR, 3}, {EMFILE, 4}, {EACCES, 5},
                                       {EPERM, 5},   {EBADF, 6},   {EIO, 10},   {ENOSPC, 13},
                                       {EDQUOT, 13}, {EINVAL, 1},  {EAGAIN, 1}};
    for (const auto& m : map)
        EXPECT_EQ(CFileException::OsErrorToCause(m.first), m.second) << m.first;
}

TEST(File, BufferedReadsAndSeeksReadTheFileAsItIs) {
    TempDir dir;
    std::mt19937 rng(7);
    std::string data(3u << 20, '\0');
    for (char& c : data)
        c = static_cast<char>(rng());
    std::string path = dir.Write("data", data);
    CFile f;
    ASSERT_TRUE(f.Open(path.c_str(), CFile::modeRead | CFile::typeBinary));
    std::uniform_int_distribution<size_t> pos(0, data.size() + 100);
    std::uniform_int_distribution<UINT> count(0, 9000);
    for (int i = 0; i < 2000; ++i) {
        size_t p = pos(rng);
        UINT n = count(rng);
        f.Seek(static_cast<LONGLONG>(p));
        const BYTE* v;
        const UINT r = f.ReadView(&v, n);
        const std::string got(reinterpret_cast<const char*>(v), r);
        size_t expect = p >= data.size() ? 0 : std::min<size_t>(n, data.size() - p);
        ASSERT_EQ(r, expect);
        ASSERT_EQ(got.substr(0, r), data.substr(std::min(p, data.size()), r));
        ASSERT_EQ(f.GetPosition(), p + r);
    }
    EXPECT_THROW(f.Seek(-1), CFileException);
    f.Close();

    // Bytes before a read error are handed out first; the error comes with the next read.
    auto src = std::make_unique<MemorySource>(data);
    src->m_failAt = 5000;
    CFile failing;
    failing.OpenSource(std::move(src));
    const BYTE* v;
    ASSERT_EQ(failing.ReadView(&v, 8000), 5000u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(v), 5000), data.substr(0, 5000));
    EXPECT_THROW(failing.ReadView(&v, 8000), CFileException);
    CFileException e;
    EXPECT_FALSE(f.Open(dir.Path("nothing").c_str(), CFile::modeRead, &e));
    EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
}

TEST(File, WritesGoOutInOrder) {
    TempDir dir;
    std::string path = dir.Path("out.txt");
    std::string expect;
    {
        CFile f;
        ASSERT_TRUE(f.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite));
        for (int i = 0; i < 50000; ++i) {
            std::string piece = std::to_string(i) + "\t";
            f.Write(piece.data(), static_cast<UINT>(piece.size()));
            expect += piece;
        }
        f.Close();
    }
    EXPECT_EQ(ReadFileBytes(path), expect);

    CFile dirFile;
    EXPECT_FALSE(dirFile.Open(dir.Dir().c_str(), CFile::modeCreate | CFile::modeWrite));
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

TEST(Results, FindMarksContainingRowsIgnoringCaseAndOnlyAdds) {
    Listing listing;
    for (const char* text : {"Hello World", "say hello", "HELL", "shell oil", "0000FF"})
        listing.Append("000000", 6, text, std::strlen(text));
    struct Case {
        const char* needle; // upper case, as the window hands it over
        bool found;
        std::vector<int> marked; // after this search, with those before
    };
    const Case cases[] = {
        {"HELLO", true, {0, 1}},      {"XYZ", false, {0, 1}},
        {"HELL", true, {0, 1, 2, 3}}, {"0000FF", true, {0, 1, 2, 3, 4}},
        {"", true, {0, 1, 2, 3, 4}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MarkRowsContaining(listing, c.needle), c.found) << c.needle;
        std::vector<int> marked;
        for (int i = 0; i < listing.Count(); ++i)
            if (listing.Marked(i))
                marked.push_back(i);
        EXPECT_EQ(marked, c.marked) << c.needle;
    }
    // Bytes above 0x7E and needles longer than any text find nothing.
    Listing fresh;
    fresh.Append("000000", 6, "some text", 9);
    EXPECT_FALSE(MarkRowsContaining(fresh, "SOME\xc2\xa0TEXT"));
    EXPECT_FALSE(MarkRowsContaining(fresh, CString(std::string(100000, 'T'))));
    EXPECT_EQ(fresh.MarkedCount(), 0);
}

TEST(Results, WriteRowsWritesAllOrTheMarkedOnes) {
    Listing listing;
    const std::string long1(4096, 'L');
    listing.Append("000003", 6, "Hello World", 11);
    listing.Append("00003D...", 9, long1.data(), long1.size());
    listing.Append("00103E", 6, "last one", 8);
    listing.SetMarked(1, true);
    TempDir dir;
    const std::string path = dir.Path("out.txt");
    for (bool all : {true, false}) {
        CFile f;
        ASSERT_TRUE(f.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite));
        WriteRows(listing, f, all);
        f.Close();
        const std::string marked = "00003D...\t" + long1 + "\r\n";
        EXPECT_EQ(ReadFileBytes(path),
                  all ? "000003\tHello World\r\n" + marked + "00103E\tlast one\r\n" : marked);
    }
}

TEST(File, AFailedWriteLeavesTheOldFileAsItWas) {
    TempDir dir;
    const std::string target = dir.Write("old.txt", "the user's old listing\n");
    const std::string rows(3 << 20, 'r');
    {
        // A disk that fills after 5000 bytes: the first write is cut short, the next fails.
        FileSizeLimit diskFull(5000);
        CFile f;
        ASSERT_TRUE(f.Open(target.c_str(), CFile::modeCreate | CFile::modeWrite));
        try {
            f.Write(rows.data(), static_cast<UINT>(rows.size()));
            f.Close();
            ADD_FAILURE() << "the full disk was not reported";
        } catch (const CFileException& e) {
            EXPECT_EQ(e.GetErrorMessage().Str(), "Disk full while accessing " + target + ".");
        }
    }
    EXPECT_EQ(ReadFileBytes(target), "the user's old listing\n");
    EXPECT_EQ(Entries(dir.Dir()), std::vector<std::string>({"old.txt"}));
}

TEST(ExportKilled, LeavesTheTargetOldOrComplete) {
    GTEST_FLAG_SET(death_test_style, "fast"); // the child writes to this test's files
    TempDir dir;
    const std::string target = dir.Write("out.txt", "old content\n");
    const std::string listing = ExportOf(ListingOf(LargeSample(8 << 20), 10));
    auto exportThenDie = [&](size_t bytes) {
        CFile f;
        if (!f.Open(target.c_str(), CFile::modeCreate | CFile::modeWrite))
            std::_Exit(3);
        f.Write(listing.data(), static_cast<UINT>(bytes));
        std::raise(SIGKILL);
    };
    // Killed with half the listing written, and with all of it written but not closed.
    EXPECT_EXIT(exportThenDie(listing.size() / 2), ::testing::KilledBySignal(SIGKILL), "");
    EXPECT_EXIT(exportThenDie(listing.size()), ::testing::KilledBySignal(SIGKILL), "");
    EXPECT_EQ(ReadFileBytes(target), "old content\n");
    EXPECT_EQ(Entries(dir.Dir()), std::vector<std::string>({"out.txt"}));

    CFile f;
    ASSERT_TRUE(f.Open(target.c_str(), CFile::modeCreate | CFile::modeWrite));
    f.Write(listing.data(), static_cast<UINT>(listing.size()));
    f.Close();
    EXPECT_EQ(ReadFileBytes(target), listing);
    EXPECT_EQ(Entries(dir.Dir()), std::vector<std::string>({"out.txt"}));
}

} // namespace
