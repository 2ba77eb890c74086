#include "FileWriter.h"

#include <cerrno>

#include "FileException.h"
#include "WriteTarget.h"

namespace {

constexpr size_t kWriteBlock = 1 << 20;

bool Full(int err) {
    return err == EAGAIN || err == EWOULDBLOCK;
}

} // namespace

FileWriter::FileWriter() = default;

FileWriter::~FileWriter() {
    if (m_target && m_target->Direct())
        Offer();
    Abort();
}

int FileWriter::Open(const char* path) {
    if (m_target)
        return EBADF;
    int err = 0;
    m_target = OpenWriteTarget(path, err);
    if (!m_target)
        return err;
    m_path = path;
    m_pos = 0;
    m_len = 0;
    m_cap = kWriteBlock;
    m_buf.reset(new BYTE[m_cap]);
    return 0;
}

int FileWriter::Fd() const {
    return m_target ? m_target->Fd() : -1;
}

bool FileWriter::CanAbandon() const {
    return m_target && m_target->CanAbandon();
}

void FileWriter::Throw(int err) const {
    throw CFileException::FromOsError(err, m_path);
}

void FileWriter::Keep(size_t off) {
    std::memmove(m_buf.get(), m_buf.get() + off, m_len - off);
    m_len -= off;
}

void FileWriter::Flush(const StopCheck& stop) {
    size_t off = 0;
    while (off < m_len) {
        const ssize_t r = m_target->WriteSome(m_buf.get() + off, m_len - off);
        if (r > 0) {
            off += static_cast<size_t>(r);
            continue;
        }
        const int err = r < 0 ? errno : ENOSPC;
        // A full pipe or terminal is waited on until its reader takes more, or the writer
        // would rather give up.
        if (err == EINTR || (Full(err) && WaitForRoom(m_target->Fd(), stop)))
            continue;
        // What did not go out stays, so that a later write or Close sends it, once.
        Keep(off);
        if (Full(err))
            throw WriteAbandoned();
        Throw(err);
    }
    m_len = 0;
}

void FileWriter::Offer() {
    size_t off = 0;
    while (off < m_len) {
        const ssize_t r = m_target->WriteSome(m_buf.get() + off, m_len - off);
        if (r > 0)
            off += static_cast<size_t>(r);
        else if (r == 0 || errno != EINTR)
            break;
    }
    m_len = 0;
}

void FileWriter::WriteSlow(const void* buf, UINT nCount, const StopCheck& stop) {
    if (!m_target)
        Throw(EBADF);
    const BYTE* p = static_cast<const BYTE*>(buf);
    while (nCount > 0) {
        if (m_len == m_cap)
            Flush(stop);
        size_t n = m_cap - m_len;
        if (n > nCount)
            n = nCount;
        std::memcpy(m_buf.get() + m_len, p, n);
        m_len += n;
        p += n;
        nCount -= static_cast<UINT>(n);
        m_pos += n;
    }
}

void FileWriter::SeekTo(ULONGLONG pos) {
    Flush(StopCheck());
    if (::lseek(m_target->Fd(), static_cast<off_t>(pos), SEEK_SET) < 0)
        throw CFileException(CFileException::badSeek, errno, CString());
    m_pos = pos;
}

void FileWriter::Close(const StopCheck& stop) {
    if (!m_target)
        return;
    try {
        Flush(stop);
    } catch (const CFileException&) {
        Abort();
        throw;
    }
    const int err = m_target->Finish();
    Abort();
    if (err)
        Throw(err);
}

void FileWriter::Abort() {
    m_target.reset();
    m_buf.reset();
    m_len = 0;
}
