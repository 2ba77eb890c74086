// The scan on many threads and over ranges of a file: the rows must be one thread's, row for
// row, however the file is cut, and a scan ended early keeps the first rows only.
#include <atomic>
#include <climits>
#include <gtest/gtest.h>
#include <new>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "ListingRule.h"
#include "MemorySource.h"
#include "RandomFiles.h"
#include "Scan.h"
#include "ScanEngine.h"
#include "TestSupport.h"

namespace {

using Rows = std::vector<ListingRow>;

Rows ScanWith(const std::string& data, const ScanSettings& settings) {
    CFile file;
    file.OpenSource(std::make_unique<SharedMemorySource>(data));
    Listing listing;
    ScanFile(file, settings, listing);
    return RowsOf(listing);
}

bool IsPrefix(const Rows& part, const Rows& whole) {
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

// Steps a scan to its end (or `most` times), `next()` bytes at a time. Between steps the rows
// are the caller's: the threads still scanning add none (looked at `looks` times), and those
// there lie before the position.
template <class Next>
void StepThrough(FileScan& scan, const Listing& listing, Next next, int most = INT_MAX,
                 int looks = 100) {
    ULONGLONG before = 0;
    for (int n = most; n > 0 && scan.Step(next()); --n) {
        ASSERT_GE(scan.Position(), before);
        before = scan.Position();
        const int count = listing.Count();
        for (int look = 0; look < looks; ++look) {
            std::this_thread::yield();
            ASSERT_EQ(listing.Count(), count) << "rows added between steps";
        }
        if (count > 0) {
            size_t len;
            const char* offset = listing.OffsetText(count - 1, &len);
            ASSERT_LT(std::stoull(std::string(offset, len), nullptr, 16), before);
        }
    }
}

// Row for row the same texts, without copying millions of rows out first.
::testing::AssertionResult SameRows(const Listing& expected, const Listing& actual) {
    if (actual.Count() != expected.Count())
        return ::testing::AssertionFailure()
               << actual.Count() << " rows where " << expected.Count() << " were expected";
    for (int row = 0; row < expected.Count(); ++row) {
        size_t a, b;
        const char* pa = expected.OffsetText(row, &a);
        const char* pb = actual.OffsetText(row, &b);
        if (std::string_view(pb, b) != std::string_view(pa, a))
            return ::testing::AssertionFailure() << "row " << row << ": offset text differs";
        pa = expected.RunText(row, &a);
        pb = actual.RunText(row, &b);
        if (std::string_view(pb, b) != std::string_view(pa, a))
            return ::testing::AssertionFailure() << "row " << row << ": run text differs";
    }
    return ::testing::AssertionSuccess();
}

// Files whose runs cross the places where threads cut them: text of every length at both
// kinds, and runs far longer than the stretches a thread takes.
std::vector<std::pair<std::string, std::string>> Files(std::mt19937& rng) {
    std::string wideRun;
    for (int i = 0; i < 9000; ++i)
        wideRun += i % 2 ? std::string("\0", 1) : std::string("Q");
    return {
        {"mixed", RandomFile(rng, 60000, 50)},
        {"text", RandomFile(rng, 30000, 99)},
        {"wide", WideRichFile(rng, 60000)},
        {"one long run", std::string(20000, 'A') + '\n' + std::string(9000, 'B')},
        {"one long UTF-16 run", "x" + wideRun + "\x01" + wideRun.substr(1)},
    };
}

TEST(ScanThreads, ListOneThreadsRowsAtEveryCountAndCut) {
    std::mt19937 rng(21);
    std::uniform_int_distribution<ULONGLONG> stretch(1, 5000);
    for (const auto& [name, data] : Files(rng)) {
        for (int min : {1, 10, 70}) {
            for (bool utf16 : {false, true}) {
                const Rows expect = ListingOf(data, min, utf16);
                for (unsigned threads = 1; threads <= 8; ++threads) {
                    ScanSettings settings;
                    settings.minLength = min;
                    settings.utf16 = utf16;
                    settings.threads = threads;
                    // Cuts right at and around the pieces' lengths, and anywhere.
                    for (ULONGLONG size : {stretch(rng), ULONGLONG(4096), ULONGLONG(8191)}) {
                        settings.stretch = size;
                        ASSERT_EQ(ScanWith(data, settings), expect)
                            << name << ", minimum " << min << (utf16 ? ", UTF-16" : "") << ", "
                            << threads << " threads, stretches of " << size;
                    }
                }
            }
        }
    }
}

TEST(ScanThreads, ReadsTheSystemsFilesOnEveryProcessor) {
    // Past two of the usual stretches, so that the threads share it, with blocks crossed.
    std::mt19937 rng(22);
    const std::string data = WideRichFile(rng, 9 << 20);
    TempDir dir;
    const std::string path = dir.Write("f", data);
    for (bool utf16 : {false, true}) {
        std::vector<Rows> scans;
        for (unsigned threads : {1u, 0u, 3u}) {
            CFile file;
            ASSERT_TRUE(file.Open(path.c_str(), CFile::modeRead));
            ScanSettings settings;
            settings.utf16 = utf16;
            settings.threads = threads;
            Listing listing;
            ScanFile(file, settings, listing);
            scans.push_back(RowsOf(listing));
        }
        EXPECT_EQ(scans[0], ListingOf(data, kDefaultMinLength, utf16));
        EXPECT_EQ(scans[1], scans[0]) << "threads for each processor";
        EXPECT_EQ(scans[2], scans[0]) << "three threads";
    }
}

TEST(ScanThreads, StoppedOrFailedScansKeepTheFirstRows) {
    // Stretches shorter than a block, whose rows go through their batches, and of several
    // blocks, whose turn comes while they are being scanned and whose rows from there on go
    // straight into the listing; those are stepped to the end too.
    std::mt19937 rng(23);
    const ULONGLONG block = CFile::kMaxView;
    struct Case {
        std::string data;
        ULONGLONG shortest, longest;
        std::vector<bool> utf16;
    };
    const Case cases[] = {{WideRichFile(rng, 700000), 1, 40000, {true}},
                          {WideRichFile(rng, 5 << 20), block + 1, 5 * block, {false, true}}};
    for (const Case& c : cases) {
        const std::string& data = c.data;
        std::uniform_int_distribution<ULONGLONG> stretch(c.shortest, c.longest), step(1, c.longest),
            at(0, data.size());
        std::uniform_int_distribution<int> steps(0, 6);
        for (bool utf16 : c.utf16) {
            const Rows whole = ListingOf(data, 4, utf16);
            for (int trial = 0; trial < 24; ++trial) {
                ScanSettings settings;
                settings.minLength = 4;
                settings.utf16 = utf16;
                settings.threads = 2 + trial % 7;
                settings.stretch = stretch(rng);
                const bool toTheEnd = trial % 4 == 3;
                Listing listing;
                {
                    CFile file;
                    file.OpenSource(std::make_unique<SharedMemorySource>(data));
                    FileScan scan(file, settings, listing);
                    StepThrough(
                        scan, listing, [&] { return step(rng); }, toTheEnd ? INT_MAX : steps(rng));
                    // Stopped here: the threads still working are let go with the scan.
                }
                if (toTheEnd)
                    ASSERT_EQ(RowsOf(listing), whole) << "stretches of " << settings.stretch;
                else
                    ASSERT_TRUE(IsPrefix(RowsOf(listing), whole)) << "stopped, trial " << trial;

                // A read error part way: it is reported, and the rows before it stay, as on
                // one thread (where the last of them ends at the error, as far as it could be
                // read), however the scan is stepped.
                const ULONGLONG failAt = at(rng);
                Rows failed[2];
                for (unsigned threads : {1u, settings.threads}) {
                    Listing rows;
                    CFile file;
                    file.OpenSource(std::make_unique<SharedMemorySource>(data, failAt));
                    settings.threads = threads;
                    FileScan scan(file, settings, rows);
                    EXPECT_THROW(StepThrough(scan, rows, [&] { return step(rng); }), CFileException)
                        << failAt;
                    failed[threads > 1] = RowsOf(rows);
                }
                ASSERT_EQ(failed[1], failed[0]) << "fails at " << failAt;
                Rows before = failed[0];
                if (!before.empty())
                    before.pop_back();
                ASSERT_TRUE(IsPrefix(before, whole)) << "fails at " << failAt;
            }
        }
    }
}

// A file whose reads on another thread than the one that opened it once find no room, at
// the read that covers `at`: as a thread's batch that cannot grow there.
class RoomlessOnceSource : public SharedMemorySource {
public:
    RoomlessOnceSource(std::string data, ULONGLONG at, std::atomic<bool>& thrown)
        : SharedMemorySource(std::move(data)), m_at(at), m_thrown(thrown) {}
    long ReadAt(ULONGLONG offset, BYTE* buf, size_t n) override {
        if (std::this_thread::get_id() != m_opener && offset <= m_at && m_at - offset < n &&
            !m_thrown.exchange(true))
            throw std::bad_alloc();
        return SharedMemorySource::ReadAt(offset, buf, n);
    }

private:
    const std::thread::id m_opener = std::this_thread::get_id();
    const ULONGLONG m_at;
    std::atomic<bool>& m_thrown;
};

TEST(ScanThreads, AThreadWithoutRoomLeavesTheRestToOne) {
    std::mt19937 rng(29);
    const std::string files[] = {WideRichFile(rng, 500000), WideRichFile(rng, 1500000)};
    const ULONGLONG block = CFile::kMaxView;
    std::uniform_int_distribution<ULONGLONG> stretch(1, 40000);
    for (bool utf16 : {false, true}) {
        const Rows wholes[] = {ListingOf(files[0], 4, utf16), ListingOf(files[1], 4, utf16)};
        for (int trial = 0; trial < 12; ++trial) {
            // The longer file for the longer stretches, so that there are several.
            const std::string& data = files[trial % 3 == 2];
            const Rows& whole = wholes[trial % 3 == 2];
            ScanSettings settings;
            settings.minLength = 4;
            settings.utf16 = utf16;
            settings.threads = 2 + trial % 7;
            // Stretches shorter than runs too, whose starts lie stretches back, and longer
            // than a read, which fail part way through rows gone straight into the listing.
            const ULONGLONG sizes[] = {1 + rng() % 64, stretch(rng), block + rng() % block};
            settings.stretch = sizes[trial % 3];
            const ULONGLONG failAt = rng() % data.size();
            std::atomic<bool> thrown{false};
            CFile file;
            file.OpenSource(std::make_unique<RoomlessOnceSource>(data, failAt, thrown));
            Listing listing;
            if (trial % 3 == 2) {
                // In steps, past which the rows listed before the failure stay covered.
                FileScan scan(file, settings, listing);
                StepThrough(scan, listing, [&] { return 1 + rng() % (2 * block); });
            } else {
                ScanFile(file, settings, listing);
            }
            EXPECT_TRUE(thrown) << "no thread read " << failAt;
            ASSERT_EQ(RowsOf(listing), whole) << "no room at " << failAt;
        }
    }
}

TEST(ScanThreads, AFullListingEndsTheScanWithTheSameRowsOnEveryCount) {
    // Two and a half million short rows, past a listing that holds one block of rows.
    std::string data;
    for (int i = 0; i < 2500000; ++i)
        data += i % 7 ? "abcd\n" : "efghij\x01";
    // Stretches of less than a block, whose rows go through their batches, and of several,
    // whose rows go straight into the listing once their turn has come; in one step, and in
    // steps so short that the thread stepping moves batches itself.
    const auto scanUntilFull = [&data](unsigned threads, ULONGLONG step, Listing& listing) {
        ScanSettings settings;
        settings.minLength = 4;
        settings.threads = threads;
        settings.stretch = (threads > 3 ? 900000 : 100000) + 7919 * threads;
        listing.SetLimit(size_t(3) << 24);
        CFile file;
        file.OpenSource(std::make_unique<SharedMemorySource>(data));
        FileScan scan(file, settings, listing);
        EXPECT_THROW(StepThrough(scan, listing, [step] { return step; }), std::bad_alloc)
            << threads;
    };
    Listing one;
    scanUntilFull(1, ~ULONGLONG(0), one);
    ASSERT_GT(one.Count(), 0);
    ASSERT_LT(one.Count(), 2500000);
    for (unsigned threads : {2u, 3u, 4u, 5u}) {
        for (ULONGLONG step : {~ULONGLONG(0), ULONGLONG(1)}) {
            Listing many;
            scanUntilFull(threads, step, many);
            ASSERT_TRUE(SameRows(one, many)) << threads << " threads, steps of " << step;
        }
    }
}

// A file found to end part way through a stretch, whose later bytes read again, as may those
// of a file cut short and written anew while it is scanned.
class CutShortSource : public SharedMemorySource {
public:
    CutShortSource(std::string data, ULONGLONG from, ULONGLONG to)
        : SharedMemorySource(std::move(data)), m_from(from), m_to(to) {}
    long ReadAt(ULONGLONG offset, BYTE* buf, size_t n) override {
        if (offset >= m_from && offset < m_to)
            return 0;
        if (offset < m_from)
            n = static_cast<size_t>(std::min<ULONGLONG>(n, m_from - offset));
        return SharedMemorySource::ReadAt(offset, buf, n);
    }

private:
    const ULONGLONG m_from, m_to;
};

TEST(ScanThreads, AFileCutShortEndsWhereOneThreadFindsItsEnd) {
    std::string data;
    while (data.size() < (4u << 20))
        data += "abcdefghij\n";
    const ULONGLONG stretch = 2 << 20;
    const auto scan = [&data, stretch](unsigned threads) {
        CFile file;
        file.OpenSource(std::make_unique<CutShortSource>(data, 1 << 20, stretch - 4096));
        ScanSettings settings;
        settings.minLength = 4;
        settings.threads = threads;
        settings.stretch = stretch;
        Listing listing;
        ScanFile(file, settings, listing);
        return RowsOf(listing);
    };
    const Rows one = scan(1);
    ASSERT_FALSE(one.empty());
    for (int trial = 0; trial < 30; ++trial)
        ASSERT_EQ(scan(2 + trial % 3), one) << "trial " << trial;
}

TEST(ScanThreads, BatchesGoToTheListingRowForRow) {
    // Rows enough to cross a block of rows (a million) and blocks of texts (16 MB), with
    // texts past the listing's limits among them, which are cut.
    std::mt19937 rng(31);
    std::uniform_int_distribution<size_t> length(0, 40);
    const std::string longOffset(Listing::kMaxOffsetText + 5, '7');
    const std::string longRun(Listing::kMaxRunText + 9, 'r');
    std::string chars(64, 'x');
    for (char& c : chars)
        c = static_cast<char>('a' + rng() % 26);
    Listing direct;
    Listing moved;
    RowBatch batch;
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 600000; ++i) {
            const char* run = chars.data() + rng() % 20;
            const size_t offsetLen = length(rng) % 9, runLen = length(rng);
            direct.Append(chars.data(), offsetLen, run, runLen);
            batch.Append(chars.data(), offsetLen, run, runLen);
            if (i % 250000 == 7) {
                const size_t runLen = i / 250000 % 2 ? longRun.size() : 3;
                direct.Append(longOffset.data(), longOffset.size(), longRun.data(), runLen);
                batch.Append(longOffset.data(), longOffset.size(), longRun.data(), runLen);
            }
        }
        batch.MoveTo(moved);
    }
    ASSERT_EQ(moved.ArenaBytes(), direct.ArenaBytes());
    ASSERT_TRUE(SameRows(direct, moved));

    // Out of room half way: the rows that fit are in, the rest wait in the batch, and go on
    // once there is room, each row where it belongs.
    Listing limited;
    limited.SetLimit(size_t(3) << 24); // a block of rows and two of texts
    for (int i = 0; i < 900000; ++i) {
        const std::string number = std::to_string(i);
        batch.Append(number.data(), number.size(), longRun.data(), 40);
    }
    EXPECT_THROW(batch.MoveTo(limited), std::bad_alloc);
    const int first = limited.Count();
    EXPECT_GT(first, 0);
    EXPECT_LT(first, 900000);
    limited.SetLimit(SIZE_MAX);
    batch.MoveTo(limited);
    ASSERT_EQ(limited.Count(), 900000);
    for (int row = 0; row < limited.Count(); ++row) {
        size_t len;
        const char* p = limited.OffsetText(row, &len);
        ASSERT_EQ(std::string_view(p, len), std::to_string(row));
        p = limited.RunText(row, &len);
        ASSERT_EQ(std::string_view(p, len), std::string_view(longRun.data(), 40)) << row;
    }

    // Rows that fill their text block to the last byte go in, but the next text, even an
    // empty one, must start inside a block: it needs a new one, which the limit refuses,
    // whichever way the rows come.
    const std::string text(64, 't');
    int counts[2];
    for (bool throughBatch : {false, true}) {
        Listing full;
        full.SetLimit(size_t(2) << 24); // a block of rows and one of texts
        RowBatch rows;
        const size_t block = size_t(1) << 24, each = 64;
        for (size_t i = 0; i < block / each; ++i) {
            if (throughBatch)
                rows.Append(text.data(), 8, text.data(), each - 8);
            else
                full.Append(text.data(), 8, text.data(), each - 8);
        }
        if (throughBatch) {
            rows.Append("", 0, "", 0);
            EXPECT_THROW(rows.MoveTo(full), std::bad_alloc);
        } else {
            EXPECT_THROW(full.Append("", 0, "", 0), std::bad_alloc);
        }
        counts[throughBatch] = full.Count();
    }
    EXPECT_EQ(counts[0], (1 << 24) / 64);
    EXPECT_EQ(counts[1], counts[0]);
}

TEST(ScanThreads, AdjacentRangesJoinToTheWholeListing) {
    std::mt19937 rng(24);
    for (const auto& [name, data] : Files(rng)) {
        for (bool utf16 : {false, true}) {
            const Rows whole = ListingOf(data, 10, utf16);
            std::uniform_int_distribution<ULONGLONG> cut(0, data.size() + 10);
            for (int trial = 0; trial < 6; ++trial) {
                std::vector<ULONGLONG> cuts{0, cut(rng), cut(rng), cut(rng), ~ULONGLONG(0)};
                std::sort(cuts.begin(), cuts.end());
                Rows joined;
                for (size_t i = 0; i + 1 < cuts.size(); ++i) {
                    ScanSettings settings;
                    settings.utf16 = utf16;
                    settings.begin = cuts[i];
                    settings.end = cuts[i + 1];
                    settings.threads = 1 + trial % 3;
                    settings.stretch = 1000;
                    const Rows part = ScanWith(data, settings);
                    for (const ListingRow& row : part) {
                        const ULONGLONG offset = std::stoull(row.first, nullptr, 16);
                        ASSERT_TRUE(offset >= cuts[i] && offset < cuts[i + 1])
                            << name << ": row at " << row.first << " outside its range";
                    }
                    joined.insert(joined.end(), part.begin(), part.end());
                }
                ASSERT_EQ(joined, whole) << name << (utf16 ? ", UTF-16" : "") << ", cuts at "
                                         << cuts[1] << ", " << cuts[2] << ", " << cuts[3];
            }
            // Ranges at the last offsets there are: empty, and stepped to their end.
            for (ULONGLONG begin : {~ULONGLONG(0), ~ULONGLONG(0) - 1, ULONGLONG(1) << 63}) {
                CFile file;
                file.OpenSource(std::make_unique<SharedMemorySource>(data));
                ScanSettings settings;
                settings.utf16 = utf16;
                settings.begin = begin;
                Listing listing;
                FileScan scan(file, settings, listing);
                int steps = 0;
                while (scan.Step(1 << 20))
                    ASSERT_LT(++steps, 4) << "a range from " << begin << " never ends";
                EXPECT_EQ(RowsOf(listing), Rows()) << name << " from " << begin;
            }
        }
    }
}

} // namespace
