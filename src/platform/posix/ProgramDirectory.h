// The directory of the running program's own file, where the files it ships
// with (its driver image, its sounds) sit, in the build tree and installed
// alike, whatever the current directory is.
#pragma once

#include <string>

// Absolute, without symbolic links (the kernel resolved them when it started
// the program); empty when /proc cannot say.
std::string ProgramDirectory();
