// Where rows go as a scan makes them, in order: the listing, or whatever writes them out.
#pragma once

#include <cstddef>

class RowSink {
public:
    virtual ~RowSink() = default;
    // A row with its two texts: the offset as listed and the run's characters.
    virtual void Append(const char* offset, size_t offsetLen, const char* run, size_t runLen) = 0;
};
