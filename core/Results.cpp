#include "Results.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// Upper case of every byte, looked up rather than computed: no branch per byte.
struct UpperTable {
    unsigned char of[256];
    constexpr UpperTable() : of() {
        for (int c = 0; c < 256; ++c)
            of[c] = static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
};
constexpr UpperTable kUpper;

inline unsigned char Upper(unsigned char c) {
    return kUpper.of[c];
}

// A search text, ready to be looked for in many texts ignoring case. Its matcher reads each
// byte of a text once, whatever the search text, so the time grows with the texts' length
// alone: an automaton over the search text's bytes (Knuth, Morris and Pratt's, made into a
// table), whose state after a byte is the length of the longest prefix of the search text
// that the text read so far ends with. Its last state, a whole match, is never left.
class FoldedNeedle {
public:
    explicit FoldedNeedle(const CString& upper) : m_n(static_cast<size_t>(upper.GetLength())) {
        const unsigned char* k = reinterpret_cast<const unsigned char*>(upper.GetString());
        // Bytes the search text holds get a class each; every other byte is class 0, which
        // sends the automaton back to its start.
        unsigned char cls[256] = {};
        m_classes = 1;
        for (size_t j = 0; j < m_n; ++j)
            if (!cls[k[j]])
                cls[k[j]] = static_cast<unsigned char>(m_classes++);
        for (int c = 0; c < 256; ++c)
            m_class[c] = cls[Upper(static_cast<unsigned char>(c))];
        // The table holds, for each state and class, the next state's row offset.
        m_table.assign((m_n + 1) * m_classes, 0);
        std::vector<uint32_t> back(m_n + 1, 0);
        for (size_t j = 0; j <= m_n; ++j) {
            for (uint32_t c = 0; c < m_classes; ++c) {
                size_t next;
                if (j == m_n)
                    next = m_n;
                else if (c == cls[k[j]])
                    next = j + 1;
                else
                    next = j == 0 ? 0 : m_table[back[j] * m_classes + c] / m_classes;
                m_table[j * m_classes + c] = static_cast<uint32_t>(next * m_classes);
            }
            if (j > 0 && j < m_n) {
                // The border of the first j + 1 bytes, from the automaton itself.
                back[j + 1] = m_table[back[j] * m_classes + cls[k[j]]] / m_classes;
            }
        }
        m_done = static_cast<uint32_t>(m_n * m_classes);
    }

    // Marks the rows of the listing from begin up to end whose text holds the search text;
    // true when any does. Rows go kLanes at a time, a byte of each in turn: each step of a
    // match waits on the one before, so independent rows keep the processor busy.
    bool MarkIn(Listing& listing, int begin, int end, std::vector<uint32_t>* newlyMarked) const {
        constexpr int kLanes = 4;
        const int count = end;
        bool found = false;
        for (int first = begin; first < count; first += kLanes) {
            const int lanes = std::min(kLanes, count - first);
            const unsigned char* text[kLanes] = {};
            size_t len[kLanes] = {};
            uint32_t state[kLanes] = {};
            size_t common = SIZE_MAX;
            for (int k = 0; k < lanes; ++k) {
                text[k] =
                    reinterpret_cast<const unsigned char*>(listing.RunText(first + k, &len[k]));
                common = std::min(common, len[k]);
            }
            size_t i = 0;
            if (lanes == kLanes)
                for (; i < common; ++i) {
                    state[0] = m_table[state[0] + m_class[text[0][i]]];
                    state[1] = m_table[state[1] + m_class[text[1][i]]];
                    state[2] = m_table[state[2] + m_class[text[2][i]]];
                    state[3] = m_table[state[3] + m_class[text[3][i]]];
                }
            for (int k = 0; k < lanes; ++k) {
                for (size_t at = i; at < len[k] && state[k] != m_done; ++at)
                    state[k] = m_table[state[k] + m_class[text[k][at]]];
                if (state[k] == m_done) {
                    MarkFound(listing, first + k, newlyMarked);
                    found = true;
                }
            }
        }
        return found;
    }

private:
    size_t m_n;
    uint32_t m_classes = 1;
    unsigned char m_class[256];
    std::vector<uint32_t> m_table;
    uint32_t m_done = 0;
};

} // namespace

bool MarkRowsContaining(Listing& listing, const CString& upperNeedle, int first, int last,
                        std::vector<uint32_t>* newlyMarked) {
    first = std::max(first, 0);
    last = last < 0 || last > listing.Count() ? listing.Count() : last;
    if (upperNeedle.IsEmpty()) {
        for (int i = first; i < last; ++i)
            MarkFound(listing, i, newlyMarked);
        return first < last;
    }
    // A search text longer than every row finds nothing, and needs no automaton.
    size_t longest = 0;
    for (int i = first; i < last; ++i) {
        size_t len;
        listing.RunText(i, &len);
        longest = std::max(longest, len);
    }
    if (static_cast<size_t>(upperNeedle.GetLength()) > longest)
        return false;
    return FoldedNeedle(upperNeedle).MarkIn(listing, first, last, newlyMarked);
}

void WriteRows(const Listing& listing, CFile& file, bool all, int first, int last,
               const StopCheck& stop) {
    const int count = last < 0 || last > listing.Count() ? listing.Count() : last;
    for (int i = first < 0 ? 0 : first; i < count; ++i) {
        if (!all && !listing.Marked(i))
            continue;
        size_t offsetLength, textLength;
        const char* offset = listing.OffsetText(i, &offsetLength);
        const char* text = listing.RunText(i, &textLength);
        WriteExportRow(offset, offsetLength, text, textLength,
                       [&](const char* p, size_t n) { file.Write(p, static_cast<UINT>(n), stop); });
    }
}

size_t MarkedRowsSize(const Listing& listing, int first, int last) {
    const int count = last < 0 || last > listing.Count() ? listing.Count() : last;
    size_t size = 0;
    size_t length;
    for (int i = first < 0 ? 0 : first; i < count; ++i)
        if (listing.Marked(i)) {
            listing.OffsetText(i, &length);
            size += length + 2;
            listing.RunText(i, &length);
            size += length;
        }
    return size;
}

char* CopyMarkedRows(const Listing& listing, char* out, int first, int last) {
    const int count = last < 0 || last > listing.Count() ? listing.Count() : last;
    size_t length;
    for (int i = first < 0 ? 0 : first; i < count; ++i)
        if (listing.Marked(i)) {
            const char* p = listing.OffsetText(i, &length);
            std::memcpy(out, p, length);
            out += length;
            *out++ = '\t';
            p = listing.RunText(i, &length);
            std::memcpy(out, p, length);
            out += length;
            *out++ = '\n';
        }
    return out;
}
