// How much more memory this process can take before an allocation fails or the kernel
// steps in: what the system has available, what the process's memory cgroups leave, and
// what its address-space limit leaves, whichever is least.
#pragma once

#include <cstdint>
#include <string>

constexpr uint64_t kMemoryUnknown = UINT64_MAX;

uint64_t MemoryLeft();

// What new work (a block of rows, the text Copy makes) must leave the process, so that the
// window can go on and say why the work stopped.
constexpr uint64_t kMemoryHeadroom = uint64_t(64) << 20;
// Whether bytes more can be taken and kMemoryHeadroom still be left.
bool MemoryAllows(uint64_t bytes);
// What the process's limit on its address space leaves it (part of MemoryLeft);
// kMemoryUnknown without a limit.
uint64_t AddressSpaceLeft();
// How many of threads scanning threads to start when the address space leaves this much: a
// thread takes address space beyond its memory (its stack, and the heap of its own the C
// library reserves), which under a limit would be taken from the rows.
unsigned ThreadsAllowed(unsigned threads, uint64_t addressSpaceLeft);
// Makes MemoryLeft report no more than bytes, as a smaller machine would; kMemoryUnknown
// lifts the cap.
void SetMemoryCap(uint64_t bytes);

// The pieces, from the texts of the files they are read from; kMemoryUnknown where a text
// sets no bound.
// /proc/meminfo's MemAvailable, in bytes.
uint64_t MeminfoAvailable(const std::string& meminfo);
// A cgroup's limit less what it uses, counting its file cache (which the kernel takes back
// before it fails an allocation) as free: memory.max, memory.current and memory.stat under
// cgroup v2; memory.limit_in_bytes, memory.usage_in_bytes and memory.stat under v1.
uint64_t CgroupLeft(const std::string& limit, const std::string& usage, const std::string& stat);
