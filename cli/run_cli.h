// fwload-cli, run against whatever platform the caller hands in.
#pragma once

#include <atomic>
#include <cstdio>
#include <span>
#include <string_view>

#include "platform/aspi.h"
#include "platform/filesystem.h"
#include "platform/profile.h"
#include "platform/serial_device.h"

namespace fwload {

struct CliEnv {
  std::FILE* out;
  std::FILE* err;
  bool err_is_terminal;
  Profile& profile;
  FileSystem& fs;
  AspiLoader& aspi;  // the platform's SCSI access (--emulate replaces it)
  SerialDevices& serial;
  // Makes Ctrl-C count instead of ending the program (platform/console.h); null: Ctrl-C ends
  // the program as usual.
  const std::atomic<int>& (*catch_interrupts)() = nullptr;
};

// Exit status: 0 success, 1 failure, 2 usage error, 130 interrupted.
int run_cli(std::span<const std::string_view> args, CliEnv& env);

}  // namespace fwload
