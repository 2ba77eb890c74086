#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>

#include "ListView.h"
#include "Listing.h"

// ---- ListModel ----

ListModel::ListModel(QObject* parent) : QAbstractTableModel(parent) {}

void ListModel::SetListing(Listing* listing) {
    beginResetModel();
    m_listing = listing;
    m_shown = listing ? listing->Count() : 0;
    endResetModel();
}

void ListModel::SetHeadings(const QStringList& headings) {
    beginResetModel();
    m_headings = headings;
    endResetModel();
}

int ListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_shown;
}

int ListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() || !m_listing ? 0 : static_cast<int>(m_headings.size());
}

QVariant ListModel::data(const QModelIndex& index, int role) const {
    if (!m_listing || !index.isValid() || index.row() >= m_shown || index.column() > 1)
        return QVariant();
    const Listing& rows = *m_listing;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: {
        size_t len;
        const char* p = rows.Text(index.row(), index.column(), &len);
        return QString::fromLatin1(p, static_cast<qsizetype>(len));
    }
    case MarkedRole:
        return rows.Marked(index.row());
    default:
        return QVariant();
    }
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= m_headings.size())
        return QVariant();
    return m_headings[section];
}

void ListModel::RowsAppended() {
    if (m_flushPosted)
        return;
    m_flushPosted = true;
    QMetaObject::invokeMethod(
        this, [this]() { Flush(); }, Qt::QueuedConnection);
}

void ListModel::Flush() {
    m_flushPosted = false;
    int n = m_listing ? m_listing->Count() : 0;
    if (n < m_shown) {
        ResetRows();
        return;
    }
    if (n == m_shown)
        return;
    beginInsertRows(QModelIndex(), m_shown, n - 1);
    m_shown = n;
    endInsertRows();
}

void ListModel::ResetRows() {
    beginResetModel();
    m_shown = m_listing ? m_listing->Count() : 0;
    endResetModel();
}

void ListModel::ClearRows(const std::function<void()>& clear) {
    beginResetModel();
    clear();
    m_shown = 0;
    endResetModel();
}

// ---- ListView ----

ListView::ListView(QWidget* parent, ListModel* model) : QTreeView(parent), m_model(model) {
    setModel(model);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::NoSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTextElideMode(Qt::ElideRight);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    setFrameShape(QFrame::StyledPanel);
}

void ListView::reset() {
    // New rows: a range selection starts afresh.
    m_anchor = -1;
    QTreeView::reset();
}

void ListView::Changed() {
    viewport()->update();
}

void ListView::SelectRange(int a, int b, bool clearFirst) {
    if (!m_model->Rows())
        return;
    Listing& rows = *m_model->Rows();
    if (clearFirst)
        rows.ClearMarks();
    if (a > b)
        std::swap(a, b);
    if (a < 0)
        a = 0;
    if (b >= rows.Count())
        b = rows.Count() - 1;
    for (int r = a; r <= b; ++r)
        rows.SetMarked(r, true);
    Changed();
}

void ListView::mousePressEvent(QMouseEvent* e) {
    Listing* listing = m_model->Rows();
    QModelIndex idx = indexAt(e->position().toPoint());
    if (listing && e->button() == Qt::LeftButton) {
        const Qt::KeyboardModifiers mods = e->modifiers();
        Listing& rows = *listing;
        if (!idx.isValid()) {
            if (!(mods & (Qt::ControlModifier | Qt::ShiftModifier))) {
                rows.ClearMarks();
                m_anchor = -1;
                Changed();
            }
        } else if (mods & Qt::ShiftModifier) {
            if (m_anchor < 0)
                m_anchor = idx.row();
            SelectRange(m_anchor, idx.row(), !(mods & Qt::ControlModifier));
        } else if (mods & Qt::ControlModifier) {
            rows.SetMarked(idx.row(), !rows.Marked(idx.row()));
            m_anchor = idx.row();
            Changed();
        } else {
            m_anchor = idx.row();
            SelectRange(idx.row(), idx.row(), true);
        }
    }
    QTreeView::mousePressEvent(e);
}

void ListView::mouseMoveEvent(QMouseEvent* e) {
    QTreeView::mouseMoveEvent(e);
    if (!(e->buttons() & Qt::LeftButton) || m_anchor < 0 || (e->modifiers() & Qt::ControlModifier))
        return;
    QModelIndex idx = indexAt(e->position().toPoint());
    if (idx.isValid())
        SelectRange(m_anchor, idx.row(), true);
}

void ListView::keyPressEvent(QKeyEvent* e) {
    Listing* listing = m_model->Rows();
    const Qt::KeyboardModifiers mods = e->modifiers();
    if (listing && e->matches(QKeySequence::SelectAll)) {
        SelectRange(0, listing->Count() - 1, false);
        return;
    }
    if (listing && e->key() == Qt::Key_Space && currentIndex().isValid()) {
        int row = currentIndex().row();
        Listing& rows = *listing;
        if (mods & Qt::ControlModifier)
            rows.SetMarked(row, !rows.Marked(row));
        else
            SelectRange(row, row, true);
        m_anchor = row;
        Changed();
        return;
    }
    QModelIndex before = currentIndex();
    QTreeView::keyPressEvent(e);
    QModelIndex after = currentIndex();
    if (!listing || !after.isValid() || after == before)
        return;
    switch (e->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        if (mods & Qt::ShiftModifier) {
            if (m_anchor < 0)
                m_anchor = before.isValid() ? before.row() : after.row();
            SelectRange(m_anchor, after.row(), !(mods & Qt::ControlModifier));
        } else if (!(mods & Qt::ControlModifier)) {
            m_anchor = after.row();
            SelectRange(after.row(), after.row(), true);
        }
        break;
    default:
        break;
    }
}

void ListView::focusInEvent(QFocusEvent* e) {
    QTreeView::focusInEvent(e);
    viewport()->update();
}

void ListView::focusOutEvent(QFocusEvent* e) {
    QTreeView::focusOutEvent(e);
    viewport()->update();
}

void ListView::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                       const QModelIndex& index) const {
    // Marked rows show highlighted while the list has the focus.
    if (!hasFocus() || !index.data(ListModel::MarkedRole).toBool()) {
        QTreeView::drawRow(painter, option, index);
        return;
    }
    QStyleOptionViewItem marked = option;
    const QPalette& pal = palette();
    painter->fillRect(option.rect, pal.brush(QPalette::Active, QPalette::Highlight));
    marked.palette.setBrush(QPalette::Text, pal.brush(QPalette::Active, QPalette::HighlightedText));
    QTreeView::drawRow(painter, marked, index);
}
