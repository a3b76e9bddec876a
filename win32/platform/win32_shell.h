// Helpers of the Win32 shell service that tests and other win32/ code use.
#pragma once

#include <string>

namespace iw::win32 {

// The folder part of a full path: without the trailing backslash, except
// that a drive root keeps it ("C:\x.exe" -> "C:\").
std::u16string folderOfPath(const std::u16string& path);

// The name of the mutex that marks a running copy of the executable at
// `exePath` (the same for every spelling of the path's letter case).
std::u16string instanceMutexName(const std::u16string& exePath);

}  // namespace iw::win32
