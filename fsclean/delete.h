// Deleting files and folders now, or at the next restart.
#pragma once
#include <cstddef>

#include "fsclean/run_folder.h"

class RunRecord;

// FILE_ATTRIBUTE_DIRECTORY (16) when path is a folder, else 0.
unsigned IsDirectory(const char* path);

// Deletes the file now; otherwise moves it onto a free "_@" name in the run's
// folder on its volume (RunFolderFor), which ScheduleRunFolders hands to the
// restart; a file whose DACL refuses the administrators is first made theirs
// (never TrustedInstaller's). One that can be neither deleted nor moved is
// handed to the restart under its own name where no program of the user's
// session holds it and no other account can change its folder; else it
// stays, noted in record (may be null). Where the system or the volume keeps
// no security, onto one in the temporary folder or the drive root, scheduled
// at once (refused: moved back). 1 on any of these. A file that is not there,
// a folder (never moved) and a file that stays give 0.
int DeleteOrScheduleFile(const char* path, RunRecord* record = nullptr);

// True when no folder from special down to folder (each read on its own
// handle, a link refused) lets another account than Administrators, SYSTEM
// or TrustedInstaller change it. *open, when given: 1 special, 2 a folder
// between, 4 folder itself.
bool ChainClosed(const char* special, const char* folder, unsigned* open);

// Deletes the files lying directly in folder (subfolders are skipped and stay
// where they are; the running program's own exe stays), then removes the
// folder, or hands it to the restart when nothing but the run's own leftovers
// remain in it (names it deleted that wait for their holder, what it handed
// to the restart): made the administrators' first where it lets other
// accounts change it, and never where a folder between it and the trusted
// folder above lets them. A folder that holds anything else is left exactly
// as it was; one that is not there is not scheduled. 1 when it is not there.
// Links are never followed: nothing above the folder is trusted but its
// drive's root, and the folder must still be the same one, reached the same
// way, before each deletion. What stays is noted in record (may be null).
int EmptyAndRemoveFolder(const char* folder, RunRecord* record = nullptr);
// The same for a folder below special (special's bytes begin folder's):
// special itself is trusted as the system resolves it (reached through a
// link, an 8.3 name or SUBST), what lies below it is not.
int EmptyAndRemoveFolderBelow(const char* special, const char* folder, RunRecord* record = nullptr);
// Only the last step of it: removes the folder below special (not emptied)
// or hands it to the restart, on the same terms. 1 when it is not there.
int RemoveOrScheduleFolderBelow(const char* special, const char* folder, RunRecord* record = nullptr);
