#pragma once
#include <cstddef>
#include <cstdint>

// The CRC-32 of IEEE 802.3 (the one zip and PNG use): checks that a record
// read back is the record written, not a torn or damaged one.
std::uint32_t NoCrtCrc32(const void* data, std::size_t size);
