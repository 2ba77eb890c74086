#include "File.h"

#include <cerrno>
#include <fcntl.h>

CFile::CFile() = default;

CFile::~CFile() = default;

BOOL CFile::Open(const char* path, UINT nOpenFlags, CFileException* pError) {
    int err = EBADF;
    if (!IsOpen())
        err = (nOpenFlags & modeWrite) ? m_writer.Open(path) : m_reader.Open(path);
    if (err && pError)
        *pError = CFileException::FromOsError(err, CString(path));
    return err ? FALSE : TRUE;
}

ULONGLONG CFile::SeekSlow(LONGLONG lOff, UINT nFrom) {
    if (!IsOpen())
        throw CFileException::FromOsError(EBADF);
    if (nFrom != begin || lOff < 0)
        throw CFileException(CFileException::badSeek, EINVAL, CString());
    const auto pos = static_cast<ULONGLONG>(lOff);
    if (m_writer.IsOpen())
        m_writer.SeekTo(pos);
    else
        m_reader.SeekTo(pos);
    return pos;
}

void CFile::Close(const StopCheck& stop) {
    if (m_writer.IsOpen())
        m_writer.Close(stop);
    else
        m_reader.Close();
}

void CFile::Abort() {
    m_writer.Abort();
    m_reader.Abort();
}

FileIdentity CFile::GetIdentity() const {
    return FileIdentity::At(m_writer.IsOpen() ? m_writer.Fd() : m_reader.Fd(), "");
}

FileIdentity CFile::IdentityOf(const char* path) {
    return FileIdentity::At(AT_FDCWD, path);
}
