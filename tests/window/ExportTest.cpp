// Exports that never lose the old file or end the program: replacing files, pipes, names.
#include <QAbstractFileIconProvider>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "FileDialog.h"
#include "ListingRule.h"
#include "ScanDlgAccess.h"
#include "WindowSupport.h"
#include "resource.h"

namespace {

void ExportAllTo(CScanDlg& dlg, const std::string& target, const std::string& box = "") {
    ModalSeam::ExpectFileDialog(
        [=](const FileDialogRequest&) { return std::optional<CString>(target.c_str()); });
    if (!box.empty())
        ModalSeam::ExpectMessageBox(box.c_str(), MB_OK | MB_ICONSTOP);
    dlg.SendCommand(ID_EXPORT_ALL);
}

bool IsLink(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

class WindowExport : public SeamTest {};

TEST_F(WindowExport, TheOldFileStaysUntilTheNewOneIsComplete) {
    TempDir dir;
    const std::string data = LargeSample(3 << 20);
    const std::string listing = ExportOf(ListingOf(data, 10));
    const std::string scanned = dir.Write("input.bin", data);
    const std::string old = dir.Write("old.txt", "the user's old listing\n");
    ASSERT_EQ(::chmod(old.c_str(), 0640), 0);
    WithScanDlg([&](CScanDlg& dlg) {
        OpenAndScan(dlg, scanned);
        {
            FileSizeLimit diskFull(5000);
            ExportAllTo(dlg, old, "Disk full while accessing " + old + ".");
            EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Saving data to text file");
            const std::string fresh = dir.Path("new.txt");
            ExportAllTo(dlg, fresh, "Disk full while accessing " + fresh + ".");
        }
        EXPECT_EQ(ReadFileBytes(old), "the user's old listing\n");
        EXPECT_EQ(Entries(dir.Dir()), std::vector<std::string>({"input.bin", "old.txt"}));

        // Complete, the listing takes the old file's place with its permission bits.
        ExportAllTo(dlg, old);
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Done");
        EXPECT_EQ(ReadFileBytes(old), listing);
        struct stat st;
        ASSERT_EQ(::stat(old.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u);

        // Through a symbolic link (a relative one, in a chain of two), the file it points
        // to is replaced and the links stay.
        const std::string link = dir.Path("link.txt"), link2 = dir.Path("link2.txt");
        ASSERT_EQ(::symlink("old.txt", link.c_str()), 0);
        ASSERT_EQ(::symlink(link.c_str(), link2.c_str()), 0);
        WriteFileBytes(old, "old again\n");
        ExportAllTo(dlg, link2);
        EXPECT_EQ(ReadFileBytes(old), listing);
        EXPECT_TRUE(IsLink(link));
        EXPECT_TRUE(IsLink(link2));

        // A file with a second hard link is written in place: both names see the listing.
        const std::string twin = dir.Path("twin.txt");
        ASSERT_EQ(::link(old.c_str(), twin.c_str()), 0);
        WriteFileBytes(old, "old once more\n");
        ExportAllTo(dlg, twin);
        EXPECT_EQ(ReadFileBytes(old), listing);
        struct stat a, b;
        ASSERT_EQ(::stat(old.c_str(), &a), 0);
        ASSERT_EQ(::stat(twin.c_str(), &b), 0);
        EXPECT_EQ(a.st_ino, b.st_ino);

        // A file mounted on its own (as containers give /etc/hosts) is written in place.
        const std::string mounted = dir.Write("mounted.txt", "mounted over\n");
        const std::string source = dir.Write("source.txt", "the mount's source\n");
        if (::geteuid() == 0 &&
            ::mount(source.c_str(), mounted.c_str(), nullptr, MS_BIND, nullptr) == 0) {
            ExportAllTo(dlg, mounted);
            EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Done");
            EXPECT_TRUE(ReadFileBytes(source) == listing);
            ::umount(mounted.c_str());
        }
        ::unlink(mounted.c_str());
        ::unlink(source.c_str());

        // Not one replacement was left behind.
        EXPECT_EQ(Entries(dir.Dir()),
                  std::vector<std::string>(
                      {"input.bin", "link.txt", "link2.txt", "old.txt", "twin.txt"}));
    });
}

TEST_F(WindowExport, AFileWrittenInPlaceStaysAsItWasUntilTheFinalCopy) {
    TempDir dir;
    const std::string data = LargeSample(3 << 20);
    const std::string listing = ExportOf(ListingOf(data, 10));
    const std::string scanned = dir.Write("input.bin", data);
    const std::string old = "the user's old listing\n";
    const std::string target = dir.Write("old.txt", old);
    const std::string twin = dir.Path("twin.txt");
    ASSERT_EQ(::link(target.c_str(), twin.c_str()), 0);
    WithScanDlg([&](CScanDlg& dlg) {
        OpenAndScan(dlg, scanned);
        // A full disk while the listing is written to its temporary file: the stop box, and
        // both names on the old listing.
        {
            FileSizeLimit diskFull(5000);
            ExportAllTo(dlg, target, "Disk full while accessing " + target + ".");
            EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Saving data to text file");
        }
        EXPECT_EQ(ReadFileBytes(twin), old);
        EXPECT_EQ(Entries(dir.Dir()),
                  std::vector<std::string>({"input.bin", "old.txt", "twin.txt"}));

        // A failure in the final copy itself is the one that can cut the file short; the
        // stop box names it.
        std::optional<FileSizeLimit> limit;
        CFile::SetStepHook([&](CFile::WriteStep step) {
            if (step == CFile::WriteStep::copying)
                limit.emplace(1000);
            return 0;
        });
        ExportAllTo(dlg, twin, "Disk full while accessing " + twin + ".");
        CFile::SetStepHook(nullptr);
        limit.reset();

        // Complete, both names see the listing, under the same inode.
        ExportAllTo(dlg, twin);
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Done");
        EXPECT_TRUE(ReadFileBytes(target) == listing);
        struct stat a, b;
        ASSERT_EQ(::stat(target.c_str(), &a), 0);
        ASSERT_EQ(::stat(twin.c_str(), &b), 0);
        EXPECT_EQ(a.st_ino, b.st_ino);

        // A disk of 2 MB (a tmpfs, where the superuser may mount one): the listing does not
        // fit; the old file stays whole.
        const std::string small = dir.Path("small");
        ASSERT_EQ(::mkdir(small.c_str(), 0700), 0);
        if (::geteuid() == 0 && ::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=2m") == 0) {
            struct Unmount {
                std::string at;
                ~Unmount() { ::umount(at.c_str()); }
            } unmount{small};
            const std::string there = dir.Write("small/out.txt", old);
            ASSERT_EQ(::link(there.c_str(), (small + "/twin.txt").c_str()), 0);
            ExportAllTo(dlg, there, "Disk full while accessing " + there + ".");
            EXPECT_EQ(ReadFileBytes(small + "/twin.txt"), old);
            EXPECT_EQ(Entries(small), std::vector<std::string>({"out.txt", "twin.txt"}));
        }
    });
}

TEST_F(WindowExport, ThePathScannedIsNeverWrittenWhateverStandsThereNow) {
    TempDir dir;
    const std::string content = "\x01"
                                "notes of the first version"
                                "\x01";
    ASSERT_EQ(::mkdir(dir.Path("doc").c_str(), 0700), 0);
    ASSERT_EQ(::symlink("doc", dir.Path("docs").c_str()), 0);
    const std::string notes = dir.Write("doc/notes.txt", content);
    WithScanDlg([&](CScanDlg& dlg) {
        OpenAndScan(dlg, notes);
        EXPECT_EQ(ExportName(dlg), notes.c_str());
        // An editor saves a new version by rename: a new inode at the path scanned.
        const std::string edited = "the second version, which the user wants kept\n";
        dir.Write("doc/.notes.txt.new", edited);
        ASSERT_EQ(::rename(dir.Path("doc/.notes.txt.new").c_str(), notes.c_str()), 0);
        for (const std::string& name :
             {notes, dir.Path("docs/notes.txt"), dir.Path("doc/../docs/./notes.txt")}) {
            ExportAllTo(dlg, name);
            EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Unable to open file") << name;
            EXPECT_EQ(ReadFileBytes(notes), edited);
        }
        // Gone altogether, its path is not written either.
        ASSERT_EQ(::unlink(notes.c_str()), 0);
        ExportAllTo(dlg, notes);
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Unable to open file");
        EXPECT_EQ(Entries(dir.Path("doc")), std::vector<std::string>());
        // Another name in that folder is exported to as usual.
        ExportAllTo(dlg, dir.Path("docs/listing.txt"));
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Done");
        EXPECT_EQ(ReadFileBytes(dir.Path("doc/listing.txt")), ExportOf(ListingOf(content, 10)));
    });

    // A scanned file deleted, and its inode number given to an unrelated file (ext4 does so
    // at once): where the file system keeps birth times, that file is exported to.
    TempDir other;
    const std::string source = other.Write("source.bin", content);
    struct statx stx {};
    ASSERT_EQ(::statx(AT_FDCWD, source.c_str(), 0, STATX_INO | STATX_BTIME, &stx), 0);
    const bool births = (stx.stx_mask & STATX_BTIME) != 0;
    WithScanDlg([&](CScanDlg& dlg) {
        OpenAndScan(dlg, source);
        ASSERT_EQ(::unlink(source.c_str()), 0);
        const std::string unrelated = other.Path("unrelated.txt");
        bool reused = false;
        for (int i = 0; i < 20 && !reused; ++i) {
            // Born at least a tick of the kernel's clock after the source.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ::unlink(unrelated.c_str());
            WriteFileBytes(unrelated, "an unrelated file\n");
            reused = CFile::IdentityOf(unrelated.c_str()).ino == stx.stx_ino;
        }
        if (!reused || !births) {
            std::printf("not tried: %s\n", reused ? "no birth times" : "no inode reused");
            return;
        }
        ExportAllTo(dlg, unrelated);
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Done");
        EXPECT_EQ(ReadFileBytes(unrelated), ExportOf(ListingOf(content, 10)));
    });
}

// Opens the reading end of a FIFO at once, blocking reads after that.
int OpenReader(const std::string& fifo) {
    int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd >= 0)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

TEST_F(WindowExport, PipesGetEveryByteOrSayTheirReaderLeft) {
    TempDir dir;
    const std::string data = LargeSample(2 << 20);
    const std::string listing = ExportOf(ListingOf(data, 10));
    const std::string scanned = dir.Write("input.bin", data);
    const std::string fifo = dir.Path("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    WithScanDlg([&](CScanDlg& dlg) {
        OpenAndScan(dlg, scanned);
        const int rows = List(dlg).GetItemCount();

        // A reader that starts a second late and takes small pieces gets every byte.
        int reader = OpenReader(fifo);
        ASSERT_GE(reader, 0);
        std::string got;
        std::thread slow([&] {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            char buf[1000];
            for (ssize_t n; (n = ::read(reader, buf, sizeof buf)) > 0;)
                got.append(buf, static_cast<size_t>(n));
        });
        ExportAllTo(dlg, fifo);
        slow.join();
        ::close(reader);
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Done");
        EXPECT_EQ(got.size(), listing.size());
        EXPECT_TRUE(got == listing);

        // A reader that quits after 100 bytes: the stop box, and the program goes on.
        reader = OpenReader(fifo);
        ASSERT_GE(reader, 0);
        std::thread quitter([&] {
            // Waits for the first bytes: a read before the export opens the pipe would
            // find it ended.
            pollfd ready{reader, POLLIN, 0};
            ::poll(&ready, 1, -1);
            char buf[100];
            for (size_t have = 0; have < sizeof buf;) {
                ssize_t n = ::read(reader, buf + have, sizeof buf - have);
                if (n <= 0)
                    break;
                have += static_cast<size_t>(n);
            }
            ::close(reader);
        });
        ExportAllTo(dlg, fifo, "An unknown error occurred while accessing " + fifo + ".");
        quitter.join();
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Saving data to text file");
        EXPECT_EQ(List(dlg).GetItemCount(), rows);
        // SIGPIPE is neither left waiting nor held back afterwards.
        sigset_t set;
        ASSERT_EQ(::sigpending(&set), 0);
        EXPECT_FALSE(sigismember(&set, SIGPIPE));
        ASSERT_EQ(::pthread_sigmask(SIG_SETMASK, nullptr, &set), 0);
        EXPECT_FALSE(sigismember(&set, SIGPIPE));

        // A reader that takes nothing: the window goes on, and Escape stops the export.
        reader = OpenReader(fifo);
        ASSERT_GE(reader, 0);
        std::atomic<bool> exported{false};
        std::thread rescue([&] {
            // Should the export not stop, it is let through after a while, so that the
            // test fails rather than hangs.
            for (int i = 0; i < 100 && !exported; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            char buf[65536];
            while (!exported)
                if (::read(reader, buf, sizeof buf) <= 0)
                    break;
        });
        bool painted = false;
        QTimer::singleShot(300, [&] {
            painted = true;
            QTest::keyClick(dlg.GetWidget(), Qt::Key_Escape);
        });
        const auto started = std::chrono::steady_clock::now();
        ExportAllTo(dlg, fifo);
        const auto took = std::chrono::steady_clock::now() - started;
        exported = true;
        rescue.join();
        ::close(reader);
        EXPECT_TRUE(painted);
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Stopped");
        EXPECT_LT(took, std::chrono::seconds(4));

        // Nobody reading: the open fails at once.
        ExportAllTo(dlg, fifo);
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Unable to open file");

        // A descriptor named through /dev/fd, as /dev/stdout is: a pipe gets the bytes, a
        // regular file is written where it is, under the same inode.
        int ends[2];
        ASSERT_EQ(::pipe(ends), 0);
        std::string piped;
        std::thread drain([&] {
            char buf[65536];
            for (ssize_t n; (n = ::read(ends[0], buf, sizeof buf)) > 0;)
                piped.append(buf, static_cast<size_t>(n));
        });
        ExportAllTo(dlg, "/dev/fd/" + std::to_string(ends[1]));
        ::close(ends[1]);
        drain.join();
        ::close(ends[0]);
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Done");
        EXPECT_TRUE(piped == listing);
        const std::string redirected = dir.Write("redirected.txt", "old");
        struct stat before, after;
        ASSERT_EQ(::stat(redirected.c_str(), &before), 0);
        const int out = ::open(redirected.c_str(), O_WRONLY);
        ExportAllTo(dlg, "/dev/fd/" + std::to_string(out));
        ::close(out);
        ASSERT_EQ(::stat(redirected.c_str(), &after), 0);
        EXPECT_EQ(before.st_ino, after.st_ino);
        EXPECT_TRUE(ReadFileBytes(redirected) == listing);
    });
}

// Answers the next file dialog the program shows, once it is up: change() may act on it,
// then it is accepted as it stands.
void AcceptFileDialog(std::function<void(QFileDialog&)> change = {}) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, change] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* fd = qobject_cast<QFileDialog*>(w);
            if (!fd || !fd->isVisible())
                continue;
            poll->stop();
            poll->deleteLater();
            if (change)
                change(*fd);
            QMetaObject::invokeMethod(fd, "accept");
            return;
        }
    });
    poll->start(20);
}

CString RunFileDialog(BOOL bOpen, const std::string& offered) {
    CFileDialog dlg(bOpen, nullptr, offered.empty() ? nullptr : offered.c_str(), OFN_HIDEREADONLY,
                    "Text Files|*.txt|All Files|*.*||");
    return dlg.DoModal() == IDOK ? dlg.GetPathName() : CString("(cancelled)");
}

// The real dialogs, not the seam: what Qt makes of names that are not UTF-8.
TEST(WindowFileDialogs, NamesKeepTheirBytesAndTypesComeFromNames) {
    TempDir dir;
    // Offered and accepted unchanged: the name offered, not one with U+FFFD in it.
    const std::string offered = dir.Path("caf\xe9.txt");
    AcceptFileDialog();
    EXPECT_EQ(RunFileDialog(FALSE, offered), offered.c_str());

    // A file of such a name chosen in a folder (here typed as the dialog shows it).
    const std::string existing = dir.Write("r\xe9sum\xe9.bin", "x");
    AcceptFileDialog([&](QFileDialog& fd) {
        fd.setDirectory(QString::fromStdString(dir.Dir()));
        fd.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
            ->setText(QFile::decodeName(QByteArray("r\xe9sum\xe9.bin")));
    });
    EXPECT_EQ(RunFileDialog(TRUE, ""), existing.c_str());

    // Types come from names and modes: a file without a suffix holding a PDF is a "File",
    // so nothing was read to tell.
    const std::string pdf = dir.Write("data", "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n1 0 obj\n");
    QString type, folderType;
    AcceptFileDialog([&](QFileDialog& fd) {
        type = fd.iconProvider()->type(QFileInfo(QString::fromStdString(pdf)));
        folderType = fd.iconProvider()->type(QFileInfo(QString::fromStdString(dir.Dir())));
    });
    RunFileDialog(TRUE, pdf);
    EXPECT_EQ(type.toStdString(), "File");
    EXPECT_EQ(folderType.toStdString(), "Folder");
}

TEST(WindowFileDialogs, OfferTheWholeNameOpenOnAllFilesAndSitOverTheWindow) {
    TempDir dir;
    // A name in a folder that does not exist is offered whole, and comes back whole.
    const std::string nowhere = "/nonexistent/dir.d/x.txt";
    QString shown;
    AcceptFileDialog([&](QFileDialog& fd) {
        shown = fd.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
    });
    EXPECT_EQ(RunFileDialog(FALSE, nowhere), nowhere.c_str());
    EXPECT_EQ(shown.toStdString(), nowhere);

    // Typed whole, the path of a file in the folder shown is saved to by Enter alone.
    const std::string existing = dir.Write("existing.txt", "old");
    bool closedByEnter = false;
    AcceptFileDialog([&](QFileDialog& fd) {
        EXPECT_EQ(fd.directory().absolutePath().toStdString(), dir.Dir());
        auto* field = fd.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        EXPECT_EQ(field->text(), QStringLiteral("offered.txt"));
        field->setText(QString::fromStdString(existing));
        QTest::keyClick(field, Qt::Key_Return);
        closedByEnter = !fd.isVisible();
    });
    EXPECT_EQ(RunFileDialog(FALSE, dir.Path("offered.txt")), existing.c_str());
    EXPECT_TRUE(closedByEnter);

    // The Open dialog keeps both filters in order and opens on the second, over its window.
    QWidget owner;
    owner.setGeometry(40, 60, 700, 500);
    owner.show();
    CWnd ownerWnd;
    ownerWnd.Attach(&owner);
    QStringList filters;
    QString selected;
    QPoint centre;
    AcceptFileDialog([&](QFileDialog& fd) {
        filters = fd.nameFilters();
        selected = fd.selectedNameFilter();
        centre = fd.frameGeometry().center();
        fd.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
            ->setText(QString::fromStdString(existing));
    });
    CFileDialog open(TRUE, nullptr, nullptr, OFN_HIDEREADONLY,
                     "Program Files|*.exe;*.com;*.dll|All Files|*.*||", &ownerWnd);
    open.SetFilterIndex(2);
    EXPECT_EQ(open.DoModal(), IDOK);
    ownerWnd.Detach();
    EXPECT_EQ(filters, QStringList({QStringLiteral("Program Files (*.exe *.com *.dll)"),
                                    QStringLiteral("All Files (*)")}));
    EXPECT_EQ(selected, QStringLiteral("All Files (*)"));
    EXPECT_LE((centre - owner.frameGeometry().center()).manhattanLength(), 2);
}

TEST_F(WindowExport, TheOfferedNameIsWrittenByteForByte) {
    TempDir dir;
    const std::string content("\x01some text in the file\x01", 23);
    const std::string odd = dir.Write("caf\xe9.bin", content);
    const std::string profile = dir.Write(".profile", content);
    const std::string decoy = dir.Write(".txt", "an unrelated file\n");
    WithScanDlg([&](CScanDlg& dlg) {
        OpenAndScan(dlg, odd);
        ExportAllTo(dlg, ExportName(dlg).Str());
        EXPECT_EQ(ReadFileBytes(dir.Path("caf\xe9.txt")), ExportOf(ListingOf(content, 10)));
        OpenAndScan(dlg, profile);
        ExportAllTo(dlg, ExportName(dlg).Str());
        EXPECT_EQ(ReadFileBytes(dir.Path(".profile.txt")), ExportOf(ListingOf(content, 10)));
        EXPECT_EQ(ReadFileBytes(decoy), "an unrelated file\n");
        EXPECT_EQ(Entries(dir.Dir()), std::vector<std::string>({".profile", ".profile.txt", ".txt",
                                                                "caf\xe9.bin", "caf\xe9.txt"}));
    });
}

} // namespace
