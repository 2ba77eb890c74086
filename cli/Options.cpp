#include "Options.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <getopt.h>

namespace {

enum LongOnly {
    kUtf16 = 256,
    kFormat,
    kFind,
    kRegex,
    kRange,
    kProgress,
    kNoProgress,
    kHelp,
    kVersion,
};

const option kLongOptions[] = {
    {"min", required_argument, nullptr, 'n'},
    {"utf16", no_argument, nullptr, kUtf16},
    {"format", required_argument, nullptr, kFormat},
    {"print-file-name", no_argument, nullptr, 'f'},
    {"find", required_argument, nullptr, kFind},
    {"regex", required_argument, nullptr, kRegex},
    {"range", required_argument, nullptr, kRange},
    {"threads", required_argument, nullptr, 'j'},
    {"progress", no_argument, nullptr, kProgress},
    {"no-progress", no_argument, nullptr, kNoProgress},
    {"help", no_argument, nullptr, kHelp},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0},
};

// Digits in base 10, or 16 after "0x", and nothing else; false when there are none or the
// value passes most.
bool ReadUnsigned(const std::string& text, ULONGLONG most, ULONGLONG* value) {
    size_t i = 0;
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        i = 2;
    }
    if (i == text.size())
        return false;
    ULONGLONG v = 0;
    for (; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        unsigned d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && std::isxdigit(c))
            d = static_cast<unsigned>(std::toupper(c) - 'A' + 10);
        else
            return false;
        if (v > (most - d) / base)
            return false;
        v = v * base + d;
    }
    *value = v;
    return true;
}

// The minimum as the window's prompt takes it: a whole number, its sign optional; beyond the
// integer range it stops at the range's ends, as the window's does.
bool ReadMinimum(const std::string& text, int* value) {
    size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+'))
        i = 1;
    if (i == text.size())
        return false;
    long long v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        v = std::min(v * 10 + (text[i] - '0'), static_cast<long long>(INT_MAX) + 1);
    }
    if (negative)
        v = -v;
    *value = static_cast<int>(std::min(v, static_cast<long long>(INT_MAX)));
    return true;
}

// START:END, either left out.
bool ReadRange(const std::string& text, ULONGLONG* begin, ULONGLONG* end) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos)
        return false;
    const std::string first = text.substr(0, colon), last = text.substr(colon + 1);
    ULONGLONG b = 0, e = ~ULONGLONG(0);
    if (!first.empty() && !ReadUnsigned(first, ~ULONGLONG(0), &b))
        return false;
    if (!last.empty() && !ReadUnsigned(last, ~ULONGLONG(0), &e))
        return false;
    if (b > e)
        return false;
    *begin = b;
    *end = e;
    return true;
}

} // namespace

Parsed ParseOptions(int argc, char** argv, Options* options, std::string* error) {
    Options& o = *options;
    opterr = 0; // the reasons are this program's own
    optind = 1;
    // The option getopt refused, as typed, for the reason.
    auto refused = [&]() -> std::string {
        const std::string arg = optind > 0 && optind <= argc ? argv[optind - 1] : "";
        // A long option leaves its value, or 0, in optopt; a short one, its letter.
        const bool isLong = optopt == 0 || optopt >= kUtf16 ||
                            ((optopt == 'n' || optopt == 'j') && arg.compare(0, 2, "--") == 0);
        if (isLong)
            return arg.substr(0, arg.find('='));
        return std::string("-") + static_cast<char>(optopt);
    };
    for (;;) {
        const int c = getopt_long(argc, argv, ":n:fj:", kLongOptions, nullptr);
        if (c == -1)
            break;
        const std::string value = optarg ? optarg : "";
        switch (c) {
        case 'n':
            if (!ReadMinimum(value, &o.scan.minLength)) {
                *error = "the minimum length must be a whole number: '" + value + "'";
                return Parsed::bad;
            }
            break;
        case kUtf16:
            o.scan.utf16 = true;
            break;
        case kFormat:
            if (value == "text")
                o.format = RowFormat::text;
            else if (value == "export")
                o.format = RowFormat::exportRows;
            else if (value == "json")
                o.format = RowFormat::json;
            else {
                *error = "the format is text, export or json: '" + value + "'";
                return Parsed::bad;
            }
            break;
        case 'f':
            o.printFileName = true;
            break;
        case kFind:
            o.find = true;
            o.findText = value;
            break;
        case kRegex:
            o.regex = true;
            o.pattern = value;
            break;
        case kRange:
            if (!ReadRange(value, &o.scan.begin, &o.scan.end)) {
                *error = "a range is START:END, START not past END: '" + value + "'";
                return Parsed::bad;
            }
            break;
        case 'j': {
            ULONGLONG threads = 0;
            if (!ReadUnsigned(value, UINT_MAX, &threads)) {
                *error = "threads must be a number, 0 for one per processor: '" + value + "'";
                return Parsed::bad;
            }
            o.scan.threads = static_cast<unsigned>(threads);
            break;
        }
        case kProgress:
            o.progress = Progress::Mode::on;
            break;
        case kNoProgress:
            o.progress = Progress::Mode::off;
            break;
        case kHelp:
            return Parsed::help;
        case kVersion:
            return Parsed::version;
        case ':':
            *error = "option '" + refused() + "' needs a value";
            return Parsed::bad;
        default:
            *error = "unknown option '" + refused() + "'";
            return Parsed::bad;
        }
    }
    if (o.find && o.regex) {
        *error = "--find and --regex cannot be given together";
        return Parsed::bad;
    }
    for (int i = optind; i < argc; ++i)
        o.files.emplace_back(argv[i]);
    if (o.files.empty())
        o.files.emplace_back("-");
    return Parsed::run;
}

std::string Usage() {
    return R"(Usage: tarnwick-scan [OPTION]... [FILE]...
Lists the readable text inside each FILE, as the Tarnwick window lists it: every run of
printable ASCII with its offset in hexadecimal. With no FILE, or where FILE is -, reads
standard input as a stream.

  -n, --min N             the shortest run listed (default 10); any whole number, as the
                          window's Minimum Text Length takes it
      --utf16             UTF-16LE text too; its offsets end in "u"
      --format FORMAT     text (the default): offset, TAB, text, LF;
                          export: the bytes of the window's Export All (CR LF);
                          json: one object per row and line, with "file", "offset" (a
                          number), "utf16", "piece" (a full piece of 4096 characters, its
                          offset ending in "...") and "text"
  -f, --print-file-name   the file's name and a TAB before each row (text and export)
      --find TEXT         only rows whose text holds TEXT, ignoring ASCII case (as Find)
      --regex PATTERN     only rows a match of PATTERN is found in (RE2's syntax, ignoring
                          ASCII case; as Find with Regular Expressions)
      --range START:END   only rows whose first byte lies in [START, END), exactly as they
                          are in the whole file's listing: the outputs of adjacent ranges
                          joined are the whole output, byte for byte. Decimal or 0x hex;
                          either end may be left out
  -j, --threads N         threads for the scan (0, the default: one per processor)
      --progress          a progress line on standard error
      --no-progress       none; by default there is one when standard error is a terminal,
                          standard output is not, and the work takes over a second
      --help              this text, then exit
      --version           the version, then exit

Standard input is named "-". JSON keeps names exact: a name's valid UTF-8 stays as it is,
and each byte that is not part of valid UTF-8 becomes the escape \udcXX (XX its value), a
lone surrogate no UTF-8 name can hold; Python's os.fsencode turns the name back into its
bytes. Text and export print names as the bytes they are.

Exit status: 0 when every file was listed; 1 when a file could not be read (a line on
standard error says why; the other files are still listed); 2 for a bad option or value.
)";
}
