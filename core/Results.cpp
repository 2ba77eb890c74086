#include "Results.h"

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

// A search text, ready to be looked for in many texts ignoring case: each text is read
// once, byte by byte, whatever the search text (Knuth, Morris and Pratt), so the time grows
// with the texts' length alone.
class FoldedNeedle {
public:
    explicit FoldedNeedle(const CString& upper)
        : m_k(reinterpret_cast<const unsigned char*>(upper.GetString())),
          m_n(static_cast<size_t>(upper.GetLength())), m_back(m_n + 1, 0) {
        // m_back[j]: the longest proper border of the first j bytes, where a partial match
        // of j bytes goes on after a mismatch.
        for (size_t j = 1, k = 0; j < m_n; ++j) {
            while (k > 0 && m_k[j] != m_k[k])
                k = m_back[k];
            if (m_k[j] == m_k[k])
                ++k;
            m_back[j + 1] = k;
        }
    }

    bool FoundIn(const char* text, size_t len) const {
        if (m_n == 0)
            return true;
        if (len < m_n)
            return false;
        const unsigned char* t = reinterpret_cast<const unsigned char*>(text);
        const unsigned char first = m_k[0];
        size_t j = 0; // bytes of the needle matched so far
        for (size_t i = 0; i < len; ++i) {
            if (j == 0) {
                // Nothing matched: skip to the next byte that can start a match.
                while (i < len && Upper(t[i]) != first)
                    ++i;
                if (i == len)
                    return false;
                j = 1;
            } else {
                const unsigned char c = Upper(t[i]);
                while (j > 0 && c != m_k[j])
                    j = m_back[j];
                if (c == m_k[j])
                    ++j;
            }
            if (j == m_n)
                return true;
        }
        return false;
    }

private:
    const unsigned char* m_k;
    size_t m_n;
    std::vector<size_t> m_back;
};

} // namespace

bool MarkRowsContaining(Listing& listing, const CString& upperNeedle) {
    const FoldedNeedle needle(upperNeedle);
    bool found = false;
    const int count = listing.Count();
    for (int i = 0; i < count; ++i) {
        size_t len;
        const char* text = listing.Text(i, 1, &len);
        if (needle.FoundIn(text, len)) {
            listing.SetMarked(i, true);
            found = true;
        }
    }
    return found;
}

void WriteRows(const Listing& listing, CFile& file, bool all) {
    const int count = listing.Count();
    for (int i = 0; i < count; ++i) {
        if (!all && !listing.Marked(i))
            continue;
        size_t offsetLength, textLength;
        const char* offset = listing.Text(i, 0, &offsetLength);
        const char* text = listing.Text(i, 1, &textLength);
        file.Write(offset, static_cast<UINT>(offsetLength));
        file.Write("\t", 1);
        file.Write(text, static_cast<UINT>(textLength));
        file.Write("\r\n", 2);
    }
}
