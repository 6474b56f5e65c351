// The pass-through translation: adapter lists from inquiry-data replies (well-formed and
// damaged), requests from blocks, and blocks from outcomes.
#include "platform/spti_translate.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/common/inquiry_reply.h"

namespace fwload::spti {
namespace {

std::vector<std::uint8_t> reply(const std::vector<std::vector<test::FakeUnit>>& buses) {
  return test::inquiry_reply(buses);
}

TEST(SptiTranslate, AdaptersFromInquiryData) {
  const auto port0 = parse_inquiry_data(
      reply({{{3, false, "HV Scanner 3600"}, {0, true, "Disk"}}, {{5, false, "HV Scanner 2600"}}}));
  ASSERT_EQ(port0.size(), 2u);
  ASSERT_EQ(port0[0].units.size(), 2u);
  EXPECT_EQ(port0[0].units[0].target, 3);
  EXPECT_FALSE(port0[0].units[0].claimed);
  EXPECT_TRUE(port0[0].units[1].claimed);
  EXPECT_EQ(port0[1].path, 1);
  EXPECT_EQ(std::string(port0[1].units[0].inquiry.begin() + 16, port0[1].units[0].inquiry.end())
                .substr(0, 15),
            "HV Scanner 2600");
  // Port 2's one bus comes after port 0's two.
  const auto port2 = parse_inquiry_data(reply({{{1, false, "TR-M3160"}}}));
  const auto adapters = number_adapters({{0, port0}, {2, port2}});
  ASSERT_EQ(adapters.size(), 3u);
  EXPECT_EQ(adapters[1].port, 0);
  EXPECT_EQ(adapters[1].path, 1);
  EXPECT_EQ(adapters[2].port, 2);
  EXPECT_EQ(adapters[2].path, 0);
}

TEST(SptiTranslate, DamagedRepliesAreReadOnlyWithinThemselves) {
  EXPECT_TRUE(parse_inquiry_data({}).empty());
  auto r = reply({{{3, false, "HV Scanner 3600"}, {4, false, "HV Scanner 3600"}}});
  // The second unit points back at the first: the chain ends.
  auto looped = r;
  const std::size_t first = looped[kBusDataOffset + 4];
  const std::size_t second = first + kUnitHeaderSize + 36;
  looped[second + 8] = static_cast<std::uint8_t>(first);
  looped[kBusDataOffset] = 5;  // and claims more units than it has
  EXPECT_EQ(parse_inquiry_data(looped)[0].units.size(), 2u);
  // Cut inside the second unit's header; a length beyond the end; more buses than bytes.
  auto cut = r;
  cut.resize(second + 5);
  EXPECT_EQ(parse_inquiry_data(cut)[0].units.size(), 1u);
  auto long_data = r;
  long_data[first + 4] = 0xFF;
  long_data[first + 5] = 0xFF;
  EXPECT_EQ(parse_inquiry_data(long_data)[0].units[0].inquiry.size(), kKeptInquiryBytes);
  auto many = r;
  many[0] = 200;
  EXPECT_LE(parse_inquiry_data(many).size(), (many.size() - kBusDataOffset) / kBusDataSize);
  // 255 buses that chain the same 255 unit headers, each claiming 4 GiB of inquiry data:
  // 65,025 units unless the reader stops; it keeps 2048 of 36 bytes at most, and says so.
  std::vector<std::uint8_t> hostile(kBusDataOffset + 255 * kBusDataSize + 255 * kUnitHeaderSize);
  hostile[0] = 255;
  const std::size_t units_at = kBusDataOffset + 255 * kBusDataSize;
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) hostile[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  for (std::size_t b = 0; b < 255; ++b) {
    hostile[kBusDataOffset + b * kBusDataSize] = 255;
    put32(kBusDataOffset + b * kBusDataSize + 4, static_cast<std::uint32_t>(units_at));
  }
  for (std::size_t u = 0; u < 255; ++u) {
    const std::size_t at = units_at + u * kUnitHeaderSize;
    hostile[at + 1] = static_cast<std::uint8_t>(u);
    put32(at + 4, 0xFFFFFFFF);
    put32(at + 8, u < 254 ? static_cast<std::uint32_t>(at + kUnitHeaderSize) : 0);
  }
  bool too_many = false;
  std::size_t units = 0;
  for (const Bus& bus : parse_inquiry_data(hostile, &too_many)) {
    units += bus.units.size();
    for (const Unit& u : bus.units) EXPECT_LE(u.inquiry.size(), kKeptInquiryBytes);
  }
  EXPECT_EQ(units, kMostUnitsPerPort);
  EXPECT_TRUE(too_many);
  parse_inquiry_data(r, &too_many);
  EXPECT_FALSE(too_many);
}

TEST(SptiTranslate, RequestsAndOutcomes) {
  std::uint8_t data[96] = {};
  ScsiRequestBlock inquiry{};
  inquiry.target = 3;
  inquiry.flags = kSrbDirIn;
  inquiry.data_length = 96;
  inquiry.data_buffer = data;
  inquiry.cdb_length = 6;
  inquiry.cdb[0] = 0x12;
  const Request r = make_request(inquiry, 1);
  EXPECT_EQ(r.path, 1);
  EXPECT_EQ(r.target, 3);
  EXPECT_EQ(r.timeout_seconds, kTimeoutSeconds);
  ScsiRequestBlock commit{};
  commit.cdb_length = 10;
  commit.cdb[0] = 0x3B;
  EXPECT_EQ(make_request(commit, 0).timeout_seconds, kCommitTimeoutSeconds);

  const std::uint8_t sense[18] = {0x70, 0, 0x06, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x29, 0x00};
  // Descriptor-format sense (the kernel's SCSI target reports it): NOT READY 08/00.
  const std::uint8_t descriptor[8] = {0x72, 0x02, 0x08, 0x00, 0, 0, 0, 0};
  struct Case {
    Outcome outcome;
    std::uint8_t status, host_status, target_status, sense_key;
  };
  const Case cases[] = {
      {{true, 0, 0x00, {}}, kSsComp, 0, 0, 0},
      {{true, 0, 0x08, {}}, kSsComp, 0, 8, 0},
      {{true, 0, 0x02, sense}, kSsErr, 0, 2, 6},
      {{true, 0, 0x02, {}}, kSsErr, 0, 2, 0},  // CHECK CONDITION without sense: "No sense !"
      {{true, 0, 0x02, descriptor}, kSsErr, 0, 2, 2},
      {{false, kErrorSemTimeout, 0, {}}, kSsErr, 0x0B, 0, 0},
      {{false, 5, 0, {}}, kSsErr, 0x0E, 0, 0},                      // access denied and the like
      {{true, 0, 0x00, {}, true, 8192, 4096}, kSsErr, 0x12, 0, 0},  // a block taken in part
      {{true, 0, 0x00, {}, false, 96, 36}, kSsComp, 0, 0, 0},       // a short reply is no error
  };
  for (const Case& c : cases) {
    ScsiRequestBlock block{};
    EXPECT_EQ(complete_block(block, c.outcome), c.status);
    EXPECT_EQ(block.host_status, c.host_status);
    EXPECT_EQ(block.target_status, c.target_status);
    EXPECT_EQ(block.sense[2], c.sense_key);
    if (c.outcome.sense.data() == descriptor) {
      EXPECT_EQ(block.sense[0], 0x70);
      EXPECT_EQ(block.sense[12], 0x08);  // the ASC where a fixed-format reader looks
    }
  }
}

}  // namespace
}  // namespace fwload::spti
