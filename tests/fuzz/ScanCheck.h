// One fuzz input checked against the listing rule: the first four bytes choose the minimum
// length, the rest is the file. Used by the fuzzer and by the test that replays its corpus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Returns an empty string when the scan and the run finder agree with the rule, else what
// went wrong.
std::string CheckScanInput(const uint8_t* data, size_t size);
