// libFuzzer entry: any bytes and minimum length, checked against the listing rule.
#include <cstdio>
#include <cstdlib>

#include "ScanCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string problem = CheckScanInput(data, size);
    if (!problem.empty()) {
        std::fprintf(stderr, "listing rule broken: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
