#pragma once

#include <cstdint>

namespace orvanta {

// Installed physical memory in bytes (0 when it cannot be determined).
uint64_t physicalMemoryBytes() noexcept;

} // namespace orvanta
