#include "ListView.h"

#include <QAbstractTableModel>
#include <QAccessible>
#include <QFontDatabase>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QTimer>
#include <QToolTip>
#include <algorithm>

#include "ListAccessible.h"
#include "Listing.h"

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
    InstallListAccessibility();
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

void ListView::SetListing(Listing* listing) {
    m_listing = listing;
    RowsReset();
}

int ListView::RowCount() const {
    return m_listing ? m_listing->Count() : 0;
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
    const int n = RowCount();
    if (m_current >= n)
        m_current = -1;
    if (m_anchor >= n)
        m_anchor = -1;
    UpdateScrollBars();
    viewport()->update();
}

void ListView::RowsReset() {
    m_current = -1;
    m_anchor = -1;
    verticalScrollBar()->setValue(0);
    RowsChanged();
    if (QAccessible::isActive()) {
        QAccessibleTableModelChangeEvent reset(this, QAccessibleTableModelChangeEvent::ModelReset);
        QAccessible::updateAccessibility(&reset);
    }
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
    if (!m_listing || row < 0 || row >= m_listing->Count() || column < 0 || column > 1)
        return QString();
    size_t len;
    const char* p = column == 0 ? m_listing->OffsetText(row, &len) : m_listing->RunText(row, &len);
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
    const Listing& rows = *m_listing;
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
        if (focused && row == m_current) {
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
    if (row < -1 || row >= RowCount())
        return;
    m_current = row;
    if (row >= 0)
        ScrollTo(row);
    viewport()->update();
    if (row >= 0 && hasFocus() && QAccessible::isActive()) {
        QAccessibleEvent focus(this, QAccessible::Focus);
        focus.setChild(ListAccessibleChild(row, 0));
        QAccessible::updateAccessibility(&focus);
    }
}

void ListView::MarksChanged() {
    viewport()->update();
}

void ListView::MarkRange(int a, int b, bool clearFirst) {
    if (!CanMark() || !m_listing->Count())
        return;
    Listing& rows = *m_listing;
    if (clearFirst)
        rows.ClearMarks();
    if (a > b)
        std::swap(a, b);
    rows.MarkRange(a, b);
    MarksChanged();
}

void ListView::mousePressEvent(QMouseEvent* e) {
    if (!m_listing || e->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(e);
        return;
    }
    Listing& rows = *m_listing;
    const Qt::KeyboardModifiers mods = e->modifiers();
    const int row = RowAt(e->position().toPoint());
    if (row < 0) {
        // A click below the rows clears the marks, as a click on nothing does.
        if (!(mods & (Qt::ControlModifier | Qt::ShiftModifier)) && CanMark()) {
            rows.ClearMarks();
            m_anchor = -1;
            MarksChanged();
        }
        return;
    }
    if (mods & Qt::ShiftModifier) {
        if (m_anchor < 0)
            m_anchor = m_current >= 0 ? m_current : row;
        MarkRange(m_anchor, row, !(mods & Qt::ControlModifier));
    } else if (mods & Qt::ControlModifier) {
        if (CanMark())
            rows.SetMarked(row, !rows.Marked(row));
        m_anchor = row;
        MarksChanged();
    } else {
        m_anchor = row;
        MarkRange(row, row, true);
    }
    m_dragging = true;
    SetCurrentRow(row);
}

void ListView::mouseMoveEvent(QMouseEvent* e) {
    if (!(e->buttons() & Qt::LeftButton) || !m_dragging || (e->modifiers() & Qt::ControlModifier))
        return;
    m_dragPos = e->position().toPoint();
    DragTo(m_dragPos);
}

void ListView::mouseReleaseEvent(QMouseEvent* e) {
    m_dragging = false;
    m_dragScroll->stop();
    QAbstractScrollArea::mouseReleaseEvent(e);
}

void ListView::DragTo(const QPoint& pos) {
    const int n = RowCount();
    if (!m_dragging || m_anchor < 0 || m_anchor >= n) {
        m_dragScroll->stop();
        return;
    }
    // Past the top or bottom the list scrolls a row at a time, and goes on doing so while
    // the mouse stays there.
    int row;
    const bool outside = pos.y() < 0 || pos.y() >= viewport()->height();
    if (pos.y() < 0)
        row = std::max(0, TopRow() - 1);
    else if (pos.y() >= viewport()->height())
        row = std::min(n - 1, TopRow() + PageRows());
    else if ((row = RowAt(QPoint(0, pos.y()))) < 0)
        row = n - 1;
    if (outside)
        m_dragScroll->start();
    else
        m_dragScroll->stop();
    MarkRange(m_anchor, row, true);
    SetCurrentRow(row);
}

void ListView::keyPressEvent(QKeyEvent* e) {
    const int n = RowCount();
    const Qt::KeyboardModifiers mods = e->modifiers();
    if (e->matches(QKeySequence::SelectAll)) {
        MarkRange(0, n - 1, false);
        return;
    }
    const int before = m_current;
    int after;
    switch (e->key()) {
    case Qt::Key_Space:
        if (before < 0)
            return;
        if (mods & Qt::ControlModifier) {
            if (CanMark())
                m_listing->SetMarked(before, !m_listing->Marked(before));
            MarksChanged();
        } else {
            MarkRange(before, before, true);
        }
        m_anchor = before;
        return;
    case Qt::Key_Left:
    case Qt::Key_Right: {
        QScrollBar* h = horizontalScrollBar();
        h->setValue(h->value() + (e->key() == Qt::Key_Left ? -1 : 1) * h->singleStep());
        return;
    }
    case Qt::Key_Up:
        after = before < 0 ? 0 : before - 1;
        break;
    case Qt::Key_Down:
        after = before < 0 ? 0 : before + 1;
        break;
    case Qt::Key_PageUp:
        after = before < 0 ? 0 : before - PageRows();
        break;
    case Qt::Key_PageDown:
        after = before < 0 ? 0 : before + PageRows();
        break;
    case Qt::Key_Home:
        after = 0;
        break;
    case Qt::Key_End:
        after = n - 1;
        break;
    default:
        // Enter, Escape and the rest belong to the window.
        e->ignore();
        return;
    }
    if (!n)
        return;
    after = std::clamp(after, 0, n - 1);
    if (after == before)
        return;
    SetCurrentRow(after);
    // Shift extends from the range's start; Ctrl alone moves without touching the marks.
    if (mods & Qt::ShiftModifier) {
        if (m_anchor < 0)
            m_anchor = before >= 0 ? before : after;
        MarkRange(m_anchor, after, !(mods & Qt::ControlModifier));
    } else if (!(mods & Qt::ControlModifier)) {
        m_anchor = after;
        MarkRange(after, after, true);
    }
}

void ListView::focusInEvent(QFocusEvent* e) {
    QAbstractScrollArea::focusInEvent(e);
    viewport()->update();
}

void ListView::focusOutEvent(QFocusEvent* e) {
    QAbstractScrollArea::focusOutEvent(e);
    viewport()->update();
}
