// Running the uninstallers the old installers left in the Windows and system
// directories, silently and one at a time.
#pragma once

void RunLeftoverUninstallers();
