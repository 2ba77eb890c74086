#include "FileReader.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <linux/magic.h>
#include <new>
#include <sys/stat.h>
#include <sys/vfs.h>

#include "FileException.h"

namespace {

// Reads end on a page boundary of the file: the page cache hands out whole pages best, and
// some files of /proc take nothing else. The page of room beyond the largest view lets one
// read fill a view wherever it starts.
constexpr size_t kPage = 4096;
constexpr size_t kReadBlock = FileReader::kMaxView + kPage;

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
class SystemSource : public FileSource {
public:
    SystemSource(int fd, ULONGLONG size, bool sized) : m_fd(fd), m_limit(size), m_sized(sized) {}
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
    // pread keeps no position; a file whose content is made as it is read is read by one.
    ULONGLONG ConcurrentSize() const override { return m_sized ? m_limit : 0; }

private:
    int m_fd;
    ULONGLONG m_limit;
    bool m_sized;
};

[[noreturn]] void Throw(int err) {
    throw CFileException::FromOsError(err);
}

} // namespace

void FileReader::FreeBytes::operator()(BYTE* p) const {
    std::free(p);
}

int FileReader::Open(const char* path) {
    // Non-blocking open: a FIFO without a peer must fail or return at once, never hang.
    // The file stays non-blocking: a regular file ignores it, and a pseudo-file that would
    // wait for data (such as /proc/kmsg) fails instead of freezing the window.
    UniqueFd fd(OpenAt(AT_FDCWD, path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd)
        return errno;
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0)
        return errno;
    // Only regular files are scanned: a directory, FIFO, socket or device would never end
    // or never answer.
    if (!S_ISREG(st.st_mode))
        return S_ISDIR(st.st_mode) ? EISDIR : EACCES;
    auto size = static_cast<ULONGLONG>(st.st_size);
    const bool sized = !(size == 0 && ReportsNoSize(fd.Get()));
    if (!sized)
        size = kUnsizedLimit;
    auto src = std::make_unique<SystemSource>(fd.Get(), size, sized);
    FileSource* read = src.get();
    Start(std::move(fd), std::move(src), read, size);
    return 0;
}

void FileReader::OpenSource(std::unique_ptr<FileSource> src) {
    FileSource* read = src.get();
    Start(UniqueFd(), std::move(src), read, 0);
}

void FileReader::OpenShared(const FileReader& other) {
    Start(UniqueFd(), nullptr, other.m_read, other.m_length);
}

void FileReader::Start(UniqueFd fd, std::unique_ptr<FileSource> src, FileSource* read,
                       ULONGLONG length) {
    Abort();
    m_fd = std::move(fd);
    m_source = std::move(src);
    m_read = read;
    m_length = length;
    m_pos = 0;
    m_bufStart = 0;
    m_bufLen = 0;
    m_pendingErr = 0;
    // A page more than a read, for the place within a page the bytes start at.
    m_buf.reset(static_cast<BYTE*>(std::aligned_alloc(kPage, kPage + kReadBlock)));
    if (!m_buf)
        throw std::bad_alloc();
    m_data = m_buf.get();
}

// Makes at least nNeed bytes from m_pos available in the buffer, unless the file ends first.
void FileReader::Fill(UINT nNeed) {
    if (m_pos >= m_bufStart && m_pos - m_bufStart <= m_bufLen) {
        size_t keep = static_cast<size_t>(m_bufStart + m_bufLen - m_pos);
        BYTE* data = m_buf.get() + m_pos % kPage;
        if (keep > 0 && data != m_data + (m_pos - m_bufStart))
            std::memmove(data, m_data + (m_pos - m_bufStart), keep);
        m_data = data;
        m_bufLen = keep;
    } else {
        m_data = m_buf.get() + m_pos % kPage;
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
            Throw(err);
        }
        const ULONGLONG at = m_bufStart + m_bufLen;
        size_t count = kReadBlock - m_bufLen;
        if (count > kPage)
            count -= static_cast<size_t>((at + count) % kPage);
        long r = m_read->ReadAt(at, m_data + m_bufLen, count);
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

UINT FileReader::ReadViewSlow(const BYTE** ppData, UINT nCount) {
    if (!m_read)
        Throw(EBADF);
    if (nCount > kMaxView)
        nCount = kMaxView;
    if (!Holds(nCount))
        Fill(nCount);
    size_t avail = Holds(0) ? m_bufLen - static_cast<size_t>(m_pos - m_bufStart) : 0;
    UINT n = static_cast<UINT>(avail < nCount ? avail : nCount);
    *ppData = m_data + (m_pos - m_bufStart);
    m_pos += n;
    return n;
}

void FileReader::Close() {
    if (!m_read)
        return;
    int err = m_source ? m_source->CloseSource() : 0;
    m_source.reset();
    m_read = nullptr;
    if (const int closeErr = m_fd.Close())
        err = closeErr;
    m_buf.reset();
    m_bufLen = 0;
    if (err)
        Throw(err);
}

void FileReader::Abort() {
    if (m_source)
        m_source->CloseSource();
    m_source.reset();
    m_read = nullptr;
    m_fd.Reset();
    m_buf.reset();
    m_bufLen = 0;
}
