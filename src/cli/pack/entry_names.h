// The names selfx build lets into an archive: every one the stub can create on Windows as
// it reads it, whether it comes from a folder on disk or from a ready ZIP.
#pragma once

#include <string>

namespace selfx::cli {

// Why the stub could not read or create an entry of this name, or "" when it can. stored is
// the name as the archive records it; shown is the same name as the stub sees it (ANSI,
// after the stub's conversion of UTF-8 or OEM names). backslash_separates: a "\" in a ready
// ZIP's name is a folder separator to the stub, while in a file name on disk it is a
// character that Windows does not allow. The result is a clause to follow "it": "has ...",
// "is ...".
std::string EntryNameProblem(const std::string& stored, const std::string& shown,
                             bool backslash_separates);

}  // namespace selfx::cli
