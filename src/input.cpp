#include "input.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace orbelm {
namespace {

std::size_t pending(const InputStream& stream) {
  return stream.raw_end - stream.raw_begin;
}

// Ends the stream with `failure`; returns what read_stream returns then:
// the `produced` bytes still to hand out, or -1.
long fail(InputStream& stream, long produced, InputFailure failure,
          std::string_view damage = {}, const char* detail = nullptr) {
  stream.mode = InputStream::Mode::Failed;
  stream.failure = failure;
  stream.damage = damage;
  stream.damage_detail = detail != nullptr ? detail : "";
  return produced > 0 ? produced : -1;
}

// Reads until at least `wanted` raw bytes are pending or the input ends,
// keeping the pending bytes at the front of the buffer. False after a
// read error (errno is kept in the stream).
bool fill_raw(InputStream& stream, std::size_t wanted) {
  while (pending(stream) < wanted && !stream.raw_finished) {
    if (stream.raw_begin > 0) {
      std::memmove(stream.raw, stream.raw + stream.raw_begin, pending(stream));
      stream.raw_end -= stream.raw_begin;
      stream.raw_begin = 0;
    }
    const long count = stream.read(stream.context, stream.raw + stream.raw_end,
                                   InputStream::CAPACITY - stream.raw_end);
    if (count < 0) {
      stream.read_error = errno;
      return false;
    }
    if (count == 0) stream.raw_finished = true;
    stream.raw_end += static_cast<std::size_t>(count);
    stream.raw_read += static_cast<std::uint64_t>(count);
  }
  return true;
}

bool starts_member(const InputStream& stream) {
  return pending(stream) >= 2 &&
         static_cast<unsigned char>(stream.raw[stream.raw_begin]) == 0x1F &&
         static_cast<unsigned char>(stream.raw[stream.raw_begin + 1]) == 0x8B;
}

// Prepares zlib for the member that starts at the pending bytes: the first
// member allocates its state, later ones reuse it.
bool start_member(InputStream& stream) {
  stream.mode = InputStream::Mode::Member;
  if (stream.zlib_ready) return inflateReset(&stream.zlib) == Z_OK;
  stream.zlib = z_stream{};
  // 16 + MAX_WBITS: a gzip wrapper with its checksum and length, the
  // largest window.
  stream.zlib_ready = inflateInit2(&stream.zlib, 16 + MAX_WBITS) == Z_OK;
  return stream.zlib_ready;
}

long read_plain(InputStream& stream, char* buffer, std::size_t size) {
  if (pending(stream) > 0) {
    const std::size_t count = std::min(size, pending(stream));
    std::memcpy(buffer, stream.raw + stream.raw_begin, count);
    stream.raw_begin += count;
    return static_cast<long>(count);
  }
  if (stream.raw_finished) return 0;
  const long count = stream.read(stream.context, buffer, size);
  if (count < 0) {
    stream.read_error = errno;
    return fail(stream, 0, InputFailure::ReadFailed);
  }
  if (count == 0) stream.raw_finished = true;
  stream.raw_read += static_cast<std::uint64_t>(count);
  return count;
}

// After a member's end: the input ends there (mode Ended), the next member
// starts (mode Member), or the stream fails (mode Failed).
void next_member(InputStream& stream) {
  if (!fill_raw(stream, 2)) {
    fail(stream, 0, InputFailure::ReadFailed);
  } else if (pending(stream) == 0) {
    stream.mode = InputStream::Mode::Ended;
  } else if (!starts_member(stream)) {
    fail(stream, 0, InputFailure::Damaged,
         "data follows the end of the compressed data");
  } else if (!start_member(stream)) {
    fail(stream, 0, InputFailure::Damaged, "cannot be decompressed",
         "out of memory");
  }
}

// One inflate call over the pending bytes; the mode after it tells how it
// went (Failed with the damage set, or BetweenMembers at a member's end).
void inflate_pending(InputStream& stream) {
  stream.zlib.next_in = reinterpret_cast<Bytef*>(stream.raw + stream.raw_begin);
  stream.zlib.avail_in = static_cast<uInt>(pending(stream));
  const int result = inflate(&stream.zlib, Z_NO_FLUSH);
  stream.raw_begin = stream.raw_end - stream.zlib.avail_in;
  switch (result) {
    case Z_OK:
    case Z_BUF_ERROR:  // no progress: more input or more room is needed
      return;
    case Z_STREAM_END:
      stream.mode = InputStream::Mode::BetweenMembers;
      return;
    case Z_MEM_ERROR:
      fail(stream, 0, InputFailure::Damaged, "cannot be decompressed",
           "out of memory");
      return;
    default:  // Z_DATA_ERROR, Z_NEED_DICT
      fail(stream, 0, InputFailure::Damaged, "compressed data is damaged",
           stream.zlib.msg);
      return;
  }
}

long read_compressed(InputStream& stream, char* buffer, std::size_t size) {
  const std::size_t room = std::min<std::size_t>(size, UINT_MAX);
  stream.zlib.next_out = reinterpret_cast<Bytef*>(buffer);
  stream.zlib.avail_out = static_cast<uInt>(room);
  for (;;) {
    const auto produced = static_cast<long>(room - stream.zlib.avail_out);
    if (stream.mode == InputStream::Mode::BetweenMembers) next_member(stream);
    if (stream.mode == InputStream::Mode::Ended) return produced;
    if (stream.mode == InputStream::Mode::Failed)
      return produced > 0 ? produced : -1;
    if (stream.zlib.avail_out == 0) return produced;
    if (pending(stream) == 0) {
      // More input only when nothing is ready to hand out.
      if (produced > 0) return produced;
      if (!fill_raw(stream, 1))
        return fail(stream, 0, InputFailure::ReadFailed);
      if (pending(stream) == 0)
        return fail(stream, 0, InputFailure::Damaged,
                    "compressed data ends early");
    }
    inflate_pending(stream);
  }
}

}  // namespace

void open_stream(InputStream& stream, RawRead read, void* context) {
  close_stream(stream);
  stream.read = read;
  stream.context = context;
  stream.raw_begin = stream.raw_end = 0;
  stream.raw_finished = false;
  stream.raw_read = 0;
  stream.mode = InputStream::Mode::Undecided;
  stream.failure = InputFailure::None;
  stream.read_error = 0;
  stream.damage = {};
  stream.damage_detail = {};
}

void close_stream(InputStream& stream) {
  if (stream.zlib_ready) inflateEnd(&stream.zlib);
  stream.zlib_ready = false;
}

long read_stream(InputStream& stream, char* buffer, std::size_t size) {
  switch (stream.mode) {
    case InputStream::Mode::Undecided:
      if (!fill_raw(stream, 2))
        return fail(stream, 0, InputFailure::ReadFailed);
      if (!starts_member(stream)) {
        stream.mode = InputStream::Mode::Plain;
        return read_plain(stream, buffer, size);
      }
      if (!start_member(stream))
        return fail(stream, 0, InputFailure::Damaged, "cannot be decompressed",
                    "out of memory");
      return read_compressed(stream, buffer, size);
    case InputStream::Mode::Plain:
      return read_plain(stream, buffer, size);
    case InputStream::Mode::Member:
    case InputStream::Mode::BetweenMembers:
      return read_compressed(stream, buffer, size);
    case InputStream::Mode::Ended:
      return 0;
    case InputStream::Mode::Failed:
      break;
  }
  return -1;
}

}  // namespace orbelm
