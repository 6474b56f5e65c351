#include <cstdio>
#include <string_view>
#include <vector>

#include "cli/run_cli.h"
#include "platform/aspi_loader.h"
#include "platform/console.h"
#include "platform/ini_profile.h"

int main(int argc, char** argv) {
  std::vector<std::string_view> args(argv + 1, argv + argc);
  const std::unique_ptr<fwload::FileSystem> fs = fwload::make_platform_filesystem();
  const std::unique_ptr<fwload::Profile> profile = fwload::make_platform_profile();
  // Why a device on the bus cannot be used (Linux: no right to open it), one line each.
  const std::unique_ptr<fwload::AspiLoader> aspi =
      fwload::make_platform_aspi_loader([](std::string_view line) {
        std::fprintf(stderr, "fwload-cli: %.*s\n", static_cast<int>(line.size()), line.data());
      });
  const std::unique_ptr<fwload::SerialDevices> serial = fwload::make_platform_serial_devices();
  fwload::CliEnv env{stdout, stderr,  fwload::stderr_is_terminal(), *profile, *fs,
                     *aspi,  *serial, &fwload::catch_interrupts};
  return fwload::run_cli(args, env);
}
