#pragma once

#include <string>

// The display form of a chosen path: whole up to 20 characters (characters,
// not the bytes of their UTF-8), else drive, "\...\" and the file name, as in
// C:\...\report.txt.
std::string AbbreviatedPath(const std::string& path);
