// fwload-cli, run against whatever platform the caller hands in.
#pragma once

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
};

// Exit status: 0 success, 1 failure, 2 usage error.
int run_cli(std::span<const std::string_view> args, CliEnv& env);

}  // namespace fwload
