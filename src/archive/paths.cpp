#include "archive/paths.h"

#include "platform/platform.h"

namespace selfx {

namespace {

std::string::size_type LastSeparator(const std::string& path) { return path.find_last_of("/:\\"); }

}  // namespace

std::string ParentFolder(const std::string& path) {
  if (path.size() == 3 && path.find(':') != std::string::npos) return path;
  std::string::size_type last = LastSeparator(path);
  if (last == std::string::npos) return std::string();
  if (path[last] == ':') return path.substr(0, last + 1);
  // A drive root keeps its backslash: the parent of C:\b.txt is C:\, not C:.
  if (last == 2 && path[1] == ':') return path.substr(0, 3);
  return path.substr(0, last);
}

std::string FileNamePart(const std::string& path) {
  std::string::size_type last = LastSeparator(path);
  return last == std::string::npos ? path : path.substr(last + 1);
}

bool FolderExists(const std::string& path) {
  std::uint32_t attributes = platform::FileAttributes(path);
  return attributes != platform::kInvalidAttributes &&
         (attributes & platform::kFolderAttribute) != 0;
}

bool FileExists(const std::string& path) {
  return platform::FileAttributes(path) != platform::kInvalidAttributes;
}

std::string WithTrailingBackslash(const std::string& path) {
  if (path.empty() || path.back() == '\\') return path;
  return path + '\\';
}

std::string WithoutTrailingBackslashes(const std::string& path) {
  std::string::size_type end = path.find_last_not_of('\\');
  return end == std::string::npos ? std::string() : path.substr(0, end + 1);
}

bool ForceFolders(const std::string& path) {
  std::string folder = WithoutTrailingBackslashes(path);
  if (folder.empty() || FolderExists(folder)) return true;
  std::string parent = ParentFolder(folder);
  // A bare drive such as Q: is its own parent: nothing to create.
  if (parent == folder) return true;
  if (!ForceFolders(parent)) return false;
  return platform::CreateFolder(folder);
}

}  // namespace selfx
