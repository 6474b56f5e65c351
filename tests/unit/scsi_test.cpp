// Sense messages, command blocks and result codes, and the scanner search.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "scsi/commands.h"
#include "scsi/discovery.h"
#include "scsi/sense.h"
#include "tests/unit/test_support.h"

namespace fwload {
namespace {

TEST(Sense, TableTextsAndCaptions) {
  EXPECT_EQ(scanner_message_text(0x05, 0x24, 0x00),
            "Scanner detected invalid field in command descriptor block.");
  EXPECT_EQ(scanner_message_caption(0x05, 0x24), "Scanner Message");
  EXPECT_EQ(scanner_message_text(0xFF, 0x02, 0x01),
            "This file cannot use with the current scanner !");
  EXPECT_EQ(scanner_message_caption(0xFF, 0x02), "DownLoad Message");
  EXPECT_EQ(scanner_message_text(0xFF, 0x00, 0x02), "Load Library error !!");
  EXPECT_EQ(scanner_message_caption(0xFF, 0x00), "Source Message");
  EXPECT_EQ(scanner_message_caption(0xFF, 0x01), "Free Size Setting Message");
  EXPECT_EQ(scanner_message_text(0xFF, 0x01, 0x00), "The same \"Name\" has already existed ! ");
  EXPECT_EQ(scanner_message_text(0x00, 0x00, 0x00), "No sense !");
  EXPECT_EQ(scanner_message_text(0x04, 0x0C, 0x80),
            "Microcode downloading and saveing was failed. \nPlease change board.");
  EXPECT_EQ(scanner_message_text(0xFF, 0x00, 0x0A), "Scanner is busy.");
}

TEST(Sense, UnknownTriplesShowTheirNumbers) {
  EXPECT_EQ(scanner_message_text(0x06, 0x29, 0x01),
            "Scanner Error ocurred ! \nError Code(SenseKey,ASC,ASCQ) =6, 29, 01 H");
  EXPECT_EQ(scanner_message_text(0x0B, 0xAB, 0x0C),
            "Scanner Error ocurred ! \nError Code(SenseKey,ASC,ASCQ) =b, ab, 0c H");
  EXPECT_EQ(scanner_message_text(0xFF, 0x03, 0x00),
            "Scanner Error ocurred ! \nError Code(SenseKey,ASC,ASCQ) =ff, 03, 00 H");
  EXPECT_EQ(scanner_message_caption(0xFF, 0x03), "DownLoad Message");
}

TEST(Sense, MessageBoxIsTaskModal) {
  test::RecorderUi ui;
  show_scanner_message(ui, 0x02, 0x04, 0x80);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].caption, "Scanner Message");
  EXPECT_EQ(ui.boxes[0].text, "Scanner Door is open! Please close the door.");
  EXPECT_TRUE(ui.boxes[0].task_modal);
}

TEST(Sense, IgnorableConditions) {
  EXPECT_EQ(is_ignorable_condition(0x02, 0x04, 0x80), 1);
  EXPECT_EQ(is_ignorable_condition(0x04, 0x81, 0x01), 1);
  EXPECT_EQ(is_ignorable_condition(0x05, 0x2C, 0x81), 1);
  EXPECT_EQ(is_ignorable_condition(0x02, 0x04, 0x01), 0);
  EXPECT_EQ(is_ignorable_condition(0x02, 0x00, 0x00), 0);
  EXPECT_EQ(is_ignorable_condition(0x00, 0x00, 0x00), 0);
  EXPECT_EQ(is_ignorable_condition(0x05, 0x2C, 0x80), 0);
  int count = 0;
  for (int key = 0; key < 16; ++key) {
    for (int asc = 0; asc < 256; ++asc) {
      for (int ascq : {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x80, 0x81, 0x82}) {
        count +=
            is_ignorable_condition(static_cast<std::uint8_t>(key), static_cast<std::uint8_t>(asc),
                                   static_cast<std::uint8_t>(ascq));
      }
    }
  }
  EXPECT_EQ(count, 21);
}

std::vector<int> bytes(const Cdb& c) {
  return std::vector<int>(c.bytes.begin(), c.bytes.begin() + c.length);
}

TEST(Commands, CdbBytes) {
  EXPECT_EQ(bytes(cdb_test_unit_ready()), (std::vector<int>{0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(bytes(cdb_inquiry()), (std::vector<int>{0x12, 0, 0, 0, 0x60, 0}));
  EXPECT_EQ(bytes(cdb_prepare_download()), (std::vector<int>{0x24, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(bytes(cdb_write_buffer(3, 0x012000, 0x2000)),
            (std::vector<int>{0x3B, 0x05, 3, 0x01, 0x20, 0x00, 0x00, 0x20, 0x00, 0}));
  EXPECT_EQ(bytes(cdb_write_buffer(0, 0, 0)),
            (std::vector<int>{0x3B, 0x05, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(bytes(cdb_vendor_write(0x8A, 2)),
            (std::vector<int>{0xE1, 0, 0x8A, 0, 0, 0, 0, 0, 2, 0}));
  EXPECT_EQ(bytes(cdb_vendor_read(0x92, 16)),
            (std::vector<int>{0xE0, 0, 0x92, 0, 0, 0, 0, 0, 16, 0}));
  EXPECT_EQ(bytes(cdb_read_versions(24)), (std::vector<int>{0xE0, 0, 0x83, 0, 0, 0, 0, 0, 24, 0}));
  EXPECT_EQ(bytes(cdb_read_data(32)), (std::vector<int>{0x28, 0, 0x93, 0, 0, 0, 0, 0, 32, 0}));
}

// A manager whose answers the test writes; it completes on its own thread after a delay, or
// never.
class ScriptedAspi : public AspiModule {
 public:
  using Handler = std::function<void(ScsiRequestBlock&)>;
  Handler handler = [](ScsiRequestBlock& srb) { store_status(srb, kSsComp); };
  std::vector<ScsiRequestBlock> sent;
  std::uint32_t support = 0x0101;
  std::vector<std::string> missing;
  bool never_complete = false;
  bool abort_keeps_request = false;  // accepts the abort, never gives the block back
  // The request ends with this target status while the abort is handled.
  std::optional<std::uint8_t> ends_during_abort;
  int aborts = 0;

  bool has_entry(std::string_view e) override {
    for (const std::string& m : missing) {
      if (m == e) return false;
    }
    return true;
  }
  std::uint32_t get_support_info() override { return support; }
  void send_command(ScsiRequestBlock& srb) override {
    sent.push_back(srb);
    if (!never_complete) handler(srb);
  }
  void abort(ScsiRequestBlock& srb) override {
    ++aborts;
    if (ends_during_abort) {
      srb.target_status = *ends_during_abort;
      srb.sense[2] = 0x04;
      srb.sense[12] = 0x81;
      store_status(srb, srb.target_status == kTargetCheckCondition ? kSsErr : kSsComp);
    } else if (!abort_keeps_request) {
      store_status(srb, kSsAborted);
    }
  }
};

class ScriptedLoader : public AspiLoader {
 public:
  ScriptedAspi* last = nullptr;
  std::function<void(ScriptedAspi&)> setup = [](ScriptedAspi&) {};
  int loads = 0;
  bool fail = false;
  std::unique_ptr<AspiModule> load(std::string_view name) override {
    ++loads;
    EXPECT_EQ(name, "WNASPI32.DLL");
    if (fail) return nullptr;
    auto m = std::make_unique<ScriptedAspi>();
    setup(*m);
    last = m.get();
    return m;
  }
};

class ScsiTest : public ::testing::Test {
 protected:
  test::RecorderUi ui;
  ScriptedLoader loader;
  TimerState timer;
  ScsiIo io{ui, loader, timer};
  ScsiState state;

  ScriptedAspi& attach() {
    state.aspi_module = loader.load("WNASPI32.DLL");
    return *loader.last;
  }
};

TEST_F(ScsiTest, ResultCodes) {
  ScriptedAspi& aspi = attach();
  struct Case {
    std::uint8_t status, target_status;
    std::uint16_t result;
  };
  for (const Case c :
       {Case{1, 0, 0}, Case{1, 8, 8}, Case{1, 0x18, 0x18}, Case{4, 8, 0x104}, Case{4, 2, 0x204},
        Case{1, 2, 0x201}, Case{0x81, 0, 0x181}, Case{4, 0, 0x104}, Case{0xE4, 0, 0x1E4}}) {
    aspi.handler = [c](ScsiRequestBlock& srb) {
      srb.target_status = c.target_status;
      srb.sense[2] = 0x65;  // EOM, ILI and sense key 5
      srb.sense[12] = 0x24;
      srb.sense[13] = 0x01;
      store_status(srb, c.status);
    };
    EXPECT_EQ(test_unit_ready(state, io, 1), c.result)
        << int(c.status) << "/" << int(c.target_status);
    if (is_check_condition(c.result)) {
      EXPECT_EQ(state.sense_eom, 0x40);
      EXPECT_EQ(state.sense_ili, 0x20);
      EXPECT_EQ(state.sense_key, 5);
      EXPECT_EQ(state.sense_asc, 0x24);
      EXPECT_EQ(state.sense_ascq, 1);
    } else if (c.target_status != 0) {
      // BUSY or RESERVATION CONFLICT: no sense, the tool's "Scanner is busy." condition.
      EXPECT_EQ(state.sense_key, 0xFF);
      EXPECT_EQ(state.sense_asc, 0x00);
      EXPECT_EQ(state.sense_ascq, 0x0A);
    } else {
      EXPECT_EQ(state.sense_key, 0);  // cleared at the start of every wait
      EXPECT_EQ(state.sense_asc, 0);
    }
  }
}

TEST_F(ScsiTest, RequestBlockFields) {
  ScriptedAspi& aspi = attach();
  state.host_adapter_id = 2;
  std::uint8_t data[16] = {1, 2, 3};
  vendor_write(state, io, 5, 0x93, data, 16);
  inquiry(state, io, 6);
  write_buffer(state, io, 5, 0, data, 0, 0);
  ASSERT_EQ(aspi.sent.size(), 3u);
  const ScsiRequestBlock& w = aspi.sent[0];
  EXPECT_EQ(w.command, 2);
  EXPECT_EQ(w.host_adapter, 2);
  EXPECT_EQ(w.flags, 0x10);
  EXPECT_EQ(w.target, 5);
  EXPECT_EQ(w.lun, 0);
  EXPECT_EQ(w.data_length, 16u);
  // A manager that works on the buffer it is given gets one that lives with the block.
  EXPECT_EQ(w.data_buffer, state.command_block->data.data());
  EXPECT_EQ(state.command_block->data[2], 3);
  EXPECT_EQ(w.sense_length, 14);
  EXPECT_EQ(w.cdb_length, 10);
  EXPECT_EQ(w.post_routine, nullptr);
  const ScsiRequestBlock& q = aspi.sent[1];
  EXPECT_EQ(q.flags, 0x08);
  EXPECT_EQ(q.data_length, 96u);
  EXPECT_EQ(q.data_buffer, state.inquiry_block->data.data());
  EXPECT_EQ(q.cdb_length, 6);
  // A WRITE BUFFER of length 0 sends no data.
  EXPECT_EQ(aspi.sent[2].data_length, 0u);
  EXPECT_EQ(aspi.sent[2].data_buffer, nullptr);
}

TEST_F(ScsiTest, TheWaitServesTheWindowWhileTheRequestIsPending) {
  ScriptedAspi& aspi = attach();
  aspi.handler = [](ScsiRequestBlock& srb) {
    std::thread([&srb] {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      store_status(srb, kSsComp);
    }).detach();
  };
  EXPECT_EQ(test_unit_ready(state, io, 0), 0);
  EXPECT_GT(ui.idles, 5);
}

TEST_F(ScsiTest, ARequestThatNeverCompletesIsAbandoned) {
  ScriptedAspi& aspi = attach();
  aspi.never_complete = true;
  const auto start = std::chrono::steady_clock::now();
  const std::uint16_t result =
      send_and_wait(state, io, state.command_block, 1, cdb_read_data(32), DataDirection::In,
                    nullptr, 0, std::chrono::milliseconds(50));
  EXPECT_EQ(result, 0x102);
  EXPECT_EQ(aspi.aborts, 1);
  EXPECT_EQ(state.sense_key, 0xFF);
  EXPECT_EQ(state.sense_ascq, 0x0A);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

  // A manager that accepts the abort but keeps the request: its block is never used again and
  // stays allocated; the test setting shortens the 60 s bound.
  aspi.abort_keeps_request = true;
  state.request_bound_limit = std::chrono::milliseconds(50);
  ScsiRequestBlock* const kept = &state.command_block->block;
  EXPECT_EQ(read_data(state, io, 1, 32, nullptr), 0x102);
  EXPECT_NE(&state.command_block->block, kept);
  EXPECT_EQ(load_status(*kept), kSsPending);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));

  // A request that ends just as it is given up keeps its own result: a commit answered GOOD
  // is a success, CHECK CONDITION gives its sense.
  aspi.abort_keeps_request = false;
  aspi.ends_during_abort = 0;
  EXPECT_EQ(write_buffer(state, io, 1, 0, nullptr, 0, 0), 0);
  EXPECT_EQ(state.sense_key, 0);
  aspi.ends_during_abort = kTargetCheckCondition;
  EXPECT_EQ(write_buffer(state, io, 1, 0, nullptr, 0, 0), 0x204);
  EXPECT_EQ(state.sense_key, 0x04);
  EXPECT_EQ(state.sense_asc, 0x81);
}

TEST(Discovery, ModelClasses) {
  EXPECT_EQ(model_class_of("TR-M3160        "), 3);
  EXPECT_EQ(model_class_of("HV Scanner 3600 "), 3);
  EXPECT_EQ(model_class_of("HV Scanner 360  "), 0);
  EXPECT_EQ(model_class_of("TR-M7180        "), 4);
  EXPECT_EQ(model_class_of("PL-5170Uf       "), 4);
  EXPECT_EQ(model_class_of("HV Scanner 2600 "), 4);
  EXPECT_EQ(model_class_of("TR-MM730n       "), 2);
  EXPECT_EQ(model_class_of("TR-MM40         "), 1);
  EXPECT_EQ(model_class_of("TR-M999         "), 0);
}

TEST(Discovery, ImprinterFlags) {
  auto flags = [](std::string_view vendor, std::string_view product, std::uint8_t b37 = 0,
                  std::uint8_t b39 = 0) {
    const ImprinterFlags f = imprinter_flags_of(vendor, product, b37, b39);
    return std::make_pair(int(f.pre), int(f.post));
  };
  EXPECT_EQ(flags("ZENTARIO", "TR-M3160 fb     "), std::make_pair(1, 1));
  EXPECT_EQ(flags("ZENTARIO", "TR-M3160 bf     "), std::make_pair(0, 1));
  EXPECT_EQ(flags("ZENTARIO", "TR-M3160 f      "), std::make_pair(1, 0));
  EXPECT_EQ(flags("PELKO   ", "TR-M7180 fb     "), std::make_pair(1, 1));
  EXPECT_EQ(flags("VIREX   ", "PL-5170Uf       "), std::make_pair(1, 0));
  EXPECT_EQ(flags("VIREX   ", "PL-5170Ub       "), std::make_pair(0, 1));
  EXPECT_EQ(flags("Q.T.R.  ", "TR-MM730n       "), std::make_pair(0, 1));
  EXPECT_EQ(flags("Q.T.R.  ", "TR-MM730        "), std::make_pair(0, 0));
  // ORVEL: only the INQUIRY bytes count, never the product text.
  EXPECT_EQ(flags("ORVEL   ", "TR-M3160 fb     ", 0x00, 0x00), std::make_pair(0, 0));
  EXPECT_EQ(flags("ORVEL   ", "HV Scanner 3600 ", 0x10, 0x00), std::make_pair(1, 0));
  EXPECT_EQ(flags("ORVEL   ", "HV Scanner 3600 ", 0xEF, 0x10), std::make_pair(0, 1));
}

// A bus of devices: (adapter, target) -> INQUIRY reply, or an ASPI status for the request.
struct Device {
  int adapter, target;
  std::uint8_t type;
  std::string vendor, product;
  std::uint8_t status = kSsComp;
};

void put_bus(ScriptedLoader& loader, std::vector<Device> bus, int adapters) {
  loader.setup = [bus, adapters](ScriptedAspi& aspi) {
    aspi.support = 0x0100 | static_cast<std::uint32_t>(adapters);
    aspi.handler = [bus](ScsiRequestBlock& srb) {
      for (const Device& d : bus) {
        if (d.adapter != srb.host_adapter || (d.target != srb.target && d.target >= 0)) continue;
        if (d.status == kSsComp && srb.cdb[0] == 0x12) {
          srb.data_buffer[0] = d.type;
          std::memcpy(srb.data_buffer + 8, d.vendor.data(), 8);
          std::memcpy(srb.data_buffer + 16, d.product.data(), 16);
          std::memcpy(srb.data_buffer + 32, "1.23", 4);
          srb.data_buffer[37] = 0x10;
        }
        store_status(srb, d.status);
        return;
      }
      srb.host_status = 0x11;
      store_status(srb, kSsErr);
    };
  };
}

TEST_F(ScsiTest, FirstQualifyingDeviceByAdapterThenTarget) {
  put_bus(loader,
          {{0, 1, 0x06, "ACME    ", "Other Scanner   "},  // unsupported vendor
           {0, 2, 0x00, "ORVEL   ", "Service Disk    "},  // supported vendor, not a scanner
           {1, 0, 0x81, "ORVEL   ", "HV Scanner 3600 "},  // type 1 with qualifier bits: no
           {1, 4, 0x06, "ORVEL   ", "HV Scanner 2600 "},
           {1, 5, 0x06, "ZENTARIO", "TR-M3160 fb     "},
           {2, 0, 0x06, "ZENTARIO", "TR-M3160        "}},
          3);
  ASSERT_EQ(find_scanner(state, io), 1);
  EXPECT_EQ(state.host_adapter_id, 1);
  EXPECT_EQ(state.target_id, 4);
  EXPECT_EQ(state.scanner_vendor.view(), "ORVEL   ");
  EXPECT_EQ(state.scanner_product.view(), "HV Scanner 2600 ");
  EXPECT_EQ(state.scanner_revision.view(), "1.23");
  EXPECT_EQ(state.scanner_model_class, 4);
  EXPECT_EQ(state.pre_imprinter_fitted, 1);
  EXPECT_EQ(state.post_imprinter_fitted, 0);
  // Devices behind the selected one are not examined.
  for (const ScsiRequestBlock& srb : loader.last->sent) {
    EXPECT_TRUE(srb.host_adapter < 1 || (srb.host_adapter == 1 && srb.target <= 4));
  }
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(ScsiTest, AnInvalidAdapterIsLeftAtOnce) {
  put_bus(loader,
          {{0, -1, 0, "", "", static_cast<std::uint8_t>(kSsInvalidHa)},
           {1, -1, 0, "", "", static_cast<std::uint8_t>(kSsFailedInit)},
           {2, 7, 0x06, "PELKO   ", "TR-M7180        "}},
          3);
  ASSERT_EQ(find_scanner(state, io), 1);
  int on_adapter0 = 0, on_adapter1 = 0;
  for (const ScsiRequestBlock& srb : loader.last->sent) {
    on_adapter0 += srb.host_adapter == 0;
    on_adapter1 += srb.host_adapter == 1;
  }
  EXPECT_EQ(on_adapter0, 1);
  EXPECT_EQ(on_adapter1, 1);
  EXPECT_EQ(state.target_id, 7);
}

TEST_F(ScsiTest, NothingFoundKeepsTheLastIdentityAndSaysSo) {
  put_bus(loader, {{0, 2, 0x00, "ORVEL   ", "Service Disk    "}}, 1);
  EXPECT_EQ(find_scanner(state, io), 0);
  EXPECT_EQ(ui.box_lines(), std::vector<std::string>{"Scanner Error: No Target Device !!"});
  EXPECT_EQ(state.scanner_product.view(), "Service Disk    ");
  ui.boxes.clear();
  EXPECT_EQ(find_scanner(state, io, /*quiet=*/true), 0);
  EXPECT_TRUE(ui.boxes.empty());
  // The manager stays loaded: the second search did not load it again.
  EXPECT_EQ(loader.loads, 1);
}

TEST_F(ScsiTest, ManagerFailures) {
  loader.fail = true;
  EXPECT_EQ(find_scanner(state, io), 0);
  loader.fail = false;
  loader.setup = [](ScriptedAspi& a) { a.missing = {"GetASPI32SupportInfo"}; };
  EXPECT_EQ(find_scanner(state, io), 0);
  // The module stays loaded; a second search still refuses to call the missing entry.
  EXPECT_EQ(find_scanner(state, io), 0);
  EXPECT_EQ(loader.loads, 2);
  release_aspi(state);
  loader.setup = [](ScriptedAspi& a) { a.missing = {"SendASPI32Command"}; };
  EXPECT_EQ(find_scanner(state, io), 0);
  release_aspi(state);
  loader.setup = [](ScriptedAspi& a) { a.support = 0x0401; };
  EXPECT_EQ(find_scanner(state, io), 0);
  EXPECT_EQ(ui.box_lines(),
            (std::vector<std::string>{"Source Message: Load Library error !!",
                                      "Source Message: GetSupportInfo Adress error !!",
                                      "Source Message: GetSupportInfo Adress error !!",
                                      "Source Message: GetASPICommand Adress error !!",
                                      "Source Message: ASPI for Windows is not initialized !!"}));
  for (const auto& box : ui.boxes) EXPECT_TRUE(box.task_modal);
}

TEST_F(ScsiTest, InquiryReplyIsClearedBeforeEachRequest) {
  ScriptedAspi& aspi = attach();
  state.inquiry_data.fill(0x41);
  aspi.handler = [](ScsiRequestBlock& srb) {
    srb.data_buffer[0] = 6;  // a short reply: the rest of the buffer is not written
    store_status(srb, kSsComp);
  };
  EXPECT_EQ(inquiry(state, io, 0), 0);
  EXPECT_EQ(state.inquiry_data[8], 0);
  EXPECT_EQ(state.inquiry_data[95], 0);
}

}  // namespace
}  // namespace fwload
