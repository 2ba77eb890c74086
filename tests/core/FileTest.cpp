// Files: errors and their texts, reads in blocks, writes that replace a file only when
// complete.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <optional>
#include <random>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <thread>
#include <type_traits>
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

// The hooks a test sets, taken off again when it ends however it ends.
struct StepHook {
    explicit StepHook(std::function<int(CFile::WriteStep)> hook) {
        CFile::SetStepHook(std::move(hook));
    }
    ~StepHook() { CFile::SetStepHook(nullptr); }
};
struct NamedTemporaries {
    NamedTemporaries() { CFile::SetUnnamedTemporaries(false); }
    ~NamedTemporaries() { CFile::SetUnnamedTemporaries(true); }
};

// A file with a second hard link, so that it is written in place; its other name is
// target + ".twin".
std::string HardLinked(const TempDir& dir, const std::string& name, const std::string& bytes) {
    const std::string target = dir.Write(name, bytes);
    const std::string twin = target + ".twin";
    EXPECT_EQ(::link(target.c_str(), twin.c_str()), 0);
    return target;
}

ino_t InodeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_ino;
}

// Writes bytes to path as an export does: Open, Write, Close. The error Close (or Write)
// threw, or none.
std::optional<CFileException> Export(const std::string& path, const std::string& bytes) {
    CFile f;
    CFileException open;
    if (!f.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite, &open))
        return open;
    try {
        f.Write(bytes.data(), static_cast<UINT>(bytes.size()));
        f.Close();
    } catch (const CFileException& e) {
        return e;
    }
    return std::nullopt;
}

TEST(InPlace, AFullDiskLeavesTheTargetByteIdentical) {
    GTEST_FLAG_SET(death_test_style, "fast");
    TempDir dir;
    const std::string old = "the user's old listing, " + std::string(9000, 'o') + "\n";
    const std::string target = HardLinked(dir, "out.txt", old);
    const ino_t ino = InodeOf(target);
    const std::string rows(3 << 20, 'r');
    // In a child of its own, whose files may grow no larger than 5000 bytes (SIGXFSZ
    // ignored, so that a write across the limit fails as on a full disk).
    auto exportOnAFullDisk = [&] {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit r{};
        ::getrlimit(RLIMIT_FSIZE, &r);
        r.rlim_cur = 5000;
        ::setrlimit(RLIMIT_FSIZE, &r);
        const std::optional<CFileException> e = Export(target, rows);
        if (!e) {
            std::fprintf(stderr, "the full disk was not reported\n");
            std::_Exit(1);
        }
        const std::string said = e->GetErrorMessage().Str();
        std::fprintf(stderr, "%s\n", said.c_str());
        std::_Exit(said == "Disk full while accessing " + target + "." ? 0 : 2);
    };
    EXPECT_EXIT(exportOnAFullDisk(), ::testing::ExitedWithCode(0), "Disk full while accessing");
    EXPECT_TRUE(ReadFileBytes(target) == old);
    EXPECT_TRUE(ReadFileBytes(target + ".twin") == old);
    EXPECT_EQ(InodeOf(target), ino);
    EXPECT_EQ(Entries(dir.Dir()), std::vector<std::string>({"out.txt", "out.txt.twin"}));

    // With room, both names get the listing, shorter or longer than the old file.
    for (const std::string& listing : {std::string("short\r\n"), rows}) {
        EXPECT_FALSE(Export(target, listing));
        EXPECT_TRUE(ReadFileBytes(target + ".twin") == listing);
        EXPECT_EQ(InodeOf(target), ino);
    }
    EXPECT_EQ(Entries(dir.Dir()), std::vector<std::string>({"out.txt", "out.txt.twin"}));
}

TEST(InPlace, AnErrorAtAnyStepBeforeTheCopyLeavesTheTargetByteIdentical) {
    TempDir dir;
    const std::string old = "old content of the file written in place\n";
    const std::string target = HardLinked(dir, "out.txt", old);
    const std::string rows = ExportOf(ListingOf(LargeSample(2 << 20), 10));
    const std::pair<CFile::WriteStep, int> failures[] = {
        {CFile::WriteStep::written, EIO},
        {CFile::WriteStep::reserved, ENOSPC},
        {CFile::WriteStep::copying, EIO},
    };
    for (const auto& [step, err] : failures) {
        std::vector<CFile::WriteStep> seen;
        StepHook hook([&, step = step, err = err](CFile::WriteStep at) {
            seen.push_back(at);
            return at == step ? err : 0;
        });
        const std::optional<CFileException> e = Export(target, rows);
        ASSERT_TRUE(e);
        EXPECT_EQ(e->m_cause, CFileException::OsErrorToCause(err));
        EXPECT_EQ(e->m_strFileName, target.c_str());
        EXPECT_EQ(seen.back(), step);
        EXPECT_TRUE(ReadFileBytes(target) == old);
        EXPECT_TRUE(ReadFileBytes(target + ".twin") == old);
        EXPECT_EQ(Entries(dir.Dir()), std::vector<std::string>({"out.txt", "out.txt.twin"}));
    }

    // Abandoned before Close, the target stays as it was too.
    {
        CFile f;
        ASSERT_TRUE(f.Open(target.c_str(), CFile::modeCreate | CFile::modeWrite));
        EXPECT_TRUE(f.CanAbandon());
        f.Write(rows.data(), static_cast<UINT>(rows.size()));
        f.Abort();
        EXPECT_TRUE(ReadFileBytes(target) == old);
    }
    // So does one that goes out of scope unclosed.
    {
        CFile f;
        ASSERT_TRUE(f.Open(target.c_str(), CFile::modeCreate | CFile::modeWrite));
        f.Write(rows.data(), static_cast<UINT>(rows.size()));
    }
    EXPECT_TRUE(ReadFileBytes(target) == old);

    // No place for the temporary file (named through /dev/fd, it goes to $TMPDIR, here a
    // folder that does not exist): the open fails, nothing touched.
    {
        const char* had = std::getenv("TMPDIR");
        const std::string saved = had ? had : "";
        ::setenv("TMPDIR", dir.Path("nowhere").c_str(), 1);
        const int fd = ::open(target.c_str(), O_RDONLY);
        CFile f;
        CFileException e;
        EXPECT_FALSE(f.Open(("/dev/fd/" + std::to_string(fd)).c_str(),
                            CFile::modeCreate | CFile::modeWrite, &e));
        EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
        ::close(fd);
        if (had)
            ::setenv("TMPDIR", saved.c_str(), 1);
        else
            ::unsetenv("TMPDIR");
        EXPECT_TRUE(ReadFileBytes(target) == old);
    }

    // The steps come in order, and a failure in the copy itself is reported naming the
    // target: only then can the target be cut short.
    std::vector<CFile::WriteStep> seen;
    std::optional<FileSizeLimit> limit;
    {
        StepHook hook([&](CFile::WriteStep at) {
            seen.push_back(at);
            if (at == CFile::WriteStep::copying)
                limit.emplace(1000);
            return 0;
        });
        const std::optional<CFileException> e = Export(target, rows);
        limit.reset();
        ASSERT_TRUE(e);
        EXPECT_EQ(e->GetErrorMessage().Str(), "Disk full while accessing " + target + ".");
    }
    EXPECT_EQ(seen,
              std::vector<CFile::WriteStep>({CFile::WriteStep::written, CFile::WriteStep::reserved,
                                             CFile::WriteStep::copying}));
    seen.clear();
    {
        StepHook hook([&](CFile::WriteStep at) {
            seen.push_back(at);
            return 0;
        });
        EXPECT_FALSE(Export(target, rows));
    }
    EXPECT_EQ(seen,
              std::vector<CFile::WriteStep>({CFile::WriteStep::written, CFile::WriteStep::reserved,
                                             CFile::WriteStep::copying, CFile::WriteStep::copied}));
    EXPECT_TRUE(ReadFileBytes(target + ".twin") == rows);
}

TEST(InPlace, ATemporaryFileOnAnotherFileSystemIsCopiedAcross) {
    // Named through /dev/fd, the file's temporary file goes to $TMPDIR: here one on another
    // file system (of another type, so that the system will not copy between them itself).
    TempDir dir;
    struct stat here {
    }, shm{};
    ASSERT_EQ(::stat(dir.Dir().c_str(), &here), 0);
    if (::stat("/dev/shm", &shm) != 0 || shm.st_dev == here.st_dev ||
        ::access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no other file system to put the temporary file on";
    const std::string target = dir.Write("out.txt", std::string(5 << 20, 'o'));
    const std::string rows = ExportOf(ListingOf(LargeSample(3 << 20), 10));
    const char* had = std::getenv("TMPDIR");
    const std::string saved = had ? had : "";
    ::setenv("TMPDIR", "/dev/shm", 1);
    const int fd = ::open(target.c_str(), O_RDONLY);
    EXPECT_FALSE(Export("/dev/fd/" + std::to_string(fd), rows));
    ::close(fd);
    if (had)
        ::setenv("TMPDIR", saved.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
    EXPECT_TRUE(ReadFileBytes(target) == rows);
}

TEST(InPlace, ADiskWithoutRoomForTheNewSizeRefusesBeforeTheTargetChanges) {
    // A file system of 2 MB of its own: only the superuser may make one.
    TempDir dir;
    const std::string mnt = dir.Path("small");
    ASSERT_EQ(::mkdir(mnt.c_str(), 0700), 0);
    if (::geteuid() != 0 || ::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=2m") != 0)
        GTEST_SKIP() << "no tmpfs of 2 MB could be mounted here";
    struct Unmount {
        std::string at;
        ~Unmount() { ::umount(at.c_str()); }
    } unmount{mnt};
    const std::string old = "the old listing\n";
    const std::string target = mnt + "/out.txt";
    WriteFileBytes(target, old);
    ASSERT_EQ(::link(target.c_str(), (mnt + "/twin.txt").c_str()), 0);
    // 1.2 MB: its temporary file fits, but not the room the target then needs as well.
    const std::string rows(1200 << 10, 'r');
    const std::optional<CFileException> e = Export(target, rows);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->GetErrorMessage().Str(), "Disk full while accessing " + target + ".");
    EXPECT_TRUE(ReadFileBytes(mnt + "/twin.txt") == old);
    EXPECT_EQ(Entries(mnt), std::vector<std::string>({"out.txt", "twin.txt"}));
    // Half of that fits twice.
    const std::string fewer(600 << 10, 'f');
    EXPECT_FALSE(Export(target, fewer));
    EXPECT_TRUE(ReadFileBytes(mnt + "/twin.txt") == fewer);
}

TEST(InPlace, AFailedReservationGivesItsRoomBack) {
    // On ext4 a reservation cut short by a full disk keeps what it took past the file's end;
    // an image of 8 MB mounted through a loop device, as only the superuser may.
    TempDir dir;
    const std::string image = dir.Path("ext4.img"), mnt = dir.Path("ext4");
    ASSERT_EQ(::mkdir(mnt.c_str(), 0700), 0);
    const std::string make = "truncate -s 8M " + image + " && mkfs.ext4 -q -F " + image +
                             " >/dev/null 2>&1 && mount -o loop " + image + " " + mnt +
                             " 2>/dev/null";
    if (::geteuid() != 0 || std::system(make.c_str()) != 0)
        GTEST_SKIP() << "no ext4 image could be mounted here";
    struct Unmount {
        std::string at;
        ~Unmount() { std::system(("umount " + at + " 2>/dev/null").c_str()); }
    } unmount{mnt};
    const std::string old(10000, 'o');
    const std::string target = mnt + "/out.txt";
    WriteFileBytes(target, old);
    ASSERT_EQ(::link(target.c_str(), (mnt + "/twin.txt").c_str()), 0);
    struct statvfs before {};
    ASSERT_EQ(::statvfs(mnt.c_str(), &before), 0);
    // Room for the temporary file, not for it and the target's new size as well.
    const std::string rows(static_cast<size_t>(before.f_bavail * before.f_frsize * 2 / 3), 'r');
    ASSERT_TRUE(Export(target, rows));
    EXPECT_TRUE(ReadFileBytes(target) == old);
    struct statvfs after {};
    ASSERT_EQ(::statvfs(mnt.c_str(), &after), 0);
    // A block or two may go to the folder's own bookkeeping; the reservation was thousands.
    EXPECT_LE(before.f_bfree - after.f_bfree, 16u) << "blocks kept";
}

TEST(ExportKilled, AFileWrittenInPlaceIsOldUntilTheFinalCopy) {
    GTEST_FLAG_SET(death_test_style, "fast"); // the child writes to this test's files
    TempDir dir;
    const std::string old = "old content\n";
    const std::string listing = ExportOf(ListingOf(LargeSample(8 << 20), 10));
    for (bool unnamed : {true, false}) {
        const std::string target = HardLinked(dir, "out.txt", old);
        // Killed at each step: before the copy the target is old; after it, complete (the
        // listing is longer than the old file, so nothing of it is left to cut off).
        for (CFile::WriteStep step : {CFile::WriteStep::written, CFile::WriteStep::reserved,
                                      CFile::WriteStep::copying, CFile::WriteStep::copied}) {
            auto exportThenDie = [&] {
                CFile::SetUnnamedTemporaries(unnamed);
                CFile::SetStepHook([step](CFile::WriteStep at) {
                    if (at == step)
                        std::raise(SIGKILL);
                    return 0;
                });
                Export(target, listing);
                std::_Exit(3);
            };
            EXPECT_EXIT(exportThenDie(), ::testing::KilledBySignal(SIGKILL), "");
            const std::string now = ReadFileBytes(target + ".twin");
            if (step == CFile::WriteStep::copied)
                EXPECT_TRUE(now == listing) << static_cast<int>(step);
            else
                EXPECT_TRUE(now == old) << static_cast<int>(step);
            // Not one temporary file left: a named one is removed as soon as it is made.
            EXPECT_EQ(Entries(dir.Dir()), std::vector<std::string>({"out.txt", "out.txt.twin"}));
            WriteFileBytes(target, old);
        }
        ::unlink(target.c_str());
        ::unlink((target + ".twin").c_str());
    }

    // Killed at any moment by another process: until the child said the copy begins, the
    // target is byte for byte the old one; afterwards it may be cut short, and once the
    // child ended it is complete.
    const std::string target = HardLinked(dir, "out.txt", old);
    for (int delayMs : {0, 1, 3, 10, 30, 60, 100, 200, 400, 2000}) {
        WriteFileBytes(target, old);
        int report[2];
        ASSERT_EQ(::pipe(report), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(report[0]);
            CFile::SetStepHook([&](CFile::WriteStep at) {
                const char c = static_cast<char>('0' + static_cast<int>(at));
                if (::write(report[1], &c, 1) != 1)
                    std::_Exit(4);
                return 0;
            });
            std::_Exit(Export(target, listing) ? 1 : 0);
        }
        ::close(report[1]);
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        std::string steps;
        char buf[16];
        for (ssize_t n; (n = ::read(report[0], buf, sizeof buf)) > 0;)
            steps.append(buf, static_cast<size_t>(n));
        ::close(report[0]);
        const std::string now = ReadFileBytes(target + ".twin");
        const bool copyBegun = steps.find('2') != std::string::npos;
        if (WIFEXITED(status)) {
            EXPECT_EQ(WEXITSTATUS(status), 0);
            EXPECT_TRUE(now == listing) << delayMs;
        } else if (!copyBegun) {
            EXPECT_TRUE(now == old) << delayMs << " ms, steps " << steps;
        }
        EXPECT_EQ(Entries(dir.Dir()), std::vector<std::string>({"out.txt", "out.txt.twin"}));
    }
}

// The mode of every file that the process holds open in folder, other than the names given.
std::vector<unsigned> ModesOfOpenFilesIn(const std::string& folder,
                                         const std::vector<std::string>& except) {
    std::vector<unsigned> modes;
    DIR* d = ::opendir("/proc/self/fd");
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        const std::string link = std::string("/proc/self/fd/") + e->d_name;
        char to[4096];
        const ssize_t n = ::readlink(link.c_str(), to, sizeof to - 1);
        if (n <= 0)
            continue;
        const std::string where(to, static_cast<size_t>(n));
        if (where.compare(0, folder.size() + 1, folder + "/") != 0 ||
            std::find(except.begin(), except.end(), where) != except.end())
            continue;
        struct stat st {};
        if (::stat(link.c_str(), &st) == 0)
            modes.push_back(st.st_mode & 07777);
    }
    ::closedir(d);
    return modes;
}

TEST(TemporaryFiles, AreTheUsersAloneUntilComplete) {
    TempDir dir;
    const std::string rows(3 << 20, 'r');
    const mode_t mask = ::umask(022);
    for (bool unnamed : {true, false}) {
        CFile::SetUnnamedTemporaries(unnamed);
        // A replacement over a 0640 file: 0600 while written, 0640 once it is the file.
        const std::string target = dir.Write("secret.txt", "secret\n");
        ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
        {
            CFile f;
            ASSERT_TRUE(f.Open(target.c_str(), CFile::modeCreate | CFile::modeWrite));
            f.Write(rows.data(), static_cast<UINT>(rows.size()));
            // Unnamed, the replacement is seen among the open files; named, in the folder.
            EXPECT_EQ(ModesOfOpenFilesIn(dir.Dir(), {target}), std::vector<unsigned>({0600}));
            const std::vector<std::string> names = Entries(dir.Dir());
            EXPECT_EQ(names.size(), unnamed ? 1u : 2u);
            for (const std::string& name : names) {
                struct stat st {};
                ASSERT_EQ(::stat(dir.Path(name).c_str(), &st), 0);
                EXPECT_EQ(st.st_mode & 07777, name == "secret.txt" ? 0640u : 0600u) << name;
            }
            f.Close();
        }
        struct stat st {};
        ASSERT_EQ(::stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        EXPECT_TRUE(ReadFileBytes(target) == rows);

        // Written in place, the temporary file is 0600 too, and has no name.
        ASSERT_EQ(::link(target.c_str(), dir.Path("twin").c_str()), 0);
        {
            CFile f;
            ASSERT_TRUE(f.Open(target.c_str(), CFile::modeCreate | CFile::modeWrite));
            f.Write(rows.data(), static_cast<UINT>(rows.size()));
            EXPECT_EQ(ModesOfOpenFilesIn(dir.Dir(), {target}), std::vector<unsigned>({0600}));
            EXPECT_EQ(Entries(dir.Dir()), std::vector<std::string>({"secret.txt", "twin"}));
            f.Close();
        }
        ::unlink(dir.Path("twin").c_str());

        // A new file gets what a plain create gives: 0666 less the umask.
        for (mode_t m : {mode_t(027), mode_t(0), mode_t(077)}) {
            ::umask(m);
            const std::string fresh = dir.Path("fresh.txt");
            EXPECT_FALSE(Export(fresh, rows));
            ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0666u & ~m) << std::oct << m;
            ::unlink(fresh.c_str());
        }
        ::umask(022);
        ::unlink(target.c_str());
    }
    CFile::SetUnnamedTemporaries(true);
    ::umask(mask);
}

TEST(ExportKilled, LeavesANamedReplacementReadableByTheUserAlone) {
    GTEST_FLAG_SET(death_test_style, "fast");
    TempDir dir;
    const std::string target = dir.Write("secret.txt", "secret\n");
    ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
    const std::string rows(3 << 20, 'r');
    auto exportThenDie = [&] {
        CFile::SetUnnamedTemporaries(false);
        CFile f;
        if (!f.Open(target.c_str(), CFile::modeCreate | CFile::modeWrite))
            std::_Exit(3);
        f.Write(rows.data(), static_cast<UINT>(rows.size()));
        std::raise(SIGKILL);
    };
    EXPECT_EXIT(exportThenDie(), ::testing::KilledBySignal(SIGKILL), "");
    const std::vector<std::string> names = Entries(dir.Dir());
    ASSERT_EQ(names.size(), 2u);
    for (const std::string& name : names) {
        struct stat st {};
        ASSERT_EQ(::stat(dir.Path(name).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u) << name;
    }
    EXPECT_EQ(ReadFileBytes(target), "secret\n");
}

// A stop check is only ever handed to a call: it cannot be copied to be kept, nor made from
// a check that ends with the statement.
struct NeverStop {
    bool operator()() const { return false; }
};
static_assert(std::is_constructible_v<StopCheck, NeverStop&>);
static_assert(std::is_constructible_v<StopCheck, const NeverStop&>);
static_assert(!std::is_constructible_v<StopCheck, NeverStop&&>);
static_assert(!std::is_constructible_v<StopCheck, const NeverStop&&>);
static_assert(!std::is_copy_constructible_v<StopCheck>);
static_assert(!std::is_move_constructible_v<StopCheck>);

// Reads what a pipe holds now; its end for reading does not wait.
std::string TakeWhatIsThere(int readEnd) {
    std::string got;
    char buf[65536];
    for (ssize_t n; (n = ::read(readEnd, buf, sizeof buf)) > 0;)
        got.append(buf, static_cast<size_t>(n));
    return got;
}

TEST(Pipes, AWriteGivenUpOnAFullPipeKeepsItsPlace) {
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    const std::string named = "/dev/fd/" + std::to_string(ends[1]);
    const std::string bytes = LargeSample(3 << 20);
    const auto size = static_cast<UINT>(bytes.size());
    int looks = 0;
    auto giveUp = [&] { return ++looks > 0; };

    // Nobody reads: the write and then Close give up at their first look.
    CFile f;
    ASSERT_TRUE(f.Open(named.c_str(), CFile::modeCreate | CFile::modeWrite));
    EXPECT_THROW(f.Write(bytes.data(), size, giveUp), CFile::WriteAbandoned);
    EXPECT_EQ(looks, 1);
    const ULONGLONG taken = f.GetPosition();
    ASSERT_GT(taken, 0u);
    ASSERT_LT(taken, bytes.size());
    EXPECT_THROW(f.Close(giveUp), CFile::WriteAbandoned);
    EXPECT_EQ(looks, 2);

    // A reader comes: the rest goes out after what was taken, each byte once.
    std::string got;
    std::thread reader([&] {
        char buf[65536];
        for (ssize_t n; (n = ::read(ends[0], buf, sizeof buf)) > 0;)
            got.append(buf, static_cast<size_t>(n));
    });
    NeverStop never;
    EXPECT_NO_THROW({
        f.Write(bytes.data() + taken, size - static_cast<UINT>(taken), never);
        f.Close(never);
    });
    f.Abort();
    ::close(ends[1]);
    reader.join();
    ::close(ends[0]);
    EXPECT_EQ(got.size(), bytes.size());
    EXPECT_TRUE(got == bytes);
}

TEST(Pipes, AFileLetGoWithBytesAFullPipeCannotTakeEndsAtOnce) {
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
    const std::string named = "/dev/fd/" + std::to_string(ends[1]);
    const std::string bytes = LargeSample(3 << 20);
    // Should the end wait for a reader, one comes after a while, so that the test fails
    // rather than hangs.
    std::atomic<bool> ended{false}, rescued{false};
    std::thread rescue([&] {
        for (int i = 0; i < 200 && !ended; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        while (!ended) {
            rescued = true;
            TakeWhatIsThere(ends[0]);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    {
        CFile f;
        ASSERT_TRUE(f.Open(named.c_str(), CFile::modeCreate | CFile::modeWrite));
        auto giveUp = [] { return true; };
        EXPECT_THROW(f.Write(bytes.data(), static_cast<UINT>(bytes.size()), giveUp),
                     CFile::WriteAbandoned);
    }
    ended = true;
    rescue.join();
    EXPECT_FALSE(rescued);
    // The pipe holds the first bytes, in order.
    const std::string got = TakeWhatIsThere(ends[0]);
    EXPECT_GT(got.size(), 0u);
    EXPECT_TRUE(got == bytes.substr(0, got.size()));
    ::close(ends[0]);
    ::close(ends[1]);
}

TEST(FileIdentity, TellsFilesApartByBirthWhereTheFileSystemKeepsIt) {
    FileIdentity a, b;
    a.valid = b.valid = true;
    a.dev = b.dev = 5;
    a.ino = b.ino = 77;
    EXPECT_TRUE(a == b);
    a.hasBirth = b.hasBirth = true;
    a.birthSec = b.birthSec = 1000;
    a.birthNsec = 1;
    b.birthNsec = 2;
    EXPECT_FALSE(a == b);
    b.birthNsec = 1;
    EXPECT_TRUE(a == b);
    b.hasBirth = false; // a file system that keeps none: device and inode alone
    EXPECT_TRUE(a == b);
    b.ino = 78;
    EXPECT_FALSE(a == b);
    EXPECT_FALSE(FileIdentity() == FileIdentity());

    // A deleted file's inode number given to a new file in the same folder (ext4 does so at
    // once): where the file system keeps birth times, the new file is another file.
    TempDir dir;
    const std::string first = dir.Write("first", "1");
    CFile scanned;
    ASSERT_TRUE(scanned.Open(first.c_str(), CFile::modeRead));
    const FileIdentity was = scanned.GetIdentity();
    scanned.Close();
    EXPECT_TRUE(CFile::IdentityOf(first.c_str()) == was);
    ASSERT_TRUE(was.valid);
    // No path and no open file name no file, not the working folder.
    EXPECT_FALSE(CFile::IdentityOf("").valid);
    EXPECT_FALSE(CFile::IdentityOf(nullptr).valid);
    EXPECT_FALSE(scanned.GetIdentity().valid);
    // The birth time is taken wherever the file system tells it.
    struct statx stx {};
    ASSERT_EQ(::statx(AT_FDCWD, first.c_str(), 0, STATX_BTIME, &stx), 0);
    EXPECT_EQ(was.hasBirth, (stx.stx_mask & STATX_BTIME) != 0);
    bool reused = false;
    for (int i = 0; i < 20 && !reused; ++i) {
        // Birth times tick with the kernel's clock: the new file is born a tick later.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ::unlink(dir.Path("other").c_str());
        if (i == 0)
            ::unlink(first.c_str());
        const std::string other = dir.Write("other", "2");
        const FileIdentity now = CFile::IdentityOf(other.c_str());
        if (now.ino != was.ino)
            continue;
        reused = true;
        EXPECT_EQ(now.hasBirth, was.hasBirth);
        if (was.hasBirth)
            EXPECT_FALSE(now == was);
        else
            std::printf("no birth times here: a reused inode is taken for the old file\n");
    }
    if (!reused)
        std::printf("the inode number was not reused here\n");
}

TEST(CanonicalPath, APlaceIsItsFolderWhicheverWayItIsReached) {
    TempDir dir;
    const std::string doc = dir.Path("doc"), other = dir.Path("other");
    ASSERT_EQ(::mkdir(doc.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(other.c_str(), 0700), 0);
    const std::string notes = doc + "/notes.txt";
    WriteFileBytes(notes, "notes\n");
    EXPECT_NE(CFile::PlaceOf(notes.c_str()), "");
    EXPECT_EQ(CFile::PlaceOf(notes.c_str()), CFile::PlaceOf((other + "/../doc/notes.txt").c_str()));
    EXPECT_NE(CFile::PlaceOf(notes.c_str()), CFile::PlaceOf((other + "/notes.txt").c_str()));
    // The folder mounted a second time: another path, the same place.
    if (::geteuid() != 0 || ::mount(doc.c_str(), other.c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "no bind mount could be made here";
    const std::string alias = other + "/notes.txt";
    EXPECT_NE(CFile::CanonicalPath(alias.c_str()), CFile::CanonicalPath(notes.c_str()));
    EXPECT_EQ(CFile::PlaceOf(alias.c_str()), CFile::PlaceOf(notes.c_str()));
    ::unlink(notes.c_str()); // gone, the place stays
    EXPECT_EQ(CFile::PlaceOf(alias.c_str()), CFile::PlaceOf(notes.c_str()));
    ::umount(other.c_str());
}

TEST(CanonicalPath, NamesThePlaceWhetherOrNotAFileIsThere) {
    TempDir dir;
    // TempDir's folder may itself lie behind a link: compare with its own place.
    const std::string root = CFile::CanonicalPath(dir.Dir().c_str());
    ASSERT_FALSE(root.empty());
    ASSERT_EQ(::mkdir(dir.Path("doc").c_str(), 0700), 0);
    const std::string notes = dir.Write("doc/notes.txt", "x");
    ASSERT_EQ(::symlink("doc", dir.Path("docs").c_str()), 0);
    ASSERT_EQ(::symlink("doc/notes.txt", dir.Path("link").c_str()), 0);
    ASSERT_EQ(::symlink("doc/later.txt", dir.Path("dangling").c_str()), 0);
    EXPECT_EQ(CFile::CanonicalPath(notes.c_str()), root + "/doc/notes.txt");
    EXPECT_EQ(CFile::CanonicalPath(dir.Path("docs/../doc//notes.txt").c_str()),
              root + "/doc/notes.txt");
    EXPECT_EQ(CFile::CanonicalPath(dir.Path("link").c_str()), root + "/doc/notes.txt");
    // Names not yet taken: the folder's place and the name, the links to them followed.
    EXPECT_EQ(CFile::CanonicalPath(dir.Path("docs/new.txt").c_str()), root + "/doc/new.txt");
    EXPECT_EQ(CFile::CanonicalPath(dir.Path("dangling").c_str()), root + "/doc/later.txt");
    EXPECT_EQ(CFile::CanonicalPath("/nonexistent-tarnwick/x.txt"), "");
    EXPECT_EQ(CFile::CanonicalPath(""), "");
    EXPECT_EQ(CFile::CanonicalPath(dir.Path("doc/").c_str()), root + "/doc");
}

} // namespace
