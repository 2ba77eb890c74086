// Reading a file in large blocks, handing out views into them.
#pragma once

#include <cstddef>
#include <memory>

#include "Types.h"
#include "UniqueFd.h"

// Where the bytes of a file opened for reading come from: the system by default; tests and
// fuzzing put their own sources in its place.
class FileSource {
public:
    virtual ~FileSource() = default;
    // Reads up to n bytes at offset; returns the count, 0 at the end, or -errno.
    virtual long ReadAt(ULONGLONG offset, BYTE* buf, size_t n) = 0;
    virtual int CloseSource() { return 0; }
    // The bytes it holds when ReadAt may be called from several threads at once, at any
    // offset, and gives the same bytes each time; 0 when it may not.
    virtual ULONGLONG ConcurrentSize() const { return 0; }
};

class FileReader {
public:
    // The most bytes one view can hold.
    static constexpr UINT kMaxView = 1 << 18;

    FileReader() = default;
    ~FileReader() { Abort(); }
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    // Opens a regular file, never blocking: 0 or the error.
    int Open(const char* path);
    // Opens a file whose bytes come from src instead of the system.
    void OpenSource(std::unique_ptr<FileSource> src);
    // Reads what `other` reads, through a buffer of its own, so that another thread can read
    // the file at the same time; other must stay open meanwhile, and its source must allow it
    // (ConcurrentSize).
    void OpenShared(const FileReader& other);
    bool IsOpen() const { return m_read != nullptr; }
    // The file's size when several threads may read it at once (OpenShared), else 0.
    ULONGLONG ConcurrentSize() const { return m_read ? m_read->ConcurrentSize() : 0; }
    // The system's file, or none.
    int Fd() const { return m_fd.Get(); }

    // Hands out a view of the next bytes, not a copy: nCount bytes (at most kMaxView) unless
    // the file ends, or a read error comes, first. The view stays valid until the next call.
    UINT ReadView(const BYTE** ppData, UINT nCount) {
        // Most windows lie inside the block already read: hand out the view at once.
        if (m_read && Holds(nCount)) {
            *ppData = m_data + (m_pos - m_bufStart);
            m_pos += nCount;
            return nCount;
        }
        return ReadViewSlow(ppData, nCount);
    }
    // Moves to pos from the start; reading moves the block only when it must.
    ULONGLONG SeekTo(ULONGLONG pos) { return m_pos = pos; }
    ULONGLONG Position() const { return m_pos; }
    // The bytes the file holds, as far as it tells (0 when it does not).
    ULONGLONG Length() const { return m_length; }

    // Lets go of the file; a failure to close it throws.
    void Close();
    // Lets go of the file, never throwing.
    void Abort();

private:
    // Whether the buffer holds nCount bytes from m_pos on; no sum here may pass the largest
    // offset, which a range at the end of the offsets would reach.
    bool Holds(UINT nCount) const {
        return m_pos >= m_bufStart && m_pos - m_bufStart <= m_bufLen &&
               nCount <= m_bufLen - (m_pos - m_bufStart);
    }
    void Start(UniqueFd fd, std::unique_ptr<FileSource> src, FileSource* read, ULONGLONG length);
    UINT ReadViewSlow(const BYTE** ppData, UINT nCount);
    void Fill(UINT nNeed);

    UniqueFd m_fd;
    std::unique_ptr<FileSource> m_source; // null when the source is another reader's
    FileSource* m_read = nullptr;         // where the bytes come from
    struct FreeBytes {
        void operator()(BYTE* p) const;
    };
    std::unique_ptr<BYTE, FreeBytes> m_buf; // page-aligned, a page larger than a read
    // The bytes held, from the file offset m_bufStart on. They lie in the buffer at that
    // offset's place within a page, so that each read lands on the same place within a
    // page as it has in the file: the system copies such reads several times faster.
    BYTE* m_data = nullptr;
    ULONGLONG m_bufStart = 0;
    size_t m_bufLen = 0; // bytes held
    ULONGLONG m_pos = 0;
    ULONGLONG m_length = 0;
    int m_pendingErr = 0; // a read error met after some bytes were delivered
};
