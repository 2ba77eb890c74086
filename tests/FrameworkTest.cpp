// The platform layer: file errors and their texts, buffered reads and writes, the list's
// storage and model, and the message map's dispatch.
#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QHeaderView>
#include <QTreeView>
#include <cerrno>
#include <random>

#include "File.h"
#include "ListCtrl.h"
#include "MemorySource.h"
#include "ScanDlg.h"
#include "TestSupport.h"
#include "Widgets_p.h"
#include "resource.h"

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
        std::string got(n, '\0');
        UINT r = (i % 2) ? f.Read(&got[0], n) : [&] {
            const BYTE* v;
            UINT k = f.ReadView(&v, n);
            got.assign(reinterpret_cast<const char*>(v), k);
            return k;
        }();
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
    std::string got(8000, '\0');
    EXPECT_EQ(failing.Read(&got[0], 8000), 5000u);
    EXPECT_EQ(got.substr(0, 5000), data.substr(0, 5000));
    EXPECT_THROW(failing.Read(&got[0], 8000), CFileException);
    CFileException e;
    EXPECT_FALSE(f.Open(dir.Path("nothing").c_str(), CFile::modeRead, &e));
    EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
}

TEST(File, WritesGoOutInOrderAndFailuresNameTheFile) {
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

    CFile full;
    ASSERT_TRUE(full.Open("/dev/full", CFile::modeCreate | CFile::modeWrite));
    std::string block(1 << 20, 'x');
    try {
        full.Write(block.data(), static_cast<UINT>(block.size()));
        full.Close();
        ADD_FAILURE() << "writing to /dev/full succeeded";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.GetErrorMessage(), "Disk full while accessing /dev/full.");
    }
    CFile dirFile;
    EXPECT_FALSE(dirFile.Open(dir.Dir().c_str(), CFile::modeCreate | CFile::modeWrite));
}

TEST(ListStorage, RowsAreCompactAndTextsWhole) {
    ListRows rows;
    EXPECT_EQ(ListRows::RowBytes(), 16u);
    std::string big(100000, 'z');
    rows.Append("000000", 6, "abc", 3);
    rows.Append("000010", 6);
    rows.SetText(1, 1, big.data(), big.size());
    rows.SetSelected(1, true);
    rows.SetText(1, 0, "0000FF", 6);
    size_t len;
    const char* p = rows.Text(1, 1, &len);
    EXPECT_EQ(std::string(p, len), big);
    p = rows.Text(1, 0, &len);
    EXPECT_EQ(std::string(p, len), "0000FF");
    EXPECT_TRUE(rows.Selected(1));
    EXPECT_FALSE(rows.Selected(0));
    EXPECT_EQ(rows.SelectedCount(), 1);
    rows.SetSelected(1, true);
    EXPECT_EQ(rows.SelectedCount(), 1);
    rows.ClearSelection();
    EXPECT_FALSE(rows.Selected(1));
    EXPECT_EQ(rows.SelectedCount(), 0);
}

class Window : public SeamTest {};

TEST_F(Window, ListModelStaysConsistentThroughScans) {
    TempDir dir;
    std::string text;
    for (int i = 0; i < 300; ++i)
        text += "row number " + std::to_string(i) + '\0';
    std::string path = dir.Write("rows.bin", text);
    WithScanDlg([&](CScanDlg& dlg) {
        auto* view = qobject_cast<QTreeView*>(dlg.m_list.GetWidget());
        ASSERT_NE(view, nullptr);
        QAbstractItemModelTester tester(view->model(),
                                        QAbstractItemModelTester::FailureReportingMode::Fatal);
        EXPECT_EQ(view->model()->headerData(0, Qt::Horizontal).toString(),
                  QStringLiteral("Offset"));
        EXPECT_EQ(view->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Text"));
        EXPECT_EQ(view->header()->sectionSize(0), 75);
        dlg.OpenAndScan(path.c_str());
        // The view learns of the new rows once the handler has returned.
        QCoreApplication::processEvents();
        ASSERT_EQ(view->model()->rowCount(), 300);
        EXPECT_EQ(view->model()->index(2, 1).data().toString(), QStringLiteral("row number 2"));
        EXPECT_EQ(view->model()->index(2, 0).data().toString(), QStringLiteral("00001A"));
        dlg.OpenAndScan(path.c_str());
        dlg.OpenAndScan(dir.Write("none", "").c_str());
        QCoreApplication::processEvents();
        EXPECT_EQ(view->model()->rowCount(), 0);
    });
}

} // namespace
