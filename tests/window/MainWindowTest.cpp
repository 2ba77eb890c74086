// The main window as a user meets it: start-up, menus, keys, drop, resize, help, About.
#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QDropEvent>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "ModalUi.h"
#include "PromptDlg.h"
#include "ScanApp.h"
#include "ScanDlgAccess.h"
#include "WinApp.h"
#include "WindowSupport.h"
#include "resource.h"

namespace {

class WindowMain : public SeamTest {
protected:
    void TearDown() override {
        const char* const programOnly[] = {"tarnwick"};
        AfxSetCommandLine(1, programOnly);
        theApp.SetModulePath("/opt/tools-1.2/bin/tarnwick");
        SeamTest::TearDown();
    }
};

const UINT kMenuIds[] = {ID_FILE_OPEN,          ID_EXPORT_ALL,          ID_EXPORT_MARKED,
                         ID_FILE_EXIT,          ID_EDIT_FIND,           ID_EDIT_FIND_NEXT,
                         ID_EDIT_FIND_PREVIOUS, ID_EDIT_COPY,           ID_OPTIONS_MINLENGTH,
                         ID_OPTIONS_UTF16,      ID_OPTIONS_MARKED_ONLY, ID_OPTIONS_REGEX,
                         ID_HELP_ABOUT};

TEST_F(WindowMain, StartUpScansTheCommandLinePath) {
    TempDir dir;
    const std::string text("\0a first run of text\0", 21);
    std::string file = dir.Write("a b.bin", text);
    // Names the old parsing of one command-line string got wrong: leading blanks and TABs,
    // quotes, and a decoy file named like the argument without its blanks.
    std::string lead = dir.Write(" \tlead", text);
    dir.Write("lead", std::string("\0decoy text, not this one\0", 26));
    std::string quoted = dir.Write("\"q\".bin", text);
    struct Case {
        std::vector<std::string> argv;
        const char* caption;
        int rows;
    };
    const Case cases[] = {
        {{"tarnwick", file}, "Tarnwick - Done", 1},
        {{"/opt/my tools/tarnwick", file}, "Tarnwick - Done", 1},
        {{"/opt/odd\"name\t/tarn wick", file}, "Tarnwick - Done", 1},
        {{"tarnwick", lead}, "Tarnwick - Done", 1},
        {{"tarnwick", quoted}, "Tarnwick - Done", 1},
        // Several arguments are one path, joined by single blanks.
        {{"tarnwick", dir.Path("a"), "b.bin"}, "Tarnwick - Done", 1},
        {{"tarnwick", "\"" + file + "\""}, "Tarnwick - Unable to open filel", 0},
        {{"tarnwick"}, "Tarnwick", 0},
        {{"tarnwick", ""}, "Tarnwick", 0},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv;
        for (const std::string& a : c.argv)
            argv.push_back(a.c_str());
        AfxSetCommandLine(static_cast<int>(argv.size()), argv.data());
        const std::string what = c.argv.back();
        WithScanDlg([&](CScanDlg& dlg) {
            // The window shows first; the scan runs once it does.
            EXPECT_EQ(dlg.GetWindowText(), "Tarnwick") << what;
            QCoreApplication::processEvents();
            EXPECT_EQ(dlg.GetWindowText(), c.caption) << what;
            ASSERT_EQ(List(dlg).GetItemCount(), c.rows) << what;
            if (c.rows) {
                EXPECT_EQ(List(dlg).GetItemText(0, 1), "a first run of text") << what;
            }
            UINT expect = c.rows ? MF_ENABLED : MF_GRAYED;
            for (UINT id : {ID_EXPORT_ALL, ID_EXPORT_MARKED, ID_EDIT_FIND, ID_EDIT_COPY})
                EXPECT_EQ(MenuState(dlg, id), expect) << what << " " << id;
            for (UINT id : {ID_FILE_OPEN, ID_FILE_EXIT, ID_OPTIONS_MINLENGTH, ID_HELP_ABOUT})
                EXPECT_EQ(MenuState(dlg, id), MF_ENABLED) << id;
        });
    }
}

TEST_F(WindowMain, EveryMenuItemReachesAHandler) {
    WithScanDlg([&](CScanDlg& dlg) {
        QList<QAction*> actions = dlg.GetWidget()->findChildren<QAction*>();
        int items = 0;
        for (QAction* a : actions) {
            if (a->menu() || a->isSeparator())
                continue;
            UINT id = a->data().toUInt();
            EXPECT_TRUE(dlg.HasCommandHandler(id)) << a->text().toStdString();
            ++items;
        }
        EXPECT_EQ(items, static_cast<int>(std::size(kMenuIds)));
        for (UINT id : kMenuIds)
            EXPECT_NE(MenuState(dlg, id), static_cast<UINT>(-1)) << id;
        // Help sits at the right end of the one menu bar, so that Left and Right go round
        // all four menus.
        auto* bar = dlg.GetWidget()->findChild<QMenuBar*>(QStringLiteral("menuBar"));
        ASSERT_NE(bar, nullptr);
        dlg.GetWidget()->resize(600, 300);
        dlg.GetWidget()->show();
        QCoreApplication::processEvents();
        QStringList menus;
        for (QAction* a : bar->actions())
            if (a->menu())
                menus << a->text();
        EXPECT_EQ(menus, QStringList({QStringLiteral("&File"), QStringLiteral("&Edit"),
                                      QStringLiteral("&Options"), QStringLiteral("&Help")}));
        QAction* help = bar->actions().constLast();
        EXPECT_GT(bar->actionGeometry(help).right(), bar->width() - 20);
        EXPECT_LT(bar->actionGeometry(bar->actions().value(2)).right(), bar->width() / 2);
        QTest::keyClick(bar, Qt::Key_O, Qt::AltModifier);
        EXPECT_EQ(bar->activeAction()->text(), QStringLiteral("&Options"));
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Right);
        EXPECT_EQ(bar->activeAction(), help);
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Right);
        EXPECT_EQ(bar->activeAction()->text(), QStringLiteral("&File"));
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
    });
}

// Alt and a letter pressed while the menu bar holds the keyboard (Escape closed a menu and
// left the bar highlighted) once made the bar keep the keyboard for good: Down and Escape
// no longer reached the list or the window.
TEST_F(WindowMain, KeysReachTheListAgainOnceTheMenusAreLeftWithEscape) {
    TempDir dir;
    const std::string file =
        dir.Write("rows.bin", std::string("\0first run of text\0second run of text\0", 39));
    WithScanDlg([&](CScanDlg& dlg) {
        QWidget* window = dlg.GetWidget();
        window->resize(500, 300);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        OpenAndScan(dlg, file);
        ASSERT_EQ(List(dlg).GetItemCount(), 2);
        QWidget* list = List(dlg).GetWidget();
        list->setFocus();
        ASSERT_EQ(QApplication::focusWidget(), list);
        // Each key as the window system delivers it: to the open menu, else to the widget
        // with the focus.
        auto key = [&](Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
            QWidget* to = QApplication::activePopupWidget();
            if (!to)
                to = QApplication::focusWidget() ? QApplication::focusWidget() : window;
            QTest::keyClick(to, k, mods);
            QCoreApplication::processEvents();
        };
        // File > Export's submenu, Escape twice; Edit, Escape twice.
        key(Qt::Key_F, Qt::AltModifier);
        key(Qt::Key_E);
        ASSERT_NE(QApplication::activePopupWidget(), nullptr);
        EXPECT_EQ(QApplication::activePopupWidget()->objectName().toStdString(), "menu_Export");
        key(Qt::Key_Escape);
        key(Qt::Key_Escape);
        key(Qt::Key_E, Qt::AltModifier);
        ASSERT_NE(QApplication::activePopupWidget(), nullptr);
        EXPECT_EQ(QApplication::activePopupWidget()->objectName().toStdString(), "menu_Edit");
        key(Qt::Key_Escape);
        key(Qt::Key_Escape);
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        EXPECT_EQ(QApplication::focusWidget()->objectName().toStdString(),
                  list->objectName().toStdString());
        // Down moves in the list; Escape stops a scan, and then ends the window.
        key(Qt::Key_Down);
        EXPECT_EQ(List(dlg).GetItemState(0, LVIS_SELECTED), LVIS_SELECTED);
        const std::string big = dir.Write("big.bin", LargeSample(24 << 20));
        QTimer::singleShot(0, [&] { key(Qt::Key_Escape); });
        OpenAndScan(dlg, big);
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Stopped");
        key(Qt::Key_Escape);
        EXPECT_TRUE(dlg.HasEnded());
    });
}

// Runs the main window, lets act end it, and returns how it ended.
int EndWith(const std::function<void(CScanDlg&)>& act) {
    CScanDlg dlg;
    bool stillRunning = false;
    ModalSeam::ExpectDialog(IDD_SCAN_DIALOG, [&](CDialog&) {
        act(dlg);
        // Ending must happen in the handler: the answer below only applies otherwise.
        stillRunning = !dlg.GetWidget() ? false : true;
        return 0u;
    });
    int result = dlg.DoModal();
    EXPECT_TRUE(stillRunning);
    return result;
}

TEST_F(WindowMain, ExitEnterEscapeAndCloseEndTheWindow) {
    EXPECT_EQ(EndWith([](CScanDlg& d) {
                  for (QAction* a : d.GetWidget()->findChildren<QAction*>())
                      if (a->data().toUInt() == ID_FILE_EXIT)
                          a->trigger();
              }),
              IDOK);
    EXPECT_EQ(EndWith([](CScanDlg& d) { QTest::keyClick(d.GetWidget(), Qt::Key_Return); }), IDOK);
    EXPECT_EQ(EndWith([](CScanDlg& d) { QTest::keyClick(d.GetWidget(), Qt::Key_Escape); }),
              IDCANCEL);
    // The list passes both keys on to the window.
    EXPECT_EQ(EndWith([](CScanDlg& d) { QTest::keyClick(List(d).GetWidget(), Qt::Key_Return); }),
              IDOK);
    EXPECT_EQ(EndWith([](CScanDlg& d) { QTest::keyClick(List(d).GetWidget(), Qt::Key_Escape); }),
              IDCANCEL);
    EXPECT_EQ(EndWith([](CScanDlg& d) { d.GetWidget()->close(); }), IDCANCEL);
}

TEST_F(WindowMain, DroppingFilesScansTheFirstWhole) {
    TempDir dir;
    std::string longName = dir.Deep(dir.Dir().size() + 3 * 101, 100) + "/dropped.bin";
    ASSERT_GT(longName.size(), 253u);
    WriteFileBytes(longName, std::string("\0dropped file text\0", 19));
    std::string second = dir.Write("second.bin", std::string("\0second file text\0", 18));
    WithScanDlg([&](CScanDlg& dlg) {
        DropInfo drop;
        drop.files = {CString(longName.c_str()), CString(second.c_str()), CString("/nonexistent")};
        AfxMsg msg;
        msg.message = WM_DROPFILES;
        msg.pData = &drop;
        dlg.SendMessage(msg);
        ASSERT_EQ(List(dlg).GetItemCount(), 1);
        EXPECT_EQ(List(dlg).GetItemText(0, 1), "dropped file text");
        EXPECT_TRUE(drop.files.empty()); // the drop was released
    });
}

// A drop's data as the window system hands it over: the bytes of a URI list.
class DropData : public QMimeData {
public:
    explicit DropData(QByteArray uris) : m_uris(std::move(uris)) {}
    QStringList formats() const override { return {QStringLiteral("text/uri-list")}; }

protected:
    QVariant retrieveData(const QString& type, QMetaType) const override {
        return type == QStringLiteral("text/uri-list") ? QVariant(m_uris) : QVariant();
    }

private:
    QByteArray m_uris;
};

TEST_F(WindowMain, DroppedNamesKeepTheirBytes) {
    TempDir dir;
    const std::string odd = dir.Write("caf\xe9 #1.bin", std::string("\0dropped file text\0", 19));
    WithScanDlg([&](CScanDlg& dlg) {
        // As a file manager sends it: the name's bytes percent-encoded, another host's file
        // first (not one of this machine's), CR LF line ends.
        QByteArray uri = "file://";
        for (unsigned char c : odd)
            uri += std::isalnum(c) || c == '/' || c == '.' || c == '-'
                       ? QByteArray(1, char(c))
                       : "%" + QByteArray::number(c, 16).rightJustified(2, '0');
        DropData mime("# a comment\r\nfile://elsewhere/etc/passwd\r\n" + uri + "\r\n");
        QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        // Straight to the window: the application only passes on drops it is dragging.
        static_cast<QObject*>(dlg.GetWidget())->event(&drop);
        EXPECT_EQ(ExportName(dlg), dir.Path("caf\xe9 #1.txt").c_str());
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Done");
        EXPECT_EQ(List(dlg).GetItemCount(), 1);
    });
}

TEST_F(WindowMain, ListFillsTheClientAreaOnResize) {
    WithScanDlg([&](CScanDlg& dlg) {
        QWidget* window = dlg.GetWidget();
        window->show();
        QWidget* view = List(dlg).GetWidget();
        auto* client = window->findChild<QWidget*>(QStringLiteral("clientArea"));
        for (int width : {500, 60, 0, 500, 731}) {
            window->resize(width, 300);
            QCoreApplication::processEvents();
            ASSERT_EQ(client->width(), width);
            EXPECT_EQ(view->geometry(), QRect(0, 0, client->width(), client->height()));
            EXPECT_EQ(ColumnWidth(List(dlg), 1), std::max(0, width - 105)) << width;
            EXPECT_EQ(ColumnWidth(List(dlg), 0), 75);
        }
        // Back from minimised, the list fills the window again.
        window->showMinimized();
        QCoreApplication::processEvents();
        window->showNormal();
        QCoreApplication::processEvents();
        EXPECT_EQ(view->geometry(), QRect(0, 0, client->width(), client->height()));
        EXPECT_EQ(ColumnWidth(List(dlg), 1), client->width() - 105);
    });
}

TEST_F(WindowMain, DialogsSitOverTheWindowAndStayOnTheScreen) {
    WithScanDlg([&](CScanDlg& dlg) {
        QWidget* window = dlg.GetWidget();
        window->resize(400, 300);
        window->show();
        const QRect room = window->screen()->availableGeometry();
        for (const QPoint& at :
             {room.center() - QPoint(200, 150), room.bottomRight() - QPoint(60, 40)}) {
            window->move(at);
            QCoreApplication::processEvents();
            ModalSeam::ExpectDialog(IDD_ABOUTBOX, [&](CDialog& d) {
                const QRect r = d.GetWidget()->frameGeometry();
                EXPECT_TRUE(room.contains(r)) << r.x() << "," << r.y();
                if (room.contains(window->frameGeometry())) {
                    EXPECT_LE((r.center() - window->frameGeometry().center()).manhattanLength(), 2);
                }
                return IDOK;
            });
            dlg.SendCommand(ID_HELP_ABOUT);
        }
    });
}

TEST_F(WindowMain, RangeSelectionStartsAfreshWithNewRows) {
    TempDir dir;
    std::string many, few;
    for (int i = 0; i < 100; ++i)
        many += "row of text " + std::to_string(100 + i) + '\0';
    for (int i = 0; i < 20; ++i)
        few += "other text " + std::to_string(100 + i) + '\0';
    const std::string first = dir.Write("many", many), second = dir.Write("few", few);
    WithScanDlg([&](CScanDlg& dlg) {
        dlg.GetWidget()->resize(500, 2000);
        dlg.GetWidget()->show();
        OpenAndScan(dlg, first);
        QCoreApplication::processEvents();
        ClickRow(List(dlg), 80);
        OpenAndScan(dlg, second);
        QCoreApplication::processEvents();
        ClickRow(List(dlg), 3, Qt::ShiftModifier);
        ClickRow(List(dlg), 6, Qt::ShiftModifier);
        std::vector<int> marked;
        for (int i = 0; i < List(dlg).GetItemCount(); ++i)
            if (List(dlg).GetItemState(i, LVIS_SELECTED))
                marked.push_back(i);
        EXPECT_EQ(marked, std::vector<int>({3, 4, 5, 6}));
    });
}

TEST_F(WindowMain, HelpAsksForTheTopicOfTheDialogWithTheFocus) {
    TempDir dir;
    theApp.SetModulePath(dir.Path("scan.bin").c_str());
    EXPECT_EQ(AfxGetAppTitle(), "scan");
    const std::string help = dir.Path("scan.HLP");
    WithScanDlg([&](CScanDlg& dlg) {
        // No help file yet: the failure box. An empty one is an empty help text.
        ModalSeam::ExpectMessageBox("Failed to launch help.", MB_OK | MB_ICONEXCLAMATION);
        QTest::keyClick(dlg.GetWidget(), Qt::Key_F1);
        dir.Write("scan.HLP", "");
        QTest::keyClick(dlg.GetWidget(), Qt::Key_F1);
        dir.Write("scan.HLP", "<html><a name=\"131174\"></a>Help</html>");
        QTest::keyClick(dlg.GetWidget(), Qt::Key_F1);
        ModalSeam::ExpectDialog(IDD_PROMPT, [](CDialog& p) {
            QTest::keyClick(p.GetWidget(), Qt::Key_F1);
            return IDCANCEL;
        });
        dlg.SendCommand(ID_OPTIONS_MINLENGTH);
        ModalSeam::ExpectDialog(IDD_ABOUTBOX, [](CDialog& a) {
            EXPECT_EQ(a.GetWindowText(), "About Varnel");
            QTest::keyClick(a.GetWidget(), Qt::Key_F1);
            return IDOK;
        });
        dlg.SendCommand(ID_HELP_ABOUT);
        // The system menu's About command opens the same box.
        ModalSeam::ExpectDialog(IDD_ABOUTBOX, [](CDialog&) { return IDOK; });
        AfxMsg sys;
        sys.message = WM_SYSCOMMAND;
        sys.wParam = IDM_ABOUTBOX;
        dlg.SendMessage(sys);
    });
    // The viewer was asked once the help file was there.
    const auto& req = ModalSeam::HelpRequests();
    ASSERT_EQ(req.size(), 4u);
    for (const auto& r : req)
        EXPECT_EQ(r.file, help.c_str());
    EXPECT_EQ(req[0].topic, 131072u + 102);
    EXPECT_EQ(req[1].topic, 131072u + 102);
    EXPECT_EQ(req[2].topic, 131072u + 130);
    EXPECT_EQ(req[3].topic, 131072u + 100);
}

// Opens a FIFO's writing end when the test has waited too long for F1 in front of it: a
// reader blocked in opening the FIFO then goes on (to an empty file), so that the test fails
// instead of hanging.
class FifoWatchdog {
public:
    explicit FifoWatchdog(const std::string& fifo)
        : m_thread([this, fifo] {
              std::unique_lock<std::mutex> lock(m_mutex);
              if (m_wake.wait_for(lock, std::chrono::seconds(5), [this] { return m_done; }))
                  return;
              m_fired = true;
              // Every reader that comes is let go, until the test is done with the FIFO.
              while (!m_done) {
                  lock.unlock();
                  const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK); // ENXIO: no reader
                  if (fd >= 0)
                      ::close(fd);
                  ::usleep(50000);
                  lock.lock();
              }
          }) {}
    ~FifoWatchdog() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    bool Fired() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_fired;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    bool m_fired = false;
    std::thread m_thread; // last: it starts once the rest is there
};

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARNWICK_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TARNWICK_ASAN 1
#endif

// While it lives, the process may map no more than `room` bytes beyond what it maps now, so
// that a file read without end (/dev/zero) fails for want of memory instead of taking all
// the machine has. (Not under AddressSanitizer, whose shadow memory needs terabytes.)
class AddressSpaceLimit {
public:
    explicit AddressSpaceLimit(rlim_t room) {
#ifndef TARNWICK_ASAN
        std::ifstream status("/proc/self/status");
        std::string line;
        rlim_t mapped = 0;
        while (std::getline(status, line))
            if (line.rfind("VmSize:", 0) == 0)
                mapped = std::stoull(line.substr(7)) * 1024;
        rlimit lim{};
        if (mapped && ::getrlimit(RLIMIT_AS, &m_old) == 0) {
            lim = m_old;
            lim.rlim_cur = std::min<rlim_t>(m_old.rlim_max, mapped + room);
            m_set = ::setrlimit(RLIMIT_AS, &lim) == 0;
        }
#else
        (void)room;
#endif
    }
    ~AddressSpaceLimit() {
        if (m_set)
            ::setrlimit(RLIMIT_AS, &m_old);
    }

private:
    rlimit m_old{};
    bool m_set = false;
};

TEST_F(WindowMain, HelpReadsOnlyARegularFileOfSaneSize) {
    TempDir dir;
    theApp.SetModulePath(dir.Path("scan.bin").c_str());
    const std::string help = dir.Path("scan.HLP");
    const std::string text = "<html><a name=\"131174\"></a>Help</html>";
    const std::string good = dir.Write("good.HLP", text);
    const off_t limit = off_t(16) << 20;
    auto sized = [&](const char* name, off_t size) {
        const std::string path = dir.Path(name);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::ftruncate(fd, size), 0); // sparse
        ::close(fd);
        return path;
    };
    const std::string full = sized("full.HLP", limit), over = sized("over.HLP", limit + 1);
    const std::string fifo = dir.Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string folder = dir.Path("folder");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    struct Case {
        const char* what;
        std::string target; // what scan.HLP is a symbolic link to
        bool shown;
    };
    const Case cases[] = {
        {"a FIFO", fifo, false},          {"a link to /dev/zero", "/dev/zero", false},
        {"a folder", folder, false},      {"a file over 16 MiB", over, false},
        {"a file of 16 MiB", full, true}, {"a good file", good, true},
    };
    WithScanDlg([&](CScanDlg& dlg) {
        for (const Case& c : cases) {
            ::unlink(help.c_str());
            ASSERT_EQ(::symlink(c.target.c_str(), help.c_str()), 0) << c.what;
            const size_t before = ModalSeam::HelpRequests().size();
            if (!c.shown)
                ModalSeam::ExpectMessageBox("Failed to launch help.", MB_OK | MB_ICONEXCLAMATION);
            {
                FifoWatchdog watchdog(fifo);
                AddressSpaceLimit memory(rlim_t(1) << 30);
                QTest::keyClick(dlg.GetWidget(), Qt::Key_F1);
                EXPECT_FALSE(watchdog.Fired()) << c.what << ": F1 waited for a writer";
            }
            const auto& req = ModalSeam::HelpRequests();
            EXPECT_EQ(req.size(), before + (c.shown ? 1 : 0)) << c.what;
            if (c.shown && req.size() == before + 1) {
                EXPECT_EQ(req.back().file, help.c_str());
                EXPECT_EQ(req.back().topic, 131072u + 102);
                EXPECT_TRUE(req.back().html == ReadFileBytes(c.target)) << c.what;
            }
        }
    });
}

TEST(WindowHelpViewer, ReadsNothingTheHelpTextNames) {
    // An image or a style sheet that names a FIFO would keep the viewer waiting for a writer.
    TempDir dir;
    const std::string fifo = dir.Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string html = "<html><head><link rel=\"stylesheet\" href=\"" + fifo +
                             "\"></head><body><a name=\"131174\"></a><img src=\"" + fifo +
                             "\"><p>Help</p></body></html>";
    {
        FifoWatchdog watchdog(fifo);
        AfxQtModalUi().ShowHelp(CString("tarnwick.HLP"), 131174, html, nullptr);
        EXPECT_FALSE(watchdog.Fired()) << "the viewer opened what the help names";
    }
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QStringLiteral("helpViewer"))
            w->close();
}

// The help window on the screen, or null.
QWidget* ShownHelpViewer() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QStringLiteral("helpViewer") && w->isVisible())
            return w;
    return nullptr;
}

// Counts the mouse presses a widget gets.
class Presses : public QObject {
public:
    int count = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        count += e->type() == QEvent::MouseButtonPress;
        return false;
    }
};

TEST(WindowHelpViewer, OpenBeforeABoxTakesInputWhileTheBoxIsUp) {
    const std::string html = "<html><body><a name=\"131174\"></a><h1>Help</h1></body></html>";
    AfxQtModalUi().ShowHelp(CString("tarnwick.HLP"), 131174, html, nullptr);
    QWidget* viewer = ShownHelpViewer();
    ASSERT_NE(viewer, nullptr);
    QWindow* before = viewer->windowHandle()->transientParent();
    auto* text = viewer->findChild<QTextBrowser*>();
    Presses presses;
    text->viewport()->installEventFilter(&presses);
    QTimer::singleShot(0, [&] {
        // (Through the window, as the window system delivers clicks, modality and all.)
        QTest::mouseClick(viewer->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                          text->viewport()->mapTo(viewer, QPoint(20, 20)));
        if (QWidget* box = QApplication::activeModalWidget())
            box->close();
    });
    MessageBoxRecord rec;
    rec.text = "A box";
    rec.caption = "tarnwick";
    AfxQtModalUi().ShowMessageBox(rec, nullptr);
    EXPECT_EQ(presses.count, 1);
    // After the box, the help window belongs where it did.
    EXPECT_EQ(viewer->windowHandle()->transientParent(), before);
    viewer->close();
}

TEST(WindowHelpViewer, TakesInputOverAModalDialogAndShowsEveryTopicAtTheTop) {
    std::string html = "<html><body><a name=\"131174\"></a><h1>First</h1>";
    for (int i = 0; i < 60; ++i)
        html += "<p>A paragraph of the first topic, number " + std::to_string(i) + ".</p>";
    html += "<a name=\"131172\"></a><p>Last topic</p></body></html>";
    QDialog modal;
    modal.setGeometry(0, 0, 200, 150);
    QTimer::singleShot(0, [&] {
        AfxQtModalUi().ShowHelp(CString("tarnwick.HLP"), 131172, html, nullptr);
        QWidget* viewer = ShownHelpViewer();
        ASSERT_NE(viewer, nullptr);
        auto* text = viewer->findChild<QTextBrowser*>();
        // The modal dialog does not shut the viewer out.
        Presses presses;
        text->viewport()->installEventFilter(&presses);
        // (Through the window, as the window system delivers clicks, modality and all.)
        QTest::mouseClick(viewer->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                          text->viewport()->mapTo(viewer, QPoint(20, 20)));
        EXPECT_EQ(presses.count, 1);
        // The last, short topic starts at the top of the window, as the first does.
        const QTextCursor last = text->document()->find(QStringLiteral("Last topic"));
        ASSERT_FALSE(last.isNull());
        EXPECT_LT(text->cursorRect(last).top(), 2 * text->fontMetrics().height());
        EXPECT_GT(text->verticalScrollBar()->value(), 0);
        // No more room below than that, and a new size keeps the place.
        EXPECT_LE(text->verticalScrollBar()->maximum(), text->verticalScrollBar()->value() + 2);
        // Beside the dialog, not over it.
        EXPECT_FALSE(viewer->frameGeometry().intersects(modal.frameGeometry()));
        const QTextCursor middle = text->document()->find(QStringLiteral("number 30."));
        text->verticalScrollBar()->setValue(text->cursorRect(middle).top() +
                                            text->verticalScrollBar()->value());
        const int place = text->verticalScrollBar()->value();
        viewer->resize(viewer->width() - 40, viewer->height() - 60);
        QCoreApplication::processEvents();
        EXPECT_EQ(text->verticalScrollBar()->value(), place);
        AfxQtModalUi().ShowHelp(CString("tarnwick.HLP"), 131174, html, nullptr);
        const QTextCursor first = text->document()->find(QStringLiteral("First"));
        EXPECT_LT(text->cursorRect(first).top(), 2 * text->fontMetrics().height());
        EXPECT_LT(text->verticalScrollBar()->value(), text->fontMetrics().height());
        viewer->close();
        modal.reject();
    });
    modal.exec();
}

// Qt's dialogs and boxes, a person's, with the help they ask for recorded instead of shown.
class QtUiRecordingHelp : public ModalUi {
public:
    QtUiRecordingHelp() : m_before(AfxSetModalUi(this)) {}
    ~QtUiRecordingHelp() override { AfxSetModalUi(m_before); }
    void RunDialog(CDialog& dlg) override { AfxQtModalUi().RunDialog(dlg); }
    std::optional<CString> ChooseFile(const FileDialogRequest& req, CWnd* owner) override {
        return AfxQtModalUi().ChooseFile(req, owner);
    }
    int ShowMessageBox(const MessageBoxRecord& rec, CWnd* owner) override {
        return AfxQtModalUi().ShowMessageBox(rec, owner);
    }
    void ShowHelp(const CString&, UINT topic, const std::string&, CWnd*) override {
        topics.push_back(topic);
    }
    std::vector<UINT> topics;

private:
    ModalUi* m_before;
};

// Once the window named `name` shows and is active, presses F1 in it, as the user would (to
// the widget with the focus), and then closes it.
void PressF1In(const QString& name) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, name] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->objectName() != name || !w->isVisible())
                continue;
            // A person presses it in the active window.
            if (!w->isActiveWindow()) {
                w->activateWindow();
                return;
            }
            poll->stop();
            poll->deleteLater();
            QTest::keyClick(w->focusWidget() ? w->focusWidget() : w, Qt::Key_F1);
            QMetaObject::invokeMethod(w, "reject", Qt::QueuedConnection);
            return;
        }
    });
    poll->start(20);
}

TEST(WindowHelpKey, WorksInFileDialogsAndMessageBoxesAtTheTopicOfTheirWindow) {
    TempDir dir;
    theApp.SetModulePath(dir.Path("scan.bin").c_str());
    dir.Write("scan.HLP", "<html><a name=\"131174\"></a>Help</html>");
    QtUiRecordingHelp ui;
    CScanDlg dlg;
    QTimer::singleShot(0, [&] {
        PressF1In(QStringLiteral("openDialog"));
        dlg.SendCommand(ID_FILE_OPEN);
        PressF1In(QStringLiteral("saveDialog"));
        dlg.SendCommand(ID_EXPORT_ALL);
        PressF1In(QStringLiteral("messageBox"));
        AfxMessageBox(&dlg, "Text Not Found", MB_OK);
        dlg.EndDialog(IDCANCEL);
    });
    dlg.DoModal();
    theApp.SetModulePath("/opt/tools-1.2/bin/tarnwick");
    // Each at the main window's topic: the window that asked for the dialog or the box.
    EXPECT_EQ(ui.topics, std::vector<UINT>(3, 131072u + IDD_SCAN_DIALOG));
}

TEST(WindowAppTitle, ComesFromTheExecutablesFileName) {
    CWinApp* app = &theApp;
    const std::pair<const char*, std::pair<const char*, const char*>> cases[] = {
        {"/opt/tools-1.2/bin/tarnwick", {"tarnwick", "/opt/tools-1.2/bin/tarnwick.HLP"}},
        {"/x/scan.bin", {"scan", "/x/scan.HLP"}},
        {"/x.y/z/Scan.exe", {"Scan", "/x.y/z/Scan.HLP"}},
    };
    for (const auto& c : cases) {
        app->SetModulePath(c.first);
        EXPECT_EQ(AfxGetAppTitle(), c.second.first);
        EXPECT_EQ(app->m_strHelpPath, c.second.second);
    }
    app->SetModulePath("/opt/tools-1.2/bin/tarnwick");
}

} // namespace
