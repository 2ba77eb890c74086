// Standard input as a file to scan: a stream read once, from front to back.
#pragma once

#include <cstddef>

#include "FileReader.h"

// Bytes read straight from a descriptor, in order, as the scan asks for them. The scan reads
// forward: the reader it goes through keeps what it may look at again in its own buffer, so
// each byte is asked for once, at the offset the stream has reached. A read anywhere else
// fails (ESPIPE) rather than hand out the wrong bytes.
class StreamSource final : public FileSource {
public:
    explicit StreamSource(int fd);
    long ReadAt(ULONGLONG offset, BYTE* buf, size_t n) override;

private:
    int m_fd;
    ULONGLONG m_next = 0; // the offset of the stream's next byte
    bool m_ended = false;
};
