#include "File.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

// Reads end on a page boundary of the file: the page cache hands out whole pages best, and
// some files of /proc take nothing else. The page of room beyond the largest view lets one
// read fill a view wherever it starts.
constexpr size_t kPage = 4096;
constexpr size_t kReadBlock = CFile::kMaxView + kPage;
constexpr size_t kWriteBlock = 1 << 20;

// Files of /proc, /sys and their like report no size: their content is made up as they are
// read. They are read to their end, but no further than this: some of them never end.
constexpr ULONGLONG kUnsizedLimit = ULONGLONG(64) << 20;

// Whether the file lies on a file system whose files report size 0 for content they have.
// On any other, size 0 means empty: what is appended after the open is not listed.
bool ReportsNoSize(int fd) {
    struct statfs fs;
    if (::fstatfs(fd, &fs) != 0)
        return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case EFIVARFS_MAGIC:
    case PSTOREFS_MAGIC:
        return true;
    default:
        return false;
    }
}

// The system's file, read with pread so that seeks cost nothing. It is read as it was when
// opened: what is appended later is not read, so a growing file cannot keep a scan going.
class SystemSource : public CFile::Source {
public:
    SystemSource(int fd, ULONGLONG size) : m_fd(fd), m_limit(size) {}
    long ReadAt(ULONGLONG offset, BYTE* buf, size_t n) override {
        if (offset >= m_limit)
            return 0;
        if (n > m_limit - offset)
            n = static_cast<size_t>(m_limit - offset);
        for (;;) {
            ssize_t r = ::pread(m_fd, buf, n, static_cast<off_t>(offset));
            if (r >= 0)
                return static_cast<long>(r);
            if (errno != EINTR)
                return -errno;
        }
    }

private:
    int m_fd;
    ULONGLONG m_limit;
};

} // namespace

CFile::CFile() = default;

CFile::~CFile() {
    // A pipe or device gets what it takes now: nothing can stop the end of a file, so it does
    // not wait for a reader. A replacement or a file written in place is left as it was.
    if (m_pipe)
        Offer();
    Abort();
}

bool CFile::IsOpen() const {
    return m_fd >= 0 || m_source != nullptr;
}

BOOL CFile::Open(const char* path, UINT nOpenFlags, CFileException* pError) {
    auto fail = [&](int err) {
        if (pError)
            *pError = CFileException(CFileException::OsErrorToCause(err), err, CString(path));
        return FALSE;
    };
    if (IsOpen())
        return fail(EBADF);
    if (nOpenFlags & modeWrite)
        return OpenForWriting(path, pError);
    // Non-blocking open: a FIFO without a peer must fail or return at once, never hang.
    // The file stays non-blocking: a regular file ignores it, and a pseudo-file that would
    // wait for data (such as /proc/kmsg) fails instead of freezing the window.
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return fail(errno);
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        int err = errno;
        ::close(fd);
        return fail(err);
    }
    // Only regular files are scanned: a directory, FIFO, socket or device would never end
    // or never answer.
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(S_ISDIR(st.st_mode) ? EISDIR : EACCES);
    }
    Start(fd, path, false);
    ULONGLONG size = static_cast<ULONGLONG>(st.st_size);
    if (size == 0 && ReportsNoSize(fd))
        size = kUnsizedLimit;
    m_source = std::make_unique<SystemSource>(fd, size);
    m_length = size;
    return TRUE;
}

void CFile::OpenSource(std::unique_ptr<Source> src) {
    Start(-1, "", false);
    m_source = std::move(src);
    m_reading = m_source != nullptr;
}

void CFile::Start(int fd, const char* path, bool write) {
    m_fd = fd;
    m_length = 0;
    m_bWrite = write;
    m_reading = !write;
    m_writing = write;
    m_pipe = false;
    m_strPath = path;
    m_pos = 0;
    m_bufStart = 0;
    m_bufLen = 0;
    m_pendingErr = 0;
    m_bufCap = write ? kWriteBlock : kReadBlock;
    m_buf.reset(new BYTE[m_bufCap]);
}

void CFile::Throw(int err, bool named) const {
    int cause = CFileException::OsErrorToCause(err);
    throw CFileException(cause, err, named ? m_strPath : CString());
}

// Makes at least nNeed bytes from m_pos available in the buffer, unless the file ends first.
void CFile::Fill(UINT nNeed) {
    if (m_pos >= m_bufStart && m_pos <= m_bufStart + m_bufLen) {
        size_t keep = static_cast<size_t>(m_bufStart + m_bufLen - m_pos);
        if (keep > 0 && m_pos != m_bufStart)
            std::memmove(m_buf.get(), m_buf.get() + (m_pos - m_bufStart), keep);
        m_bufLen = keep;
    } else {
        m_bufLen = 0;
        m_pendingErr = 0; // that error belonged to another place in the file
    }
    m_bufStart = m_pos;
    while (m_bufLen < nNeed) {
        if (m_pendingErr) {
            if (m_bufLen > 0)
                return;
            int err = m_pendingErr;
            m_pendingErr = 0;
            Throw(err, false);
        }
        const ULONGLONG at = m_bufStart + m_bufLen;
        size_t count = m_bufCap - m_bufLen;
        if (count > kPage)
            count -= static_cast<size_t>((at + count) % kPage);
        long r = m_source->ReadAt(at, m_buf.get() + m_bufLen, count);
        if (r == 0)
            return;
        if (r < 0) {
            // Hand out what was read; the error comes with the next read, as it would
            // have without the buffer.
            m_pendingErr = static_cast<int>(-r);
            continue;
        }
        m_bufLen += static_cast<size_t>(r);
    }
}

UINT CFile::ReadViewSlow(const BYTE** ppData, UINT nCount) {
    if (!m_source || m_bWrite)
        Throw(EBADF, false);
    if (nCount > kMaxView)
        nCount = kMaxView;
    if (!(m_pos >= m_bufStart && m_pos + nCount <= m_bufStart + m_bufLen))
        Fill(nCount);
    size_t avail =
        m_bufStart + m_bufLen > m_pos ? static_cast<size_t>(m_bufStart + m_bufLen - m_pos) : 0;
    UINT n = static_cast<UINT>(avail < nCount ? avail : nCount);
    *ppData = m_buf.get() + (m_pos - m_bufStart);
    m_pos += n;
    return n;
}

ULONGLONG CFile::SeekSlow(LONGLONG lOff, UINT nFrom) {
    if (!IsOpen())
        Throw(EBADF, false);
    if (nFrom != begin || lOff < 0)
        throw CFileException(CFileException::badSeek, EINVAL, CString());
    if (m_bWrite) {
        Flush(StopCheck());
        if (::lseek(m_fd, static_cast<off_t>(lOff), SEEK_SET) < 0)
            throw CFileException(CFileException::badSeek, errno, CString());
    }
    m_pos = static_cast<ULONGLONG>(lOff);
    return m_pos;
}

void CFile::Close(const StopCheck& stop) {
    if (!IsOpen())
        return;
    if (m_bWrite) {
        int err = 0;
        try {
            Flush(stop);
        } catch (const CFileException&) {
            EndWriting();
            throw;
        }
        if (m_dirFd >= 0) {
            err = Commit();
        } else if (m_inPlace) {
            err = CopyIntoTarget();
        } else {
            const int fd = m_fd;
            m_fd = -1;
            if (::close(fd) != 0 && errno != EINTR)
                err = errno;
        }
        EndWriting();
        if (err)
            Throw(err, true);
        return;
    }
    int err = 0;
    if (m_source)
        err = m_source->CloseSource();
    int fd = m_fd;
    m_fd = -1;
    m_reading = false;
    m_source.reset();
    m_buf.reset();
    m_bufLen = 0;
    if (fd >= 0 && ::close(fd) != 0 && errno != EINTR)
        err = errno;
    if (err)
        throw CFileException(CFileException::OsErrorToCause(err), err, CString());
}

void CFile::Abort() {
    if (m_bWrite) {
        EndWriting();
        return;
    }
    if (m_source)
        m_source->CloseSource();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_reading = false;
    m_source.reset();
    m_buf.reset();
    m_bufLen = 0;
}

FileIdentity CFile::GetIdentity() const {
    return FileIdentity::At(m_fd, "");
}

FileIdentity CFile::IdentityOf(const char* path) {
    return FileIdentity::At(AT_FDCWD, path);
}

std::string CFile::CanonicalPath(const char* path) {
    return CanonicalPathOf(path);
}
