// The report-view list over a listing: two text columns, a selected bit per row (the mark).
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "Listing.h"
#include "ShownRows.h"
#include "Wnd.h"

class ListView;

class CListCtrl : public CWnd {
public:
    CListCtrl();
    ~CListCtrl() override;

    int InsertColumn(int nCol, const char* heading, int nFormat = LVCFMT_LEFT, int nWidth = -1);
    BOOL SetColumnWidth(int nCol, int cx);

    // Items are the rows shown: every row of the listing, or while only some are shown
    // (ShowOnly), those.
    BOOL DeleteAllItems();
    int GetItemCount() const { return m_shown.Count(); }
    // Rows are appended to the listing: nItem must be its row count. Returns the new row's
    // index, or -1.
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
    const ShownRows& Shown() const { return m_shown; }

    // Shows only these rows of the listing (ascending, each once); ShowAll shows every row
    // again; AddShown adds rows to those shown. The focus row, a range's start and the top
    // row stay on their rows where those are still shown; ShowOnly and ShowAll scroll the
    // focus row into view, AddShown (a Find's rows) scrolls nothing.
    void ShowOnly(std::vector<uint32_t> rows);
    void ShowAll();
    void AddShown(const std::vector<uint32_t>& rows);
    // The row the keyboard works on, as a shown row, or -1; set, it is scrolled into view.
    int GetFocusRow() const;
    void SetFocusRow(int nItem);
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
    bool Valid(int nItem) const { return nItem >= 0 && nItem < m_shown.Count(); }
    void RowsChanged();
    void ShowColumns();
    void ChangeShown(const std::function<void()>& change, bool showCurrent);
    Listing m_rows;
    ShownRows m_shown{m_rows};
    std::vector<Column> m_columns;
    ListView* m_view = nullptr;
};
