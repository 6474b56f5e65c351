// The kernel's SCSI target (LIO) set up in configfs for emulated scanners: for each, a backstore
// in userspace (target_core_user: core/user_N/fwscanner-T, whose commands come to this program
// through a UIO device) exported as LUN 0 of target T of one loopback port (tcm_loop), which the
// kernel attaches as an ordinary SCSI host. Written directly, without targetcli.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace fwload::emulator {

// One backstore, enabled: the UIO device its commands come through.
struct TcmuBackstore {
  int target = 0;
  std::string uio;  // /dev/uioN
  std::size_t map_size = 0;
};

// Where the kernel attached an exported scanner.
struct AttachedScanner {
  std::string hctl;  // the kernel's H:C:T:L
  std::string sg;    // /dev/sgN
};

// Why the kernel's target cannot be used here, in one line with what to do; "" when it can.
std::string target_problem();
// Removes what a run that was killed left under this program's names.
void remove_leftovers();
// Creates and enables the backstore of target `target` (its commands wait for a handler; the
// command time-out stays the kernel's, ABORT TASK is told to the handler).
std::optional<TcmuBackstore> create_backstore(int target, const std::string& model,
                                              std::string* error);
// Exports the backstore as LUN 0 of target `target` of the loopback port (the kernel then
// scans it: its handler must be serving) and waits for the SCSI generic device.
std::optional<AttachedScanner> export_backstore(int target, std::string* error);
// Takes the exported LUNs away (the kernel removes their devices).
void unexport(const std::vector<int>& targets);
// Removes the backstores, once no handler serves them.
void remove_backstores(const std::vector<int>& targets);

}  // namespace fwload::emulator
