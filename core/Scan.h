// The scan of a file into a listing, and the run finder it is built on.
#pragma once

#include <memory>

#include "File.h"
#include "Listing.h"
#include "RowSink.h"

// The shortest run listed until the user sets another.
constexpr int kDefaultMinLength = 10;

// What a scan lists, and how it goes about it.
struct ScanSettings {
    int minLength = kDefaultMinLength;
    // UTF-16LE text is listed too (see ScanFile).
    bool utf16 = false;
    // Threads that read and look at the file at once; 0 for one on each processor. The rows
    // are the same whatever the count.
    unsigned threads = 0;
    // Only the rows whose offset lies in [begin, end) are listed, exactly as they are in the
    // whole file's listing: bytes before begin and after end are read as far as those rows
    // need, so the listings of adjacent ranges joined are the whole file's.
    ULONGLONG begin = 0;
    ULONGLONG end = ~ULONGLONG(0);
    // The bytes a thread takes at a time; 0 for the usual. Small ones try the joins.
    ULONGLONG stretch = 0;
};

// A scan that goes in steps, so that whoever runs it can paint, show progress or stop it
// between them. Its rows are ScanFile's, in the same order; the file stays open. Ended
// early (destroyed between steps, or by a throw from the rows or the file), the rows
// appended are the first rows of the whole listing, every one of them whole.
class FileScan {
public:
    FileScan(CFile& file, const ScanSettings& settings, RowSink& rows);
    ~FileScan();
    FileScan(const FileScan&) = delete;
    FileScan& operator=(const FileScan&) = delete;
    // Scans on until at least `bytes` more of the file are read, or the scan ends; false once
    // it has ended. A read error throws; the rows appended before it stay.
    bool Step(ULONGLONG bytes);
    // How far into the file the rows are in.
    ULONGLONG Position() const;

    class Engine;

private:
    std::unique_ptr<Engine> m_engine;
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
//
// This form reads on one thread.
void ScanFile(CFile& file, int minLength, Listing& listing, bool utf16 = false);
void ScanFile(CFile& file, const ScanSettings& settings, RowSink& rows);

// The first run of printable bytes in [start, end) that begins before end minus minLength
// and is at least minLength long, or null; its length (up to end) goes to *length.
const BYTE* FindTextRun(const BYTE* start, const BYTE* end, int minLength, int* length);
