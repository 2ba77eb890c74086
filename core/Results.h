// What is done with a listing: finding and marking rows, writing rows to a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "CString.h"
#include "File.h"
#include "Listing.h"

// Marks a row a search found; one not marked before is appended to newlyMarked, when given.
inline void MarkFound(Listing& listing, int row, std::vector<uint32_t>* newlyMarked) {
    if (newlyMarked && !listing.Marked(row))
        newlyMarked->push_back(static_cast<uint32_t>(row));
    listing.SetMarked(row, true);
}

// Marks every row from first up to (not including) last whose text contains upperNeedle
// (upper case already), ignoring case; a last of -1 means the listing's end. Marks are only
// ever added; the rows it marks that were not marked before are appended to newlyMarked,
// when given. True when any row matched.
bool MarkRowsContaining(Listing& listing, const CString& upperNeedle, int first = 0, int last = -1,
                        std::vector<uint32_t>* newlyMarked = nullptr);

// One row as an export writes it: offset, TAB, text, CR LF, each part handed to
// write(bytes, count). Every export goes through here, the command line's too, so that their
// bytes stay the same.
template <class Write>
void WriteExportRow(const char* offset, size_t offsetLength, const char* text, size_t textLength,
                    Write&& write) {
    write(offset, offsetLength);
    write("\t", size_t(1));
    write(text, textLength);
    write("\r\n", size_t(2));
}

// Writes the rows from first up to (not including) last, all or only the marked ones, as
// offset, TAB, text, CR LF each. A last of -1 means the listing's end. Each write is handed
// stop (see CFile::Write).
void WriteRows(const Listing& listing, CFile& file, bool all, int first = 0, int last = -1,
               const StopCheck& stop = StopCheck());

// The marked rows as the clipboard gets them: offset, TAB, text and LF each. Measured first,
// so that the text is made in one piece of exactly this many bytes.
// That of the rows from first up to (not including) last; a last of -1 means the end.
size_t MarkedRowsSize(const Listing& listing, int first = 0, int last = -1);
// Writes the marked rows from first up to (not including) last to out in that form; returns
// where the next row goes. A last of -1 means the listing's end.
char* CopyMarkedRows(const Listing& listing, char* out, int first = 0, int last = -1);
