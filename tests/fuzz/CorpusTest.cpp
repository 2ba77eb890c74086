// Replays every input of the fuzz corpus (the seeds and whatever the fuzzer ever found).
#include <dirent.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "ScanCheck.h"
#include "TestSupport.h"

namespace {

TEST(FuzzCorpus, EveryInputFollowsTheListingRule) {
    const std::string dir = TARNWICK_FUZZ_CORPUS;
    DIR* d = ::opendir(dir.c_str());
    ASSERT_NE(d, nullptr) << dir;
    int inputs = 0;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        const std::string bytes = ReadFileBytes(dir + "/" + e->d_name);
        EXPECT_EQ(CheckScanInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), "")
            << e->d_name;
        ++inputs;
    }
    ::closedir(d);
    EXPECT_GE(inputs, 8);
}

} // namespace
