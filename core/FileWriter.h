// Writing a file through a buffer: a regular file is replaced, or written over in place, only
// once its new content is complete; pipes are waited on, and a reader that leaves is a failed
// write, never the end of the program.
#pragma once

#include <cstddef>
#include <cstring>
#include <functional>
#include <memory>

#include "CString.h"
#include "StopCheck.h"
#include "Types.h"

// Thrown by a write whose stop check asked it to give up while it waited.
struct WriteAbandoned {};

// The steps of a file written in place, in order: its listing complete in the temporary
// file; the target's new size reserved on its disk; the copy into the target about to
// begin; the copy done (the target not yet cut to its size nor flushed).
enum class WriteStep { written, reserved, copying, copied };
// For tests: called at each step of every file written in place. A result other than 0
// fails the step with that error number, as the system would. None by default.
void SetWriteStepHook(std::function<int(WriteStep)> hook);
// For tests: whether temporary files may be unnamed (O_TMPFILE), as they are by default.
// Off, every one is made as on a file system without unnamed files: under a hidden name.
void SetUnnamedTemporaries(bool allowed);

class WriteTarget;

class FileWriter {
public:
    FileWriter();
    // A pipe or device gets what it takes now, without waiting; any other file is left as
    // it was.
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // Opens path for writing: 0 or the error.
    int Open(const char* path);
    bool IsOpen() const { return m_target != nullptr; }
    // The file the bytes are written to (the temporary one, while the target waits for
    // them), or none.
    int Fd() const;

    void Write(const void* buf, UINT nCount, const StopCheck& stop) {
        // Small writes only fill the buffer; it goes out when full and on Close.
        if (m_target && nCount <= m_cap - m_len) {
            std::memcpy(m_buf.get() + m_len, buf, nCount);
            m_len += nCount;
            m_pos += nCount;
            return;
        }
        WriteSlow(buf, nCount, stop);
    }
    ULONGLONG Position() const { return m_pos; }
    // Moves to pos from the start, after what was written went out.
    void SeekTo(ULONGLONG pos);
    // Makes the file complete where it belongs; failures throw, naming it.
    void Close(const StopCheck& stop);
    // Lets go without finishing, never throwing.
    void Abort();
    bool CanAbandon() const;

private:
    void WriteSlow(const void* buf, UINT nCount, const StopCheck& stop);
    void Flush(const StopCheck& stop);
    // Gives a pipe or device what it takes without waiting, for an end that cannot be stopped.
    void Offer();
    // Keeps the bytes from off on, which did not go out, at the start of the buffer.
    void Keep(size_t off);
    [[noreturn]] void Throw(int err) const;

    std::unique_ptr<WriteTarget> m_target;
    CString m_path;
    std::unique_ptr<BYTE[]> m_buf;
    size_t m_cap = 0;
    size_t m_len = 0; // bytes waiting to be written
    ULONGLONG m_pos = 0;
};
