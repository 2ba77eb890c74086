// The list's Qt side: a view that paints the visible rows of a listing straight from it and
// hands its mouse and keys to the selection rules. It keeps nothing per row, so a listing of
// tens of millions of rows costs the view no more than an empty one.
#pragma once

#include <QAbstractScrollArea>
#include <QFont>
#include <QStringList>
#include <functional>

#include "RowSelection.h"

class ShownRows;
class QHeaderView;
class QTimer;
class HeadingModel;

class ListView : public QAbstractScrollArea {
public:
    explicit ListView(QWidget* parent);
    ~ListView() override;

    // The index of a cell among the children of the list's table for screen readers.
    static int AccessibleChild(int row, int column) { return row * 2 + column; }

    // The rows shown, or none.
    void SetListing(ShownRows* rows);
    ShownRows* Rows() const { return m_selection.Rows(); }
    // The selection rules over the listing: the user's changes to the marks, by mouse, keys or
    // screen reader, go through them.
    RowSelection& Selection() { return m_selection; }
    int RowCount() const;
    void SetHeadings(const QStringList& headings);
    QStringList Headings() const;
    void SetColumnWidth(int column, int width);
    int ColumnWidth(int column) const;
    QHeaderView* Header() const { return m_header; }
    // The rows' font: the desktop's fixed-width one.
    const QFont& RowFont() const { return m_rowFont; }

    // The listing has new or fewer rows, new texts or marks: the view takes them up.
    void RowsChanged();
    // The listing was emptied or replaced: the current row and a range's start go too.
    void RowsReset();
    // Other rows of the listing are shown (change shows them): the current row, a range's
    // start and the top row stay on their rows where those are still shown; with
    // showCurrent, the current row is then scrolled into view.
    void ChangeShown(const std::function<void()>& change, bool showCurrent);

    // The row at a point of the viewport, or -1; a row's rectangle in the viewport.
    int RowAt(const QPoint& pos) const;
    QRect RowRect(int row) const;
    QRect CellRect(int row, int column) const;
    int ColumnAt(int x) const;
    QString CellText(int row, int column) const;
    // The row the keyboard works on, or -1.
    int CurrentRow() const { return m_selection.Current(); }
    void SetCurrentRow(int row);
    int TopRow() const;
    // While work reads the marks they stay as they are; the list still moves and scrolls.
    void SetMarksLocked(bool locked) { m_selection.SetLocked(locked); }

protected:
    bool viewportEvent(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void scrollContentsBy(int dx, int dy) override;
    void changeEvent(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    int RowHeight() const;
    // Rows that fit whole in the viewport, at least one.
    int PageRows() const;
    void UpdateGeometries();
    void UpdateScrollBars();
    void ScrollTo(int row);
    // The cursor's row is scrolled into view, repainted and told to screen readers.
    void ShowCurrent();
    // Screen readers are told the table's rows are new.
    void TellReadersOfNewRows();
    // A drag that has reached pos (in the viewport): the range marked, scrolled past an edge.
    void DragTo(const QPoint& pos);
    RowSelection m_selection;
    QFont m_rowFont;
    HeadingModel* m_headings;
    QHeaderView* m_header;
    // A drag held beyond the top or bottom goes on scrolling, a row each tick.
    QTimer* m_dragScroll;
    QPoint m_dragPos;
};
