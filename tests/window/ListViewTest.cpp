// The list as its users meet it: marks changed by mouse and keys, the highlight of marked
// rows, and the table a screen reader walks.
#include <QAccessible>
#include <QApplication>
#include <QFontInfo>
#include <QHeaderView>
#include <QHelpEvent>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>
#include <QTest>
#include <QTextDocument>
#include <QToolTip>
#include <random>

#include "ListCtrl.h"
#include "ListView.h"
#include "ListingRule.h"
#include "ScanDlgAccess.h"
#include "WindowSupport.h"

namespace {

class WindowList : public SeamTest {};

std::vector<int> Marked(const CListCtrl& list) {
    std::vector<int> marked;
    for (int i = 0; i < list.GetItemCount(); ++i)
        if (list.GetItemState(i, LVIS_SELECTED))
            marked.push_back(i);
    return marked;
}

std::vector<int> Span(int first, int last) {
    std::vector<int> v;
    for (int i = first; i <= last; ++i)
        v.push_back(i);
    return v;
}

std::string NumberedRows(int n) {
    std::string text;
    for (int i = 0; i < n; ++i)
        text += "row number " + std::to_string(i) + '\0';
    return text;
}

// Shows the window with the list focused and the file's rows in it.
ListView* ShowRows(CScanDlg& dlg, const std::string& path) {
    QWidget* window = dlg.GetWidget();
    window->resize(500, 400);
    window->show();
    OpenAndScan(dlg, path);
    auto* view = dynamic_cast<ListView*>(List(dlg).GetWidget());
    QApplication::setActiveWindow(window);
    view->setFocus();
    QCoreApplication::processEvents();
    return view;
}

void Drag(ListView* view, QEvent::Type type, QPoint to) {
    QMouseEvent e(type, to, view->viewport()->mapToGlobal(to), Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                  Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &e);
}

TEST_F(WindowList, MarksFollowTheMouseAndTheKeys) {
    TempDir dir;
    const std::string path = dir.Write("rows.bin", NumberedRows(300));
    WithScanDlg([&](CScanDlg& dlg) {
        ListView* view = ShowRows(dlg, path);
        ASSERT_TRUE(view->hasFocus());
        const CListCtrl& list = List(dlg);
        auto key = [&](Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
            QTest::keyClick(view, k, mods);
        };
        // Clicks: one row; Ctrl toggles; Shift spans from the last click; Ctrl+Shift adds.
        ClickRow(list, 2);
        EXPECT_EQ(Marked(list), std::vector<int>({2}));
        ClickRow(list, 5, Qt::ControlModifier);
        EXPECT_EQ(Marked(list), std::vector<int>({2, 5}));
        ClickRow(list, 8, Qt::ShiftModifier);
        EXPECT_EQ(Marked(list), Span(5, 8));
        ClickRow(list, 2, Qt::ControlModifier);
        ClickRow(list, 2, Qt::ControlModifier);
        EXPECT_EQ(Marked(list), Span(5, 8));
        ClickRow(list, 4, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_EQ(Marked(list), Span(2, 8));
        EXPECT_EQ(view->CurrentRow(), 4);

        // Keys: arrows move and mark; Shift spans; Ctrl moves alone; Space marks the row.
        key(Qt::Key_Down);
        EXPECT_EQ(Marked(list), std::vector<int>({5}));
        key(Qt::Key_Down, Qt::ShiftModifier);
        key(Qt::Key_Down, Qt::ShiftModifier);
        EXPECT_EQ(Marked(list), Span(5, 7));
        key(Qt::Key_Down, Qt::ControlModifier);
        EXPECT_EQ(view->CurrentRow(), 8);
        EXPECT_EQ(Marked(list), Span(5, 7));
        key(Qt::Key_Space, Qt::ControlModifier);
        EXPECT_EQ(Marked(list), Span(5, 8));
        key(Qt::Key_Space, Qt::ControlModifier);
        key(Qt::Key_Up, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_EQ(Marked(list), Span(5, 8));
        key(Qt::Key_Space);
        EXPECT_EQ(Marked(list), std::vector<int>({7}));

        // End, Page Up and Home move through the whole list and keep the row in view.
        key(Qt::Key_End);
        EXPECT_EQ(Marked(list), std::vector<int>({299}));
        EXPECT_TRUE(view->viewport()->rect().contains(view->RowRect(299)));
        key(Qt::Key_PageUp);
        const int up = view->CurrentRow();
        EXPECT_LT(up, 299 - 5);
        EXPECT_GE(view->RowRect(up).top(), 0);
        EXPECT_EQ(Marked(list), std::vector<int>({up}));
        key(Qt::Key_Home, Qt::ShiftModifier);
        EXPECT_EQ(Marked(list), Span(0, up));
        EXPECT_EQ(view->TopRow(), 0);
        key(Qt::Key_PageDown);
        EXPECT_EQ(view->CurrentRow(), 299 - up);
        QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
        EXPECT_EQ(list.GetItemCount(), 300);
        EXPECT_EQ(Marked(list), Span(0, 299));

        // A drag marks from where it started to where the mouse is, and scrolls past the end.
        key(Qt::Key_Home);
        Drag(view, QEvent::MouseButtonPress, view->CellRect(3, 1).center());
        Drag(view, QEvent::MouseMove, view->CellRect(7, 0).center());
        EXPECT_EQ(Marked(list), Span(3, 7));
        Drag(view, QEvent::MouseMove, view->CellRect(1, 0).center());
        EXPECT_EQ(Marked(list), Span(1, 3));
        // Held still below the list, the drag goes on scrolling until the button is let go.
        const int top = view->TopRow();
        Drag(view, QEvent::MouseMove, QPoint(10, view->viewport()->height() + 5));
        QTest::qWait(400);
        Drag(view, QEvent::MouseButtonRelease, QPoint(10, view->viewport()->height() + 5));
        const int scrolled = view->TopRow();
        EXPECT_GE(scrolled, top + 4);
        QTest::qWait(200);
        EXPECT_EQ(view->TopRow(), scrolled);
        EXPECT_EQ(Marked(list), Span(3, view->CurrentRow()));
        EXPECT_TRUE(view->viewport()->rect().contains(view->RowRect(view->CurrentRow())));
    });
}

TEST_F(WindowList, MarkedRowsShowHighlightedWhileTheListHasTheFocus) {
    TempDir dir;
    const std::string few = dir.Write("few.bin", NumberedRows(4));
    WithScanDlg([&](CScanDlg& dlg) {
        ListView* view = ShowRows(dlg, few);
        const QColor highlight = view->palette().color(QPalette::Active, QPalette::Highlight);
        auto colourAt = [&](int row) {
            const QImage image = view->viewport()->grab().toImage();
            return image.pixelColor(view->CellRect(row, 1).right() - 2,
                                    view->CellRect(row, 1).center().y());
        };
        List(dlg).SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);
        EXPECT_EQ(colourAt(1), highlight);
        EXPECT_NE(colourAt(2), highlight);
        view->clearFocus();
        EXPECT_NE(colourAt(1), highlight);
        view->setFocus();
        EXPECT_EQ(colourAt(1), highlight);
        // A click below the last row takes every mark off; with Ctrl it leaves them.
        const QPoint below(20, view->RowRect(3).bottom() + 20);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier, below);
        EXPECT_EQ(Marked(List(dlg)), std::vector<int>({1}));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, below);
        EXPECT_EQ(Marked(List(dlg)), std::vector<int>());
        EXPECT_NE(colourAt(1), highlight);
    });
}

// What a tip shows a person: its text as Qt takes it, rich text rendered, or plain.
std::string ShownText(const QLabel& tip) {
    const QString text = tip.text();
    const bool rich = tip.textFormat() == Qt::RichText ||
                      (tip.textFormat() == Qt::AutoText && Qt::mightBeRichText(text));
    if (!rich)
        return text.toStdString();
    QTextDocument doc;
    doc.setHtml(text);
    return doc.toPlainText().toStdString();
}

TEST_F(WindowList, ACellCutShortShowsItsCharactersInATipAsPlainText) {
    TempDir dir;
    // A run that reads as HTML, with blanks that HTML would fold, longer than a tip's line.
    std::string run = "<b>BOLD</b> <font color=red>RED</font> &amp; <br>a  b";
    while (run.size() < 230)
        run += "  <i>" + std::to_string(run.size()) + "</i>";
    const std::string path = dir.Write("html.bin", '\0' + run + '\0');
    WithScanDlg([&](CScanDlg& dlg) {
        ListView* view = ShowRows(dlg, path);
        ASSERT_EQ(List(dlg).GetItemCount(), 1);
        ASSERT_EQ(List(dlg).GetItemText(0, 1), run.c_str());
        const QPoint at = view->CellRect(0, 1).center();
        QHelpEvent hover(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
        QApplication::sendEvent(view->viewport(), &hover);
        QLabel* tip = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QStringLiteral("qtooltip_label") && w->isVisible())
                tip = qobject_cast<QLabel*>(w);
        ASSERT_NE(tip, nullptr);
        // The characters as they are, in lines of 100.
        std::string lines;
        for (size_t at = 0; at < run.size(); at += 100)
            lines += (at ? "\n" : "") + run.substr(at, 100);
        EXPECT_EQ(ShownText(*tip), lines);
        // Broken there and nowhere else: the tip is as wide as a line of 100.
        const QFontMetrics fm(tip->font());
        EXPECT_GE(tip->width(), fm.horizontalAdvance(QString::fromStdString(run.substr(0, 100))));
        EXPECT_LT(tip->height(), 5 * fm.lineSpacing());
        QToolTip::hideText();
    });
}

TEST_F(WindowList, RowsAreFixedWidthAndEightDigitOffsetsFitTheirColumn) {
    WithScanDlg([&](CScanDlg& dlg) {
        auto* view = dynamic_cast<ListView*>(List(dlg).GetWidget());
        ASSERT_NE(view, nullptr);
        // Every character as wide as any other in the rows (a font may be fixed for ASCII
        // without saying so), not in the headings.
        const QFontMetrics fm(view->RowFont());
        EXPECT_EQ(fm.horizontalAdvance(QStringLiteral("iiiiiiii")),
                  fm.horizontalAdvance(QStringLiteral("WWWWWWWW")));
        const QFontMetrics heading(view->Header()->font());
        EXPECT_NE(heading.horizontalAdvance(QStringLiteral("iiiiiiii")),
                  heading.horizontalAdvance(QStringLiteral("WWWWWWWW")));
        EXPECT_EQ(fm.horizontalAdvance(QStringLiteral("11111111")),
                  fm.horizontalAdvance(QStringLiteral("FFFFFFFF")));
        const int margin = view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1;
        EXPECT_LE(fm.horizontalAdvance(QStringLiteral("FFFFFFFF")) + 2 * margin,
                  ColumnWidth(List(dlg), 0));
    });
}

TEST_F(WindowList, ReadsAsATableToScreenReaders) {
    TempDir dir;
    std::mt19937 random(7);
    std::string bytes(20000, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random() % 4 ? 'a' + random() % 26 : random() % 32);
    const std::string path = dir.Write("random.bin", bytes);
    WithScanDlg([&](CScanDlg& dlg) {
        ListView* view = ShowRows(dlg, dir.Write("none", ""));
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(view);
        ASSERT_NE(table, nullptr);
        EXPECT_EQ(table->role(), QAccessible::Table);
        QAccessibleTableInterface* cells = table->tableInterface();
        ASSERT_NE(cells, nullptr);
        EXPECT_EQ(cells->columnCount(), 2);
        EXPECT_EQ(cells->columnDescription(0), QStringLiteral("Offset"));
        EXPECT_EQ(cells->columnDescription(1), QStringLiteral("Text"));
        EXPECT_EQ(cells->rowCount(), 0);
        EXPECT_EQ(cells->cellAt(0, 0), nullptr);

        // Every cell reads as the listing rule says.
        OpenAndScan(dlg, path);
        const std::vector<ListingRow> rows = ListingOf(bytes, 10);
        ASSERT_EQ(cells->rowCount(), static_cast<int>(rows.size()));
        ASSERT_GT(rows.size(), 100u);
        EXPECT_EQ(table->childCount(), 2 * cells->rowCount());
        for (int r = 0; r < cells->rowCount(); ++r) {
            EXPECT_EQ(cells->cellAt(r, 0)->text(QAccessible::Name).toStdString(), rows[r].first);
            EXPECT_EQ(cells->cellAt(r, 1)->text(QAccessible::Name).toStdString(), rows[r].second);
        }
        QAccessibleInterface* cell = cells->cellAt(2, 1);
        EXPECT_EQ(table->indexOfChild(cell), 5);
        EXPECT_EQ(table->child(5), cell);
        EXPECT_EQ(cell->tableCellInterface()->rowIndex(), 2);
        const QPoint middle = cell->rect().center();
        EXPECT_EQ(table->childAt(middle.x(), middle.y()), cell);

        // Marks are the table's selected rows, both ways.
        List(dlg).SetItemState(2, LVIS_SELECTED, LVIS_SELECTED);
        EXPECT_TRUE(cell->state().selected);
        EXPECT_TRUE(cells->isRowSelected(2));
        EXPECT_TRUE(cells->selectRow(9));
        EXPECT_TRUE(cells->unselectRow(2));
        EXPECT_EQ(Marked(List(dlg)), std::vector<int>({9}));
        EXPECT_EQ(cells->selectedRows(), QList<int>({9}));
        EXPECT_EQ(cells->selectedCellCount(), 2);
        EXPECT_FALSE(cells->cellAt(cells->rowCount() - 1, 0)->state().selected);
        EXPECT_TRUE(cells->cellAt(cells->rowCount() - 1, 0)->state().offscreen);

        // Fewer rows: cells past the end are gone.
        OpenAndScan(dlg, dir.Write("one", std::string("just one row here", 17)));
        EXPECT_EQ(cells->rowCount(), 1);
        EXPECT_EQ(cells->cellAt(1, 0), nullptr);
        EXPECT_EQ(cells->cellAt(0, 1)->text(QAccessible::Name),
                  QStringLiteral("just one row here"));
    });
}

} // namespace
