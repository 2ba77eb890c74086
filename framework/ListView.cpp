#include "ListView.h"

#include <QAbstractTableModel>
#include <QAccessible>
#include <QFontDatabase>
#include <QHeaderView>
#include <QHelpEvent>
#include <QPainter>
#include <QPalette>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QTimer>
#include <QToolTip>
#include <algorithm>

#include "ShownRows.h"

// The header's columns: a model with headings and no rows, so that the header is Qt's own
// (resizable, styled, accessible) while the rows never pass through a model.
class HeadingModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;
    int rowCount(const QModelIndex&) const override { return 0; }
    int columnCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(m_headings.size());
    }
    QVariant data(const QModelIndex&, int) const override { return QVariant(); }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
            section >= m_headings.size())
            return QVariant();
        return m_headings[section];
    }
    void Set(const QStringList& headings) {
        beginResetModel();
        m_headings = headings;
        endResetModel();
    }
    const QStringList& Get() const { return m_headings; }

private:
    QStringList m_headings;
};

ListView::ListView(QWidget* parent)
    : QAbstractScrollArea(parent), m_headings(new HeadingModel(this)),
      m_header(new QHeaderView(Qt::Horizontal, this)), m_dragScroll(new QTimer(this)) {
    // Rows in the desktop's fixed-width font, so that offsets line up digit under digit; the
    // headings keep the window's own.
    m_rowFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    m_header->setModel(m_headings);
    m_header->setSectionsMovable(false);
    m_header->setSectionsClickable(false);
    m_header->setStretchLastSection(false);
    m_header->setSectionResizeMode(QHeaderView::Interactive);
    m_header->setFocusPolicy(Qt::NoFocus);
    m_header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(m_header, &QHeaderView::sectionResized, this, [this] {
        UpdateScrollBars();
        viewport()->update();
    });
    m_dragScroll->setInterval(50);
    connect(m_dragScroll, &QTimer::timeout, this, [this] { DragTo(m_dragPos); });
    verticalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setSingleStep(20);
    setFrameShape(QFrame::StyledPanel);
    viewport()->setBackgroundRole(QPalette::Base);
    UpdateGeometries();
}

ListView::~ListView() = default;

void ListView::SetListing(ShownRows* rows) {
    m_selection.SetListing(rows);
    RowsReset();
}

int ListView::RowCount() const {
    return m_selection.Count();
}

void ListView::SetHeadings(const QStringList& headings) {
    m_headings->Set(headings);
    UpdateGeometries();
}

QStringList ListView::Headings() const {
    return m_headings->Get();
}

void ListView::SetColumnWidth(int column, int width) {
    m_header->resizeSection(column, width);
}

int ListView::ColumnWidth(int column) const {
    return m_header->sectionSize(column);
}

void ListView::RowsChanged() {
    m_selection.RowsChanged();
    UpdateScrollBars();
    viewport()->update();
}

void ListView::RowsReset() {
    m_selection.RowsReset();
    verticalScrollBar()->setValue(0);
    RowsChanged();
    TellReadersOfNewRows();
}

void ListView::TellReadersOfNewRows() {
    if (QAccessible::isActive()) {
        QAccessibleTableModelChangeEvent reset(this, QAccessibleTableModelChangeEvent::ModelReset);
        QAccessible::updateAccessibility(&reset);
    }
}

void ListView::ChangeShown(const std::function<void()>& change, bool showCurrent) {
    ShownRows* rows = Rows();
    if (!rows) {
        change();
        return;
    }
    // The places are kept as listing rows across the change.
    auto rowAt = [&](int i) { return i >= 0 && i < rows->Count() ? rows->RowOf(i) : -1; };
    auto placeOf = [&](int row) {
        const int i = row < 0 ? -1 : rows->IndexOf(row);
        return i >= 0 && i < rows->Count() && rows->RowOf(i) == row ? i : -1;
    };
    const int current = rowAt(m_selection.Current());
    const int anchor = rowAt(m_selection.Anchor());
    const int top = rowAt(TopRow());
    change();
    m_selection.Reposition(placeOf(current), placeOf(anchor));
    UpdateScrollBars();
    verticalScrollBar()->setValue(top < 0 ? 0 : rows->IndexOf(top));
    if (showCurrent)
        ShowCurrent();
    else
        viewport()->update();
    TellReadersOfNewRows();
}

int ListView::RowHeight() const {
    return std::max(1, QFontMetrics(m_rowFont).height());
}

int ListView::PageRows() const {
    return std::max(1, viewport()->height() / RowHeight());
}

int ListView::TopRow() const {
    return verticalScrollBar()->value();
}

int ListView::RowAt(const QPoint& pos) const {
    if (pos.y() < 0 || pos.x() < 0 || pos.x() >= viewport()->width())
        return -1;
    const long long row = static_cast<long long>(TopRow()) + pos.y() / RowHeight();
    return row < RowCount() ? static_cast<int>(row) : -1;
}

QRect ListView::RowRect(int row) const {
    const int h = RowHeight();
    return QRect(0, (row - TopRow()) * h, viewport()->width(), h);
}

QRect ListView::CellRect(int row, int column) const {
    const QRect r = RowRect(row);
    return QRect(m_header->sectionViewportPosition(column), r.y(), m_header->sectionSize(column),
                 r.height());
}

int ListView::ColumnAt(int x) const {
    return m_header->logicalIndexAt(x);
}

QString ListView::CellText(int row, int column) const {
    const ShownRows* rows = Rows();
    if (!rows || row < 0 || row >= rows->Count() || column < 0 || column > 1)
        return QString();
    size_t len;
    const char* p = column == 0 ? rows->OffsetText(row, &len) : rows->RunText(row, &len);
    return QString::fromLatin1(p, static_cast<qsizetype>(len));
}

void ListView::UpdateGeometries() {
    // The header sits above the rows, in the margin it asks for.
    const int height = std::max(m_header->minimumHeight(), m_header->sizeHint().height());
    setViewportMargins(0, height, 0, 0);
    const QRect vg = viewport()->geometry();
    m_header->setGeometry(vg.left(), vg.top() - height, vg.width(), height);
    UpdateScrollBars();
}

void ListView::UpdateScrollBars() {
    // The vertical bar counts rows, the horizontal one pixels.
    const int page = PageRows();
    QScrollBar* v = verticalScrollBar();
    v->setPageStep(page);
    v->setRange(0, std::max(0, RowCount() - page));
    QScrollBar* h = horizontalScrollBar();
    const int width = viewport()->width();
    h->setPageStep(std::max(1, width));
    h->setRange(0, std::max(0, m_header->length() - width));
    m_header->setOffset(h->value());
}

void ListView::resizeEvent(QResizeEvent* e) {
    QAbstractScrollArea::resizeEvent(e);
    UpdateGeometries();
}

void ListView::scrollContentsBy(int dx, int) {
    if (dx)
        m_header->setOffset(horizontalScrollBar()->value());
    viewport()->update();
}

void ListView::changeEvent(QEvent* e) {
    QAbstractScrollArea::changeEvent(e);
    if (e->type() == QEvent::FontChange || e->type() == QEvent::StyleChange)
        UpdateGeometries();
}

void ListView::paintEvent(QPaintEvent* e) {
    QPainter painter(viewport());
    const int n = RowCount();
    if (!n)
        return;
    const ShownRows& rows = *Rows();
    const int h = RowHeight();
    const int top = TopRow();
    const QRect clip = e->rect();
    const int first = top + std::max(0, clip.top()) / h;
    const int last = std::min(n - 1, top + clip.bottom() / h);
    const bool focused = hasFocus();
    const QPalette& pal = palette();
    painter.setFont(m_rowFont);
    const QFontMetrics fm(m_rowFont);
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    for (int row = first; row <= last; ++row) {
        const QRect rect = RowRect(row);
        // Marked rows show highlighted while the list has the focus.
        const bool marked = focused && rows.Marked(row);
        if (marked)
            painter.fillRect(rect, pal.brush(QPalette::Active, QPalette::Highlight));
        painter.setPen(pal.color(marked ? QPalette::Active : QPalette::Current,
                                 marked ? QPalette::HighlightedText : QPalette::Text));
        for (int column = 0; column < 2 && column < m_header->count(); ++column) {
            const QRect cell = CellRect(row, column).adjusted(margin, 0, -margin, 0);
            if (cell.width() <= 0 || cell.right() < clip.left() || cell.left() > clip.right())
                continue;
            painter.drawText(cell, Qt::AlignLeft | Qt::AlignVCenter,
                             fm.elidedText(CellText(row, column), Qt::ElideRight, cell.width()));
        }
        if (focused && row == CurrentRow()) {
            QStyleOptionFocusRect focus;
            focus.initFrom(this);
            focus.rect = rect;
            focus.state |= QStyle::State_KeyboardFocusChange;
            focus.backgroundColor = pal.color(marked ? QPalette::Highlight : QPalette::Base);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
        }
    }
}

bool ListView::viewportEvent(QEvent* e) {
    if (e->type() == QEvent::ToolTip) {
        // A text cut short by its column shows whole in a tip.
        auto* help = static_cast<QHelpEvent*>(e);
        const int row = RowAt(help->pos());
        const int column = row < 0 ? -1 : ColumnAt(help->pos().x());
        if (column >= 0) {
            const QString text = CellText(row, column);
            const int room = m_header->sectionSize(column) -
                             2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1);
            if (QFontMetrics(m_rowFont).horizontalAdvance(text) > room) {
                // In lines of a hundred characters, so that a long text fits the screen. A
                // tip that looks like HTML would be taken for it: the characters go escaped,
                // in lines that keep every blank and break nowhere else.
                QString lines = QStringLiteral("<p style=\"white-space:pre\">");
                for (qsizetype at = 0; at < text.size(); at += 100)
                    lines += (at ? QStringLiteral("<br>") : QString()) +
                             text.mid(at, 100).toHtmlEscaped();
                QToolTip::showText(help->globalPos(), lines + QStringLiteral("</p>"), viewport(),
                                   CellRect(row, column));
                return true;
            }
        }
        QToolTip::hideText();
        e->ignore();
        return true;
    }
    return QAbstractScrollArea::viewportEvent(e);
}

void ListView::ScrollTo(int row) {
    const int top = TopRow();
    const int page = PageRows();
    if (row < top)
        verticalScrollBar()->setValue(row);
    else if (row >= top + page)
        verticalScrollBar()->setValue(row - page + 1);
}

void ListView::SetCurrentRow(int row) {
    if (m_selection.SetCurrent(row))
        ShowCurrent();
}

void ListView::ShowCurrent() {
    const int row = CurrentRow();
    if (row >= 0)
        ScrollTo(row);
    viewport()->update();
    if (row >= 0 && hasFocus() && QAccessible::isActive()) {
        QAccessibleEvent focus(this, QAccessible::Focus);
        focus.setChild(AccessibleChild(row, 0));
        QAccessible::updateAccessibility(&focus);
    }
}
