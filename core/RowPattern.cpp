#include "RowPattern.h"

#include <algorithm>
#include <exception>
#include <re2/re2.h>
#include <system_error>
#include <thread>

#include "Results.h"

namespace {

// Rows joined into one text for a search: enough that a search's start costs little.
constexpr int kJoinedRows = 4096;
// The most of RE2's reason a refusal tells, so that the message stays readable.
constexpr size_t kLongestReason = 100;
// Rows enough to be worth a second thread.
constexpr int kTwoHalves = 2 * kJoinedRows;

RE2::Options PatternOptions() {
    RE2::Options options;
    // Row texts are printable ASCII: bytes, with case folded for ASCII letters alone.
    options.set_encoding(RE2::Options::EncodingLatin1);
    options.set_case_sensitive(false);
    options.set_log_errors(false);
    return options;
}

// Whether the pattern could match rows joined by line ends otherwise than each row alone:
// \A and \z (the joined text's ends, not a row's), \C (any byte, a line end too), and a
// flag turned off ((?-m) makes ^ and $ the joined text's ends). Escapes are followed far
// enough to tell \\A from \A; anything else doubtful counts.
bool NeedsEachRowAlone(const std::string& p) {
    for (size_t i = 0; i + 1 < p.size(); ++i) {
        if (p[i] == '\\') {
            const char c = p[++i];
            if (c == 'A' || c == 'z' || c == 'C')
                return true;
        } else if (p[i] == '(' && p[i + 1] == '?') {
            for (size_t k = i + 2; k < p.size() && p[k] != ')' && p[k] != ':'; ++k)
                if (p[k] == '-')
                    return true;
        }
    }
    return false;
}

} // namespace

struct RowPattern::Impl {
    Impl(const std::string& pattern, const RE2::Options& options) : alone(pattern, options) {}
    RE2 alone; // the pattern as typed, for one row at a time
    // For rows joined by line ends: ^ and $ at each row's ends, and no match takes in a
    // line end. Null when the rows must be searched one at a time.
    std::unique_ptr<RE2> joined;
};

RowPattern::RowPattern(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

RowPattern::~RowPattern() = default;

std::unique_ptr<RowPattern> RowPattern::Compile(const std::string& pattern, std::string* error) {
    const RE2::Options options = PatternOptions();
    auto impl = std::make_unique<Impl>(pattern, options);
    if (!impl->alone.ok()) {
        // RE2 quotes the part of the pattern it stopped at, which may be most of a long one.
        *error = impl->alone.error();
        if (error->size() > kLongestReason)
            *error = error->substr(0, kLongestReason) + "...";
        return nullptr;
    }
    if (!NeedsEachRowAlone(pattern)) {
        RE2::Options joined = options;
        joined.set_never_nl(true);
        impl->joined = std::make_unique<RE2>("(?m)" + pattern, joined);
        if (!impl->joined->ok())
            impl->joined.reset();
    }
    return std::unique_ptr<RowPattern>(new RowPattern(std::move(impl)));
}

void RowPattern::Collect(const Listing& listing, int first, int last,
                         std::vector<uint32_t>* rows) const {
    size_t len;
    if (!m_impl->joined) {
        for (int row = first; row < last; ++row) {
            const char* text = listing.RunText(row, &len);
            if (RE2::PartialMatch(re2::StringPiece(text, len), m_impl->alone))
                rows->push_back(static_cast<uint32_t>(row));
        }
        return;
    }
    // Rows are searched many at a time, joined by line ends; after a match the search goes
    // on from the next row's start, so that each row is found once.
    const RE2& re = *m_impl->joined;
    std::string joined;
    std::vector<size_t> starts;
    for (int begin = first; begin < last; begin += kJoinedRows) {
        const int end = std::min(last, begin + kJoinedRows);
        joined.clear();
        starts.clear();
        for (int row = begin; row < end; ++row) {
            starts.push_back(joined.size());
            const char* text = listing.RunText(row, &len);
            joined.append(text, len);
            joined += '\n';
        }
        joined.pop_back();
        const re2::StringPiece all(joined);
        re2::StringPiece match;
        size_t at = 0;
        while (re.Match(all, at, joined.size(), RE2::UNANCHORED, &match, 1)) {
            const size_t where = static_cast<size_t>(match.data() - joined.data());
            const size_t k = static_cast<size_t>(
                std::upper_bound(starts.begin(), starts.end(), where) - starts.begin() - 1);
            rows->push_back(static_cast<uint32_t>(begin) + static_cast<uint32_t>(k));
            if (k + 1 == starts.size())
                break;
            at = starts[k + 1];
        }
    }
}

bool RowPattern::MarkIn(Listing& listing, int first, int last,
                        std::vector<uint32_t>* newlyMarked) const {
    first = std::max(first, 0);
    last = last < 0 || last > listing.Count() ? listing.Count() : last;
    if (first >= last)
        return false;
    // Two halves at once where there are two processors: each searches its own rows, and
    // the marks are made here, once both are done.
    std::vector<uint32_t> found[2];
    const int middle = first + (last - first) / 2;
    std::exception_ptr failed;
    std::thread other;
    if (last - first >= kTwoHalves && std::thread::hardware_concurrency() > 1) {
        try {
            other = std::thread([&] {
                try {
                    Collect(listing, middle, last, &found[1]);
                } catch (...) {
                    failed = std::current_exception();
                }
            });
        } catch (const std::system_error&) {
            // No thread to be had (a container at its limit, say): this one does it all.
        }
    }
    try {
        Collect(listing, first, other.joinable() ? middle : last, &found[0]);
    } catch (...) {
        if (other.joinable())
            other.join();
        throw;
    }
    if (other.joinable())
        other.join();
    if (failed)
        std::rethrow_exception(failed);
    for (const std::vector<uint32_t>& rows : found)
        for (uint32_t row : rows)
            MarkFound(listing, static_cast<int>(row), newlyMarked);
    return !found[0].empty() || !found[1].empty();
}
