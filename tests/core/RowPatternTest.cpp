// Find's regular expressions against std::regex, which searches one row at a time: rows
// searched together must come out as if each were searched alone.
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "RowPattern.h"

namespace {

TEST(RowPattern, MarksTheRowsStdRegexFinds) {
    // Written alike for both; the last ones reach past a row if rows run together.
    const char* const alike[] = {
        "abc",       "a.c",      "ab*c",  "ab+c",     "e?f",         "[a-f]x",  "[^x]x",
        "^ab",       "cd$",      "ab|cd", "(ab|x)+c", "(a|b){2,3}c", "x{3}",    "\\d\\d",
        "\\w\\s\\w", "\\bab",    "f\\b",  "\\B-",     "^(ab|cd)$",   "^.{3}$",  "^[a-f ]*$",
        "^$",        "x*",       "",      "\\\\A",    "f\\s*a",      "f[^a]*a", "x\\W*a",
        "x\\D+a",    "f$\\s*^a", "x\\na"};
    // As RE2 takes them, and as std::regex does; those with \A, \z or (?-m) go a row at a time.
    std::vector<std::pair<std::string, std::string>> patterns = {
        {"(?s)x.a", "x.a"}, {"\\Qa.b\\E", "a\\.b"}, {"\\Aab", "^ab"},
        {"cd\\z", "cd$"},   {"\\A\\z", "^$"},       {"(?-m)^f", "^f"}};
    for (const char* p : alike)
        patterns.emplace_back(p, p);

    // Printable ASCII of few letters, so that patterns match often; some rows empty, some
    // long; one row, a few, and more than are searched together at once.
    std::mt19937 random(1207);
    const std::string letters = "abcdefxABCDEFX019 -_.\\";
    for (int n : {1, 9, 300, 4100}) {
        std::vector<std::string> texts(static_cast<size_t>(n));
        for (std::string& row : texts) {
            const unsigned kind = random() % 20;
            const size_t len = kind == 0 ? 0 : kind == 1 ? 200 + random() % 800 : random() % 12;
            while (row.size() < len)
                row += random() % 16 ? letters[random() % letters.size()]
                                     : static_cast<char>(' ' + random() % 95);
        }
        for (const auto& [re2Pattern, stdPattern] : patterns) {
            const std::regex model(stdPattern, std::regex::ECMAScript | std::regex::icase);
            std::string error;
            const auto pattern = RowPattern::Compile(re2Pattern, &error);
            ASSERT_NE(pattern, nullptr) << re2Pattern << ": " << error;
            Listing listing;
            std::vector<bool> before;
            for (const std::string& t : texts) {
                listing.Append("000000", 6, t.data(), t.size());
                before.push_back(random() % 5 == 0);
                listing.SetMarked(listing.Count() - 1, before.back());
            }
            // The whole listing, or a range of it; a last past the end is the end.
            const int first = static_cast<int>(random() % static_cast<unsigned>(n));
            const int last = random() % 2 ? -1 : first + static_cast<int>(random() % 5000);
            const int end = last < 0 || last > n ? n : last;
            std::vector<uint32_t> newly = {99999}, wantNewly = {99999};
            const bool found = pattern->MarkIn(listing, first, last, &newly);
            bool any = false;
            for (int i = 0; i < n; ++i) {
                const size_t k = static_cast<size_t>(i);
                const bool match = i >= first && i < end && std::regex_search(texts[k], model);
                any |= match;
                if (match && !before[k])
                    wantNewly.push_back(static_cast<uint32_t>(i));
                ASSERT_EQ(listing.Marked(i), before[k] || match)
                    << re2Pattern << " row " << i << " \"" << texts[k] << "\"";
            }
            EXPECT_EQ(found, any) << re2Pattern;
            EXPECT_EQ(newly, wantNewly) << re2Pattern;
        }
    }
}

TEST(RowPattern, RefusesWhatIsNotAPatternAndFoldsAsciiCaseAlone) {
    std::string error;
    for (const char* bad : {"(abc", "a{2,1}", "[z-a]", "a**", "\\"}) {
        error.clear();
        EXPECT_EQ(RowPattern::Compile(bad, &error), nullptr) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
    // RE2 quotes what it stopped at; of a long pattern, the reason keeps only the start.
    EXPECT_EQ(RowPattern::Compile("(" + std::string(30000, 'a'), &error), nullptr);
    EXPECT_LE(error.size(), 103u);
    EXPECT_EQ(error.compare(error.size() - 3, 3, "..."), 0);
    std::string printable;
    for (char c = ' '; c <= '~'; ++c)
        printable += c;
    Listing listing;
    for (const char* row : {"call malloc(n)", "MaLlOc", "mall0c", printable.c_str()})
        listing.Append("000000", 6, row, std::strlen(row));
    // A byte above 0x7F is a Latin-1 letter or sign: none folds onto an ASCII one.
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        const auto p = RowPattern::Compile(std::string(1, static_cast<char>(byte)), &error);
        ASSERT_NE(p, nullptr) << byte;
        EXPECT_FALSE(p->MarkIn(listing)) << byte;
    }
    const auto malloc = RowPattern::Compile("MALLOC", &error);
    ASSERT_NE(malloc, nullptr);
    std::vector<uint32_t> newly;
    EXPECT_TRUE(malloc->MarkIn(listing, 0, -1, &newly));
    EXPECT_EQ(newly, std::vector<uint32_t>({0, 1}));
    EXPECT_EQ(listing.MarkedCount(), 2);
}

TEST(RowPattern, NestedRepetitionOverManyRowsMarksOnlyTheRowThatMatches) {
    // Exponential time on each row for a matcher that backtracks.
    Listing listing;
    for (int i = 0; i < 5000; ++i) {
        const std::string row(static_cast<size_t>(20 + i % 40), 'a');
        listing.Append("000000", 6, row.data(), row.size());
    }
    listing.Append("000000", 6, "aaab", 4);
    std::string error;
    const auto pattern = RowPattern::Compile("(a*)*b", &error);
    ASSERT_NE(pattern, nullptr) << error;
    std::vector<uint32_t> newly;
    EXPECT_TRUE(pattern->MarkIn(listing, 0, -1, &newly));
    EXPECT_EQ(newly, std::vector<uint32_t>({5000}));
    EXPECT_EQ(listing.MarkedCount(), 1);
}

} // namespace
