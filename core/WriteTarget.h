// The parts of FileWriter: where the bytes of a file being written go, and how they become
// the file's. Shared by the writer's files only.
#pragma once

#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <utility>

#include "StopCheck.h"
#include "Types.h"
#include "UniqueFd.h"

// The file a write goes to. Letting go of it (destroying it) without Finish leaves what it
// stands for as it was: a replacement not yet in place is removed, a file written in place
// is left as the copy into it left it.
class WriteTarget {
public:
    explicit WriteTarget(UniqueFd fd) : m_fd(std::move(fd)) {}
    virtual ~WriteTarget() = default;
    WriteTarget(const WriteTarget&) = delete;
    WriteTarget& operator=(const WriteTarget&) = delete;

    // The file the bytes are written to.
    int Fd() const { return m_fd.Get(); }
    // Writes what the file takes of n bytes: the count, or -1 with errno set.
    virtual ssize_t WriteSome(const BYTE* p, size_t n) { return ::write(Fd(), p, n); }
    // Whether the bytes reach their reader as they are written (a pipe or device), so that
    // a write let go of still delivers what it can.
    virtual bool Direct() const { return false; }
    // Whether letting go now leaves what is written to as it was, or harms nothing stored.
    virtual bool CanAbandon() const { return true; }
    // Makes the bytes written the file's: 0 or the error.
    virtual int Finish() = 0;

protected:
    UniqueFd m_fd;
};

// The target a write to path gets; null, with err set, when there is none.
std::unique_ptr<WriteTarget> OpenWriteTarget(const char* path, int& err);

// A pipe, terminal or other device, written directly.
std::unique_ptr<WriteTarget> PipeTarget(UniqueFd fd);
// Waits until the pipe or device fd takes bytes again; false when stop asks to give up first.
bool WaitForRoom(int fd, const StopCheck& stop);

// A new file in the folder dir that replaces the file old (or takes a name not yet taken)
// once complete. Null with err set when it cannot be made, or with err 0 where the old file
// is to be written in place instead; dir is let go of then when the folder may not be
// written in.
std::unique_ptr<WriteTarget> ReplacementTarget(UniqueFd& old, const struct stat& st, UniqueFd& dir,
                                               const std::string& name, int& err);

// The open file target, written in place once its bytes are complete in a temporary file:
// made in folder (or none) where it may be, else in $TMPDIR or /tmp. Null with err set when
// there is no place for the temporary file.
std::unique_ptr<WriteTarget> InPlaceTarget(UniqueFd target, UniqueFd folder,
                                           const std::string& name, int& err);

// A temporary file is the user's alone (0600) until it is complete: the listing it will
// hold may be one that others may not read, and a kill can leave a named one behind.
constexpr mode_t kTempMode = 0600;
// A name for a file beside the one named name: hidden, and not one a user would pick.
std::string TempName(const std::string& name);
// Creates a temporary file in the folder for the bytes of a write, readable and writable:
// an unnamed one where the file system has them (and, when it is to be linked into the
// folder later, where /proc can give it a name), else one under a hidden name, which
// tempName receives. Returns the descriptor, or -1 with errno set.
int CreateTemporary(int dirFd, const std::string& name, std::string& tempName, bool linkLater);
