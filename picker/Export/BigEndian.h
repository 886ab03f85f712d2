#pragma once
// Big-endian numbers of the swatch exchange file. Readers take the first
// bytes of a span and throw std::out_of_range when it is too short.

#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>

#include "Platform/Foundation/Value.h"

namespace BigEndian {

inline void require(std::span<const std::uint8_t> bytes, std::size_t count) {
    if (bytes.size() < count) throw std::out_of_range("big-endian read past the end");
}

inline std::uint16_t uint16(std::span<const std::uint8_t> bytes) {
    require(bytes, 2);
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

inline std::uint32_t uint32(std::span<const std::uint8_t> bytes) {
    require(bytes, 4);
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 | std::uint32_t{bytes[2]} << 8 | bytes[3];
}

inline float float32(std::span<const std::uint8_t> bytes) { return std::bit_cast<float>(uint32(bytes)); }

inline void appendUInt16(Foundation::Data& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

inline void appendUInt32(Foundation::Data& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// A single as four network-order bytes.
inline void appendFloat32(Foundation::Data& out, float v) { appendUInt32(out, std::bit_cast<std::uint32_t>(v)); }

}  // namespace BigEndian
