// The scan of a file into a listing, and the run finder it is built on.
#pragma once

#include <memory>

#include "File.h"
#include "Listing.h"

namespace textrun {
class BlockMasks;
}
class WideScan;

// The shortest run listed until the user sets another.
constexpr int kDefaultMinLength = 10;

// A scan that goes in steps, so that whoever runs it can paint, show progress or stop it
// between them. Its rows are ScanFile's, in the same order; the file stays open.
class FileScan {
public:
    // With utf16, UTF-16LE text is listed too (see ScanFile).
    FileScan(CFile& file, int minLength, Listing& listing, bool utf16 = false);
    ~FileScan();
    FileScan(const FileScan&) = delete;
    FileScan& operator=(const FileScan&) = delete;
    // Scans on until at least `bytes` more of the file are read, or the file ends; false once
    // it has ended. A read error throws; the rows appended before it stay.
    bool Step(ULONGLONG bytes);
    // How far into the file the scan has read.
    ULONGLONG Position() const { return m_pos; }

private:
    // Lists the runs of the classified block of n bytes at base from `from` on; returns
    // where, within it, the next block starts.
    size_t BlockRows(const BYTE* block, ULONGLONG base, size_t from, size_t n, bool last);
    void AddRow(ULONGLONG at, const BYTE* text, size_t length);

    CFile& m_file;
    const int m_minLength;
    Listing& m_listing;
    std::unique_ptr<textrun::BlockMasks> m_masks;
    std::unique_ptr<WideScan> m_wide; // the UTF-16 rows, when asked for
    ULONGLONG m_pos = 0;
    bool m_ended = false;
    char m_offset[24]; // a row's offset text is made here
};

// Appends to the listing the rows of the file, read from its start: every maximal run of
// printable bytes (0x20..0x7E), cut into pieces of 4096 bytes from the run's start; a piece
// is a row when it is at least minLength long and more than minLength bytes of the file
// (counting at most 4096) lie from its first byte. A row's first text is its offset in
// upper-case hexadecimal, at least six digits, followed by "..." for a piece of 4096 bytes;
// its second is the piece's bytes. The file stays open; a read error throws, and the rows
// appended before it stay.
//
// With utf16, the UTF-16LE rows come too, in offset order with the others (at the same
// offset the row above comes first): every maximal run of 2-byte units whose first byte is
// printable and whose second is 0, at either parity, cut into pieces of 4096 characters;
// a piece is a row when it holds at least minLength characters. Its first text is the
// offset of its first character as above, then "u", then "..." for a piece of 4096
// characters; its second is the characters.
void ScanFile(CFile& file, int minLength, Listing& listing, bool utf16 = false);

// The first run of printable bytes in [start, end) that begins before end minus minLength
// and is at least minLength long, or null; its length (up to end) goes to *length.
const BYTE* FindTextRun(const BYTE* start, const BYTE* end, int minLength, int* length);
