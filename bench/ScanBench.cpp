// Scans one file the way the window does, without a window, and reports how fast it went
// and what the rows cost. Optionally times a find over the texts (plain or a regular
// expression), stepping to a marked row, showing the marked rows only, and an export of all
// rows.
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

#include "File.h"
#include "Listing.h"
#include "Results.h"
#include "RowPattern.h"
#include "Scan.h"
#include "ShownRows.h"

namespace {

using Clock = std::chrono::steady_clock;

// Sizes are reported in units of 2^20 bytes throughout, so that throughput and memory agree.
constexpr double kMB = 1024.0 * 1024.0;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The processor time of every thread of the process so far, those ended included.
double ProcessCpuMs() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

int Usage() {
    std::fprintf(stderr, "usage: tarnwick_bench FILE [--min N] [--find TEXT] [--regex PATTERN] "
                         "[--find-next] [--marked-only EVERY] [--export OUT] [--mark-all] "
                         "[--utf16] [--threads N]\n");
    return 2;
}

// Rows gone through between two looks at the window, as the window steps them.
constexpr int kFindStep = 1 << 18;
constexpr int kMarkStep = 1 << 20;

// A regular-expression Find over every row, in the window's steps.
void RegexFind(Listing& listing, const char* pattern) {
    const Clock::time_point start = Clock::now();
    std::string error;
    const auto re = RowPattern::Compile(pattern, &error);
    if (!re) {
        std::printf("regex_error: %s\n", error.c_str());
        return;
    }
    for (int first = 0; first < listing.Count(); first += kFindStep)
        re->MarkIn(listing, first, first + kFindStep);
    std::printf("regex_hits: %d\n", listing.MarkedCount());
    std::printf("regex_ms: %.2f\n", MsSince(start));
}

// Find Next from the first row when the only marked row is the last, in the window's steps;
// then with the first row marked as well.
void FindNextToTheLast(Listing& listing) {
    listing.ClearMarks();
    listing.SetMarked(listing.Count() - 1, true);
    ShownRows shown(listing);
    const Clock::time_point start = Clock::now();
    int row = -1;
    for (int first = 1; first < shown.Count() && row < 0; first += kMarkStep)
        row = FindMarked(shown, first, first + kMarkStep);
    std::printf("find_next_row: %d\n", row);
    std::printf("find_next_ms: %.2f\n", MsSince(start));
    // The worst case: the first row marked too, so that every row between is looked at.
    listing.SetMarked(0, true);
    const Clock::time_point across = Clock::now();
    row = -1;
    for (int first = 1; first < shown.Count() && row < 0; first += kMarkStep)
        row = FindMarked(shown, first, first + kMarkStep);
    std::printf("find_next_across_ms: %.2f\n", MsSince(across));
}

// Marked Rows Only turned on with every `every`th row marked: the marked rows gathered in the
// window's steps and shown.
void MarkedOnly(Listing& listing, int every) {
    listing.ClearMarks();
    for (int row = 0; row < listing.Count(); row += every)
        listing.SetMarked(row, true);
    ShownRows shown(listing);
    const Clock::time_point start = Clock::now();
    std::vector<uint32_t> marked;
    marked.reserve(static_cast<size_t>(listing.MarkedCount()));
    for (int first = 0; first < listing.Count(); first += kMarkStep)
        CollectMarked(listing, first, first + kMarkStep, &marked);
    const size_t bytes = marked.capacity() * sizeof marked[0];
    shown.ShowOnly(std::move(marked));
    std::printf("marked_only_ms: %.2f\n", MsSince(start));
    std::printf("marked_only_rows: %d\n", shown.Count());
    std::printf("marked_only_bytes_per_row: %.2f\n",
                shown.Count() ? static_cast<double>(bytes) / shown.Count() : 0.0);
}

} // namespace

int main(int argc, char** argv) {
    const char* path = nullptr;
    const char* findText = nullptr;
    const char* exportPath = nullptr;
    const char* regex = nullptr;
    bool findNext = false;
    int markedEvery = 0;
    int minLength = kDefaultMinLength;
    bool markAll = false;
    bool utf16 = false;
    unsigned threads = 0; // one on each processor
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(arg, "--min") == 0 && hasValue) {
            char* end = nullptr;
            const long n = std::strtol(argv[++i], &end, 10);
            if (*end != 0 || end == argv[i] || n < 1 || n > INT_MAX)
                return Usage();
            minLength = static_cast<int>(n);
        } else if (std::strcmp(arg, "--find") == 0 && hasValue) {
            findText = argv[++i];
        } else if (std::strcmp(arg, "--regex") == 0 && hasValue) {
            regex = argv[++i];
        } else if (std::strcmp(arg, "--find-next") == 0) {
            findNext = true;
        } else if (std::strcmp(arg, "--marked-only") == 0 && hasValue) {
            markedEvery = std::atoi(argv[++i]);
            if (markedEvery < 1)
                return Usage();
        } else if (std::strcmp(arg, "--export") == 0 && hasValue) {
            exportPath = argv[++i];
        } else if (std::strcmp(arg, "--mark-all") == 0) {
            markAll = true;
        } else if (std::strcmp(arg, "--utf16") == 0) {
            utf16 = true;
        } else if (std::strcmp(arg, "--threads") == 0 && hasValue) {
            char* end = nullptr;
            const long n = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || n < 0 || n > 4096)
                return Usage();
            threads = static_cast<unsigned>(n);
        } else if (arg[0] == '-' || path) {
            return Usage();
        } else {
            path = arg;
        }
    }
    if (!path)
        return Usage();

    // A failed open leaves the list empty without saying so; a failed stat shows it first.
    struct stat st;
    if (::stat(path, &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fprintf(stderr, "tarnwick_bench: %s is not a readable regular file\n", path);
        return 1;
    }

    Listing listing;
    try {
        const Clock::time_point scanStart = Clock::now();
        const double cpuStart = ProcessCpuMs();
        CFile file;
        CFileException error;
        if (!file.Open(path, CFile::modeRead, &error))
            throw error;
        ScanSettings settings;
        settings.minLength = minLength;
        settings.utf16 = utf16;
        settings.threads = threads;
        ScanFile(file, settings, listing);
        file.Close();
        const double scanMs = MsSince(scanStart);
        const double scanCpuMs = ProcessCpuMs() - cpuStart;

        const double fileMB = static_cast<double>(st.st_size) / kMB;
        std::printf("file_bytes: %lld\n", static_cast<long long>(st.st_size));
        std::printf("rows: %d\n", listing.Count());
        std::printf("scan_ms: %.2f\n", scanMs);
        // Against scan_ms: how busy the threads were, and what sharing the work cost.
        std::printf("scan_cpu_ms: %.2f\n", scanCpuMs);
        std::printf("scan_mb_s: %.1f\n", scanMs > 0 ? fileMB / (scanMs / 1000.0) : 0.0);
        std::printf("row_bytes: %zu\n", Listing::RowBytes());
        std::printf("arena_bytes: %zu\n", listing.ArenaBytes());

        if (findText) {
            const Clock::time_point start = Clock::now();
            CString needle(findText);
            needle.MakeUpper();
            MarkRowsContaining(listing, needle);
            const int hits = listing.MarkedCount();
            std::printf("find_hits: %d\n", hits);
            std::printf("find_ms: %.2f\n", MsSince(start));
        }
        if (regex) {
            listing.ClearMarks();
            RegexFind(listing, regex);
        }
        if (findNext && listing.Count() > 0)
            FindNextToTheLast(listing);
        if (markedEvery > 0)
            MarkedOnly(listing, markedEvery);
        if (markAll) {
            // What Ctrl+A and the click after it cost the list: every row marked, then none.
            listing.ClearMarks();
            Clock::time_point start = Clock::now();
            listing.MarkRange(0, listing.Count() - 1);
            std::printf("mark_all_ms: %.2f\n", MsSince(start));
            start = Clock::now();
            listing.ClearMarks();
            std::printf("clear_marks_ms: %.2f\n", MsSince(start));
        }
        if (exportPath) {
            const Clock::time_point start = Clock::now();
            CFile out;
            CFileException error;
            if (!out.Open(exportPath, CFile::modeCreate | CFile::modeWrite, &error))
                throw error;
            WriteRows(listing, out, true);
            const ULONGLONG bytes = out.GetPosition();
            out.Close();
            std::printf("export_bytes: %llu\n", static_cast<unsigned long long>(bytes));
            std::printf("export_ms: %.2f\n", MsSince(start));
        }
    } catch (const CFileException& e) {
        std::fprintf(stderr, "tarnwick_bench: %s\n", e.GetErrorMessage().GetString());
        return 1;
    } catch (const std::bad_alloc&) {
        // A timing of part of the file would mislead: say so, with what was listed.
        std::fprintf(stderr, "tarnwick_bench: out of memory after %d rows\n", listing.Count());
        return 1;
    }

    // Linux reports the peak resident size in KiB.
    struct rusage ru;
    ::getrusage(RUSAGE_SELF, &ru);
    std::printf("peak_rss_mb: %.1f\n", static_cast<double>(ru.ru_maxrss) / 1024.0);
    return 0;
}
