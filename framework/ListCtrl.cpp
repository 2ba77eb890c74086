#include "ListCtrl.h"

#include <cstring>

#include "ListView.h"

CListCtrl::CListCtrl() = default;

CListCtrl::~CListCtrl() {
    Detach();
}

void CListCtrl::Attach(QWidget* w) {
    Detach();
    m_pWidget = w;
    m_view = dynamic_cast<ListView*>(w);
    if (!m_view)
        return;
    m_view->SetListing(&m_shown);
    ShowColumns();
}

void CListCtrl::Detach() {
    if (m_view)
        m_view->SetListing(nullptr);
    m_view = nullptr;
    m_pWidget = nullptr;
}

void CListCtrl::SetMarksLocked(bool locked) {
    if (m_view)
        m_view->SetMarksLocked(locked);
}

void CListCtrl::ShowColumns() {
    if (!m_view)
        return;
    QStringList headings;
    for (const Column& c : m_columns)
        headings << QString::fromLatin1(c.heading.GetString());
    m_view->SetHeadings(headings);
    for (size_t i = 0; i < m_columns.size(); ++i)
        m_view->SetColumnWidth(static_cast<int>(i), m_columns[i].width);
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
    if (m_view)
        m_view->SetColumnWidth(nCol, m_columns[static_cast<size_t>(nCol)].width);
    return TRUE;
}

BOOL CListCtrl::DeleteAllItems() {
    m_shown.ShowAll();
    m_rows.Clear();
    if (m_view)
        m_view->RowsReset();
    return TRUE;
}

int CListCtrl::InsertItem(int nItem, const char* text) {
    if (nItem != m_rows.Count())
        return -1;
    m_rows.Append(text, std::strlen(text));
    RowsChanged();
    return nItem;
}

void CListCtrl::RowsChanged() {
    // The view reads rows, texts and marks from the listing when it paints, so it only
    // has to take up the new count and repaint.
    if (m_view)
        m_view->RowsChanged();
}

BOOL CListCtrl::SetItemText(int nItem, int nSubItem, const char* text) {
    if (!Valid(nItem) || nSubItem < 0 || nSubItem > 1)
        return FALSE;
    // Sub-item 0 is the offset column, 1 the run's text.
    const int row = m_shown.RowOf(nItem);
    if (nSubItem == 0)
        m_rows.SetOffsetText(row, text, std::strlen(text));
    else
        m_rows.SetRunText(row, text, std::strlen(text));
    RowsChanged();
    return TRUE;
}

CString CListCtrl::GetItemText(int nItem, int nSubItem) const {
    if (!Valid(nItem) || nSubItem < 0 || nSubItem > 1)
        return CString();
    size_t len;
    const char* p = nSubItem == 0 ? m_shown.OffsetText(nItem, &len) : m_shown.RunText(nItem, &len);
    return CString(p, static_cast<int>(len));
}

UINT CListCtrl::GetItemState(int nItem, UINT nMask) const {
    if (!Valid(nItem))
        return 0;
    return (m_shown.Marked(nItem) ? LVIS_SELECTED : 0u) & nMask;
}

BOOL CListCtrl::SetItemState(int nItem, UINT nState, UINT nMask) {
    if (!Valid(nItem))
        return FALSE;
    if (nMask & LVIS_SELECTED) {
        m_shown.SetMarked(nItem, (nState & LVIS_SELECTED) != 0);
        RowsChanged();
    }
    return TRUE;
}

void CListCtrl::ShowOnly(std::vector<uint32_t> rows) {
    ChangeShown([&] { m_shown.ShowOnly(std::move(rows)); }, true);
}

void CListCtrl::ShowAll() {
    ChangeShown([&] { m_shown.ShowAll(); }, true);
}

void CListCtrl::AddShown(const std::vector<uint32_t>& rows) {
    // With every row shown, or nothing to add, there is nothing to change.
    if (!m_shown.Filtered() || rows.empty())
        return;
    ChangeShown([&] { m_shown.Add(rows); }, false);
}

void CListCtrl::ChangeShown(const std::function<void()>& change, bool showCurrent) {
    if (m_view)
        m_view->ChangeShown(change, showCurrent);
    else
        change();
}

int CListCtrl::GetFocusRow() const {
    return m_view ? m_view->CurrentRow() : -1;
}

void CListCtrl::SetFocusRow(int nItem) {
    if (m_view)
        m_view->SetCurrentRow(nItem);
}
