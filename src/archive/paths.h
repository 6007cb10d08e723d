// Path operations on Windows-style paths. A separator is one of "/", ":" and "\".
#pragma once

#include <string>

namespace selfx {

// The folder part: C:\a\b.txt -> C:\a, C:\b.txt -> C:\, C:\ -> C:\, C:b.txt -> C:, b.txt -> "".
std::string ParentFolder(const std::string& path);
// The text after the last separator; the whole path when it has none.
std::string FileNamePart(const std::string& path);
bool FolderExists(const std::string& path);
// True for folders as well as files.
bool FileExists(const std::string& path);
// One "\" appended unless the path is empty or already ends with one.
std::string WithTrailingBackslash(const std::string& path);
// Every trailing "\" removed.
std::string WithoutTrailingBackslashes(const std::string& path);
// Creates the folder and its missing parents; true when it exists afterwards or needs no
// creating.
bool ForceFolders(const std::string& path);

}  // namespace selfx
