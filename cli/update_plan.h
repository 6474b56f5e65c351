// update: which firmware file each unit of each scanner gets. The catalogue holds the newest
// file for every model code among the files given; the plan compares each unit's version with
// it and says what is done. No I/O here: the command reads the files and the scanners.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/unit_versions.h"
#include "firmware/firmware_state.h"

namespace fwload {

// One file given to update, opened as identify opens it.
struct CatalogueFile {
  std::string path;
  bool opened = false;  // false: `status` says why it is left out
  FirmwareState state;  // the opened file: its image, model code, names and version
  std::string sha256;
  // What SHA256SUMS in its folder says of it: nullopt when there is no such list; "" when the
  // list does not name the file; else the listed digest.
  std::optional<std::string> listed_sha256;
  std::string status;  // filled by build_catalogue (an open failure beforehand)
  bool chosen = false;
};

struct Catalogue {
  std::vector<CatalogueFile> files;
  std::map<int, std::size_t> by_model;  // model code -> the file sent for it
  bool refused = false;                 // a file was damaged or refused
};

// Decides each file's status: for each model code the newest version ("newest"); older ones
// ("older: V is newer"); the same version with the same SUM VALUE ("same firmware as F, which is
// sent"); the same version with another SUM VALUE (both refused, each naming the other);
// versions that cannot be ordered (both refused); a file SHA256SUMS does not list or lists with
// another digest (refused); model codes 1 and 2, whose unit no scanner reports a version row
// for ("use transfer"). A model code whose newest files are refused has no file.
Catalogue build_catalogue(std::vector<CatalogueFile> files);

// What a scanner is, for the plan: its family's model codes (mecha-control, imprinter unit) and
// whether it is on the serial line.
struct ScannerFamily {
  int mecha_code = 0;      // 5 (3600, 3160), 7 (2600, 7180, 5170), 4 (TR-MM730 on the line)
  int imprinter_code = 0;  // 6, 8, 3
  bool serial = false;
};
// The family of a SCSI scanner by its model class (3: 3600 and 3160; 4: 2600, 7180, 5170);
// nullopt for the others.
std::optional<ScannerFamily> scsi_family(std::uint8_t model_class);
ScannerFamily serial_family();

enum class UnitAction { Update, Current, Newer, Unknown, NoFile };
// "update", "current", "newer on the scanner", "unknown", "no file".
const char* action_name(UnitAction action);

struct UpdateOptions {
  bool allow_older = false;      // send to "newer on the scanner" and "unknown" units too
  bool allow_reinstall = false;  // send to "current" units too
};

struct UnitPlan {
  std::string unit;  // the version row's key: mecha_control, pre_imprinter, post_imprinter,
                     // imprinter
  std::string now;   // the scanner's version ("" when it could not be read)
  std::optional<std::size_t> file;  // the catalogue's file for the unit
  UnitAction action = UnitAction::NoFile;
  bool send = false;
  bool post = false;  // an imprinter unit file goes to the post-imprinter (buffer 2)
};

// The units a scanner has version rows for, mecha-control first, with what each gets. A row
// that reads "None" is a unit not fitted. `fitted` lists the units a scanner whose versions
// could not be read is known to have (over SCSI: the mecha-control unit and the imprinters its
// INQUIRY data names); they are "unknown".
std::vector<UnitPlan> plan_units(const VersionRows& rows, const std::vector<std::string>& fitted,
                                 const ScannerFamily& family, const Catalogue& catalogue,
                                 const UpdateOptions& options);

}  // namespace fwload
