#include "ListCtrl.h"

#include <QHeaderView>
#include <QTreeView>
#include <cstring>

#include "ListView.h"

CListCtrl::CListCtrl() = default;

CListCtrl::~CListCtrl() {
    Detach();
}

void CListCtrl::Attach(QWidget* w) {
    Detach();
    m_pWidget = w;
    auto* view = dynamic_cast<ListView*>(w);
    if (!view)
        return;
    m_model = view->Model();
    m_model->SetListing(&m_rows);
    ShowColumns();
}

void CListCtrl::Detach() {
    if (m_model)
        m_model->SetListing(nullptr);
    m_model = nullptr;
    m_pWidget = nullptr;
}

static QTreeView* View(QWidget* w) {
    return qobject_cast<QTreeView*>(w);
}

void CListCtrl::ShowColumns() {
    if (!m_model)
        return;
    QStringList headings;
    for (const Column& c : m_columns)
        headings << QString::fromLatin1(c.heading.GetString());
    m_model->SetHeadings(headings);
    if (QTreeView* v = View(m_pWidget))
        for (size_t i = 0; i < m_columns.size(); ++i)
            v->header()->resizeSection(static_cast<int>(i), m_columns[i].width);
}

int CListCtrl::InsertColumn(int nCol, const char* heading, int, int nWidth) {
    if (nCol < 0 || nCol > static_cast<int>(m_columns.size()) || nCol > 1)
        return -1;
    m_columns.insert(m_columns.begin() + nCol, Column{CString(heading), nWidth < 0 ? 100 : nWidth});
    ShowColumns();
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

BOOL CListCtrl::DeleteAllItems() {
    // The view lets go of the rows before their storage goes.
    if (m_model)
        m_model->ClearRows([this] { m_rows.Clear(); });
    else
        m_rows.Clear();
    return TRUE;
}

int CListCtrl::InsertItem(int nItem, const char* text) {
    if (nItem != m_rows.Count())
        return -1;
    m_rows.Append(text, std::strlen(text));
    if (m_model)
        m_model->RowsAppended();
    return nItem;
}

void CListCtrl::RowsChanged() {
    if (m_model)
        m_model->Flush();
    RepaintMarks();
}

void CListCtrl::RepaintMarks() {
    // Marks are read from the listing whenever a row is painted, so the view only has to
    // repaint; a change notice over millions of rows would make it walk every one of them.
    if (auto* view = qobject_cast<QTreeView*>(m_pWidget))
        view->viewport()->update();
}

BOOL CListCtrl::SetItemText(int nItem, int nSubItem, const char* text) {
    if (!Valid(nItem) || nSubItem < 0 || nSubItem > 1)
        return FALSE;
    m_rows.SetText(nItem, nSubItem, text, std::strlen(text));
    // A row the view already shows is repainted; new rows come with the next batch.
    if (m_model && m_pWidget && nItem < m_model->rowCount())
        m_pWidget->update();
    return TRUE;
}

CString CListCtrl::GetItemText(int nItem, int nSubItem) const {
    if (!Valid(nItem) || nSubItem < 0 || nSubItem > 1)
        return CString();
    size_t len;
    const char* p = m_rows.Text(nItem, nSubItem, &len);
    return CString(p, static_cast<int>(len));
}

UINT CListCtrl::GetItemState(int nItem, UINT nMask) const {
    if (!Valid(nItem))
        return 0;
    return (m_rows.Marked(nItem) ? LVIS_SELECTED : 0u) & nMask;
}

BOOL CListCtrl::SetItemState(int nItem, UINT nState, UINT nMask) {
    if (!Valid(nItem))
        return FALSE;
    if (nMask & LVIS_SELECTED) {
        m_rows.SetMarked(nItem, (nState & LVIS_SELECTED) != 0);
        RepaintMarks();
    }
    return TRUE;
}
