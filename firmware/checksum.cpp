#include "firmware/checksum.h"

#include "firmware/messages.h"

namespace fwload {

std::uint8_t block_sum(std::span<const std::uint8_t> image, std::uint32_t first,
                       std::uint32_t length) {
  std::uint32_t sum = 0;
  for (std::uint8_t b : image.subspan(first, length)) sum += b;
  return static_cast<std::uint8_t>(sum);
}

bool single_block_checksum(std::span<std::uint8_t> image, std::uint32_t length, Ui& ui) {
  if (image[length - 1] != 0xFF) {
    ui.message_box(msg::kSumCalcError, msg::kValidCodeSingleBlock);
    return false;
  }
  image[length - 1] = block_sum(image, 0, length);
  return true;
}

bool four_block_checksum(std::span<std::uint8_t> image, std::uint32_t exclusive_end, Ui& ui) {
  if (image[kBlock1End - 1] != 0xFF || image[kBlock2End - 1] != 0xFF ||
      image[kBlock3End - 1] != 0xFF || image[kBlock4End - 1] != 0xFF) {
    ui.message_box(msg::kSumCalcError, msg::kValidCodeFourBlock);
    return false;
  }
  image[kBlock1End - 1] = block_sum(image, 0, kBlock1End);
  if (exclusive_end > kBlock1End - 1) {
    image[kBlock2End - 1] = block_sum(image, kBlock1End, kBlock2End - kBlock1End);
  }
  if (exclusive_end > kBlock2End - 1) {
    image[kBlock3End - 1] = block_sum(image, kBlock2End, kBlock3End - kBlock2End);
  }
  if (exclusive_end > kBlock3End - 1) {
    image[kBlock4End - 1] = block_sum(image, kBlock3End, kBlock4End - kBlock3End);
  }
  return true;
}

std::uint32_t block_end(std::uint32_t exclusive_end) {
  if (exclusive_end <= kBlock1End) return kBlock1End;
  if (exclusive_end <= kBlock2End) return kBlock2End;
  if (exclusive_end <= kBlock3End) return kBlock3End;
  return kBlock4End;
}

}  // namespace fwload
