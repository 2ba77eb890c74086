// Rows tarnwick-scan leaves out on their way to the output: those a Find or a regular
// expression does not mark, and those before a range's start on standard input.
#pragma once

#include <cstddef>

#include "CString.h"
#include "Listing.h"
#include "RowPattern.h"
#include "RowSink.h"
#include "Types.h"

// Hands on only the rows a Find (the search text, upper case already) or a regular
// expression marks, exactly as the window marks them: rows are gathered into a small listing,
// marked by the core's own search, the marked ones handed on in order, and the listing
// emptied, so memory stays bounded however many rows there are.
class MatchingRows final : public RowSink {
public:
    MatchingRows(RowSink& out, const CString& upperNeedle, const RowPattern* pattern)
        : m_out(out), m_needle(upperNeedle), m_pattern(pattern) {}
    void Append(const char* offset, size_t offsetLen, const char* run, size_t runLen) override;
    // Hands on the marked rows among those gathered so far.
    void Drain();

private:
    RowSink& m_out;
    const CString m_needle;
    const RowPattern* const m_pattern; // null for a Find
    Listing m_batch;
};

// Hands on the rows from an offset on. Rows come in offset order, so once one reaches it,
// every later one passes straight through.
class RowsFrom final : public RowSink {
public:
    RowsFrom(RowSink& out, ULONGLONG begin) : m_out(out), m_begin(begin) {}
    void Append(const char* offset, size_t offsetLen, const char* run, size_t runLen) override;

private:
    RowSink& m_out;
    const ULONGLONG m_begin;
    bool m_reached = false;
};
