// The checksum bytes the scanner expects in its program store.
//
// A checksum block's last byte is its checksum: it must be blank (0xFF) when the sum is
// computed, and becomes the 8-bit sum of the whole block with itself counted as 0xFF.
#pragma once

#include <cstdint>
#include <span>

#include "platform/ui.h"

namespace fwload {

// Blocks of the four-block rule: 0x00000-0x03FFF, 0x04000-0x1BFFF, 0x1C000-0x1FFFF,
// 0x20000-0x6FFFF.
inline constexpr std::uint32_t kBlock1End = 0x04000;
inline constexpr std::uint32_t kBlock2End = 0x1C000;
inline constexpr std::uint32_t kBlock3End = 0x20000;
inline constexpr std::uint32_t kBlock4End = 0x70000;

// All bytes of image[first .. first + length) added modulo 256.
std::uint8_t block_sum(std::span<const std::uint8_t> image, std::uint32_t first,
                       std::uint32_t length);

// One block from 0 to length - 1 with its checksum at length - 1. Returns false (after the
// "SumCalc Error" message) when that byte is not blank; the image is then unchanged.
bool single_block_checksum(std::span<std::uint8_t> image, std::uint32_t length, Ui& ui);

// The four-block rule for data that ends before `exclusive_end`: block 1 always, each later
// block when the data reaches into it. Returns false (after the message) when any of the four
// checksum bytes is not blank; the image is then unchanged.
bool four_block_checksum(std::span<std::uint8_t> image, std::uint32_t exclusive_end, Ui& ui);

// End of the checksum block that holds `exclusive_end`.
std::uint32_t block_end(std::uint32_t exclusive_end);

}  // namespace fwload
