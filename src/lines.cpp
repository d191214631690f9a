#include "lines.hpp"

#include <algorithm>
#include <cstring>

namespace orbelm {

std::span<char> input_space(LineReader& reader) {
  const std::size_t kept =
      reader.end - reader.begin + (reader.held_carriage_return ? 1 : 0);
  if (reader.begin > 0) {
    std::memmove(reader.data, reader.data + reader.begin, kept);
    reader.end -= reader.begin;
    reader.begin = 0;
  }
  return {reader.data + kept, LineReader::CAPACITY - kept};
}

void commit_input(LineReader& reader, std::size_t size) {
  // A block without carriage returns and NUL bytes needs no normalising and
  // is taken as it is: under callgrind, the byte loop below was a fifth of
  // the instructions of a whole run on such input.
  const char* block = reader.data + reader.end;
  if (!reader.held_carriage_return &&
      std::memchr(block, '\r', size) == nullptr &&
      std::memchr(block, '\0', size) == nullptr) {
    reader.end += size;
    return;
  }
  // The new bytes follow a held carriage return, if any; both are
  // normalised together, compacting in place.
  const std::size_t from = reader.end;
  const std::size_t to =
      reader.end + (reader.held_carriage_return ? 1 : 0) + size;
  std::size_t out = from;
  reader.held_carriage_return = false;
  for (std::size_t i = from; i < to; ++i) {
    const char c = reader.data[i];
    if (c == '\r') {
      if (i + 1 == to) {
        // Whether it precedes a newline is known only with the next block.
        reader.data[out] = c;
        reader.held_carriage_return = true;
        break;
      }
      if (reader.data[i + 1] == '\n') continue;
    }
    reader.data[out++] = c == '\0' ? ' ' : c;
  }
  reader.end = out;
}

void finish_input(LineReader& reader) {
  if (reader.held_carriage_return) {
    ++reader.end;
    reader.held_carriage_return = false;
  }
  reader.finished = true;
}

bool next_piece(LineReader& reader, LinePiece& piece) {
  const char* start = reader.data + reader.begin;
  const std::size_t available = reader.end - reader.begin;
  const std::size_t window = std::min(available, MAX_LINE_PIECE);
  const void* newline = std::memchr(start, '\n', window);
  if (newline != nullptr) {
    const auto size =
        static_cast<std::size_t>(static_cast<const char*>(newline) - start);
    piece = {{start, size}, true};
    reader.begin += size + 1;
    return true;
  }
  if (available >= MAX_LINE_PIECE) {
    piece = {{start, MAX_LINE_PIECE}, false};
    reader.begin += MAX_LINE_PIECE;
    return true;
  }
  if (reader.finished && available > 0) {
    piece = {{start, available}, true, start[available - 1] != '\r'};
    reader.begin = reader.end;
    return true;
  }
  return false;
}

}  // namespace orbelm
