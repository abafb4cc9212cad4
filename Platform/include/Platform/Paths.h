// Windows paths inside the system, Linux paths on disk. Every drive letter
// of the simulated machine is a folder under the machine root, which also
// holds the machine's other state kept on disk.
#pragma once

#include "Platform/Win32.h"

#include <string>

namespace Platform {

// $VELMO_MACHINE_ROOT, else $HOME/.velmo-machine, else /tmp/velmo-machine;
// without a trailing '/'.
std::string MachineRoot();

// Maps a path of the system onto the disk (UTF-8):
//   "C:\dir\file"        -> <root>/c/dir/file  (drive letter in lower case)
//   "\dir\file"          -> <root>/c/dir/file  (root of the current drive, C:)
//   "\\server\share\x"   -> <root>/unc/server/share/x
//   "\\?\C:\x"           -> as "C:\x"
//   "/native/path"       -> unchanged (paths the platform itself hands out)
//   "relative\file"      -> "relative/file" (against the working directory)
// Either separator is accepted. In rooted forms "." is dropped and ".." stops
// at the drive or share, so no path leaves the machine root. Case is kept:
// the disk is case-sensitive even where Windows is not. Null gives "".
std::string MapPath(LPCWSTR windowsPath);

// The folder that holds the running program (dirname of /proc/self/exe).
std::string ProgramDirectory();
// The running program's own file.
std::string ProgramFile();

}  // namespace Platform
