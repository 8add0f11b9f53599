// The bracketed local date of access logs, such as [07/Nov/2012:10:55:21 +0100].
#pragma once

#include <cstddef>
#include <cstdint>

// time: seconds since 1970 UTC, 0 = now. Returns output; a null output or a
// size of 0 writes nothing. The offset is the standard bias, never daylight.
char* FormatLogDate(char* output, std::size_t size, std::int32_t time);
