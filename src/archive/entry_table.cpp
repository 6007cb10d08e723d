#include "archive/entry_table.h"

#include <vector>

namespace selfx {

namespace {
std::vector<ArchiveEntry> entry_table;
}

std::size_t AppendEntry(const ArchiveEntry& entry) {
  entry_table.push_back(entry);
  return entry_table.size() - 1;
}

ArchiveEntry GetEntry(std::size_t index) { return entry_table[index]; }

void ReleaseEntryTable() { std::vector<ArchiveEntry>().swap(entry_table); }

}  // namespace selfx
