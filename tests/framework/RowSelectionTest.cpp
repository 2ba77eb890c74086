// The list's selection rules on a listing, without a window: clicks, drags, keys, and the
// lock that keeps the marks still while work reads them.
#include <gtest/gtest.h>
#include <vector>

#include "Listing.h"
#include "RowSelection.h"
#include "ShownRows.h"

namespace {

using Step = RowSelection::Step;
constexpr unsigned kPlain = RowSelection::kPlain;
constexpr unsigned kShift = RowSelection::kShift;
constexpr unsigned kCtrl = RowSelection::kCtrl;

std::vector<int> Span(int first, int last) {
    std::vector<int> v;
    for (int i = first; i <= last; ++i)
        v.push_back(i);
    return v;
}

// A listing of n rows with a selection over it.
struct Rows {
    explicit Rows(int n) {
        for (int i = 0; i < n; ++i)
            listing.Append("", 0);
        s.SetListing(&shown);
    }
    std::vector<int> Marked() const {
        std::vector<int> marked;
        for (int i = 0; i < listing.Count(); ++i)
            if (listing.Marked(i))
                marked.push_back(i);
        return marked;
    }
    Listing listing;
    ShownRows shown{listing};
    RowSelection s;
};

TEST(RowSelection, ClicksAndDragsMarkARowARangeOrTheRowsPassedOver) {
    Rows rows(20);
    RowSelection& s = rows.s;
    s.Click(2, kPlain);
    s.Click(5, kCtrl);
    EXPECT_EQ(rows.Marked(), std::vector<int>({2, 5}));
    s.Click(8, kShift); // from the last click, the marks before it gone
    EXPECT_EQ(rows.Marked(), Span(5, 8));
    s.Click(2, kCtrl | kShift); // added, and the range still begins at 5
    EXPECT_EQ(rows.Marked(), Span(2, 8));
    EXPECT_EQ(s.Anchor(), 5);
    // Below the rows: with Ctrl or Shift nothing changes; plain, every mark goes and the
    // range with them, so that the next Shift click spans from the cursor.
    s.Click(-1, kShift);
    s.Click(-1, kCtrl);
    EXPECT_EQ(rows.Marked(), Span(2, 8));
    s.Click(-1, kPlain);
    EXPECT_EQ(rows.Marked(), std::vector<int>());
    EXPECT_EQ(s.Current(), 2);
    s.Click(4, kShift);
    EXPECT_EQ(rows.Marked(), Span(2, 4));

    // A drag marks from where the button went down to where it is, either way, until the
    // button is let go or the rows are gone.
    s.Click(10, kPlain);
    s.DragTo(14);
    EXPECT_EQ(rows.Marked(), Span(10, 14));
    s.DragTo(7);
    EXPECT_EQ(rows.Marked(), Span(7, 10));
    EXPECT_EQ(s.Current(), 7);
    s.EndDrag();
    s.DragTo(12);
    EXPECT_EQ(rows.Marked(), Span(7, 10));
    s.Click(15, kPlain);
    rows.listing.Clear();
    s.RowsChanged();
    EXPECT_FALSE(s.Dragging());
    EXPECT_EQ(s.Current(), -1);
}

TEST(RowSelection, KeysMoveTheCursorAndShiftMarksFromWhereTheRangeBegan) {
    Rows rows(50);
    RowSelection& s = rows.s;
    // With no cursor, the first step lands on the first row; at an edge nothing moves.
    EXPECT_TRUE(s.Move(Step::Down, 10, kCtrl));
    EXPECT_FALSE(s.Move(Step::PageUp, 10, kPlain));
    // Moved with Ctrl only, no range has begun: Shift spans from the row the cursor left.
    s.Move(Step::Down, 10, kCtrl);
    s.Move(Step::Down, 10, kShift);
    EXPECT_EQ(rows.Marked(), Span(1, 2));
    // The same after a click below the rows ends a range begun elsewhere (row 1).
    s.Move(Step::Down, 10, kCtrl);
    s.Click(-1, kPlain);
    s.Move(Step::Down, 10, kShift);
    EXPECT_EQ(rows.Marked(), Span(3, 4));

    s.Move(Step::PageDown, 10, kPlain);
    EXPECT_EQ(rows.Marked(), std::vector<int>({14}));
    s.Move(Step::PageUp, 10, kShift); // up a page from where the range began
    EXPECT_EQ(rows.Marked(), Span(4, 14));
    s.Move(Step::End, 10, kCtrl | kShift);
    EXPECT_EQ(rows.Marked(), Span(4, 49));
    s.Move(Step::Home, 10, kPlain);
    EXPECT_EQ(rows.Marked(), std::vector<int>({0}));
    // Space marks the cursor's row alone, Ctrl+Space turns it over; both begin a range.
    s.Move(Step::Down, 10, kCtrl);
    s.Space(kCtrl);
    s.Move(Step::Down, 10, kCtrl | kShift);
    EXPECT_EQ(rows.Marked(), Span(0, 2));
    s.Space(kCtrl);
    EXPECT_EQ(rows.Marked(), Span(0, 1));
    s.Space(kPlain);
    EXPECT_EQ(rows.Marked(), std::vector<int>({2}));
    s.MarkAll();
    EXPECT_EQ(rows.Marked(), Span(0, 49));
    // An empty listing has no cursor to move and no rows to mark.
    Rows none(0);
    EXPECT_FALSE(none.s.Move(Step::End, 10, kPlain));
    none.s.MarkAll();
    EXPECT_EQ(none.s.Current(), -1);
}

TEST(RowSelection, LockedMarksStayStillWhileTheCursorMoves) {
    Rows rows(30);
    RowSelection& s = rows.s;
    s.Click(4, kPlain);
    s.Click(9, kCtrl);
    s.SetLocked(true);
    s.Click(12, kPlain);
    s.Click(4, kCtrl);
    s.Click(20, kShift);
    s.DragTo(25);
    s.Move(Step::Down, 5, kPlain);
    s.Move(Step::Home, 5, kShift);
    EXPECT_EQ(s.Current(), 0);
    s.Space(kPlain);
    s.Space(kCtrl);
    s.MarkAll();
    s.Click(-1, kPlain);
    // A screen reader's mark or unmark is refused, and says so.
    EXPECT_FALSE(s.Mark(7, true));
    EXPECT_FALSE(s.Mark(9, false));
    EXPECT_EQ(rows.Marked(), std::vector<int>({4, 9}));
    s.SetLocked(false);
    EXPECT_TRUE(s.Mark(7, true));
    EXPECT_TRUE(s.Mark(9, false));
    EXPECT_FALSE(s.Mark(30, true));
    EXPECT_EQ(rows.Marked(), std::vector<int>({4, 7}));
}

} // namespace
