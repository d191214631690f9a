// Text built in a fixed buffer, for the console's diagnostics and status
// line: no allocation, and text beyond the buffer's capacity is dropped
// rather than written past its end.
#ifndef ORBELM_TEXT_HPP
#define ORBELM_TEXT_HPP

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace orbelm {

// Appends to out[0, capacity); `size` is the length so far. Example: text
// "line ", number 42 give "line 42"; with a capacity of 6, "line 4".
struct TextBuilder {
  char* out;
  std::size_t capacity;
  std::size_t size = 0;

  void text(std::string_view value) {
    const std::size_t count = std::min(value.size(), capacity - size);
    std::memcpy(out + size, value.data(), count);
    size += count;
  }
  // Decimal digits of `value`, without separators: 1234 gives "1234".
  void number(std::uint64_t value) {
    char digits[24] = {};
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    text({digits, static_cast<std::size_t>(result.ptr - digits)});
  }
};

}  // namespace orbelm

#endif
