// Deleting files and folders now, or at the next restart.
#pragma once
#include <cstddef>

// FILE_ATTRIBUTE_DIRECTORY (16) when path is a folder, else 0.
unsigned IsDirectory(const char* path);

// Deletes the file now; otherwise moves it onto a free "_@" name in the run's
// folder on its volume (RunFolderFor), which ScheduleRunFolders hands to the
// restart; where the system or the volume keeps no security, onto one in the
// temporary folder or the drive root, scheduled at once (refused: moved
// back). 1 on either. A file that is not there, a folder (never moved), a
// failed move, and a volume with no run's folder give 0, with nothing
// scheduled (the last two noted as left behind).
int DeleteOrScheduleFile(const char* path);

// Something of the old editions that could be neither removed nor handed to
// the restart (no safe folder on its volume, a folder that could not be made
// the administrators'): counted during a run, so the final box can ask for a
// restart and a second run. ResetLeftBehind at the start of a run.
void ResetLeftBehind();
void NoteLeftBehind();
bool AnythingLeftBehind();
int LeftBehindCount();

enum class RunFolder {
  kReady,       // folder names the run's folder on that volume
  kNoSecurity,  // the system or the volume keeps no security
  kNone,        // the volume has no folder only administrators can write to
};
// The run's folder for what lies on path's volume: "Brannoch.pending" in the
// Windows folder when it is on that volume, else in Program Files; made
// (hidden, owner Administrators, DACL for SYSTEM and Administrators only)
// when missing and make is set.
RunFolder RunFolderFor(const char* path, char* folder, size_t cap, bool make);
// Its "Temp" subfolder, made when missing: the uninstallers' TEMP.
RunFolder RunTempFolderFor(const char* pathOnVolume, char* folder, size_t cap);

// Schedules for deletion at restart each "_@" file of the run's folders on
// the volume of pathOnVolume that is not yet scheduled, then the folder itself
// once, after them; removes such a folder at once when it is empty. Called at
// the end of a run; a run ended earlier leaves it to the next.
void ScheduleRunFolders(const char* pathOnVolume);

// Deletes the files lying directly in folder (subfolders are skipped and stay
// where they are; the running program's own exe stays), then removes the
// folder or schedules it (restart removes it only once it is empty): once it
// and every folder between it and the trusted folder above it are the
// administrators' (owner and DACL; it outlives the restart so when it still
// holds something), and never when it is not there. 1 when it is not there.
// Links are never followed: nothing above the folder is trusted but its
// drive's root, and the folder must still be the same one, reached the same
// way, before each deletion.
int EmptyAndRemoveFolder(const char* folder);
// The same for a folder below special (special's bytes begin folder's):
// special itself is trusted as the system resolves it (reached through a
// link, an 8.3 name or SUBST), what lies below it is not.
int EmptyAndRemoveFolderBelow(const char* special, const char* folder);
// Only the last step of it: removes the folder below special (not emptied)
// or hands it to the restart, on the same terms. 1 when it is not there.
int RemoveOrScheduleFolderBelow(const char* special, const char* folder);
