// Find and mark, and the writing of rows, on a listing.
#include <cstring>
#include <gtest/gtest.h>

#include "Results.h"
#include "TestSupport.h"

namespace {

TEST(Results, FindMarksContainingRowsIgnoringCaseAndOnlyAdds) {
    Listing listing;
    for (const char* text : {"Hello World", "say hello", "HELL", "shell oil", "0000FF"})
        listing.Append("000000", 6, text, std::strlen(text));
    struct Case {
        const char* needle; // upper case, as the window hands it over
        bool found;
        std::vector<int> marked; // after this search, with those before
    };
    const Case cases[] = {
        {"HELLO", true, {0, 1}},      {"XYZ", false, {0, 1}},
        {"HELL", true, {0, 1, 2, 3}}, {"0000FF", true, {0, 1, 2, 3, 4}},
        {"", true, {0, 1, 2, 3, 4}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MarkRowsContaining(listing, c.needle), c.found) << c.needle;
        std::vector<int> marked;
        for (int i = 0; i < listing.Count(); ++i)
            if (listing.Marked(i))
                marked.push_back(i);
        EXPECT_EQ(marked, c.marked) << c.needle;
    }
    // Bytes above 0x7E and needles longer than any text find nothing.
    Listing fresh;
    fresh.Append("000000", 6, "some text", 9);
    EXPECT_FALSE(MarkRowsContaining(fresh, "SOME\xc2\xa0TEXT"));
    EXPECT_FALSE(MarkRowsContaining(fresh, CString(std::string(100000, 'T'))));
    EXPECT_EQ(fresh.MarkedCount(), 0);
}

TEST(Results, WriteRowsWritesAllOrTheMarkedOnes) {
    Listing listing;
    const std::string long1(4096, 'L');
    listing.Append("000003", 6, "Hello World", 11);
    listing.Append("00003D...", 9, long1.data(), long1.size());
    listing.Append("00103E", 6, "last one", 8);
    listing.SetMarked(1, true);
    TempDir dir;
    const std::string path = dir.Path("out.txt");
    for (bool all : {true, false}) {
        CFile f;
        ASSERT_TRUE(f.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite));
        WriteRows(listing, f, all);
        f.Close();
        const std::string marked = "00003D...\t" + long1 + "\r\n";
        EXPECT_EQ(ReadFileBytes(path),
                  all ? "000003\tHello World\r\n" + marked + "00103E\tlast one\r\n" : marked);
    }
}

} // namespace
