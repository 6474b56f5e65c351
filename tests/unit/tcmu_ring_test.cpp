// The TCMU command ring against a kernel played by the test: a mailbox and a ring in a memory
// file laid out as the kernel's UAPI header has it.
#include "emulator/tcmu_ring.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>

extern "C" {
extern const size_t tcmu_test_mailbox_size, tcmu_test_head, tcmu_test_tail, tcmu_test_entry_size,
    tcmu_test_iov_cnt, tcmu_test_cdb_off, tcmu_test_iov, tcmu_test_status, tcmu_test_tmr_size,
    tcmu_test_tmr_cnt, tcmu_test_tmr_ids;
extern const unsigned tcmu_test_op_cmd, tcmu_test_op_pad, tcmu_test_op_tmr, tcmu_test_version,
    tcmu_test_flags;
}

namespace fwload {
namespace {

constexpr std::uint32_t kRingOffset = 128, kRingSize = 4096, kMapSize = 65536;

class TcmuRing : public ::testing::Test {
 protected:
  void SetUp() override {
    fd_ = memfd_create("tcmu-ring-test", 0);
    ASSERT_GE(fd_, 0);
    ASSERT_EQ(ftruncate(fd_, kMapSize), 0);
    map_ = static_cast<std::uint8_t*>(
        mmap(nullptr, kMapSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0));
    ASSERT_NE(map_, MAP_FAILED);
    put<std::uint16_t>(0, static_cast<std::uint16_t>(tcmu_test_version));
    put<std::uint16_t>(2, static_cast<std::uint16_t>(tcmu_test_flags));
    put<std::uint32_t>(4, kRingOffset);
    put<std::uint32_t>(8, kRingSize);
  }
  void TearDown() override {
    if (ring_ != nullptr) tcmu_ring_close(ring_);
    munmap(map_, kMapSize);
    close(fd_);
  }
  template <typename T>
  void put(std::size_t at, T value) {
    std::memcpy(map_ + at, &value, sizeof value);
  }
  template <typename T>
  T get(std::size_t at) const {
    T value;
    std::memcpy(&value, map_ + at, sizeof value);
    return value;
  }
  tcmu_ring* open() {
    char error[256] = {};
    const std::string device = "/proc/self/fd/" + std::to_string(fd_);
    ring_ = tcmu_ring_open(device.c_str(), kMapSize, error, sizeof error);
    EXPECT_NE(ring_, nullptr) << error;
    return ring_;
  }
  // The kernel's side: an entry at `at` in the ring, the head moved past it.
  std::size_t header(std::size_t at, std::uint32_t length, unsigned op, std::uint16_t id) {
    const std::size_t e = kRingOffset + at;
    put<std::uint32_t>(e, length | op);
    put<std::uint16_t>(e + 4, id);
    put<std::uint32_t>(tcmu_test_head, static_cast<std::uint32_t>((at + length) % kRingSize));
    return e;
  }
  void command(std::size_t at, std::uint16_t id, std::uint8_t opcode, std::uint64_t data,
               std::uint64_t length) {
    const auto size = static_cast<std::uint32_t>(tcmu_test_entry_size + 16 + 16);
    const std::size_t e = header(at, size, tcmu_test_op_cmd, id);
    put<std::uint32_t>(e + tcmu_test_iov_cnt, length > 0 ? 1 : 0);
    const std::size_t cdb = e + tcmu_test_entry_size + 16;
    put<std::uint64_t>(e + tcmu_test_cdb_off, cdb);
    map_[cdb] = opcode;
    put<std::uint64_t>(e + tcmu_test_iov, data);
    put<std::uint64_t>(e + tcmu_test_iov + 8, length);
  }
  std::uint32_t tail() const { return get<std::uint32_t>(tcmu_test_tail); }

  int fd_ = -1;
  std::uint8_t* map_ = nullptr;
  tcmu_ring* ring_ = nullptr;
};

// Commands, padding and an abort notice as the kernel places them; completions out of order,
// each in the slot at the tail (the kernel finds the command by the id written there).
TEST_F(TcmuRing, EntriesAndCompletionsOutOfOrder) {
  tcmu_ring* r = open();
  ASSERT_NE(r, nullptr);
  const auto size = static_cast<std::uint32_t>(tcmu_test_entry_size + 32);
  command(0, 11, 0x00, 0, 0);  // TEST UNIT READY
  header(size, 64, tcmu_test_op_pad, 0);
  const std::size_t data = kRingOffset + kRingSize + 4096;
  std::memcpy(map_ + data, "firmware", 8);
  command(size + 64, 12, 0x3B, data, 8);  // WRITE BUFFER with 8 bytes
  const std::size_t tmr = header(2 * size + 64, static_cast<std::uint32_t>(tcmu_test_tmr_size + 8),
                                 tcmu_test_op_tmr, 0);
  put<std::uint32_t>(tmr + tcmu_test_tmr_cnt, 1);
  put<std::uint16_t>(tmr + tcmu_test_tmr_ids, 11);

  tcmu_ring_request q{};
  ASSERT_EQ(tcmu_ring_next(r, &q), 1);
  EXPECT_EQ(q.kind, 1);
  EXPECT_EQ(q.id, 11);
  EXPECT_EQ(q.cdb_length, 6u);
  ASSERT_EQ(tcmu_ring_next(r, &q), 1);
  EXPECT_EQ(q.id, 12);
  EXPECT_EQ(q.cdb_length, 10u);
  ASSERT_EQ(q.data_length, 8u);
  std::uint8_t out[16] = {};
  EXPECT_EQ(tcmu_ring_copy_out(r, &q, out, sizeof out), 8u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 8), "firmware");
  ASSERT_EQ(tcmu_ring_next(r, &q), 1);
  EXPECT_EQ(q.kind, 2);
  ASSERT_EQ(q.aborted_count, 1u);
  EXPECT_EQ(q.aborted[0], 11);
  EXPECT_EQ(tcmu_ring_next(r, &q), 0);
  EXPECT_EQ(tail(), 0u);  // the first command is open: nothing is done yet

  // The second command ends first: it takes the first command's slot; the padding after it
  // needs no completion.
  tcmu_ring_complete(r, 12, 0x02, reinterpret_cast<const std::uint8_t*>("\x70\x00\x0B"), 3);
  EXPECT_EQ(get<std::uint16_t>(kRingOffset + 4), 12);
  EXPECT_EQ(map_[kRingOffset + tcmu_test_status], 0x02);
  EXPECT_EQ(tail(), size + 64);
  // Then the first, in the second's slot; the abort notice behind it is passed over.
  tcmu_ring_complete(r, 11, 0x00, nullptr, 0);
  EXPECT_EQ(get<std::uint16_t>(kRingOffset + size + 64 + 4), 11);
  EXPECT_EQ(tail(), get<std::uint32_t>(tcmu_test_head));
  // Nothing open: a completion changes nothing.
  tcmu_ring_complete(r, 13, 0x00, nullptr, 0);
  EXPECT_EQ(tail(), get<std::uint32_t>(tcmu_test_head));
}

// What does not fit in the ring or the mapping is refused, never followed.
TEST_F(TcmuRing, DamagedEntriesAreNotFollowed) {
  tcmu_ring* r = open();
  ASSERT_NE(r, nullptr);
  command(0, 1, 0x3B, kMapSize - 4, 8);  // data beyond the mapping
  tcmu_ring_request q{};
  EXPECT_EQ(tcmu_ring_next(r, &q), -1);
  TearDown();
  SetUp();
  r = open();
  header(kRingSize - 64, 128, tcmu_test_op_cmd, 2);  // an entry past the end of the ring
  put<std::uint32_t>(tcmu_test_tail, kRingSize - 64);
  tcmu_ring_close(r);
  ring_ = nullptr;
  r = open();
  EXPECT_EQ(tcmu_ring_next(r, &q), -1);
  // A mailbox of another version is refused at once.
  put<std::uint16_t>(0, 1);
  char error[256] = {};
  const std::string device = "/proc/self/fd/" + std::to_string(fd_);
  EXPECT_EQ(tcmu_ring_open(device.c_str(), kMapSize, error, sizeof error), nullptr);
  EXPECT_NE(std::string(error).find("version 1"), std::string::npos) << error;
}

}  // namespace
}  // namespace fwload
