// Settings of the library that tests change; the product keeps the defaults.
#pragma once

#include <string>

namespace ylvane {

// The FTDI driver library, loaded by this name or path ("libftd2xx.so").
std::string FtLibraryPath();
void SetFtLibraryPath(std::string path);

}  // namespace ylvane
