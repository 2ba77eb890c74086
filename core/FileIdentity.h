// Which file a path or an open file is, and the place a path names.
#pragma once

#include <string>
#include <sys/types.h>

// Identity of a file on disk, to tell whether two paths name the same file: its device and
// inode, and its birth time where the file system keeps one (a deleted file's inode number
// is soon given to a new, unrelated file; the birth time tells them apart).
struct FileIdentity {
    dev_t dev = 0;
    ino_t ino = 0;
    bool hasBirth = false;
    long long birthSec = 0;
    unsigned birthNsec = 0;
    bool valid = false;
    bool operator==(const FileIdentity& o) const {
        return valid && o.valid && dev == o.dev && ino == o.ino &&
               (!hasBirth || !o.hasBirth || (birthSec == o.birthSec && birthNsec == o.birthNsec));
    }

    // The identity of the file at path, taken from the folder dirFd (or AT_FDCWD); an empty
    // path names the open file dirFd itself. Not valid when there is no such file.
    static FileIdentity At(int dirFd, const char* path);
};

// Where a path leads once its symbolic links are followed: a folder and a name in it, which
// need not be taken yet.
struct LinkTarget {
    int err = 0; // 0, or why the links could not be followed
    // The way led through /proc, whose links name open files (/dev/fd/N), not places.
    bool throughProc = false;
    std::string folder;
    std::string name;
    // Whether the name is one a file can have: not empty, "." or "..".
    bool NamesAFile() const { return !name.empty() && name != "." && name != ".."; }
};
LinkTarget FollowLinks(const char* path);

// The place a path names, as an absolute path without symbolic links, "." or "..": for a
// name not yet taken, its folder's place and the name (after the links that lead to it).
// Empty when it cannot be told.
std::string CanonicalPathOf(const char* path);
// The place a path names as its folder's device and inode and the name in it, whichever way
// the folder is reached; "" when there is none.
std::string PlaceOfPath(const char* path);
