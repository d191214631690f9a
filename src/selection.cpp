#include "selection.hpp"

#include <algorithm>

#include "columns.hpp"
#include "hash.hpp"

namespace orbelm {
namespace {

// The word and the bit of `hash_bits` that stand for `text`.
struct HashBit {
  std::size_t word;
  std::uint64_t bit;
};

HashBit hash_bit(const std::vector<std::uint64_t>& hash_bits,
                 std::string_view text) {
  const std::uint64_t value = name_hash(text);
  return {static_cast<std::size_t>(value >> 6) & (hash_bits.size() - 1),
          std::uint64_t{1} << (value & 63)};
}

void fill_hash_bits(DesignationList& list) {
  std::size_t words = 1;
  while (words * 64 < list.entries.size() * 32) words *= 2;
  list.hash_bits.assign(words, 0);
  for (const auto& entry : list.entries) {
    const HashBit at = hash_bit(list.hash_bits, entry.designation);
    list.hash_bits[at.word] |= at.bit;
  }
}

bool entry_before(const DesignationList::Entry& entry,
                  std::string_view designation) {
  return std::string_view(entry.designation) < designation;
}

bool passes_magnitude(const Selection& selection, RecordKind kind,
                      std::string_view line) {
  if (!selection.max_magnitude) return true;
  const std::optional<double> magnitude = record_magnitude(kind, line);
  return magnitude && *magnitude <= *selection.max_magnitude;
}

bool passes_sky(const Selection& selection, RecordKind kind,
                std::string_view line, Sighting& sighting) {
  return !selection.sky || brightest_sighting(*selection.sky, kind, line,
                                              sighting) == Visibility::Visible;
}

bool passes_kind(const Selection& selection, RecordKind kind) {
  switch (kind) {
    case RecordKind::MinorPlanet:
      return selection.minor_planets;
    case RecordKind::Comet:
      return selection.comets;
  }
  return false;
}

}  // namespace

std::optional<double> record_magnitude(RecordKind kind, std::string_view line) {
  switch (kind) {
    case RecordKind::MinorPlanet:
      return read_number(columns(line, 9, 13));
    case RecordKind::Comet:
      return read_number(columns(line, 92, 95));
  }
  return std::nullopt;
}

DesignationList parse_designation_list(std::string_view text) {
  DesignationList list;
  std::size_t order = 0;
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    const std::string_view line = trimmed(text.substr(0, newline));
    text.remove_prefix(newline == std::string_view::npos ? text.size()
                                                         : newline + 1);
    if (line.empty() || line.front() == '#') continue;
    list.entries.push_back({std::string(line), order++, false});
  }
  // Sorted by designation, and by place among equal ones, so that the
  // first place of a designation listed twice is the one kept.
  std::sort(list.entries.begin(), list.entries.end(),
            [](const auto& a, const auto& b) {
              return a.designation != b.designation
                         ? a.designation < b.designation
                         : a.order < b.order;
            });
  const auto duplicates = std::unique(list.entries.begin(), list.entries.end(),
                                      [](const auto& a, const auto& b) {
                                        return a.designation == b.designation;
                                      });
  list.entries.erase(duplicates, list.entries.end());
  fill_hash_bits(list);
  return list;
}

bool find_designation(DesignationList& list, std::string_view designation) {
  if (!list.hash_bits.empty()) {
    const HashBit at = hash_bit(list.hash_bits, designation);
    if ((list.hash_bits[at.word] & at.bit) == 0) return false;
  }
  const auto entry = std::lower_bound(list.entries.begin(), list.entries.end(),
                                      designation, entry_before);
  if (entry == list.entries.end() || entry->designation != designation)
    return false;
  entry->found = true;
  return true;
}

std::vector<std::string_view> designations_not_found(
    const DesignationList& list) {
  std::vector<const DesignationList::Entry*> missing;
  for (const auto& entry : list.entries)
    if (!entry.found) missing.push_back(&entry);
  std::sort(missing.begin(), missing.end(),
            [](const auto* a, const auto* b) { return a->order < b->order; });
  std::vector<std::string_view> names(missing.size());
  std::transform(
      missing.begin(), missing.end(), names.begin(),
      [](const auto* entry) -> std::string_view { return entry->designation; });
  return names;
}

// cppcheck-suppress constParameter ; find_designation marks the entry found
bool is_selected(Selection& selection, RecordKind kind, std::string_view line,
                 std::string_view designation, Sighting& sighting) {
  const bool listed = !selection.designations ||
                      find_designation(*selection.designations, designation);
  return listed && passes_kind(selection, kind) &&
         passes_magnitude(selection, kind, line) &&
         passes_sky(selection, kind, line, sighting);
}

}  // namespace orbelm
