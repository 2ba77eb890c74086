#include <cstring>

#include "ListCtrl.h"

void ListRows::ClearSelection() {
    if (m_nSelected == 0)
        return;
    for (Row& r : m_rows)
        r.a &= ~kSelBit;
    m_nSelected = 0;
}

void ListRows::Clear() {
    m_nSelected = 0;
    m_rows.clear();
    m_arena.clear();
    // A large list gives its memory back when emptied.
    if (m_rows.capacity() > (1u << 16)) {
        std::vector<Row>().swap(m_rows);
        std::vector<char>().swap(m_arena);
    }
}

void ListRows::Reserve(size_t rows, size_t textBytes) {
    m_rows.reserve(rows);
    m_arena.reserve(textBytes);
}

uint64_t ListRows::Put(const char* p, size_t n) {
    uint64_t off = m_arena.size();
    m_arena.insert(m_arena.end(), p, p + n);
    return off;
}

void ListRows::Append(const char* text0, size_t len0) {
    Append(text0, len0, nullptr, 0);
}

void ListRows::Append(const char* text0, size_t len0, const char* text1, size_t len1) {
    if (len0 > kMaxText0)
        len0 = kMaxText0;
    if (len1 > kMaxText1)
        len1 = kMaxText1;
    uint64_t off0 = Put(text0, len0);
    uint64_t off1 = Put(text1, len1);
    m_rows.push_back(Row{(off0 & kOffMask) | (uint64_t(len0) << 40),
                         (off1 & kOffMask) | (uint64_t(len1) << 40)});
}

void ListRows::SetText(int row, int col, const char* text, size_t len) {
    Row& r = m_rows[static_cast<size_t>(row)];
    if (col == 0) {
        if (len > kMaxText0)
            len = kMaxText0;
        uint64_t off = Put(text, len);
        r.a = (r.a & kSelBit) | (off & kOffMask) | (uint64_t(len) << 40);
    } else {
        if (len > kMaxText1)
            len = kMaxText1;
        // The text set right after its row was appended takes that row's empty slot.
        uint64_t off = Put(text, len);
        r.b = (off & kOffMask) | (uint64_t(len) << 40);
    }
}

const char* ListRows::Text(int row, int col, size_t* len) const {
    const Row& r = m_rows[static_cast<size_t>(row)];
    uint64_t w = col == 0 ? r.a : r.b;
    size_t n = col == 0 ? static_cast<size_t>((w >> 40) & kMaxText0)
                        : static_cast<size_t>((w >> 40) & kMaxText1);
    *len = n;
    return m_arena.data() + (w & kOffMask);
}
