// The report-view list over a listing: two text columns, a selected bit per row (the mark).
#pragma once

#include <cstring>
#include <vector>

#include "Listing.h"
#include "Wnd.h"

class ListModel;

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
    // The same with the text's length given, for texts that are not NUL-terminated.
    int InsertItem(int nItem, const char* text, int nLength);
    // Appends a row with both its texts in one step.
    int InsertItem(int nItem, const char* text, int nLength, const char* subText, int nSubLength) {
        if (nItem != m_rows.Count() || nLength < 0 || nSubLength < 0)
            return -1;
        m_rows.Append(text, static_cast<size_t>(nLength), subText, static_cast<size_t>(nSubLength));
        if (m_model)
            RowsAppended();
        return nItem;
    }
    BOOL SetItemText(int nItem, int nSubItem, const char* text, int nLength);
    CString GetItemText(int nItem, int nSubItem) const;
    // Fills out with the text, reusing its storage; returns the length.
    int GetItemText(int nItem, int nSubItem, CString& out) const;
    UINT GetItemState(int nItem, UINT nMask) const;
    BOOL SetItemState(int nItem, UINT nState, UINT nMask);

    // The listing, for work done on all of it at once (a scan, a find); the view learns of
    // the change when the work ends, however it ends.
    template <class Work> void ChangeRows(Work&& work) {
        struct Done {
            CListCtrl* list;
            ~Done() { list->RowsChanged(); }
        } done{this};
        work(m_rows);
    }
    const Listing& Rows() const { return m_rows; }
    void Attach(QWidget* w) override;
    void Detach() override;

private:
    struct Column {
        CString heading;
        int width;
    };
    bool Valid(int nItem) const { return nItem >= 0 && nItem < m_rows.Count(); }
    void RowsAppended();
    void RowsChanged();
    void ShowColumns();
    Listing m_rows;
    std::vector<Column> m_columns;
    ListModel* m_model = nullptr;
};
