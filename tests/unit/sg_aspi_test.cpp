// The ASPI layer over the Linux SCSI generic driver, with the driver calls injected.
#include "platform/posix/sg_aspi.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>

namespace fwload {
namespace {

class FakeSg : public SgSystem {
 public:
  std::vector<SgDevice> list;
  std::vector<std::string> opened;
  std::vector<sg_io_hdr_t> calls;
  std::vector<std::vector<std::uint8_t>> cdbs;
  std::function<int(sg_io_hdr_t&)> answer = [](sg_io_hdr_t&) { return 0; };
  bool deny = false;

  std::vector<SgDevice> devices() override { return list; }
  int open_device(const std::string& path) override {
    if (deny) {
      errno = EACCES;
      return -1;
    }
    opened.push_back(path);
    return static_cast<int>(opened.size()) + 10;
  }
  int sg_io(int, sg_io_hdr_t& h) override {
    calls.push_back(h);
    cdbs.emplace_back(h.cmdp, h.cmdp + h.cmd_len);
    return answer(h);
  }
  void close_device(int) override {}
};

ScsiRequestBlock request(std::uint8_t adapter, std::uint8_t target, std::uint8_t opcode,
                         std::uint8_t* data, std::uint32_t length, std::uint8_t flags) {
  ScsiRequestBlock srb{};
  srb.command = kScExecScsiCmd;
  srb.host_adapter = adapter;
  srb.target = target;
  srb.flags = flags;
  srb.data_length = length;
  srb.data_buffer = data;
  srb.cdb_length = opcode < 0x20 ? 6 : 10;
  srb.cdb[0] = opcode;
  srb.sense_length = 14;
  return srb;
}

class SgAspiTest : public ::testing::Test {
 protected:
  std::shared_ptr<FakeSg> sg = std::make_shared<FakeSg>();
  void SetUp() override {
    sg->list = {{"/dev/sg0", 0, 0, 0, 0}, {"/dev/sg3", 2, 0, 4, 0}, {"/dev/sg4", 2, 0, 5, 1}};
  }
  std::unique_ptr<AspiModule> load() { return SgAspiLoader(sg).load("WNASPI32.DLL"); }
};

TEST_F(SgAspiTest, AdaptersAreHostNumbers) {
  auto aspi = load();
  EXPECT_TRUE(aspi->has_entry("GetASPI32SupportInfo"));
  EXPECT_TRUE(aspi->has_entry("SendASPI32Command"));
  EXPECT_EQ(aspi->get_support_info(), 0x0103u);
  sg->list.clear();
  EXPECT_EQ(load()->get_support_info(), 0x0100u);
}

TEST_F(SgAspiTest, RequestsGoToTheDeviceOfTheirAddress) {
  auto aspi = load();
  std::uint8_t reply[96] = {};
  sg->answer = [](sg_io_hdr_t& h) {
    if (h.dxfer_direction == SG_DXFER_FROM_DEV) static_cast<std::uint8_t*>(h.dxferp)[0] = 6;
    return 0;
  };
  ScsiRequestBlock srb = request(2, 4, 0x12, reply, 96, kSrbDirIn);
  aspi->send_command(srb);
  EXPECT_EQ(load_status(srb), kSsComp);
  EXPECT_EQ(reply[0], 6);
  ASSERT_EQ(sg->opened, std::vector<std::string>{"/dev/sg3"});
  const sg_io_hdr_t& h = sg->calls.at(0);
  EXPECT_EQ(h.interface_id, 'S');
  EXPECT_EQ(h.dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(h.dxfer_len, 96u);
  EXPECT_EQ(h.cmd_len, 6);
  EXPECT_EQ(h.timeout, kSgTimeoutMs);
  EXPECT_EQ(sg->cdbs.at(0)[0], 0x12);

  std::uint8_t block[8192] = {};
  ScsiRequestBlock write = request(2, 4, 0x3B, block, sizeof block, kSrbDirOut);
  aspi->send_command(write);
  EXPECT_EQ(sg->calls.at(1).dxfer_direction, SG_DXFER_TO_DEV);
  ScsiRequestBlock commit = request(2, 4, 0x3B, nullptr, 0, kSrbDirOut);
  aspi->send_command(commit);
  EXPECT_EQ(sg->calls.at(2).dxfer_direction, SG_DXFER_NONE);
  EXPECT_EQ(sg->calls.at(2).timeout, kSgCommitTimeoutMs);
  // The device stays open between requests.
  EXPECT_EQ(sg->opened.size(), 1u);
}

TEST_F(SgAspiTest, MissingAdaptersAndTargets) {
  auto aspi = load();
  ScsiRequestBlock bad_adapter = request(1, 0, 0x00, nullptr, 0, kSrbDirOut);
  aspi->send_command(bad_adapter);
  EXPECT_EQ(load_status(bad_adapter), kSsInvalidHa);
  ScsiRequestBlock no_target = request(2, 6, 0x00, nullptr, 0, kSrbDirOut);
  aspi->send_command(no_target);
  EXPECT_EQ(load_status(no_target), kSsErr);
  EXPECT_EQ(no_target.host_status, 0x11);
  // Only LUN 0: the device at 2:0:5:1 is not target 5.
  ScsiRequestBlock lun1 = request(2, 5, 0x00, nullptr, 0, kSrbDirOut);
  aspi->send_command(lun1);
  EXPECT_EQ(load_status(lun1), kSsErr);
  EXPECT_TRUE(sg->calls.empty());
}

TEST_F(SgAspiTest, CheckConditionCarriesTheSense) {
  auto aspi = load();
  sg->answer = [](sg_io_hdr_t& h) {
    h.status = 0x02;
    h.sb_len_wr = 18;
    h.sbp[0] = 0x70;
    h.sbp[2] = 0x02;
    h.sbp[12] = 0x04;
    h.sbp[13] = 0x80;
    return 0;
  };
  ScsiRequestBlock srb = request(0, 0, 0x00, nullptr, 0, kSrbDirOut);
  aspi->send_command(srb);
  EXPECT_EQ(load_status(srb), kSsErr);
  EXPECT_EQ(srb.target_status, 2);
  EXPECT_EQ(srb.sense[2], 0x02);
  EXPECT_EQ(srb.sense[12], 0x04);
  EXPECT_EQ(srb.sense[13], 0x80);
  EXPECT_LE(sg->calls.at(0).mx_sb_len, sizeof srb.sense);
}

TEST_F(SgAspiTest, BusyTransportErrorsAndDriverFailures) {
  auto aspi = load();
  sg->answer = [](sg_io_hdr_t& h) {
    h.status = 0x08;
    return 0;
  };
  ScsiRequestBlock busy = request(0, 0, 0x00, nullptr, 0, kSrbDirOut);
  aspi->send_command(busy);
  EXPECT_EQ(load_status(busy), kSsComp);
  EXPECT_EQ(busy.target_status, 8);

  sg->answer = [](sg_io_hdr_t& h) {
    h.host_status = 0x03;  // time-out on the bus
    return 0;
  };
  ScsiRequestBlock lost = request(0, 0, 0x00, nullptr, 0, kSrbDirOut);
  aspi->send_command(lost);
  EXPECT_EQ(load_status(lost), kSsErr);
  EXPECT_EQ(lost.host_status, 0x03);

  sg->answer = [](sg_io_hdr_t&) {
    errno = EIO;
    return -1;
  };
  ScsiRequestBlock failed = request(0, 0, 0x00, nullptr, 0, kSrbDirOut);
  aspi->send_command(failed);
  EXPECT_EQ(load_status(failed), kSsErr);
}

TEST_F(SgAspiTest, ADeviceThatCannotBeOpenedAnswersNothing) {
  sg->deny = true;
  auto aspi = load();
  ScsiRequestBlock srb = request(0, 0, 0x12, nullptr, 0, kSrbDirIn);
  aspi->send_command(srb);
  EXPECT_EQ(load_status(srb), kSsErr);
  EXPECT_TRUE(sg->calls.empty());
}

}  // namespace
}  // namespace fwload
