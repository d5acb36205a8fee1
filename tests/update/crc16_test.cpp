#include <boost/crc.hpp>
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "update/crc16.h"

namespace {

TEST(Crc16, CheckValueOverTheNineDigits) {
  const std::uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(update::crc16(digits, sizeof digits), 0x6F91);
  EXPECT_EQ(update::crc16(digits, 0), 0xFFFF);  // nothing covered: the initial value
}

TEST(Crc16, AgreesWithAnIndependentImplementationOnRandomBlocks) {
  std::mt19937 rng(20260612);
  std::uniform_int_distribution<int> byte(0, 255);
  for (std::size_t n : {1u, 2u, 111u, 112u, 527u, 528u, 4096u}) {
    std::vector<std::uint8_t> block(n);
    for (auto& b : block) b = static_cast<std::uint8_t>(byte(rng));
    boost::crc_optimal<16, 0x1021, 0xFFFF, 0, true, true> reference;
    reference.process_bytes(block.data(), block.size());
    EXPECT_EQ(update::crc16(block.data(), block.size()), reference.checksum()) << n << " bytes";
  }
}

}  // namespace
