// The listing a scan must produce, straight from its rule, for comparing with the scan.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "Listing.h"

using ListingRow = std::pair<std::string, std::string>;

inline bool IsPrintableByte(unsigned char c) {
    return c >= 0x20 && c <= 0x7E;
}

inline std::string OffsetText(unsigned long long v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%06llX", v);
    return buf;
}

// Every maximal printable run, cut into pieces of at most 4096 bytes from its start; a
// piece is a row when it is at least the minimum long and more than the minimum bytes of
// the file (counting at most 4096) lie from its first byte.
inline std::vector<ListingRow> ListingOf(const std::string& data, int minLen) {
    std::vector<ListingRow> rows;
    const long long size = static_cast<long long>(data.size());
    long long i = 0;
    while (i < size) {
        if (!IsPrintableByte(static_cast<unsigned char>(data[static_cast<size_t>(i)]))) {
            ++i;
            continue;
        }
        long long j = i;
        while (j < size &&
               IsPrintableByte(static_cast<unsigned char>(data[static_cast<size_t>(j)])))
            ++j;
        for (long long s = i; s < j; s += 4096) {
            long long len = std::min<long long>(4096, j - s);
            long long room = std::min<long long>(4096, size - s);
            if (len >= minLen && room > minLen)
                rows.emplace_back(OffsetText(static_cast<unsigned long long>(s)) +
                                      (len == 4096 ? "..." : ""),
                                  data.substr(static_cast<size_t>(s), static_cast<size_t>(len)));
        }
        i = j;
    }
    return rows;
}

// The UTF-16LE rows alone, with their offsets: every maximal run of units (a printable
// byte, then a zero byte) at either parity, cut into pieces of 4096 characters; a piece is a
// row when it holds at least minLen characters. In offset order.
inline std::vector<std::pair<unsigned long long, ListingRow>> WideRowsOf(const std::string& data,
                                                                         int minLen) {
    std::vector<std::pair<unsigned long long, ListingRow>> rows;
    auto unit = [&](size_t i) {
        return i + 1 < data.size() && IsPrintableByte(static_cast<unsigned char>(data[i])) &&
               data[i + 1] == 0;
    };
    for (size_t i = 0; i < data.size(); ++i) {
        if (!unit(i) || (i >= 2 && unit(i - 2)))
            continue; // not the first unit of a run
        std::string chars;
        for (size_t j = i; unit(j); j += 2)
            chars += data[j];
        for (size_t k = 0; k < chars.size(); k += 4096) {
            const std::string piece = chars.substr(k, 4096);
            if (static_cast<long long>(piece.size()) >= minLen)
                rows.push_back(
                    {i + 2 * k,
                     {OffsetText(i + 2 * k) + (piece.size() == 4096 ? "u..." : "u"), piece}});
        }
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    return rows;
}

// The listing with UTF-16 text on: both kinds in offset order, the other kind first where
// both start at the same offset.
inline std::vector<ListingRow> ListingOf(const std::string& data, int minLen, bool utf16) {
    std::vector<ListingRow> ascii = ListingOf(data, minLen);
    if (!utf16)
        return ascii;
    const auto wide = WideRowsOf(data, minLen);
    std::vector<ListingRow> rows;
    size_t w = 0;
    for (const ListingRow& row : ascii) {
        const unsigned long long at =
            std::stoull(row.first.substr(0, row.first.find('.')), nullptr, 16);
        for (; w < wide.size() && wide[w].first < at; ++w)
            rows.push_back(wide[w].second);
        rows.push_back(row);
    }
    for (; w < wide.size(); ++w)
        rows.push_back(wide[w].second);
    return rows;
}

// The rows a listing holds, in the rule's terms.
inline std::vector<ListingRow> RowsOf(const Listing& listing) {
    std::vector<ListingRow> rows;
    for (int i = 0; i < listing.Count(); ++i) {
        size_t n0, n1;
        const char* t0 = listing.OffsetText(i, &n0);
        const char* t1 = listing.RunText(i, &n1);
        rows.emplace_back(std::string(t0, n0), std::string(t1, n1));
    }
    return rows;
}

// What an export of rows writes: offset, TAB, text, CR LF for each.
inline std::string ExportOf(const std::vector<ListingRow>& rows) {
    std::string out;
    for (const ListingRow& r : rows)
        out += r.first + "\t" + r.second + "\r\n";
    return out;
}

// The run finder's rule, one byte at a time: the first run that begins before end minus
// the minimum and is at least the minimum long.
inline const unsigned char* FindRunByRule(const unsigned char* start, const unsigned char* end,
                                          int minLength, int* length) {
    const long long size = end - start;
    const long long limit = minLength <= 0 ? size : size - minLength;
    long long i = 0;
    while (i < limit) {
        if (!IsPrintableByte(start[i])) {
            ++i;
            continue;
        }
        long long j = i;
        while (j < size && IsPrintableByte(start[j]))
            ++j;
        if (j - i >= minLength) {
            *length = static_cast<int>(j - i);
            return start + i;
        }
        i = j;
    }
    return nullptr;
}
