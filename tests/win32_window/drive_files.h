// Files on the test drive, read and written through the Win32 calls the program itself sees.
#pragma once

#include <string>
#include <vector>

namespace quelix::win32 {

// The whole content of `path`; empty when it cannot be read.
std::string ReadBytes(const std::string& path);
// Writes `bytes` to `path`, creating the directories on its way.
void WriteBytes(const std::string& path, const std::string& bytes);
// The lines of `text`, split at CR LF; a last line without one is kept.
std::vector<std::string> Lines(const std::string& text);
// Every file under `dir` (which ends in a backslash), with its full path.
void ListFiles(const std::string& dir, std::vector<std::string>* files);
// Empties `dir` (which ends in a backslash, ASCII), hidden and read-only files included.
void Empty(const std::string& dir);

}  // namespace quelix::win32
