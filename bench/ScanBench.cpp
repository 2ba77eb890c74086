// Scans one file the way the window does, without a window, and reports how fast it went
// and what the rows cost. Optionally times a find over the texts and an export of all rows.
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>

#include "File.h"
#include "Listing.h"
#include "Results.h"
#include "Scan.h"

namespace {

using Clock = std::chrono::steady_clock;

// Sizes are reported in units of 2^20 bytes throughout, so that throughput and memory agree.
constexpr double kMB = 1024.0 * 1024.0;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int Usage() {
    std::fprintf(stderr, "usage: tarnwick_bench FILE [--min N] [--find TEXT] [--export OUT] "
                         "[--mark-all] [--utf16]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    const char* path = nullptr;
    const char* findText = nullptr;
    const char* exportPath = nullptr;
    int minLength = kDefaultMinLength;
    bool markAll = false;
    bool utf16 = false;
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
        } else if (std::strcmp(arg, "--export") == 0 && hasValue) {
            exportPath = argv[++i];
        } else if (std::strcmp(arg, "--mark-all") == 0) {
            markAll = true;
        } else if (std::strcmp(arg, "--utf16") == 0) {
            utf16 = true;
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
        CFile file;
        CFileException error;
        if (!file.Open(path, CFile::modeRead, &error))
            throw error;
        ScanFile(file, minLength, listing, utf16);
        file.Close();
        const double scanMs = MsSince(scanStart);

        const double fileMB = static_cast<double>(st.st_size) / kMB;
        std::printf("file_bytes: %lld\n", static_cast<long long>(st.st_size));
        std::printf("rows: %d\n", listing.Count());
        std::printf("scan_ms: %.2f\n", scanMs);
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
    }

    // Linux reports the peak resident size in KiB.
    struct rusage ru;
    ::getrusage(RUSAGE_SELF, &ru);
    std::printf("peak_rss_mb: %.1f\n", static_cast<double>(ru.ru_maxrss) / 1024.0);
    return 0;
}
