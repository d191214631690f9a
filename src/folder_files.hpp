// The element files that the output folder held when a run began, and
// which of them the run kept (wrote or left unchanged): the others are
// stale, and a pruning run removes them.
//
// Made once from the folder's listing; looking a name up during the run
// does not allocate. Memory: about 13 bytes per file and a table of 4 bytes
// per slot, 2 to 4 slots per file: 40 MB for 1.5 million files.
#ifndef ORBELM_FOLDER_FILES_HPP
#define ORBELM_FOLDER_FILES_HPP

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orbelm {

struct FolderFiles {
  // Per file, one after the other: its name's length, whether the run kept
  // it (0 or 1), the name without ".elm".
  std::string entries;
  // Open addressing: the offset of an entry plus one, or 0 for none.
  std::vector<std::uint32_t> slots;
  std::size_t count = 0;
  // Whether names compare without regard to letter case, as the folder's
  // do (platform::folder_ignores_case).
  bool fold_case = false;
};

// Longest name that is held; a longer one is never stale.
inline constexpr std::size_t MAX_FOLDER_NAME = 255;

// Adds the file `name` (without ".elm") while the folder is listed. A file
// listed once only.
void add_folder_file(FolderFiles& files, std::string_view name);

// Builds the lookup table, once the listing is complete.
void index_folder_files(FolderFiles& files);

// Notes that the run kept the file `name` (without ".elm"); a name the
// folder did not hold is ignored.
// Example: after "K05A00A" and "00433" were listed, keeping "K05A00A"
// leaves "00433" stale; with fold_case, keeping "k05a00a" does the same.
void keep_folder_file(FolderFiles& files, std::string_view name);

// Calls `each(name)` for every file that the run did not keep, in the
// order of the listing, until `each` returns false.
template <class Each>
void for_each_stale_file(const FolderFiles& files, Each each) {
  for (std::size_t at = 0; at < files.entries.size();) {
    const auto size = static_cast<unsigned char>(files.entries[at]);
    if (files.entries[at + 1] == 0 &&
        !each(std::string_view(files.entries).substr(at + 2, size)))
      return;
    at += 2 + size;
  }
}

}  // namespace orbelm

#endif
