// Copies of the short texts rows are made of.
#pragma once

#include <cstddef>
#include <cstring>

// Copies n bytes from src to dst, neither reaching past its end. A copy of a length the
// compiler cannot see may become a string move whose start-up costs more than a whole row;
// this moves 16, 8 or 4 bytes at a time, the last move overlapping the one before.
inline void CopyShort(char* dst, const char* src, size_t n) {
    if (n >= 16) {
        for (size_t i = 0; i + 16 < n; i += 16)
            std::memcpy(dst + i, src + i, 16);
        std::memcpy(dst + n - 16, src + n - 16, 16);
    } else if (n >= 8) {
        std::memcpy(dst, src, 8);
        std::memcpy(dst + n - 8, src + n - 8, 8);
    } else if (n >= 4) {
        std::memcpy(dst, src, 4);
        std::memcpy(dst + n - 4, src + n - 4, 4);
    } else {
        for (size_t i = 0; i < n; ++i)
            dst[i] = src[i];
    }
}
