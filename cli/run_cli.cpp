#include "cli/run_cli.h"

#include <cstdio>

#include "app/about_dialog.h"
#include "cli/args.h"
#include "cli/commands.h"
#include "cli/support.h"
#include "res/string_table.h"

namespace fwload {

int run_cli(std::span<const std::string_view> arg_list, CliEnv& env) {
  const CliParse parsed = parse_cli_args(arg_list);
  if (!parsed.error.empty()) return usage_error(env, parsed.error);
  switch (parsed.args.command) {
    case CliArgs::Command::Help: {
      const std::string_view usage = cli_usage();
      std::fwrite(usage.data(), 1, usage.size(), env.out);
      return kExitOk;
    }
    case CliArgs::Command::Version: {
      std::fprintf(env.out, "fwload-cli %s (%.*s)\n", program_version().c_str(),
                   static_cast<int>(table_string(kStrVersionDate).size()),
                   table_string(kStrVersionDate).data());
      return kExitOk;
    }
    case CliArgs::Command::Identify:
      return identify(parsed.args, env);
    case CliArgs::Command::Convert:
      return convert(parsed.args, env);
    case CliArgs::Command::Transfer:
      return transfer(parsed.args, env);
    case CliArgs::Command::Info:
      return info(parsed.args, env);
    case CliArgs::Command::SetDefault:
      return set_default(parsed.args, env);
    case CliArgs::Command::SerialNumber:
      return serial_number(parsed.args, env);
    case CliArgs::Command::Scan:
      return scan(parsed.args, env);
    case CliArgs::Command::History:
      return history(parsed.args, env);
    case CliArgs::Command::Update:
      return update(parsed.args, env);
  }
  return kExitUsage;
}

}  // namespace fwload
