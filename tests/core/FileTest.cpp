// Files: errors and their texts, reads in blocks, writes that replace a file only when
// complete.
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
