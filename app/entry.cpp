#include "app/entry.h"

#include "firmware/open_file.h"

namespace fwload {

int program_main(AppState& app, EntryPort& port, std::string_view command_line) {
  if (!command_line.empty())
    app.CommandLineFile = std::string(command_line.substr(0, kCommandLineMax));
  app.TimerId = port.create_timer(app.TimerId != 0 ? app.TimerId : 1);
  if (app.TimerId == 0) {
    port.message_box("Cation", "Could not create timer!");
    return 1;
  }
  port.run_main_dialog();
  app.timer.WritingCountdownActive = 0;
  port.kill_timer(app.TimerId);
  app.TimerId = 0;
  return 1;
}

}  // namespace fwload
