#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPalette>

#include "ListCtrl.h"
#include "Widgets_p.h"

// ---- ListModel ----

ListModel::ListModel(CListCtrl* ctrl, QObject* parent)
    : QAbstractTableModel(parent), m_ctrl(ctrl) {}

void ListModel::SetCtrl(CListCtrl* ctrl) {
    beginResetModel();
    m_ctrl = ctrl;
    m_shown = ctrl ? ctrl->GetItemCount() : 0;
    endResetModel();
}

int ListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_shown;
}

int ListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() || !m_ctrl ? 0 : m_ctrl->GetColumnCount();
}

QVariant ListModel::data(const QModelIndex& index, int role) const {
    if (!m_ctrl || !index.isValid() || index.row() >= m_shown || index.column() > 1)
        return QVariant();
    const ListRows& rows = m_ctrl->Rows();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: {
        size_t len;
        const char* p = rows.Text(index.row(), index.column(), &len);
        return QString::fromLatin1(p, static_cast<qsizetype>(len));
    }
    case Qt::BackgroundRole:
        // Marked rows show highlighted while the list has the focus.
        if (m_focused && rows.Selected(index.row()))
            return QApplication::palette().brush(QPalette::Active, QPalette::Highlight);
        return QVariant();
    case Qt::ForegroundRole:
        if (m_focused && rows.Selected(index.row()))
            return QApplication::palette().brush(QPalette::Active, QPalette::HighlightedText);
        return QVariant();
    default:
        return QVariant();
    }
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (!m_ctrl || orientation != Qt::Horizontal || role != Qt::DisplayRole ||
        section >= m_ctrl->GetColumnCount())
        return QVariant();
    return QString::fromLatin1(m_ctrl->GetColumnHeading(section).GetString());
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
    int n = m_ctrl ? m_ctrl->GetItemCount() : 0;
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
    m_shown = m_ctrl ? m_ctrl->GetItemCount() : 0;
    endResetModel();
}

void ListModel::ClearRows(const std::function<void()>& clear) {
    beginResetModel();
    clear();
    m_shown = 0;
    endResetModel();
}

void ListModel::ColumnsChanged() {
    ResetRows();
}

void ListModel::MarksChanged() {
    // Marks are read from the storage whenever a row is painted, so the view only has to
    // repaint; a change notice over millions of rows would make it walk every one of them.
    if (m_view)
        m_view->viewport()->update();
}

// ---- ListView ----

ListView::ListView(QWidget* parent, ListModel* model) : QTreeView(parent), m_model(model) {
    setModel(model);
    model->SetView(this);
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
    if (m_model->Ctrl())
        m_model->MarksChanged();
    viewport()->update();
}

void ListView::SelectRange(int a, int b, bool clearFirst) {
    CListCtrl* ctrl = m_model->Ctrl();
    if (!ctrl)
        return;
    ListRows& rows = ctrl->Rows();
    if (clearFirst)
        rows.ClearSelection();
    if (a > b)
        std::swap(a, b);
    if (a < 0)
        a = 0;
    if (b >= rows.Count())
        b = rows.Count() - 1;
    for (int r = a; r <= b; ++r)
        rows.SetSelected(r, true);
    Changed();
}

void ListView::mousePressEvent(QMouseEvent* e) {
    CListCtrl* ctrl = m_model->Ctrl();
    QModelIndex idx = indexAt(e->position().toPoint());
    if (ctrl && e->button() == Qt::LeftButton) {
        const Qt::KeyboardModifiers mods = e->modifiers();
        ListRows& rows = ctrl->Rows();
        if (!idx.isValid()) {
            if (!(mods & (Qt::ControlModifier | Qt::ShiftModifier))) {
                rows.ClearSelection();
                m_anchor = -1;
                Changed();
            }
        } else if (mods & Qt::ShiftModifier) {
            if (m_anchor < 0)
                m_anchor = idx.row();
            SelectRange(m_anchor, idx.row(), !(mods & Qt::ControlModifier));
        } else if (mods & Qt::ControlModifier) {
            rows.SetSelected(idx.row(), !rows.Selected(idx.row()));
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
    CListCtrl* ctrl = m_model->Ctrl();
    const Qt::KeyboardModifiers mods = e->modifiers();
    if (ctrl && e->matches(QKeySequence::SelectAll)) {
        SelectRange(0, ctrl->GetItemCount() - 1, false);
        return;
    }
    if (ctrl && e->key() == Qt::Key_Space && currentIndex().isValid()) {
        int row = currentIndex().row();
        ListRows& rows = ctrl->Rows();
        if (mods & Qt::ControlModifier)
            rows.SetSelected(row, !rows.Selected(row));
        else
            SelectRange(row, row, true);
        m_anchor = row;
        Changed();
        return;
    }
    QModelIndex before = currentIndex();
    QTreeView::keyPressEvent(e);
    QModelIndex after = currentIndex();
    if (!ctrl || !after.isValid() || after == before)
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
    m_model->SetViewFocused(true);
    QTreeView::focusInEvent(e);
    viewport()->update();
}

void ListView::focusOutEvent(QFocusEvent* e) {
    m_model->SetViewFocused(false);
    QTreeView::focusOutEvent(e);
    viewport()->update();
}

// ---- CListCtrl ----

CListCtrl::CListCtrl() = default;

CListCtrl::~CListCtrl() {
    Detach();
}

void CListCtrl::Attach(QWidget* w) {
    Detach();
    auto* view = qobject_cast<QTreeView*>(w);
    ListView* lv = view ? dynamic_cast<ListView*>(view) : nullptr;
    m_pWidget = w;
    if (!lv)
        return;
    m_model = lv->Model();
    m_model->SetCtrl(this);
    for (size_t i = 0; i < m_columns.size(); ++i)
        lv->header()->resizeSection(static_cast<int>(i), m_columns[i].width);
}

void CListCtrl::Detach() {
    if (m_model)
        m_model->SetCtrl(nullptr);
    m_model = nullptr;
    m_pWidget = nullptr;
}

static QTreeView* View(QWidget* w) {
    return qobject_cast<QTreeView*>(w);
}

int CListCtrl::InsertColumn(int nCol, const char* heading, int, int nWidth) {
    if (nCol < 0 || nCol > static_cast<int>(m_columns.size()) || nCol > 1)
        return -1;
    m_columns.insert(m_columns.begin() + nCol, Column{CString(heading), nWidth < 0 ? 100 : nWidth});
    if (m_model) {
        m_model->ColumnsChanged();
        if (QTreeView* v = View(m_pWidget))
            for (size_t i = 0; i < m_columns.size(); ++i)
                v->header()->resizeSection(static_cast<int>(i), m_columns[i].width);
    }
    return nCol;
}

BOOL CListCtrl::SetColumnWidth(int nCol, int cx) {
    if (nCol < 0 || nCol >= static_cast<int>(m_columns.size()))
        return FALSE;
    // A width below zero (a client narrower than the other column) shows the column empty.
    m_columns[static_cast<size_t>(nCol)].width = cx < 0 ? 0 : cx;
    if (QTreeView* v = View(m_pWidget))
        v->header()->resizeSection(nCol, m_columns[static_cast<size_t>(nCol)].width);
    return TRUE;
}

int CListCtrl::GetColumnWidth(int nCol) const {
    if (nCol < 0 || nCol >= static_cast<int>(m_columns.size()))
        return 0;
    if (QTreeView* v = View(m_pWidget))
        return v->header()->sectionSize(nCol);
    return m_columns[static_cast<size_t>(nCol)].width;
}

CString CListCtrl::GetColumnHeading(int nCol) const {
    if (nCol < 0 || nCol >= static_cast<int>(m_columns.size()))
        return CString();
    return m_columns[static_cast<size_t>(nCol)].heading;
}

BOOL CListCtrl::DeleteAllItems() {
    // The view lets go of the rows before their storage goes.
    if (m_model)
        m_model->ClearRows([this] { m_rows.Clear(); });
    else
        m_rows.Clear();
    return TRUE;
}

int CListCtrl::InsertItem(int nItem, const char* text) {
    return InsertItem(nItem, text, static_cast<int>(std::strlen(text)));
}

int CListCtrl::InsertItem(int nItem, const char* text, int nLength) {
    return InsertItem(nItem, text, nLength, "", 0);
}

void CListCtrl::RowsAppended() {
    m_model->RowsAppended();
}

BOOL CListCtrl::SetItemText(int nItem, int nSubItem, const char* text) {
    return SetItemText(nItem, nSubItem, text, static_cast<int>(std::strlen(text)));
}

BOOL CListCtrl::SetItemText(int nItem, int nSubItem, const char* text, int nLength) {
    if (!Valid(nItem) || nSubItem < 0 || nSubItem > 1 || nLength < 0)
        return FALSE;
    m_rows.SetText(nItem, nSubItem, text, static_cast<size_t>(nLength));
    // A row the view already shows is repainted; new rows come with the next batch.
    if (m_model && m_pWidget && nItem < m_model->rowCount())
        m_pWidget->update();
    return TRUE;
}

int CListCtrl::GetItemText(int nItem, int nSubItem, CString& out) const {
    if (!Valid(nItem) || nSubItem < 0 || nSubItem > 1) {
        out.Empty();
        return 0;
    }
    size_t len;
    const char* p = m_rows.Text(nItem, nSubItem, &len);
    out.Assign(p, static_cast<int>(len));
    return static_cast<int>(len);
}

const char* CListCtrl::GetItemTextView(int nItem, int nSubItem, int* pnLength) const {
    if (!Valid(nItem) || nSubItem < 0 || nSubItem > 1) {
        *pnLength = 0;
        return "";
    }
    size_t len;
    const char* p = m_rows.Text(nItem, nSubItem, &len);
    *pnLength = static_cast<int>(len);
    return p;
}

CString CListCtrl::GetItemText(int nItem, int nSubItem) const {
    CString s;
    GetItemText(nItem, nSubItem, s);
    return s;
}

UINT CListCtrl::GetItemState(int nItem, UINT nMask) const {
    if (!Valid(nItem))
        return 0;
    return (m_rows.Selected(nItem) ? LVIS_SELECTED : 0u) & nMask;
}

BOOL CListCtrl::SetItemState(int nItem, UINT nState, UINT nMask) {
    if (!Valid(nItem))
        return FALSE;
    if (nMask & LVIS_SELECTED) {
        m_rows.SetSelected(nItem, (nState & LVIS_SELECTED) != 0);
        if (m_model)
            m_model->MarksChanged();
    }
    return TRUE;
}
