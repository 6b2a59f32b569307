#pragma once

// What both sides of the file layer share about open handles: one loop that
// writes a whole block through the platform's partial writes.

#include <cstddef>
#include <cstdint>

namespace os {
namespace handles {

// Writes some of size bytes to handle: how many (more than 0), or -1 with
// the system's reason set (a call that may be tried again is).
std::int64_t WriteSome(std::intptr_t handle, const void* buffer, std::size_t size);

// Writes all size bytes to handle, or fails.
bool WriteAll(std::intptr_t handle, const void* buffer, std::size_t size);

}  // namespace handles
}  // namespace os
