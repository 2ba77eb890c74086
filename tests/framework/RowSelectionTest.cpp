// The list's selection rules on a listing, without a window: clicks, drags, keys, and the
// lock that keeps the marks still while work reads them.
#include <gtest/gtest.h>
#include <vector>

#include "Listing.h"
#include "RowSelection.h"

namespace {

using Step = RowSelection::Step;
constexpr unsigned kShift = RowSelection::kShift;
constexpr unsigned kCtrl = RowSelection::kCtrl;

std::vector<int> Marked(const Listing& rows) {
    std::vector<int> marked;
    for (int i = 0; i < rows.Count(); ++i)
        if (rows.Marked(i))
            marked.push_back(i);
    return marked;
}

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
        selection.SetListing(&listing);
    }
    std::vector<int> Marked() const { return ::Marked(listing); }
    Listing listing;
    RowSelection selection;
};

TEST(RowSelection, ClicksAndDragsMarkARowARangeOrTheRowsPassedOver) {
    Rows rows(20);
    RowSelection& s = rows.selection;
    s.Click(2, RowSelection::kPlain);
    EXPECT_EQ(rows.Marked(), std::vector<int>({2}));
    s.Click(5, kCtrl);
    EXPECT_EQ(rows.Marked(), std::vector<int>({2, 5}));
    s.Click(8, kShift); // from the last click, the marks before it gone
    EXPECT_EQ(rows.Marked(), Span(5, 8));
    s.Click(2, kCtrl | kShift); // the range's start stays: from 5 down to 2, added
    EXPECT_EQ(rows.Marked(), Span(2, 8));
    s.Click(5, kCtrl);
    EXPECT_EQ(rows.Marked(), std::vector<int>({2, 3, 4, 6, 7, 8}));
    EXPECT_EQ(s.Current(), 5);
    EXPECT_EQ(s.Anchor(), 5);

    // Below the rows: Ctrl or Shift leave everything; a plain click takes every mark off,
    // and the next Shift click spans from the cursor.
    s.Click(-1, kShift);
    s.Click(-1, kCtrl);
    EXPECT_EQ(rows.Marked().size(), 6u);
    s.Click(-1, RowSelection::kPlain);
    EXPECT_EQ(rows.Marked(), std::vector<int>());
    EXPECT_EQ(s.Anchor(), -1);
    EXPECT_EQ(s.Current(), 5);
    s.Click(3, kShift);
    EXPECT_EQ(rows.Marked(), Span(3, 5));

    // A drag marks from where the button went down to where it is, either way.
    s.EndDrag();
    s.Click(10, RowSelection::kPlain);
    ASSERT_TRUE(s.Dragging());
    s.DragTo(14);
    EXPECT_EQ(rows.Marked(), Span(10, 14));
    s.DragTo(7);
    EXPECT_EQ(rows.Marked(), Span(7, 10));
    EXPECT_EQ(s.Current(), 7);
    s.EndDrag();
    s.DragTo(12);
    EXPECT_EQ(rows.Marked(), Span(7, 10));
    // Nor does a drag go on once its rows are gone.
    s.Click(15, RowSelection::kPlain);
    rows.listing.Clear();
    s.RowsChanged();
    EXPECT_FALSE(s.Dragging());
    EXPECT_EQ(s.Current(), -1);
}

TEST(RowSelection, KeysMoveTheCursorAndMarkWithShiftFromWhereTheRangeBegan) {
    Rows rows(50);
    RowSelection& s = rows.selection;
    // With no cursor, the first step lands on the first row (End on the last).
    EXPECT_TRUE(s.Move(Step::Down, 10, RowSelection::kPlain));
    EXPECT_EQ(rows.Marked(), std::vector<int>({0}));
    EXPECT_FALSE(s.Move(Step::Up, 10, RowSelection::kPlain)); // already at the top
    s.Move(Step::PageDown, 10, RowSelection::kPlain);
    EXPECT_EQ(rows.Marked(), std::vector<int>({10}));
    s.Move(Step::Down, 10, kShift);
    s.Move(Step::Down, 10, kShift);
    EXPECT_EQ(rows.Marked(), Span(10, 12));
    s.Move(Step::PageUp, 10, kShift); // through the range's start, and past it
    EXPECT_EQ(rows.Marked(), Span(2, 10));
    s.Move(Step::Down, 10, kCtrl);
    EXPECT_EQ(s.Current(), 3);
    EXPECT_EQ(rows.Marked(), Span(2, 10));
    s.Move(Step::End, 10, kCtrl | kShift);
    EXPECT_EQ(rows.Marked(), Span(2, 49));
    s.Move(Step::Home, 10, RowSelection::kPlain);
    EXPECT_EQ(rows.Marked(), std::vector<int>({0}));
    EXPECT_FALSE(s.Move(Step::PageUp, 10, RowSelection::kPlain));

    // Space marks the cursor's row alone, Ctrl+Space turns it over; both begin a range.
    s.Move(Step::Down, 10, kCtrl);
    s.Move(Step::Down, 10, kCtrl);
    s.Space(kCtrl);
    EXPECT_EQ(rows.Marked(), std::vector<int>({0, 2}));
    s.Move(Step::Down, 10, kShift);
    EXPECT_EQ(rows.Marked(), Span(2, 3));
    s.Space(kCtrl);
    EXPECT_EQ(rows.Marked(), std::vector<int>({2}));
    s.Space(RowSelection::kPlain);
    EXPECT_EQ(rows.Marked(), std::vector<int>({3}));
    s.MarkAll();
    EXPECT_EQ(rows.Marked(), Span(0, 49));

    // An empty listing has no cursor to move.
    Rows none(0);
    EXPECT_FALSE(none.selection.Move(Step::End, 10, RowSelection::kPlain));
    none.selection.Space(RowSelection::kPlain);
    none.selection.MarkAll();
    EXPECT_EQ(none.selection.Current(), -1);
}

TEST(RowSelection, ShiftWithNoRangeBegunSpansFromTheCursor) {
    // Moved with Ctrl only: no range has begun, and Shift+Down marks both rows.
    Rows fresh(10);
    fresh.selection.Move(Step::Down, 5, kCtrl);
    fresh.selection.Move(Step::Down, 5, kCtrl);
    EXPECT_EQ(fresh.Marked(), std::vector<int>());
    EXPECT_EQ(fresh.selection.Anchor(), -1);
    fresh.selection.Move(Step::Down, 5, kShift);
    EXPECT_EQ(fresh.Marked(), Span(1, 2));
    // A click below the rows ends the range begun on row 6; the cursor stays on row 7.
    Rows cleared(10);
    cleared.selection.Click(6, RowSelection::kPlain);
    cleared.selection.Move(Step::Down, 5, kCtrl);
    cleared.selection.Click(-1, RowSelection::kPlain);
    cleared.selection.Move(Step::Down, 5, kShift);
    EXPECT_EQ(cleared.Marked(), Span(7, 8));
}

TEST(RowSelection, LockedMarksStayStillWhileTheCursorMoves) {
    Rows rows(30);
    RowSelection& s = rows.selection;
    s.Click(4, RowSelection::kPlain);
    s.Click(9, kCtrl);
    const std::vector<int> before = rows.Marked();
    s.SetLocked(true);
    s.Click(12, RowSelection::kPlain);
    s.Click(4, kCtrl);
    s.Click(20, kShift);
    s.DragTo(25);
    EXPECT_EQ(s.Current(), 25);
    s.Move(Step::Down, 5, RowSelection::kPlain);
    s.Move(Step::Home, 5, kShift);
    EXPECT_EQ(s.Current(), 0);
    s.Space(RowSelection::kPlain);
    s.Space(kCtrl);
    s.MarkAll();
    s.Click(-1, RowSelection::kPlain);
    // A screen reader's mark or unmark is refused, and says so.
    EXPECT_FALSE(s.Mark(7, true));
    EXPECT_FALSE(s.Mark(9, false));
    EXPECT_EQ(rows.Marked(), before);
    s.SetLocked(false);
    EXPECT_TRUE(s.Mark(7, true));
    EXPECT_TRUE(s.Mark(9, false));
    EXPECT_FALSE(s.Mark(30, true));
    EXPECT_EQ(rows.Marked(), std::vector<int>({4, 7}));
    // Rows going: a cursor past the end goes with them, one on a row stays.
    EXPECT_FALSE(s.SetCurrent(30));
    ASSERT_TRUE(s.SetCurrent(29));
    rows.listing.Clear();
    rows.listing.Append("", 0);
    s.RowsChanged();
    EXPECT_EQ(s.Current(), -1);
    EXPECT_TRUE(s.SetCurrent(0));
    s.RowsChanged();
    EXPECT_EQ(s.Current(), 0);
}

} // namespace
