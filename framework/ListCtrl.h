// The report-view list over a listing: two text columns, a selected bit per row (the mark).
#pragma once

#include <cstring>
#include <vector>

#include "Listing.h"
#include "Wnd.h"

class ListView;

class CListCtrl : public CWnd {
public:
    CListCtrl();
    ~CListCtrl() override;

    int InsertColumn(int nCol, const char* heading, int nFormat = LVCFMT_LEFT, int nWidth = -1);
    BOOL SetColumnWidth(int nCol, int cx);

    BOOL DeleteAllItems();
    int GetItemCount() const { return m_rows.Count(); }
    // Rows are appended: nItem must be the row count. Returns the new row's index, or -1.
    int InsertItem(int nItem, const char* text);
    BOOL SetItemText(int nItem, int nSubItem, const char* text);
    CString GetItemText(int nItem, int nSubItem) const;
    UINT GetItemState(int nItem, UINT nMask) const;
    BOOL SetItemState(int nItem, UINT nState, UINT nMask);

    // The listing, for work done on all of it at once (a scan, a find); the view learns of
    // the change when the work ends, however it ends.
    template <class Work> void ChangeRows(Work&& work) {
        try {
            work(m_rows);
        } catch (...) {
            RowsChanged();
            throw;
        }
        RowsChanged();
    }
    const Listing& Rows() const { return m_rows; }
    // While work reads the marks, the user cannot change them; the list still moves and
    // scrolls.
    void SetMarksLocked(bool locked);
    void Attach(QWidget* w) override;
    void Detach() override;

private:
    struct Column {
        CString heading;
        int width;
    };
    bool Valid(int nItem) const { return nItem >= 0 && nItem < m_rows.Count(); }
    void RowsChanged();
    void ShowColumns();
    Listing m_rows;
    std::vector<Column> m_columns;
    ListView* m_view = nullptr;
};
