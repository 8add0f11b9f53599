// Where a path really leads: the absolute name with every symbolic link
// followed, and whether a path lies within a folder.
#pragma once

#include <string>

namespace platform {

enum class PathKind { Missing, RegularFile, Directory, Other };

// Resolves the path (relative to the working directory) to the absolute
// name of what it leads to, links followed and "." and ".." gone, and says
// what is there. resolved is set unless the result is Missing.
PathKind ResolvePath(const std::string& path, std::string* resolved);

// Whether a resolved path names something inside a resolved folder (at any
// depth), names compared as the file system compares them.
bool PathIsWithin(const std::string& resolvedPath, const std::string& resolvedFolder);

}  // namespace platform
