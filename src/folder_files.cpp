#include "folder_files.hpp"

#include <limits>

#include "hash.hpp"

namespace orbelm {
namespace {

std::string_view entry_name(const FolderFiles& files, std::size_t at) {
  const auto size = static_cast<unsigned char>(files.entries[at]);
  return std::string_view(files.entries).substr(at + 2, size);
}

bool same_name(std::string_view a, std::string_view b, bool fold_case) {
  if (a.size() != b.size()) return false;
  if (!fold_case) return a == b;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (upper_ascii(a[i]) != upper_ascii(b[i])) return false;
  return true;
}

// The slot of `name`: where it is, or the empty slot where it would go.
std::size_t find_slot(const FolderFiles& files, std::string_view name) {
  const std::size_t mask = files.slots.size() - 1;
  auto slot = static_cast<std::size_t>(name_hash(name, files.fold_case)) & mask;
  while (files.slots[slot] != 0 &&
         !same_name(entry_name(files, files.slots[slot] - 1), name,
                    files.fold_case))
    slot = (slot + 1) & mask;
  return slot;
}

}  // namespace

void add_folder_file(FolderFiles& files, std::string_view name) {
  // Offsets are kept in 32 bits; a folder beyond that keeps the rest.
  constexpr std::size_t MAX_ENTRIES = std::numeric_limits<std::uint32_t>::max();
  if (name.size() > MAX_FOLDER_NAME ||
      files.entries.size() + 2 + name.size() >= MAX_ENTRIES)
    return;
  files.entries.push_back(static_cast<char>(name.size()));
  files.entries.push_back(0);
  files.entries.append(name);
  ++files.count;
}

void index_folder_files(FolderFiles& files) {
  files.entries.shrink_to_fit();
  std::size_t size = 16;
  while (size < 2 * files.count) size *= 2;
  files.slots.assign(size, 0);
  for (std::size_t at = 0; at < files.entries.size();) {
    const std::string_view name = entry_name(files, at);
    files.slots[find_slot(files, name)] = static_cast<std::uint32_t>(at + 1);
    at += 2 + name.size();
  }
}

void keep_folder_file(FolderFiles& files, std::string_view name) {
  if (files.slots.empty()) return;
  // A slot holds the entry's offset plus one: the offset of its flag.
  const std::uint32_t flag = files.slots[find_slot(files, name)];
  if (flag != 0) files.entries[flag] = 1;
}

}  // namespace orbelm
