// The list's selection rules, apart from any window: which rows a click, a drag or a key
// marks, where the cursor and the start of a range are, and the lock that keeps the marks
// still while work reads them. The view maps its mouse and keys to these calls and paints;
// the screen readers' table marks through them too.
#pragma once

class ShownRows;

class RowSelection {
public:
    // What a click or a key is held with; they combine.
    enum Modifier : unsigned { kPlain = 0, kShift = 1, kCtrl = 2 };
    // Where a key takes the cursor.
    enum class Step { Up, Down, PageUp, PageDown, Home, End };

    // The rows the rules apply to (those the list shows), or none; the cursor and the
    // range's start go.
    void SetListing(ShownRows* rows);
    ShownRows* Rows() const { return m_listing; }
    int Count() const;

    // The row the keyboard works on, or -1.
    int Current() const { return m_current; }
    // Where a range marked with Shift begins, or -1.
    int Anchor() const { return m_anchor; }
    // Puts the cursor on a row, or on none (-1); the marks stay. False for no such row.
    bool SetCurrent(int row);

    // The listing has new or fewer rows: a cursor or range start past its end goes.
    void RowsChanged();
    // The listing was emptied or replaced: the cursor and the range's start go.
    void RowsReset();
    // Other rows are shown: the cursor and the range's start are put where their rows are
    // shown now (-1: nowhere).
    void Reposition(int current, int anchor);

    // While work reads the marks (a scan, an export) nothing here changes them; the cursor
    // and the range's start still move.
    void SetLocked(bool locked) { m_locked = locked; }
    bool Locked() const { return m_locked; }

    // A press of the left button on a row, or below the rows (-1). Plain, it marks the row
    // alone; Ctrl turns the row's mark over; Shift marks the range from its start to here,
    // Ctrl+Shift adds that range. Plain below the rows, it takes every mark off.
    void Click(int row, unsigned modifiers);
    // Whether a drag is on: the button went down on a row and the range's start is there.
    bool Dragging() const;
    // The drag has reached a row: the rows from the range's start to it are the marked ones.
    void DragTo(int row);
    void EndDrag() { m_dragging = false; }
    // A key that moves the cursor, a page being pageRows rows. Plain, it marks the row it
    // reaches alone; Shift marks from the range's start (Ctrl+Shift adds); Ctrl moves
    // without changing the marks. True when the cursor moved.
    bool Move(Step step, int pageRows, unsigned modifiers);
    // Space: marks the cursor's row alone; with Ctrl, turns its mark over.
    void Space(unsigned modifiers);
    // Ctrl+A: marks every row.
    void MarkAll();
    // Marks or unmarks one row, as a screen reader asks. False when refused: no such row,
    // or the marks are locked.
    bool Mark(int row, bool mark);

private:
    enum class Change { Only, Add, Toggle, Set, Unset, ClearAll };
    // Every change of the marks goes through here, and here alone the lock is heeded.
    bool ChangeMarks(Change how, int first = 0, int last = 0);
    ShownRows* m_listing = nullptr;
    int m_current = -1;
    int m_anchor = -1;
    bool m_locked = false;
    bool m_dragging = false;
};
