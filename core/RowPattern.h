// A regular expression for Find: searched anywhere in each row's text, ignoring ASCII case,
// in time linear in the texts whatever the pattern.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Listing.h"

class RowPattern {
public:
    // The pattern, or null with the reason it is refused in *error.
    static std::unique_ptr<RowPattern> Compile(const std::string& pattern, std::string* error);
    ~RowPattern();
    RowPattern(const RowPattern&) = delete;
    RowPattern& operator=(const RowPattern&) = delete;

    // Marks every row from first up to (not including) last whose text holds a match; a
    // last of -1 means the listing's end. Marks are only ever added; the rows it marks that
    // were not marked before are appended to newlyMarked, when given. True when any row
    // matched.
    bool MarkIn(Listing& listing, int first = 0, int last = -1,
                std::vector<uint32_t>* newlyMarked = nullptr) const;

private:
    struct Impl;
    // Appends the rows from first up to last whose text holds a match, in order.
    void Collect(const Listing& listing, int first, int last, std::vector<uint32_t>* rows) const;
    explicit RowPattern(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};
