// Random files for the scan's tests: bytes with text of many lengths, and of both kinds.
#pragma once

#include <algorithm>
#include <random>
#include <string>

// Random bytes with printable stretches of random lengths; density sets how much is text.
inline std::string RandomFile(std::mt19937& rng, size_t size, int density) {
    std::string s(size, '\0');
    std::uniform_int_distribution<int> byte(0, 255), pct(0, 99), printable(0x20, 0x7E);
    std::geometric_distribution<int> runLen(0.02);
    size_t i = 0;
    while (i < size) {
        if (pct(rng) < density) {
            size_t n = std::min(size - i, static_cast<size_t>(runLen(rng) + 1));
            if (pct(rng) < 10)
                n = std::min(size - i, static_cast<size_t>(4000 + pct(rng) * 100));
            for (size_t k = 0; k < n; ++k)
                s[i++] = static_cast<char>(printable(rng));
        } else {
            s[i++] = static_cast<char>(byte(rng));
        }
    }
    return s;
}

// Bytes rich in UTF-16 units at both parities: runs of printable-then-zero pairs, some past
// 4096 characters, between ASCII runs, zeros and other bytes of odd lengths.
inline std::string WideRichFile(std::mt19937& rng, size_t size) {
    std::string s;
    std::uniform_int_distribution<int> byte(0, 255), pct(0, 99), printable(0x20, 0x7E);
    std::geometric_distribution<int> runLen(0.08);
    while (s.size() < size) {
        const int kind = pct(rng);
        size_t n = static_cast<size_t>(runLen(rng) + 1);
        if (kind < 45) {
            if (pct(rng) < 3)
                n = 4090 + static_cast<size_t>(pct(rng)) * 3;
            for (size_t k = 0; k < n; ++k) {
                s += static_cast<char>(printable(rng));
                s += '\0';
            }
        } else if (kind < 65) {
            for (size_t k = 0; k < n; ++k)
                s += static_cast<char>(printable(rng));
        } else if (kind < 80) {
            s += '\0';
        } else {
            s += static_cast<char>(byte(rng));
        }
    }
    s.resize(size);
    return s;
}
