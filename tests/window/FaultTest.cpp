// Bad input and failing files: what the user sees, and that nothing listed or written is lost.
#include <climits>
#include <fcntl.h>
#include <random>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "FileDialog.h"
#include "ListingRule.h"
#include "MemorySource.h"
#include "PromptDlg.h"
#include "ScanDlgAccess.h"
#include "WindowSupport.h"
#include "resource.h"

namespace {

std::vector<ListingRow> Rows(const CScanDlg& dlg) {
    return RowsOf(List(dlg).Rows());
}

class WindowFaults : public SeamTest {};

TEST_F(WindowFaults, SpecialFilesFailAtOnceOrListTheirContent) {
    TempDir dir;
    std::string sock = dir.Path("sock");
    int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, sock.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    std::string fifo = dir.Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string broken = dir.Path("broken");
    ASSERT_EQ(::symlink(dir.Path("nowhere").c_str(), broken.c_str()), 0);
    std::vector<std::string> failing = {sock,        fifo,        broken,
                                        "/dev/null", "/dev/zero", "/dev/tty",
                                        dir.Dir(),   "",          std::string(4095, 'x')};
    for (const char* block : {"/dev/vda", "/dev/sda", "/dev/loop0", "/dev/nvme0n1"})
        if (::access(block, F_OK) == 0)
            failing.push_back(block);

    // A real file at the end of a path of about 4000 bytes, and a name that is not UTF-8.
    std::string deep = dir.Deep(3800, 200);
    const std::string content("\x01long path file content\x02", 25);
    std::string longPath = deep + "/f.bin";
    WriteFileBytes(longPath, content);
    std::string oddName = dir.Write("odd-\xff\xfe.bin", content);

    WithScanDlg([&](CScanDlg& dlg) {
        OpenAndScan(dlg, oddName);
        ASSERT_EQ(List(dlg).GetItemCount(), 1);
        EXPECT_EQ(ExportName(dlg), dir.Path("odd-\xff\xfe.txt").c_str());
        for (const std::string& path : failing) {
            OpenAndScan(dlg, path);
            EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Unable to open filel") << path;
            EXPECT_EQ(List(dlg).GetItemCount(), 1) << path;
        }
        OpenAndScan(dlg, longPath);
        EXPECT_EQ(Rows(dlg), ListingOf(content, 10));

        // Files that report no size are read to their end.
        SetMinLength(dlg, 1);
        OpenAndScan(dlg, "/proc/self/cmdline");
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Done");
        EXPECT_EQ(Rows(dlg), ListingOf(ReadFileBytes("/proc/self/cmdline"), 1));
        EXPECT_GT(List(dlg).GetItemCount(), 0);
        // One that never ends is read no further than a bound.
        OpenAndScan(dlg, "/proc/self/pagemap");
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Done");
    });
    ::close(s);
}

TEST_F(WindowFaults, ExportTargetsThatCannotBeWrittenSayWhy) {
    TempDir dir;
    const std::string content("\x01"
                              "first run of text\x01"
                              "second run of text\x01",
                              38);
    std::string scanned = dir.Write("input.bin", content);
    WithScanDlg([&](CScanDlg& dlg) {
        OpenAndScan(dlg, scanned);
        auto exportTo = [&](const std::string& target) {
            ModalSeam::ExpectFileDialog(
                [=](const FileDialogRequest&) { return std::optional<CString>(target.c_str()); });
            dlg.SendCommand(ID_EXPORT_ALL);
        };
        for (const std::string& bad : {dir.Dir(), std::string("/proc/tarnwick-export.txt"),
                                       std::string("/sys/tarnwick-export.txt")}) {
            exportTo(bad);
            EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Unable to open file") << bad;
        }
        if (::geteuid() != 0) {
            // A folder the user may not write in (the superuser may write anywhere).
            std::string ro = dir.Path("ro");
            ASSERT_EQ(::mkdir(ro.c_str(), 0700), 0);
            std::string inside = dir.Write("ro/listing.txt", "old");
            ASSERT_EQ(::chmod(ro.c_str(), 0500), 0);
            exportTo(ro + "/x.txt");
            EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Unable to open file");
            // A file there the user may write is written in place.
            exportTo(inside);
            EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Done");
            EXPECT_EQ(ReadFileBytes(inside), "000001\tfirst run of text\r\n"
                                             "000013\tsecond run of text\r\n");
            ASSERT_EQ(::chmod(ro.c_str(), 0700), 0);
        }
    });
}

// Runs the real program with the environment given; its exit status and what it wrote to
// standard error.
std::pair<int, std::string> RunProgram(const std::vector<std::string>& env) {
    int err[2];
    if (::pipe(err) != 0)
        return {-1, ""};
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(err[1], 2);
        ::close(err[0]);
        std::vector<char*> envp;
        for (const std::string& e : env)
            envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        char* argv[] = {const_cast<char*>(TARNWICK_EXE), nullptr};
        ::execve(TARNWICK_EXE, argv, envp.data());
        ::_exit(127);
    }
    ::close(err[1]);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(err[0], buf, sizeof buf)) > 0;)
        text.append(buf, static_cast<size_t>(n));
    ::close(err[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), text};
}

TEST(WindowStartup, WithoutADisplayOneLineAndStatusOne) {
    const std::string home =
        std::string("HOME=") + (std::getenv("HOME") ? std::getenv("HOME") : "/");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{home}, "tarnwick: cannot show its window: no display (DISPLAY is not set)\n"},
        {{home, "DISPLAY=:4711"},
         "tarnwick: cannot show its window: the display \":4711\" cannot be opened\n"},
    };
    for (const auto& c : cases) {
        auto [status, text] = RunProgram(c.first);
        EXPECT_EQ(status, 1) << text;
        EXPECT_EQ(text, c.second);
    }
}

} // namespace
