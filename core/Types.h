// The plain types the program's data and files are made of.
#pragma once

#include <cstdint>

using BOOL = int;
using UINT = unsigned int;
using BYTE = unsigned char;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
