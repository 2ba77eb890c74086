// Files for reading and writing, with the error causes the program reports.
#pragma once

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>

#include "CString.h"
#include "FileException.h"
#include "FileIdentity.h"
#include "StopCheck.h"
#include "Types.h"

class CFile {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        shareDenyWrite = 0x0020,
        modeCreate = 0x1000,
        typeBinary = 0x8000,
    };
    enum SeekPosition { begin = 0 };

    CFile();
    ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Opens for reading (a regular file only; never blocks) or, with modeCreate|modeWrite,
    // for writing. Failure is a result, with the cause in pError.
    //
    // A regular file (or a name not yet taken) is not touched while it is written: the bytes
    // go to a new file in the same folder, which Close makes the file's only when all of them
    // reached the disk; a failure or an end before Close leaves the old file as it was. The
    // new file keeps the old one's permission bits and owner (a new name gets 0666 less the
    // umask), but until it is complete only the user may read it (0600); a symbolic link
    // keeps pointing at it. A file the program may write but not replace (its folder is not
    // writable, it has other hard links, it belongs to another user, it is mounted on its
    // own, it is named through /proc or /dev/fd) is written in place, but only once the
    // bytes are complete: they go to a temporary file first (beside it where its folder
    // allows, else in $TMPDIR or /tmp), Close reserves the file's new size on its disk and
    // then copies them over the old bytes, cuts the file to its new size and flushes it. A
    // failure or an end before that copy leaves the old file as it was; only the copy itself
    // can be cut short. Pipes, terminals and other devices are written directly; a full pipe
    // is waited on, and a pipe whose reader left fails the write instead of ending the
    // program.
    BOOL Open(const char* path, UINT nOpenFlags, CFileException* pError = nullptr);
    // The most bytes one view can hold.
    static constexpr UINT kMaxView = 1 << 18;
    // Hands out a view of the next bytes, not a copy: nCount bytes (at most kMaxView)
    // unless the file ends, or a read error comes, first. The view stays
    // valid until the next call on this file.
    UINT ReadView(const BYTE** ppData, UINT nCount) {
        // Most windows lie inside the block already read: hand out the view at once.
        if (m_reading && m_pos >= m_bufStart && m_pos + nCount <= m_bufStart + m_bufLen) {
            *ppData = m_buf.get() + (m_pos - m_bufStart);
            m_pos += nCount;
            return nCount;
        }
        return ReadViewSlow(ppData, nCount);
    }
    // While a write waits for a reader that takes nothing (a full pipe), stop is asked every
    // few tens of milliseconds, so that the writer's window can go on; when it answers true
    // the write gives up by throwing WriteAbandoned, and the file is left to Abort. What was
    // not written stays for a later write, Close or Abort. Without a check, the write waits.
    struct WriteAbandoned {};
    void Write(const void* buf, UINT nCount, const StopCheck& stop = StopCheck()) {
        // Small writes only fill the buffer; it goes out when full and on Close.
        if (m_writing && nCount <= m_bufCap - m_bufLen) {
            std::memcpy(m_buf.get() + m_bufLen, buf, nCount);
            m_bufLen += nCount;
            m_pos += nCount;
            return;
        }
        WriteSlow(buf, nCount, stop);
    }
    ULONGLONG Seek(LONGLONG lOff, UINT nFrom = begin) {
        if (m_reading && nFrom == begin && lOff >= 0)
            return m_pos = static_cast<ULONGLONG>(lOff);
        return SeekSlow(lOff, nFrom);
    }
    ULONGLONG GetPosition() const { return m_pos; }
    // The bytes a file opened for reading holds, as far as it tells (0 when it does not).
    ULONGLONG GetLength() const { return m_length; }
    // Closes the file; a file being written is then complete where it belongs. Failures
    // throw, naming the file when it was being written. stop is asked as Write asks it.
    void Close(const StopCheck& stop = StopCheck());
    // Closes without finishing and without throwing: a file being replaced, or written in
    // place before Close began copying into it, stays as it was.
    void Abort();
    // Whether Abort would leave what is written to as it was (a file being replaced, or one
    // written in place before Close begins copying into it), or harm nothing stored (a pipe
    // or device).
    bool CanAbandon() const { return (m_dirFd >= 0 || m_inPlace || m_pipe) && !m_copying; }
    bool IsOpen() const;
    FileIdentity GetIdentity() const;

    static FileIdentity IdentityOf(const char* path);
    // The place a path names, as an absolute path without symbolic links, "." or "..": for a
    // name not yet taken, its folder's place and the name (after the links that lead to it).
    // Empty when it cannot be told.
    static std::string CanonicalPath(const char* path);

    // The steps of a file written in place, in order: its listing complete in the temporary
    // file; the target's new size reserved on its disk; the copy into the target about to
    // begin; the copy done (the target not yet cut to its size nor flushed).
    enum class WriteStep { written, reserved, copying, copied };
    // For tests: called at each step of every file written in place. A result other than 0
    // fails the step with that error number, as the system would. None by default.
    static void SetStepHook(std::function<int(WriteStep)> hook);
    // For tests: whether temporary files may be unnamed (O_TMPFILE), as they are by default.
    // Off, every one is made as on a file system without unnamed files: under a hidden name.
    static void SetUnnamedTemporaries(bool allowed);

    // Where the bytes of a file opened for reading come from: the system by default; tests
    // and fuzzing put their own sources in its place.
    class Source {
    public:
        virtual ~Source() = default;
        // Reads up to n bytes at offset; returns the count, 0 at the end, or -errno.
        virtual long ReadAt(ULONGLONG offset, BYTE* buf, size_t n) = 0;
        virtual int CloseSource() { return 0; }
    };
    // Opens a file whose bytes come from src instead of the system.
    void OpenSource(std::unique_ptr<Source> src);

private:
    UINT ReadViewSlow(const BYTE** ppData, UINT nCount);
    void WriteSlow(const void* buf, UINT nCount, const StopCheck& stop);
    ULONGLONG SeekSlow(LONGLONG lOff, UINT nFrom);
    void Fill(UINT nNeed);
    BOOL OpenForWriting(const char* path, CFileException* pError);
    // Takes fd (or none) as the open file, for reading or writing, with an empty buffer.
    void Start(int fd, const char* path, bool write);
    void Flush(const StopCheck& stop);
    // Gives a pipe or device what it takes without waiting, for an end that cannot be stopped.
    void Offer();
    // Makes the replacement, synced and closed, the target's content; 0 or the error.
    int Commit();
    // Copies the complete temporary file over the target written in place; 0 or the error.
    int CopyIntoTarget();
    // Lets go of the file being written; a replacement not yet committed is removed, and a
    // file written in place is left as the copy into it left it.
    void EndWriting();
    [[noreturn]] void Throw(int err, bool named) const;

    int m_fd = -1;
    bool m_bWrite = false;
    CString m_strPath;
    std::unique_ptr<Source> m_source;
    std::unique_ptr<BYTE[]> m_buf;
    size_t m_bufCap = 0;
    ULONGLONG m_bufStart = 0; // file offset of m_buf[0] when reading
    size_t m_bufLen = 0;      // bytes held (reading) or waiting to be written
    ULONGLONG m_pos = 0;      // logical position
    ULONGLONG m_length = 0;   // size of a file opened for reading
    int m_pendingErr = 0;     // a read error met after some bytes were delivered
    bool m_reading = false;   // open for reading
    bool m_writing = false;   // open for writing
    int m_dirFd = -1;         // the target's folder, while a replacement for it is written
    std::string m_targetName; // the target's name in that folder
    std::string m_tempName;   // the replacement's name there; empty while it has none
    bool m_pipe = false;      // a pipe, socket or device: its reader may leave
    bool m_inPlace = false;   // the bytes go to a temporary file, copied into m_targetFd
    bool m_copying = false;   // that copy has begun: the target is no longer as it was
    // The target written in place; while a replacement is written, the old file (whose
    // attributes the replacement takes when complete), or none for a new name.
    int m_targetFd = -1;
    unsigned m_mode = 0; // the replacement's permission bits once complete
};
