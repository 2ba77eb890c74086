#include "FileException.h"

#include <cerrno>
#include <string>

namespace {

const char* const kCauseText[] = {
    "No error occurred.",
    "An unknown error occurred while accessing %1.",
    "%1 was not found.",
    "%1 contains an invalid path.",
    "%1 could not be opened because there are too many open files.",
    "Access to %1 was denied.",
    "An invalid file handle was associated with %1.",
    "%1 could not be removed because it is the current directory.",
    "%1 could not be created because the directory is full.",
    "Seek failed on %1",
    "A hardware I/O error was reported while accessing %1.",
    "A sharing violation occurred while accessing %1.",
    "A locking violation occurred while accessing %1.",
    "Disk full while accessing %1.",
    "An attempt was made to access %1 past its end.",
};

} // namespace

CString CFileException::GetErrorMessage() const {
    int cause = (m_cause >= 0 && m_cause <= endOfFile) ? m_cause : genericException;
    std::string text = kCauseText[cause];
    std::string name = m_strFileName.IsEmpty() ? "an unnamed file" : m_strFileName.Str();
    size_t at = text.find("%1");
    if (at != std::string::npos)
        text.replace(at, 2, name);
    return CString(text);
}

int CFileException::OsErrorToCause(int err) {
    switch (err) {
    case ENOENT:
        return fileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return badPath;
    case EMFILE:
    case ENFILE:
        return tooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return accessDenied;
    case EBADF:
        return invalidFile;
    case EIO:
        return hardIO;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return diskFull;
    default:
        return genericException;
    }
}
