#include "cli/pack/source_tree.h"

#include <algorithm>
#include <set>

#include "base/text.h"
#include "cli/pack/entry_names.h"
#include "platform/platform.h"

namespace selfx::cli {

namespace {

constexpr std::size_t kMostEntries = 0xFFFF;  // the end record counts entries in 16 bits

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

// The last component of a path as typed, without trailing separators, in UTF-8.
std::string OwnName(const std::string& path) {
  std::string::size_type end = path.find_last_not_of("/\\");
  if (end == std::string::npos) return path;
  std::string::size_type start = path.find_last_of("/\\", end);
  std::string name = path.substr(start == std::string::npos ? 0 : start + 1,
                                 end + 1 - (start == std::string::npos ? 0 : start + 1));
#ifdef _WIN32
  return platform::AnsiToUtf8Text(name);
#else
  return name;
#endif
}

// The sort key: the name without a folder's trailing "/", so that a folder sorts right
// before its contents.
std::string SortKey(const PackSource& source) {
  return source.folder ? source.name.substr(0, source.name.size() - 1) : source.name;
}

class TreeWalker {
 public:
  TreeWalker(const std::optional<FileIdentity>& output, SourceTree& tree, std::string& error_text)
      : output_(output), tree_(tree), error_text_(error_text) {}

  bool AddInput(const std::string& input) {
    PathFacts facts;
    bool through_link = false;
    switch (Resolve(input, facts, through_link)) {
      case Resolution::kSkip:
        return true;
      case Resolution::kError:
        return false;
      case Resolution::kPack:
        break;
    }
    if (facts.kind == PathKind::kFolder) {
      std::vector<FileIdentity> ancestors = {facts.identity};
      bool holds_files = false;
      return Walk(input, "", ancestors, holds_files);
    }
    if (IsOutput(facts)) {
      error_text_ = input + " is the output file too; building would replace it";
      return false;
    }
    return Record({input, OwnName(input), false, through_link, facts});
  }

 private:
  enum class Resolution { kPack, kSkip, kError };

  bool IsOutput(const PathFacts& facts) const {
    return output_ && facts.kind == PathKind::kRegular && facts.identity == *output_;
  }

  void Warn(const std::string& text) { tree_.warnings.push_back(text); }

  // What packing takes from the path: the file or folder itself, or a link's target. Links
  // to nothing and whatever is neither a file nor a folder are skipped with a warning; they
  // are only inspected, never opened.
  Resolution Resolve(const std::string& path, PathFacts& facts, bool& through_link) {
    std::error_code error = InspectPath(path, false, facts);
    if (error) {
      error_text_ = path + ": " + error.message();
      return Resolution::kError;
    }
    through_link = facts.kind == PathKind::kSymlink;
    if (through_link) {
      error = InspectPath(path, true, facts);
      if (error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory) {
        Warn("skipping " + path + ": a symbolic link to nothing");
        return Resolution::kSkip;
      }
      if (error) {
        // Links that lead to each other end here, as "too many levels of symbolic links".
        error_text_ = path + ": cannot follow the symbolic link: " + error.message();
        return Resolution::kError;
      }
    }
    if (facts.kind == PathKind::kRegular || facts.kind == PathKind::kFolder) {
      return Resolution::kPack;
    }
    Warn("skipping " + path + ": " + (through_link ? "a symbolic link to " : "") +
         PathKindName(facts.kind) + "; only regular files and folders are packed");
    return Resolution::kSkip;
  }

  // Walks a folder whose entry names start with prefix. ancestors holds the identities of
  // the folders on the way down, the folder itself last: a link back to one of them would
  // never end.
  bool Walk(const std::string& folder, const std::string& prefix,
            std::vector<FileIdentity>& ancestors, bool& holds_files) {
    std::vector<FolderItem> items;
    if (std::error_code error = ListFolder(folder, items)) {
      error_text_ = folder + ": cannot read the folder: " + error.message();
      return false;
    }
    std::sort(items.begin(), items.end(),
              [](const FolderItem& a, const FolderItem& b) { return a.name < b.name; });
    for (const FolderItem& item : items) {
      std::string path = folder;
      if (path.empty() || (path.back() != '/' && path.back() != kSeparator)) path += kSeparator;
      path += item.native_name;
      std::string name = prefix + item.name;
      if (item.native_name.empty()) {
        error_text_ = "cannot pack " + folder + kSeparator + item.name + " as \"" + name +
                      "\": it holds characters outside Windows code page 1252";
        return false;
      }
      PathFacts facts;
      bool through_link = false;
      Resolution resolution = Resolve(path, facts, through_link);
      if (resolution == Resolution::kError) return false;
      if (resolution == Resolution::kSkip) continue;
      if (facts.kind == PathKind::kRegular) {
        // A build into its own input folder must not pack the output it built before.
        if (IsOutput(facts)) continue;
        if (!Record({path, name, false, through_link, facts})) return false;
        holds_files = true;
        continue;
      }
      if (std::find(ancestors.begin(), ancestors.end(), facts.identity) != ancestors.end()) {
        error_text_ = path + ": the symbolic link leads back to a folder above it (a loop)";
        return false;
      }
      if (!Record({path, name + "/", true, through_link, facts})) return false;
      std::size_t index = tree_.sources.size() - 1;
      ancestors.push_back(facts.identity);
      bool below = false;
      bool walked = Walk(path, name + "/", ancestors, below);
      ancestors.pop_back();
      if (!walked) return false;
      if (!below) tree_.empty_folders.push_back(tree_.sources[index].name);
      holds_files = holds_files || below;
    }
    return true;
  }

  bool Record(PackSource source) {
    // The stub shows names in the ANSI code page; a character it lacks would become "_" and
    // might even make two names one. The other checks see the name as the stub will
    // (a superscript digit of a device name is one ANSI byte there).
    std::string problem;
    if (!platform::Utf8FitsAnsiCodePage(source.name)) {
      problem = "holds characters outside Windows code page 1252";
    } else {
      problem = EntryNameProblem(source.name, platform::Utf8TextToAnsi(source.name), false);
    }
    if (problem.empty() && !seen_.insert(AsciiUpperCase(source.name)).second) {
      // Windows names are case-insensitive: two such names would be one file there.
      problem = "appears twice (names differing only in case count as the same)";
    }
    if (!problem.empty()) {
      error_text_ = "cannot pack " + source.disk_path + " as \"" + source.name + "\": it " +
                    problem;
      return false;
    }
    if (tree_.sources.size() >= kMostEntries) {
      error_text_ = "more than 65,535 files and folders need ZIP64, which the stub cannot read";
      return false;
    }
    if (!source.folder) tree_.file_bytes += source.facts.size;
    tree_.sources.push_back(std::move(source));
    return true;
  }

  const std::optional<FileIdentity>& output_;
  SourceTree& tree_;
  std::string& error_text_;
  std::set<std::string> seen_;
};

}  // namespace

bool CollectSources(const std::vector<std::string>& inputs,
                    const std::optional<FileIdentity>& output, SourceTree& tree,
                    std::string& error_text) {
  TreeWalker walker(output, tree, error_text);
  for (const std::string& input : inputs) {
    if (!walker.AddInput(input)) return false;
  }
  // A stable order, whatever order the file system lists: sorted by name, each folder
  // right before its contents.
  std::stable_sort(
      tree.sources.begin(), tree.sources.end(),
      [](const PackSource& a, const PackSource& b) { return SortKey(a) < SortKey(b); });
  std::sort(tree.empty_folders.begin(), tree.empty_folders.end());
  return true;
}

}  // namespace selfx::cli
