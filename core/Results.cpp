#include "Results.h"

namespace {

inline unsigned char Upper(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

// Whether text, upper-cased, contains needle (already upper case). Compares in place rather
// than upper-casing a copy of every row.
bool ContainsFolded(const char* text, int len, const CString& needle) {
    const int n = needle.GetLength();
    if (n == 0)
        return true;
    const unsigned char* t = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* k = reinterpret_cast<const unsigned char*>(needle.GetString());
    const unsigned char first = k[0];
    for (int i = 0; i + n <= len; ++i) {
        if (Upper(t[i]) != first)
            continue;
        int j = 1;
        while (j < n && Upper(t[i + j]) == k[j])
            ++j;
        if (j == n)
            return true;
    }
    return false;
}

} // namespace

bool MarkRowsContaining(Listing& listing, const CString& upperNeedle) {
    bool found = false;
    const int count = listing.Count();
    for (int i = 0; i < count; ++i) {
        size_t len;
        const char* text = listing.Text(i, 1, &len);
        if (ContainsFolded(text, static_cast<int>(len), upperNeedle)) {
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
