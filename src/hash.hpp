// A hash of short names (designations, file names) for lookup tables.
#ifndef ORBELM_HASH_HPP
#define ORBELM_HASH_HPP

#include <cstddef>
#include <cstdint>
#include <cstring>
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

// A 64-bit hash of `size` bytes at `data`, for telling whether a file still
// holds the line it held (with its size) and whether a block of the record
// of file states is whole: eight bytes a round, so an element line of 150
// bytes takes about 20 rounds. Each round is a bijection of the state for a
// given word and of the word for a given state (an odd multiplier, an add,
// a rotation), so two inputs of one length that differ in a single word
// never collide; the final mix of MurmurHash3 (fmix64) spreads every bit.
// Not for secrets: anyone who can write the record can write the files.
// Example: bytes_hash("", 0, 0) is fmix64(0) = 0, and a different seed or
// length gives a different value.
inline std::uint64_t bytes_hash(const char* data, std::size_t size,
                                std::uint64_t seed) {
  constexpr std::uint64_t PRIME1 = 0x9E3779B185EBCA87U;  // xxHash64's
  constexpr std::uint64_t PRIME2 = 0xC2B2AE3D27D4EB4FU;
  std::uint64_t state = seed ^ (static_cast<std::uint64_t>(size) * PRIME1);
  const auto round = [&state](std::uint64_t word) {
    state += word * PRIME2;
    state = (state << 31U) | (state >> 33U);
    state *= PRIME1;
  };
  for (; size >= 8; size -= 8, data += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, data, 8);
    round(word);
  }
  if (size > 0) {
    std::uint64_t word = 0;
    std::memcpy(&word, data, size);
    round(word ^ (static_cast<std::uint64_t>(size) << 56U));
  }
  state ^= state >> 33U;
  state *= 0xFF51AFD7ED558CCDU;
  state ^= state >> 33U;
  state *= 0xC4CEB9FE1A85EC53U;
  state ^= state >> 33U;
  return state;
}

}  // namespace orbelm

#endif
