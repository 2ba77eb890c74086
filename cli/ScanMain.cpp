// tarnwick-scan: the window's listing from the command line, for scripts, pipes and many
// machines. Rows are written as the scan makes them; none are kept.
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <unistd.h>

#include "File.h"
#include "Options.h"
#include "Output.h"
#include "Progress.h"
#include "RowFilters.h"
#include "RowPattern.h"
#include "RowWriter.h"
#include "Scan.h"
#include "StreamSource.h"

#ifndef TARNWICK_VERSION
#define TARNWICK_VERSION "unknown"
#endif

namespace {

// Bytes scanned between two looks at the progress line and at the output's reader.
constexpr ULONGLONG kScanStep = ULONGLONG(8) << 20;

void WriteAll(int fd, const std::string& text) {
    const char* p = text.data();
    size_t n = text.size();
    while (n > 0) {
        const ssize_t r = ::write(fd, p, n);
        if (r <= 0)
            return;
        p += r;
        n -= static_cast<size_t>(r);
    }
}

void Complain(const std::string& text) {
    WriteAll(STDERR_FILENO, "tarnwick-scan: " + text + "\n");
}

// What the rows of every file go through.
struct Plan {
    const Options& options;
    CString needle;            // a Find's text, upper case
    const RowPattern* pattern; // a regular expression's, or null
    Output& out;
    Progress& progress;
};

// Lists one file; false, with a line on standard error, when it cannot be read. The rows
// before a read error stay written.
bool ListFile(const Plan& how, const std::string& name) {
    const Options& options = how.options;
    const bool stream = name == "-";
    CFile file;
    if (stream) {
        file.OpenSource(std::make_unique<StreamSource>(STDIN_FILENO));
    } else {
        CFileException error;
        if (!file.Open(name.c_str(), CFile::modeRead | CFile::typeBinary, &error)) {
            how.progress.Clear();
            Complain(name + ": " + error.GetErrorMessage().Str());
            return false;
        }
    }
    ScanSettings settings = options.scan;
    RowWriter writer(how.out, options.format, name, options.printFileName);
    RowSink* rows = &writer;
    std::optional<MatchingRows> matching;
    if (options.find || options.regex)
        rows = &matching.emplace(*rows, how.needle, how.pattern);
    // A stream cannot go back to where the runs around a range's start began: it is scanned
    // from its start, and the rows before the range are left out here.
    std::optional<RowsFrom> from;
    if (stream && settings.begin > 0) {
        rows = &from.emplace(*rows, settings.begin);
        settings.begin = 0;
    }
    const ULONGLONG size = file.GetLength();
    const ULONGLONG last = size < settings.end ? size : settings.end;
    const ULONGLONG total = last > settings.begin ? last - settings.begin : 0;
    std::string failure;
    try {
        FileScan scan(file, settings, *rows);
        while (scan.Step(kScanStep)) {
            const ULONGLONG at = scan.Position();
            how.progress.Show(name, at > settings.begin ? at - settings.begin : 0, total);
            how.out.EndIfReaderLeft();
            if (how.out.Terminal())
                how.out.Flush();
        }
    } catch (CFileException& error) {
        error.m_strFileName = stream ? "standard input" : name.c_str();
        failure = error.GetErrorMessage().Str();
    } catch (const std::bad_alloc&) {
        failure = "Out of memory.";
    }
    // The rows found before a failure are written too, as the window keeps them.
    try {
        if (matching)
            matching->Drain();
    } catch (const std::bad_alloc&) {
        if (failure.empty())
            failure = "Out of memory.";
    }
    if (failure.empty()) {
        if (how.out.Terminal())
            how.out.Flush();
        return true;
    }
    how.out.Flush();
    how.progress.Clear();
    Complain(name + ": " + failure);
    return false;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    switch (ParseOptions(argc, argv, &options, &error)) {
    case Parsed::help:
        WriteAll(STDOUT_FILENO, Usage());
        return 0;
    case Parsed::version:
        WriteAll(STDOUT_FILENO, "tarnwick-scan " TARNWICK_VERSION "\n");
        return 0;
    case Parsed::bad:
        Complain(error);
        WriteAll(STDERR_FILENO, Usage());
        return 2;
    case Parsed::run:
        break;
    }
    std::unique_ptr<RowPattern> pattern;
    if (options.regex) {
        std::string reason;
        pattern = RowPattern::Compile(options.pattern, &reason);
        if (!pattern) {
            Complain("Not a regular expression: " + reason);
            WriteAll(STDERR_FILENO, Usage());
            return 2;
        }
    }
    CString needle(options.findText.c_str(), static_cast<int>(options.findText.size()));
    needle.MakeUpper();
    Output out(STDOUT_FILENO);
    Progress progress(options.progress);
    const Plan how{options, needle, pattern.get(), out, progress};
    int status = 0;
    try {
        for (const std::string& name : options.files)
            if (!ListFile(how, name))
                status = 1;
        out.Flush();
    } catch (const OutputFailed& failed) {
        progress.Clear();
        Complain(
            "standard output: " +
            CFileException::FromOsError(failed.error, "standard output").GetErrorMessage().Str());
        return 1;
    }
    progress.Clear();
    return status;
}
