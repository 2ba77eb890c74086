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
#include "ScanDlg.h"
#include "TestSupport.h"
#include "resource.h"

namespace {

std::vector<ListingRow> Rows(const CScanDlg& dlg) {
    std::vector<ListingRow> rows;
    for (int i = 0; i < dlg.m_list.GetItemCount(); ++i)
        rows.emplace_back(dlg.m_list.GetItemText(i, 0).Str(), dlg.m_list.GetItemText(i, 1).Str());
    return rows;
}

// A main window with a command that scans whatever file the test hands it.
class FaultDlg : public CScanDlg {
public:
    static constexpr UINT ID_SCAN_SOURCE = 40001;
    std::function<void(CFile&)> m_open;
    void OnScanSource() {
        CFile file;
        m_open(file);
        ScanOpenFile(file);
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(FaultDlg, CScanDlg)
ON_COMMAND(ID_SCAN_SOURCE, OnScanSource)
END_MESSAGE_MAP()

void WithFaultDlg(const std::function<void(FaultDlg&)>& body) {
    FaultDlg dlg;
    ModalSeam::ExpectDialog(IDD_SCAN_DIALOG, [&](CDialog&) {
        body(dlg);
        return IDCANCEL;
    });
    dlg.DoModal();
}

class Faults : public SeamTest {};

TEST_F(Faults, ReadErrorMidScanKeepsTheRowsListedSoFar) {
    const std::string data = LargeSample(3 << 20);
    const std::vector<ListingRow> all = ListingOf(data, 10);
    WithFaultDlg([&](FaultDlg& dlg) {
        dlg.m_open = [&](CFile& f) {
            auto src = std::make_unique<MemorySource>(data);
            src->m_failAt = 2 << 20;
            f.OpenSource(std::move(src));
        };
        ModalSeam::ExpectMessageBox(
            "A hardware I/O error was reported while accessing an unnamed file.",
            MB_OK | MB_ICONSTOP);
        dlg.SendCommand(FaultDlg::ID_SCAN_SOURCE);
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Scanning");
        std::vector<ListingRow> got = Rows(dlg);
        // Everything read before the failure is listed as a full scan lists it; the last
        // row may end where the readable bytes ended.
        ASSERT_GT(got.size(), all.size() / 2);
        ASSERT_LT(got.size(), all.size());
        EXPECT_TRUE(std::equal(got.begin(), got.end() - 1, all.begin()));
        const ListingRow& last = got.back();
        const ListingRow& full = all[got.size() - 1];
        EXPECT_EQ(last.first.substr(0, 6), full.first.substr(0, 6));
        EXPECT_EQ(full.second.compare(0, last.second.size(), last.second), 0);
        EXPECT_GE(std::stoull(got.back().first, nullptr, 16) + got.back().second.size(),
                  (2u << 20) - 4096);
    });
}

TEST_F(Faults, FilesThatChangeWhileScannedGiveAListingOfWhatWasThere) {
    const std::string data = LargeSample(2 << 20);
    WithFaultDlg([&](FaultDlg& dlg) {
        // Cut to half after the first reads: the rows before the cut are the file's own.
        dlg.m_open = [&](CFile& f) {
            auto src = std::make_unique<MemorySource>(data);
            src->m_onRead = [](std::string& d, int n) {
                if (n == 3)
                    d.resize(d.size() / 2);
            };
            f.OpenSource(std::move(src));
        };
        dlg.SendCommand(FaultDlg::ID_SCAN_SOURCE);
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Done");
        std::vector<ListingRow> got = Rows(dlg);
        ASSERT_FALSE(got.empty());
        for (const ListingRow& r : got) {
            const size_t at = std::stoull(r.first, nullptr, 16);
            ASSERT_LT(at + r.second.size(), data.size() / 2 + 1);
            ASSERT_EQ(data.substr(at, r.second.size()), r.second);
        }

        // A file that grows while it is scanned is read as it was when opened.
        TempDir dir;
        const std::string path = dir.Write("growing.log", data.substr(0, 100000));
        dlg.m_open = [&](CFile& f) {
            ASSERT_TRUE(f.Open(path.c_str(), CFile::modeRead));
            int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
            std::string more(500000, 'G');
            ASSERT_EQ(::write(fd, more.data(), more.size()), static_cast<ssize_t>(more.size()));
            ::close(fd);
        };
        dlg.SendCommand(FaultDlg::ID_SCAN_SOURCE);
        EXPECT_EQ(Rows(dlg), ListingOf(data.substr(0, 100000), 10));
        // So is one that was empty or nearly so: size 0 is empty on an ordinary disk.
        for (const char* start : {"", "x"}) {
            WriteFileBytes(path, start);
            dlg.SendCommand(FaultDlg::ID_SCAN_SOURCE);
            EXPECT_EQ(Rows(dlg), std::vector<ListingRow>()) << '"' << start << '"';
        }
    });
}

TEST_F(Faults, SpecialFilesFailAtOnceOrListTheirContent) {
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
        dlg.OpenAndScan(oddName.c_str());
        ASSERT_EQ(dlg.m_list.GetItemCount(), 1);
        EXPECT_EQ(dlg.m_strExportName, dir.Path("odd-\xff\xfe.txt").c_str());
        for (const std::string& path : failing) {
            dlg.OpenAndScan(path.c_str());
            EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Unable to open filel") << path;
            EXPECT_EQ(dlg.m_list.GetItemCount(), 1) << path;
        }
        dlg.OpenAndScan(longPath.c_str());
        EXPECT_EQ(Rows(dlg), ListingOf(content, 10));

        // Files that report no size are read to their end.
        dlg.m_nMinLength = 1;
        dlg.OpenAndScan("/proc/self/cmdline");
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Done");
        EXPECT_EQ(Rows(dlg), ListingOf(ReadFileBytes("/proc/self/cmdline"), 1));
        EXPECT_GT(dlg.m_list.GetItemCount(), 0);
        // One that never ends is read no further than a bound.
        dlg.OpenAndScan("/proc/self/pagemap");
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Done");
    });
    ::close(s);
}

TEST_F(Faults, ExportTargetsThatFailSayWhyAndSpareTheSource) {
    TempDir dir;
    const std::string content("\x01"
                              "first run of text\x01"
                              "second run of text\x01",
                              38);
    std::string scanned = dir.Write("input.bin", content);
    std::string oddTarget = dir.Path("out-\xff.txt");
    WithScanDlg([&](CScanDlg& dlg) {
        dlg.OpenAndScan(scanned.c_str());
        auto exportTo = [&](const std::string& target, const char* box = nullptr) {
            ModalSeam::ExpectFileDialog(
                [=](const FileDialogRequest&) { return std::optional<CString>(target.c_str()); });
            if (box)
                ModalSeam::ExpectMessageBox(box, MB_OK | MB_ICONSTOP);
            dlg.SendCommand(ID_EXPORT_ALL);
        };
        for (const std::string& bad : {dir.Dir(), std::string("/proc/tarnwick-export.txt"),
                                       std::string("/sys/tarnwick-export.txt"), scanned}) {
            exportTo(bad);
            EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Unable to open file") << bad;
        }
        EXPECT_EQ(ReadFileBytes(scanned), content);
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
        // A full disk says so, names the file, and leaves the window as it was.
        exportTo("/dev/full", "Disk full while accessing /dev/full.");
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Saving data to text file");
        EXPECT_EQ(dlg.m_list.GetItemCount(), 2);
        // A name that is not UTF-8 is written as given.
        exportTo(oddTarget);
        EXPECT_EQ(ReadFileBytes(oddTarget), "000001\tfirst run of text\r\n"
                                            "000013\tsecond run of text\r\n");
    });
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

TEST_F(Faults, OffsetsBeyondFourGigabytesAreExact) {
    const ULONGLONG fourGiB = ULONGLONG(1) << 32;
    WithFaultDlg([&](FaultDlg& dlg) {
        dlg.m_open = [&](CFile& f) {
            f.OpenSource(std::make_unique<SparseSource>(
                fourGiB + 8192, std::vector<std::pair<ULONGLONG, std::string>>{
                                    {0xFFFFFFF0ull, "across the 4 GiB line"},
                                    {fourGiB + 0x10, "well past 4 GiB"}}));
        };
        dlg.SendCommand(FaultDlg::ID_SCAN_SOURCE);
        EXPECT_EQ(Rows(dlg), std::vector<ListingRow>({{"FFFFFFF0", "across the 4 GiB line"},
                                                      {"100000010", "well past 4 GiB"}}));
    });
}

TEST_F(Faults, ExtremeMinimumsOnEmptyTinyAndLargeFiles) {
    TempDir dir;
    const std::string large = LargeSample(3 << 20);
    const std::vector<std::string> files = {"", "x", "0123456789", large};
    for (size_t f = 0; f < files.size(); ++f) {
        std::string path = dir.Write("f" + std::to_string(f), files[f]);
        for (int m : {INT_MIN, -1, 0, 4095, 4096, INT_MAX}) {
            CScanDlg dlg;
            dlg.m_nMinLength = m;
            dlg.OpenAndScan(path.c_str());
            EXPECT_EQ(Rows(dlg), ListingOf(files[f], m)) << "file " << f << " minimum " << m;
        }
    }
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

TEST(Startup, WithoutADisplayOneLineAndStatusOne) {
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

TEST_F(Faults, SearchTextsOutsideTheRowsFindNothing) {
    TempDir dir;
    std::string scanned = dir.Write("input.bin", std::string("\x01some text to find\x01", 19));
    auto find = [](CScanDlg& dlg, const std::string& text) {
        ModalSeam::ExpectDialog(IDD_PROMPT, [text](CDialog& d) {
            d.SetDlgItemText(IDC_VALUE, text.c_str());
            return IDOK;
        });
        ModalSeam::ExpectMessageBox("Text Not Found", MB_OK);
        dlg.SendCommand(ID_EDIT_FIND);
    };
    WithScanDlg([&](CScanDlg& dlg) {
        find(dlg, "anything"); // nothing scanned yet
        dlg.OpenAndScan(scanned.c_str());
        find(dlg, std::string(100000, 't'));
        find(dlg, "some\xc2\xa0text");
        EXPECT_EQ(dlg.m_list.GetItemState(0, LVIS_SELECTED), 0u);
    });
}

} // namespace
