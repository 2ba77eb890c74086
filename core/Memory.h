// How much more memory this process can take before an allocation fails or the kernel
// steps in: what the system has available, what the process's memory cgroups leave, and
// what its address-space limit leaves, whichever is least.
#pragma once

#include <cstdint>
#include <string>

constexpr uint64_t kMemoryUnknown = UINT64_MAX;

uint64_t MemoryLeft();

// The pieces, from the texts of the files they are read from; kMemoryUnknown where a text
// sets no bound.
// /proc/meminfo's MemAvailable, in bytes.
uint64_t MeminfoAvailable(const std::string& meminfo);
// A cgroup's limit less what it uses, counting its file cache (which the kernel takes back
// before it fails an allocation) as free: memory.max, memory.current and memory.stat under
// cgroup v2; memory.limit_in_bytes, memory.usage_in_bytes and memory.stat under v1.
uint64_t CgroupLeft(const std::string& limit, const std::string& usage, const std::string& stat);
