// The extraction run over the selected entries of the entry list.
#pragma once

#include <cstdint>
#include <string>

#include "archive/extraction.h"

namespace selfx {

// Extracts every selected entry into target_folder, in list order: folders first, then the
// overwrite policy, then the entry. An entry whose file was extracted is deselected (and its
// row in the list with it). True when no entry is left selected. The overwrite mode is read
// again for every entry: the prompt's "Don't ask again" changes it during the run. False at
// once, with the extraction's fault set, when the run cannot go on.
bool ExtractSelected(Extraction& extraction, const std::string& target_folder);

// Why an entry name must not be written below the target folder, or empty when it may:
// absolute names, drives, ".." components and device names would leave the folder or reach
// something that is not a file.
std::string UnsafeNameReason(const std::string& name);

// Leaves the "." parts out of the name that starts at path[from]: they name the folder they
// stand in ("./x.txt" is written as "x.txt", "a\\.\\b" as "a\\b").
void DropDotParts(std::string& path, std::string::size_type from);

}  // namespace selfx
