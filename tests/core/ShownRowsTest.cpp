// The rows a list shows, and the search for marked ones among them, against a plain model:
// a mark per listing row and the listing rows shown, in order.
#include <gtest/gtest.h>
#include <random>
#include <vector>

#include "ShownRows.h"

namespace {

TEST(ShownRows, FindsMarkedRowsAsThePlainModelDoes) {
    std::mt19937 random(20261207);
    for (int n : {0, 1, 2, 3, 17, 64, 300}) {
        for (int round = 0; round < 12; ++round) {
            Listing listing;
            for (int i = 0; i < n; ++i)
                listing.Append("000000", 6);
            // Marks come and go, so that the listing's span of marks may be wider than they are.
            std::vector<bool> marks;
            const unsigned density = random() % 4; // none, a quarter, half, three quarters
            for (int i = 0; i < n; ++i) {
                listing.SetMarked(i, random() % 4 < density);
                if (random() % 3 == 0)
                    listing.SetMarked(i, false);
                marks.push_back(listing.Marked(i));
            }
            ShownRows shown(listing);
            std::vector<uint32_t> chosen;
            for (int i = 0; i < n; ++i)
                if (round % 2 == 0 || random() % 3)
                    chosen.push_back(static_cast<uint32_t>(i));
            if (round % 2)
                shown.ShowOnly(chosen);
            const int count = static_cast<int>(chosen.size());
            ASSERT_EQ(shown.Count(), count);
            auto marked = [&](int i) { return marks[chosen[static_cast<size_t>(i)]]; };
            for (int i = 0; i < count; ++i)
                ASSERT_EQ(shown.RowOf(i), static_cast<int>(chosen[static_cast<size_t>(i)]));

            for (int a = 0; a <= count; ++a) {
                for (int b = 0; b <= count; ++b) {
                    if (count > 64 && random() % 50)
                        continue;
                    int want = -1;
                    for (int i = a; i < b && want < 0; ++i)
                        want = marked(i) ? i : -1;
                    for (int i = a - 1; i >= b && want < 0; --i)
                        want = marked(i) ? i : -1;
                    ASSERT_EQ(FindMarked(shown, a, b), want) << n << " " << a << " " << b;
                }
            }
            // Find Next and Previous as the window goes: from the focus row (or none) on,
            // then round from the other end, ending at the focus row itself.
            for (int focus = -1; focus < count; ++focus) {
                int next = FindMarked(shown, focus + 1, count);
                if (next < 0)
                    next = FindMarked(shown, 0, focus + 1);
                const int from = focus < 0 ? count : focus;
                int previous = FindMarked(shown, from, 0);
                if (previous < 0)
                    previous = FindMarked(shown, count, from);
                int wantNext = -1, wantPrevious = -1;
                for (int k = 1; k <= count; ++k) {
                    const int after = (focus + k + count) % count,
                              before = (from - k + count) % count;
                    if (wantNext < 0 && marked(after))
                        wantNext = after;
                    if (wantPrevious < 0 && marked(before))
                        wantPrevious = before;
                }
                ASSERT_EQ(next, wantNext) << n << " focus " << focus;
                ASSERT_EQ(previous, wantPrevious) << n << " focus " << focus;
            }

            // Appended to what the vector held.
            const int a = static_cast<int>(random() % static_cast<unsigned>(n + 1));
            const int b = static_cast<int>(random() % static_cast<unsigned>(n + 1));
            std::vector<uint32_t> got = {7777}, want = {7777};
            CollectMarked(listing, a, b, &got);
            for (int row = a; row < b; ++row)
                if (marks[static_cast<size_t>(row)])
                    want.push_back(static_cast<uint32_t>(row));
            ASSERT_EQ(got, want) << n << " " << a << " " << b;
        }
    }
}

TEST(ShownRows, AddMergesIndexOfPlacesHiddenRowsAndMarkRangeMarksShownRowsOnly) {
    Listing listing;
    for (int i = 0; i < 20; ++i)
        listing.Append("000000", 6);
    ShownRows shown(listing);
    shown.Add({3, 4}); // every row is shown: nothing to add to
    EXPECT_EQ(shown.Count(), 20);
    EXPECT_EQ(shown.IndexOf(25), 20);

    shown.ShowOnly({});
    EXPECT_EQ(shown.Count(), 0);
    using Rows = std::vector<uint32_t>;
    for (const Rows& rows : std::initializer_list<Rows>{{5, 9}, {}, {2, 5, 7, 9, 12}, {0, 19}})
        shown.Add(rows);
    std::vector<int> rows;
    for (int i = 0; i < shown.Count(); ++i)
        rows.push_back(shown.RowOf(i));
    EXPECT_EQ(rows, std::vector<int>({0, 2, 5, 7, 9, 12, 19}));
    // A shown row's place; a hidden one gives the next shown row's place.
    const std::pair<int, int> places[] = {{5, 2},  {6, 3},  {1, 1}, {13, 6},
                                          {19, 6}, {20, 7}, {-1, 0}};
    for (auto [row, place] : places)
        EXPECT_EQ(shown.IndexOf(row), place) << row;

    // Places 1 to 3, then a range past both ends: the hidden rows between stay unmarked.
    shown.MarkRange(1, 3);
    EXPECT_TRUE(listing.Marked(2) && listing.Marked(5) && listing.Marked(7));
    EXPECT_EQ(listing.MarkedCount(), 3);
    shown.MarkRange(-3, 40);
    EXPECT_EQ(listing.MarkedCount(), 7);
    EXPECT_FALSE(listing.Marked(1) || listing.Marked(18));
    shown.ShowAll();
    EXPECT_EQ(shown.Count(), 20);
    EXPECT_EQ(FindMarked(shown, 13, 20), 19);
}

} // namespace
