// tarnwick-scan, the real program, run as a script runs it: its rows against the listing's
// rule and the core's own search, standard input against the file by name, ranges that join
// into the whole listing, its errors, statuses and a reader that leaves.
#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "ListingRule.h"
#include "RandomFiles.h"
#include "Results.h"
#include "RowPattern.h"
#include "Scan.h"
#include "TestSupport.h"

namespace {

struct Result {
    int status = -1;
    std::string out, err;
};

// A word for the shell, as it is.
std::string Quoted(const std::string& word) {
    std::string q = "'";
    for (char c : word)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs a command line in bash (pipefail on) and collects what it writes. A signal that ended
// the last command is 128 plus its number in the status, as in the shell.
Result Shell(const std::string& line) {
    TempDir dir;
    const std::string out = dir.Path("out"), err = dir.Path("err");
    const std::string cmd = "bash -c " + Quoted("set -o pipefail; { " + line + "; } > " +
                                                Quoted(out) + " 2> " + Quoted(err));
    const int status = std::system(cmd.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFileBytes(out), ReadFileBytes(err)};
}

std::string ScanLine(const std::vector<std::string>& args) {
    std::string line = Quoted(TARNWICK_SCAN_EXE);
    for (const std::string& arg : args)
        line += " " + Quoted(arg);
    return line;
}

// tarnwick-scan with args, its standard input a pipe from feed (a command) or else empty.
// The status is the program's: a feed it stops reading (a range's end) may fail.
Result Scan(const std::vector<std::string>& args, const std::string& feed = "") {
    return Shell(feed.empty() ? ScanLine(args) + " < /dev/null"
                              : "{ " + feed + " || true; } | " + ScanLine(args));
}

std::string TextOf(const std::vector<ListingRow>& rows, const std::string& prefix = "") {
    std::string out;
    for (const ListingRow& r : rows)
        out += prefix + r.first + "\t" + r.second + "\n";
    return out;
}

// Files with text of both kinds, runs past 4096 bytes among them.
std::vector<std::pair<std::string, std::string>> Samples(std::mt19937& rng) {
    return {{"mixed", RandomFile(rng, 300000, 40)},
            {"dense", RandomFile(rng, 200000, 95)},
            {"wide", WideRichFile(rng, 300000)}};
}

TEST(CommandLine, EveryFormatFollowsTheListingRule) {
    std::mt19937 rng(31);
    TempDir dir;
    for (const auto& [name, data] : Samples(rng)) {
        const std::string path = dir.Write(name, data);
        for (int min : {-3, 1, 10, 70}) {
            for (bool utf16 : {false, true}) {
                const auto rows = ListingOf(data, min, utf16);
                std::vector<std::string> args{"-n", std::to_string(min), path};
                if (utf16)
                    args.insert(args.begin(), "--utf16");
                const std::string what =
                    name + ", minimum " + std::to_string(min) + (utf16 ? ", UTF-16" : "");
                Result r = Scan(args);
                ASSERT_EQ(r.status, 0) << what << ": " << r.err;
                EXPECT_EQ(r.out, TextOf(rows)) << what;
                args.insert(args.begin(), {"--format", "export"});
                r = Scan(args);
                EXPECT_EQ(r.out, ExportOf(rows)) << what;
                args.insert(args.begin(), "-f");
                r = Scan(args);
                std::string named;
                for (const ListingRow& row : rows)
                    named += path + "\t" + row.first + "\t" + row.second + "\r\n";
                EXPECT_EQ(r.out, named) << what;
            }
        }
    }
    // The minimum as the window takes it: beyond the integer range, at the range's end.
    const std::string path = dir.Write("text", std::string(5000, 'x'));
    Result r = Scan({"--min", "99999999999", path});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    r = Scan({"--min=4095", path});
    EXPECT_EQ(r.out, "000000...\t" + std::string(4096, 'x') + "\n");
}

TEST(CommandLine, JsonReadsBackToTheSameRows) {
    // Each line parsed on its own, the bytes taken as strict UTF-8; the file's name turned
    // back into bytes as Python turns names it was given.
    const char* readBack = R"(import json, os, sys
for line in sys.stdin.buffer.read().decode("utf-8").split("\n")[:-1]:
    row = json.loads(line)
    assert list(row) == ["file", "offset", "utf16", "piece", "text"], list(row)
    assert all(isinstance(row[k], bool) for k in ("utf16", "piece"))
    offset = "%06X" % row["offset"] + ("u" if row["utf16"] else "") + ("..." if row["piece"] else "")
    sys.stdout.buffer.write(os.fsencode(row["file"]) + b"\t" + offset.encode() + b"\t" + row["text"].encode("ascii") + b"\n")
)";
    if (Shell("python3 -c 'import json'").status != 0)
        GTEST_SKIP() << "python3 is not at hand";
    std::mt19937 rng(32);
    TempDir dir;
    // A name with JSON's special characters, a quote for the shell, a control, valid UTF-8
    // (two, three and four bytes), and bytes that are not UTF-8: a lone continuation byte, a
    // truncated sequence, an encoded surrogate and an overlong form.
    const std::string odd = "q\"b'\\s\t\x01 \xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80 \x80\xe2\x82 "
                            "\xed\xa0\x80\xc0\xaf\xff.bin";
    std::string data = WideRichFile(rng, 200000);
    data += "\"quotes\" and \\backslashes\\ and {braces}\x01";
    const std::string path = dir.Write(odd, data);
    for (bool utf16 : {false, true}) {
        std::vector<std::string> args{"--format", "json", path};
        if (utf16)
            args.push_back("--utf16");
        const Result back = Shell(ScanLine(args) + " | python3 -c " + Quoted(readBack));
        ASSERT_EQ(back.status, 0) << back.err;
        EXPECT_EQ(back.out, TextOf(ListingOf(data, 10, utf16), path + "\t"));
    }
}

TEST(CommandLine, StandardInputListsWhatTheNameLists) {
    // Through a pipe, read once from front to back, past many of the reader's blocks.
    std::mt19937 rng(33);
    TempDir dir;
    const std::string data = RandomFile(rng, 3 << 20, 50) + WideRichFile(rng, 2 << 20);
    const std::string path = dir.Write("f", data);
    const std::string pipe = "cat " + Quoted(path);
    for (const auto& [min, utf16] :
         std::vector<std::pair<int, bool>>{{10, false}, {10, true}, {3, true}, {200, false}}) {
        std::vector<std::string> args{"-n", std::to_string(min)};
        if (utf16)
            args.push_back("--utf16");
        const Result r = Scan(args, pipe);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(r.out == TextOf(ListingOf(data, min, utf16)))
            << "standard input lists other rows at minimum " << min << (utf16 ? ", UTF-16" : "");
        args.push_back("-");
        EXPECT_TRUE(Scan(args, pipe).out == r.out) << "'-' lists other rows";
        args.back() = path;
        EXPECT_TRUE(Scan(args).out == r.out) << "the name lists other rows";
    }
    // Named "-" among others, by JSON too.
    const Result r = Scan({"--format", "json", path, "-"}, pipe);
    const Result one = Scan({"--format", "json", path});
    std::string fromPipe = one.out;
    for (size_t at = 0; (at = fromPipe.find(path, at)) != std::string::npos;)
        fromPipe.replace(at, path.size(), "-");
    EXPECT_TRUE(r.out == one.out + fromPipe);
}

TEST(CommandLine, AdjacentRangesJoinIntoTheWholeListing) {
    std::mt19937 rng(34);
    TempDir dir;
    const std::string data = WideRichFile(rng, 400000) + RandomFile(rng, 400000, 60);
    const std::string path = dir.Write("f", data);
    const std::string pipe = "cat " + Quoted(path);
    for (bool utf16 : {false, true}) {
        const std::vector<std::string> kind =
            utf16 ? std::vector<std::string>{"--utf16"} : std::vector<std::string>{};
        std::vector<std::string> args = kind;
        args.push_back(path);
        const Result whole = Scan(args);
        ASSERT_EQ(whole.status, 0);
        // Cuts anywhere, and right at rows' first bytes and a byte either side of them.
        std::vector<unsigned long long> cuts;
        std::uniform_int_distribution<unsigned long long> anywhere(1, data.size() - 1);
        for (int i = 0; i < 6; ++i)
            cuts.push_back(anywhere(rng));
        const auto rows = ListingOf(data, 10, utf16);
        for (int i = 0; i < 3; ++i) {
            const std::string& offset = rows[rows.size() * (i + 1) / 4].first;
            const unsigned long long at = std::stoull(offset, nullptr, 16);
            cuts.insert(cuts.end(), {at - 1, at, at + 1});
        }
        std::sort(cuts.begin(), cuts.end());
        for (bool stream : {false, true}) {
            std::string joined;
            for (size_t i = 0; i <= cuts.size(); ++i) {
                // The first and last ranges are left open; the ends alternate decimal and hex.
                char range[64];
                const unsigned long long from = i == 0 ? 0 : cuts[i - 1];
                if (i == 0)
                    std::snprintf(range, sizeof range, ":%llu", cuts[0]);
                else if (i == cuts.size())
                    std::snprintf(range, sizeof range, "0x%llx:", from);
                else
                    std::snprintf(range, sizeof range, i % 2 ? "%llu:0x%llX" : "0x%llx:%llu", from,
                                  cuts[i]);
                std::vector<std::string> part = kind;
                part.insert(part.end(), {"--range", range, stream ? "-" : path});
                const Result r = Scan(part, stream ? pipe : "");
                ASSERT_EQ(r.status, 0) << range << ": " << r.err;
                joined += r.out;
            }
            EXPECT_TRUE(joined == whole.out)
                << (utf16 ? "UTF-16, " : "") << (stream ? "standard input" : "by name");
        }
    }
}

TEST(CommandLine, AFileThatCannotBeReadIsNamedAndTheOthersListed) {
    std::mt19937 rng(35);
    TempDir dir;
    const std::string a = RandomFile(rng, 50000, 50), b = RandomFile(rng, 50000, 50);
    const std::string pathA = dir.Write("a", a), pathB = dir.Write("b", b);
    const std::string missing = dir.Path("missing"), folder = dir.Dir();
    const Result r = Scan({"-f", pathA, missing, folder, pathB});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              TextOf(ListingOf(a, 10), pathA + "\t") + TextOf(ListingOf(b, 10), pathB + "\t"));
    EXPECT_EQ(r.err, "tarnwick-scan: " + missing + ": " + missing + " was not found.\n" +
                         "tarnwick-scan: " + folder + ": Access to " + folder + " was denied.\n");
    // Standard input that cannot be read: a folder.
    const Result in = Shell(ScanLine({pathA, "-"}) + " < " + Quoted(folder));
    EXPECT_EQ(in.status, 1);
    EXPECT_EQ(in.out, TextOf(ListingOf(a, 10)));
    EXPECT_EQ(in.err, "tarnwick-scan: -: Access to standard input was denied.\n");
}

TEST(CommandLine, StatusesOfHelpVersionAndBadOptions) {
    Result r = Scan({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Usage: tarnwick-scan [OPTION]... [FILE]...\n", 0), 0u);
    EXPECT_EQ(r.err, "");
    r = Scan({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "tarnwick-scan " TARNWICK_VERSION "\n");
    TempDir dir;
    const std::string path = dir.Write("f", "0123456789abcdef\n");
    const std::vector<std::vector<std::string>> bad = {
        {"--bogus"},
        {"-x"},
        {"-n"},
        {"-n", "ten"},
        {"--min", ""},
        {"--format", "xml"},
        {"--range", "100"},
        {"--range", "9:5"},
        {"--range", "0x:5"},
        {"--range", "1:99999999999999999999"},
        {"-j", "-1"},
        {"--threads", "4294967296"},
        {"--regex", "(unclosed"},
        {"--find", "a", "--regex", "b"},
    };
    for (std::vector<std::string> args : bad) {
        const std::string shown = args[0] + (args.size() > 1 ? " " + args[1] : "");
        args.push_back(path);
        r = Scan(args);
        EXPECT_EQ(r.status, 2) << shown;
        EXPECT_EQ(r.out, "") << shown;
        EXPECT_EQ(r.err.rfind("tarnwick-scan: ", 0), 0u) << shown;
        EXPECT_NE(r.err.find("Usage: tarnwick-scan"), std::string::npos) << shown;
    }
    EXPECT_NE(Scan({"--regex", "(", path}).err.find("Not a regular expression: "),
              std::string::npos);
    EXPECT_NE(Scan({"--frob", path}).err.find("'--frob'"), std::string::npos);
    // Good ones, options after the file too.
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{path, "-n", "16"},
                                               {"-j", "0", "--range", ":", path},
                                               {"--threads=3", "--range=0x0:0x10", path},
                                               {"-fn16", path}}) {
        r = Scan(args);
        EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
        EXPECT_NE(r.out.find("000000\t0123456789abcdef\n"), std::string::npos) << args[0];
    }
}

TEST(CommandLine, AReaderThatLeavesEndsTheProgramQuietly) {
    TempDir dir;
    // Rows enough that the program writes while scanning, read a little of; and a huge file
    // of zeros (holes) after a few rows, where it has nothing to write for a long while, read
    // not at all.
    const std::string rows = dir.Write("rows", LargeSample(16 << 20));
    const std::string holes = dir.Write("holes", "a row of text\n");
    ASSERT_EQ(::truncate(holes.c_str(), off_t(1) << 40), 0);
    for (const auto& [path, reader] :
         {std::pair(rows, "head -c 100 > /dev/null"), std::pair(holes, "true")}) {
        // Ended by SIGPIPE as programs in a pipeline are, also when its parent ignores the
        // signal. It would scan for minutes: the deadline, far beyond a prompt end, tells the
        // two apart on any machine (timeout's 124).
        for (const std::string ignore : {"", "trap '' PIPE; "}) {
            const Result r = Shell(ignore + "timeout 30 " + ScanLine({path}) + " | " + reader +
                                   "; echo ${PIPESTATUS[0]}");
            EXPECT_EQ(r.out, "141\n") << path << (ignore.empty() ? "" : ", SIGPIPE ignored");
            EXPECT_EQ(r.err, "") << path;
        }
    }
}

TEST(CommandLine, FindAndRegexMarkWhatTheWindowMarks) {
    std::mt19937 rng(36);
    TempDir dir;
    // Rows enough to go through several batches: short words of all kinds of characters.
    std::uniform_int_distribution<int> length(1, 12), printable(0x20, 0x7E), other(0, 0x1F);
    std::string data;
    while (data.size() < (2 << 20)) {
        for (int n = length(rng); n > 0; --n)
            data += static_cast<char>(printable(rng));
        data += static_cast<char>(other(rng));
    }
    const std::string path = dir.Write("f", data);
    CFile file;
    ASSERT_TRUE(file.Open(path.c_str(), CFile::modeRead));
    Listing listing;
    ScanFile(file, 3, listing);
    ASSERT_GT(listing.Count(), 1 << 17);
    auto marked = [&] {
        std::string out;
        for (int i = 0; i < listing.Count(); ++i)
            if (listing.Marked(i)) {
                size_t n0, n1;
                const char* t0 = listing.OffsetText(i, &n0);
                const char* t1 = listing.RunText(i, &n1);
                out += std::string(t0, n0) + "\t" + std::string(t1, n1) + "\n";
            }
        listing.ClearMarks();
        return out;
    };
    for (const std::string text : {"ab", "Q]", "", "~~~", "x Y"}) {
        CString needle(text.c_str());
        needle.MakeUpper();
        MarkRowsContaining(listing, needle);
        const std::string expect = marked();
        const Result r = Scan({"-n", "3", "--find", text, path});
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(r.out == expect) << "--find " << text;
    }
    for (const std::string pattern : {"^ab", "z$", "[0-9]{3}", "^.{3}$", "a.c|^Q"}) {
        std::string reason;
        const auto compiled = RowPattern::Compile(pattern, &reason);
        ASSERT_TRUE(compiled) << reason;
        compiled->MarkIn(listing);
        const std::string expect = marked();
        const Result r = Scan({"-n", "3", "--regex", pattern, path});
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(r.out == expect) << "--regex " << pattern;
    }
}

} // namespace
