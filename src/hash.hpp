// A hash of short names (designations, file names) for lookup tables.
#ifndef ORBELM_HASH_HPP
#define ORBELM_HASH_HPP

#include <cstdint>
#include <string_view>

namespace orbelm {

// ASCII letters in capitals, every other byte as it is: how Windows file
// names compare.
constexpr char upper_ascii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// FNV-1a (64 bits) of `text`, with its letters taken as capitals when
// `fold_case`: quick on the few bytes of a designation and well spread.
// Example: name_hash("") is 14695981039346656037, the FNV offset basis;
// name_hash("k05a00a", true) equals name_hash("K05A00A", false).
constexpr std::uint64_t name_hash(std::string_view text,
                                  bool fold_case = false) {
  std::uint64_t value = 14695981039346656037U;
  for (const char c : text) {
    value ^= static_cast<unsigned char>(fold_case ? upper_ascii(c) : c);
    value *= 1099511628211U;
  }
  return value;
}

}  // namespace orbelm

#endif
