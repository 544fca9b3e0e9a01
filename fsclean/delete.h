// Deleting files and folders now, or at the next restart.
#pragma once

// FILE_ATTRIBUTE_DIRECTORY (16) when path is a folder, else 0.
unsigned IsDirectory(const char* path);

// Deletes the file now; otherwise moves it to a "_@" temporary name on its
// own drive and schedules that name for deletion at restart. 1 on either.
// A folder is never moved: 0.
int DeleteOrScheduleFile(const char* path);

// Deletes the files lying directly in folder (subfolders are skipped and stay
// where they are; the running program's own exe stays), then removes the
// folder or schedules it (restart removes it only once it is empty).
int EmptyAndRemoveFolder(const char* folder);
