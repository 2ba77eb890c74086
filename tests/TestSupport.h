// Helpers every test may use, with no window: temporary files, sample data, and how gtest
// prints the program's strings.
#pragma once

#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "CString.h"

// A fresh directory under the system's temporary folder, removed with its content.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string Path(const std::string& name) const { return m_dir + "/" + name; }
    std::string Write(const std::string& name, const std::string& bytes) const;
    // Makes nested folders of component-byte names until the path is at least atLeast
    // bytes long; returns it.
    std::string Deep(size_t atLeast, size_t component) const;
    const std::string& Dir() const { return m_dir; }

private:
    std::string m_dir;
};

std::string ReadFileBytes(const std::string& path);
// The names in a folder, sorted, without "." and "..".
std::vector<std::string> Entries(const std::string& dir);

// While it lives, files may grow no larger than the limit: a write across it is cut short,
// and the next one fails as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit);
    ~FileSizeLimit();

private:
    rlimit m_old{};
    void (*m_oldHandler)(int);
};
// Text runs of many lengths between binary bytes, as much as asked for.
std::string LargeSample(size_t size);
void WriteFileBytes(const std::string& path, const std::string& bytes);

// Prints a CString as its text when a test fails.
inline void PrintTo(const CString& s, std::ostream* os) {
    *os << '"' << s.Str() << '"';
}
