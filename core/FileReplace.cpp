// Replacing a file by rename: the bytes go to a new file in the same folder, which becomes
// the file's only when all of them reached the disk.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

#include "WriteTarget.h"

namespace {

// The mode a plain create would give a new file: 0666 less the umask. /proc tells the umask
// without changing it; umask() itself would change it, for a moment, for every thread.
mode_t NewFileMode() {
    mode_t mask = 022;
    bool known = false;
    UniqueFd fd(OpenAt(AT_FDCWD, "/proc/self/status", O_RDONLY | O_CLOEXEC));
    char buf[4096];
    const ssize_t n = fd ? ::read(fd.Get(), buf, sizeof buf - 1) : -1;
    if (n > 0) {
        buf[n] = '\0';
        if (const char* at = std::strstr(buf, "\nUmask:")) {
            mask = static_cast<mode_t>(std::strtoul(at + 7, nullptr, 8)) & 0777;
            known = true;
        }
    }
    if (!known) {
        mask = ::umask(022);
        ::umask(mask);
    }
    return 0666 & ~mask;
}

// Gives the replacement the old file's extended attributes (its ACLs among them), as far
// as the user may set them.
void CopyAttributes(int from, int to) {
    ssize_t n = ::flistxattr(from, nullptr, 0);
    if (n <= 0)
        return;
    std::vector<char> names(static_cast<size_t>(n));
    n = ::flistxattr(from, names.data(), names.size());
    for (ssize_t at = 0; at < n; at += static_cast<ssize_t>(std::strlen(&names[at])) + 1) {
        const char* key = &names[static_cast<size_t>(at)];
        ssize_t len = ::fgetxattr(from, key, nullptr, 0);
        if (len < 0)
            continue;
        std::vector<char> value(static_cast<size_t>(len) + 1);
        len = ::fgetxattr(from, key, value.data(), value.size());
        if (len >= 0)
            ::fsetxattr(to, key, value.data(), static_cast<size_t>(len), 0);
    }
}

// Gives the replacement the old file's owner and group; false where the user may not (a
// group the user is not in).
bool TakeOwner(int fd, const struct stat& old) {
    struct stat made {};
    return ::fchown(fd, old.st_uid, old.st_gid) == 0 ||
           (::fstat(fd, &made) == 0 && made.st_uid == old.st_uid && made.st_gid == old.st_gid);
}

class Replacement : public WriteTarget {
public:
    Replacement(UniqueFd fd, std::string tempName, UniqueFd dir, std::string name, UniqueFd old,
                mode_t mode)
        : WriteTarget(std::move(fd)), m_dir(std::move(dir)), m_name(std::move(name)),
          m_tempName(std::move(tempName)), m_old(std::move(old)), m_mode(mode) {}
    ~Replacement() override {
        if (!m_tempName.empty())
            ::unlinkat(m_dir.Get(), m_tempName.c_str(), 0);
    }
    int Finish() override;

private:
    // Gives an unnamed replacement a hidden name in the folder: 0 or the error.
    int Link();
    // The new name reaches the disk with its folder.
    void SyncFolder();

    UniqueFd m_dir;         // the target's folder
    std::string m_name;     // the target's name in that folder
    std::string m_tempName; // the replacement's name there; empty while it has none
    // The old file, whose attributes the replacement takes when complete, or none for a new
    // name.
    UniqueFd m_old;
    mode_t m_mode; // the replacement's permission bits once complete
};

int Replacement::Finish() {
    // The old file's extended attributes (its ACLs among them) and mode go on only now, the
    // mode last: writing clears set-user-id and set-group-id bits, and until now only the
    // user could read what was written.
    if (m_old)
        CopyAttributes(m_old.Get(), Fd());
    ::fchmod(Fd(), m_mode);
    if (::fsync(Fd()) != 0)
        return errno;
    if (m_tempName.empty())
        if (const int err = Link())
            return err;
    if (const int err = m_fd.Close())
        return err;
    if (::renameat(m_dir.Get(), m_tempName.c_str(), m_dir.Get(), m_name.c_str()) != 0)
        return errno;
    m_tempName.clear(); // it is the target now
    SyncFolder();
    return 0;
}

int Replacement::Link() {
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", Fd());
    for (int tries = 0;; ++tries) {
        m_tempName = TempName(m_name);
        if (::linkat(AT_FDCWD, self, m_dir.Get(), m_tempName.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return 0;
        const int err = errno;
        m_tempName.clear();
        if (err != EEXIST || tries == 100)
            return err;
    }
}

void Replacement::SyncFolder() {
    UniqueFd dir(OpenAt(m_dir.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir)
        ::fsync(dir.Get());
}

} // namespace

std::unique_ptr<WriteTarget> ReplacementTarget(UniqueFd& old, const struct stat& st, UniqueFd& dir,
                                               const std::string& name, int& err) {
    std::string tempName;
    UniqueFd fd(CreateTemporary(dir.Get(), name, tempName, true));
    if (!fd) {
        err = errno;
        // A folder the user may not write in, holding a file the user may write.
        if (old && (err == EACCES || err == EPERM)) {
            dir.Reset();
            err = 0;
        }
        return nullptr;
    }
    // The replacement takes the old file's owner and group; where the user may not give it
    // the group, the old file is written in place instead.
    if (old && !TakeOwner(fd.Get(), st)) {
        if (!tempName.empty())
            ::unlinkat(dir.Get(), tempName.c_str(), 0);
        err = 0;
        return nullptr;
    }
    const mode_t mode = old ? st.st_mode & 07777 : NewFileMode();
    // The old file stays open: the replacement takes its attributes when complete.
    return std::make_unique<Replacement>(std::move(fd), std::move(tempName), std::move(dir), name,
                                         std::move(old), mode);
}
