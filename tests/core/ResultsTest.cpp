// Find and mark, and the writing of rows, on a listing.
#include <cctype>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

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

TEST(Results, FindFoldsTheWholeAlphabetAndNothingBesideIt) {
    // One row a byte: every letter in both cases, and the neighbours of each range, which
    // differ from a letter by the same 0x20 that case does.
    std::string bytes = "@[`{";
    for (char c = 'a'; c <= 'z'; ++c)
        bytes += {c, static_cast<char>(c - 'a' + 'A')};
    Listing listing;
    for (const char& c : bytes)
        listing.Append("000000", 6, &c, 1);
    auto marked = [&] {
        std::string rows;
        for (int i = 0; i < listing.Count(); ++i)
            if (listing.Marked(i))
                rows += bytes[static_cast<size_t>(i)];
        return rows;
    };
    for (char c = 'A'; c <= 'Z'; ++c) {
        listing.ClearMarks();
        EXPECT_TRUE(MarkRowsContaining(listing, CString(std::string(1, c))));
        EXPECT_EQ(marked(), std::string({static_cast<char>(c - 'A' + 'a'), c})) << c;
    }
    // Each neighbour finds itself alone, as the window hands it over (upper-casing keeps it).
    for (char c : {'@', '[', '`', '{'}) {
        listing.ClearMarks();
        EXPECT_TRUE(MarkRowsContaining(listing, CString(std::string(1, c))));
        EXPECT_EQ(marked(), std::string(1, c)) << c;
    }
}

TEST(Results, FindAgreesWithAPlainSearchOnRepetitiveTexts) {
    // Texts and search texts from a tiny alphabet, where partial matches overlap most.
    std::mt19937 rng(17);
    std::uniform_int_distribution<int> pick(0, 3), textLen(0, 60), needleLen(1, 8);
    const char letters[] = "aAbB";
    auto upper = [](std::string t) {
        for (char& c : t)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return t;
    };
    for (int round = 0; round < 300; ++round) {
        Listing listing;
        std::vector<std::string> texts;
        for (int r = 0, rows = 1 + round % 23; r < rows; ++r) {
            std::string t;
            for (int n = textLen(rng); n > 0; --n)
                t += letters[pick(rng)];
            texts.push_back(t);
            listing.Append("000000", 6, t.data(), t.size());
        }
        std::string needle;
        for (int n = needleLen(rng); n > 0; --n)
            needle += letters[pick(rng) | 1]; // upper case, as the window hands it over
        bool any = false;
        MarkRowsContaining(listing, CString(needle.c_str()));
        for (size_t r = 0; r < texts.size(); ++r) {
            const bool expect = upper(texts[r]).find(needle) != std::string::npos;
            any = any || expect;
            ASSERT_EQ(listing.Marked(static_cast<int>(r)), expect)
                << "text " << texts[r] << " needle " << needle;
        }
        ASSERT_EQ(listing.MarkedCount() > 0, any);
    }
    // The worst case of a plain search: a long search text that almost matches everywhere.
    Listing longRows;
    const std::string as(4096, 'a');
    for (int r = 0; r < 64; ++r)
        longRows.Append("000000...", 9, as.data(), as.size());
    EXPECT_FALSE(MarkRowsContaining(longRows, CString((std::string(2047, 'A') + "B").c_str())));
    EXPECT_TRUE(MarkRowsContaining(longRows, CString(std::string(2048, 'A').c_str())));
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
