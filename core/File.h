// Files for reading and writing, with the error causes the program reports: the face the
// program uses, over the reader, the writer, the error type and file identities.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "CString.h"
#include "FileException.h"
#include "FileIdentity.h"
#include "FileReader.h"
#include "FileWriter.h"
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
    // Closes without throwing: a pipe or device gets what it takes now, without waiting;
    // a file being replaced or written in place stays as it was.
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

    // Where the bytes of a file opened for reading come from: the system by default; tests
    // and fuzzing put their own sources in its place.
    using Source = FileSource;
    // Opens a file whose bytes come from src instead of the system.
    void OpenSource(std::unique_ptr<Source> src) { m_reader.OpenSource(std::move(src)); }

    // The most bytes one view can hold.
    static constexpr UINT kMaxView = FileReader::kMaxView;
    // Hands out a view of the next bytes, not a copy: nCount bytes (at most kMaxView)
    // unless the file ends, or a read error comes, first. The view stays
    // valid until the next call on this file.
    UINT ReadView(const BYTE** ppData, UINT nCount) { return m_reader.ReadView(ppData, nCount); }
    // The reader of a file opened for reading, for the scan.
    FileReader& Reader() { return m_reader; }

    // While a write waits for a reader that takes nothing (a full pipe), stop is asked every
    // few tens of milliseconds, so that the writer's window can go on; when it answers true
    // the write gives up by throwing WriteAbandoned, and the file is left to Abort. What was
    // not written stays for a later write, Close or Abort. Without a check, the write waits.
    using WriteAbandoned = ::WriteAbandoned;
    void Write(const void* buf, UINT nCount, const StopCheck& stop = StopCheck()) {
        m_writer.Write(buf, nCount, stop);
    }

    ULONGLONG Seek(LONGLONG lOff, UINT nFrom = begin) {
        if (nFrom == begin && lOff >= 0 && m_reader.IsOpen())
            return m_reader.SeekTo(static_cast<ULONGLONG>(lOff));
        return SeekSlow(lOff, nFrom);
    }
    ULONGLONG GetPosition() const {
        return m_writer.IsOpen() ? m_writer.Position() : m_reader.Position();
    }
    // The bytes a file opened for reading holds, as far as it tells (0 when it does not).
    ULONGLONG GetLength() const { return m_reader.Length(); }
    // Closes the file; a file being written is then complete where it belongs. Failures
    // throw, naming the file when it was being written. stop is asked as Write asks it.
    void Close(const StopCheck& stop = StopCheck());
    // Closes without finishing and without throwing: a file being replaced, or written in
    // place before Close began copying into it, stays as it was.
    void Abort();
    // Whether Abort would leave what is written to as it was (a file being replaced, or one
    // written in place before Close begins copying into it), or harm nothing stored (a pipe
    // or device).
    bool CanAbandon() const { return m_writer.CanAbandon(); }
    bool IsOpen() const { return m_reader.IsOpen() || m_writer.IsOpen(); }

    FileIdentity GetIdentity() const;
    static FileIdentity IdentityOf(const char* path);
    // The place a path names, as an absolute path without symbolic links, "." or "..": for a
    // name not yet taken, its folder's place and the name (after the links that lead to it).
    // Empty when it cannot be told.
    static std::string CanonicalPath(const char* path) { return CanonicalPathOf(path); }
    // The place a path names as its folder's device and inode and the name in it, whichever
    // way the folder is reached (links, "..", a bind mount of it); "" when there is none.
    static std::string PlaceOf(const char* path) { return PlaceOfPath(path); }

    // The steps of a file written in place, in order: its listing complete in the temporary
    // file; the target's new size reserved on its disk; the copy into the target about to
    // begin; the copy done (the target not yet cut to its size nor flushed).
    using WriteStep = ::WriteStep;
    // For tests: called at each step of every file written in place. A result other than 0
    // fails the step with that error number, as the system would. None by default.
    static void SetStepHook(std::function<int(WriteStep)> hook) {
        SetWriteStepHook(std::move(hook));
    }
    // For tests: whether temporary files may be unnamed (O_TMPFILE), as they are by default.
    // Off, every one is made as on a file system without unnamed files: under a hidden name.
    static void SetUnnamedTemporaries(bool allowed) { ::SetUnnamedTemporaries(allowed); }

private:
    ULONGLONG SeekSlow(LONGLONG lOff, UINT nFrom);

    FileReader m_reader;
    FileWriter m_writer;
};
