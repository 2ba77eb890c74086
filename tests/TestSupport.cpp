#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "TestSupport.h"

TempDir::TempDir() {
    char tmpl[] = "/tmp/tarnwick-test-XXXXXX";
    const char* d = ::mkdtemp(tmpl);
    m_dir = d ? d : "/tmp";
}

TempDir::~TempDir() {
    std::string cmd = "rm -rf '" + m_dir + "'";
    if (m_dir.rfind("/tmp/tarnwick-test-", 0) == 0 && std::system(cmd.c_str()) != 0)
        ADD_FAILURE() << "could not remove " << m_dir;
}

std::string TempDir::Write(const std::string& name, const std::string& bytes) const {
    std::string p = Path(name);
    WriteFileBytes(p, bytes);
    return p;
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string TempDir::Deep(size_t atLeast, size_t component) const {
    std::string deep = m_dir;
    for (char c = 'a'; deep.size() < atLeast; c = c == 'z' ? 'a' : static_cast<char>(c + 1)) {
        deep += "/" + std::string(component, c);
        if (::mkdir(deep.c_str(), 0700) != 0)
            ADD_FAILURE() << "could not make " << deep;
    }
    return deep;
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string LargeSample(size_t size) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> len(1, 200), byte(0, 255), letter('a', 'z');
    std::string s;
    while (s.size() < size) {
        int n = len(rng);
        for (int i = 0; i < n; ++i)
            s += static_cast<char>(letter(rng));
        s += static_cast<char>(byte(rng) & 0x1F);
    }
    s.resize(size);
    return s;
}

std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

FileSizeLimit::FileSizeLimit(rlim_t limit) {
    ::getrlimit(RLIMIT_FSIZE, &m_old);
    m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit r = m_old;
    r.rlim_cur = limit;
    ::setrlimit(RLIMIT_FSIZE, &r);
}

FileSizeLimit::~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &m_old);
    std::signal(SIGXFSZ, m_oldHandler);
}
