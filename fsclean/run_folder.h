// The run's own folder for what it hands to the restart, and the hand-over.
#pragma once
#include <cstddef>

class RunRecord;

enum class RunFolder {
  kReady,       // folder names the run's folder on that volume
  kNoSecurity,  // the system or the volume keeps no security
  kNone,        // the volume has no folder only administrators can change
};
// The run's folder for what lies on path's volume: "Brannoch.pending" in the
// Windows folder when it is on that volume, else in Program Files; made
// (hidden, owner Administrators, DACL for SYSTEM and Administrators only)
// when missing and make is set. One found there is taken only when no
// account but the administrators' can change it; else the next free name
// ("Brannoch.pending.2" up to ".16") is tried. What it makes is noted in
// record (may be null), and trusted as the run's for the rest of the run.
RunFolder RunFolderFor(const char* path, char* folder, size_t cap, bool make, RunRecord* record = nullptr);
// Its "Temp" subfolder, made when missing, on the same terms: the
// uninstallers' TEMP.
RunFolder RunTempFolderFor(const char* pathOnVolume, char* folder, size_t cap, RunRecord* record = nullptr);

// Hands each run's folder on the volume of pathOnVolume (each that passes the
// test above, or made by this run as record tells) to the restart, deepest first: what can go now goes, each
// remaining file is scheduled once, then each folder after what it holds,
// then the folder itself. Called at the end of a run; a run ended earlier
// leaves it to the next. A refused scheduling is noted in record (may be null).
void ScheduleRunFolders(const char* pathOnVolume, RunRecord* record = nullptr);

// True when the folder at path itself is a plain folder that no account but
// Administrators, SYSTEM and TrustedInstaller can change (fsclean/security.h).
bool OnlyAdministratorsChange(const char* path);
