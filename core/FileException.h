// The error a file operation reports: one of the program's causes, the system's error number
// and the file's name.
#pragma once

#include <utility>

#include "CString.h"

class CFileException {
public:
    enum Cause {
        none = 0,
        genericException,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        removeCurrentDir,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile,
    };

    CFileException(int cause = none, int osError = 0, CString fileName = CString())
        : m_cause(cause), m_lOsError(osError), m_strFileName(std::move(fileName)) {}

    // The cause's text, naming the file or "an unnamed file".
    CString GetErrorMessage() const;
    static int OsErrorToCause(int err);
    // The error for a system error number, with its cause.
    static CFileException FromOsError(int err, CString fileName = CString()) {
        return CFileException(OsErrorToCause(err), err, std::move(fileName));
    }

    int m_cause;
    int m_lOsError;
    CString m_strFileName;
};
