// The bytes of an input as it is published: plain text, or gzip data that
// is decompressed while it is read.
//
// The first two bytes decide, whatever the input's name: the gzip magic
// 1F 8B starts compressed data, anything else is plain and handed on as it
// is. Compressed data may hold several gzip members one after another (what
// `cat a.gz b.gz` makes); they read as one stream. After the last member
// the input must end: any other byte there is reported as damage, since a
// file that goes on with something else is not what its name promised.
//
// The stream reads its input through a block-read function and hands out
// plain bytes with the same contract, so the line loop reads either kind
// the same way. Damage (corrupt data, a stream that ends before its end, a
// wrong checksum, bytes after the end) ends the stream like a read error,
// with a short reason; the bytes decoded before the damage are handed out
// first. The buffers are part of the stream; only zlib's own state (about
// 44 KiB) is allocated, once per input, when its first gzip member starts;
// later members reuse it.
#ifndef ORBELM_INPUT_HPP
#define ORBELM_INPUT_HPP

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orbelm {

// Reads up to `size` bytes of the raw input into `buffer`; returns the
// count, 0 at the end of the input or a negative value after an error.
using RawRead = long (*)(void* context, char* buffer, std::size_t size);

// Why an input stream ended early.
enum class InputFailure { None, ReadFailed, Damaged };

struct InputStream {
  static constexpr std::size_t CAPACITY = 1 << 16;
  enum class Mode { Undecided, Plain, Member, BetweenMembers, Ended, Failed };

  RawRead read = nullptr;
  void* context = nullptr;
  char raw[CAPACITY];  // bytes read and not yet handed on or inflated
  std::size_t raw_begin = 0;
  std::size_t raw_end = 0;
  bool raw_finished = false;   // the raw read returned 0
  std::uint64_t raw_read = 0;  // bytes the raw read returned, in all
  Mode mode = Mode::Undecided;
  bool zlib_ready = false;  // `zlib` holds an initialised inflater
  z_stream zlib{};
  InputFailure failure = InputFailure::None;
  int read_error = 0;              // errno of a failed raw read
  std::string_view damage;         // what is wrong with compressed data
  std::string_view damage_detail;  // zlib's words for it, or ""
};

// Starts a stream over the raw input `read(context, ...)`.
void open_stream(InputStream& stream, RawRead read, void* context);

// Releases zlib's state; the stream can be opened again.
void close_stream(InputStream& stream);

// Up to `size` plain bytes into `buffer`: the count, 0 at the end of the
// input, or -1 once it failed (stream.failure says how, and stays set).
long read_stream(InputStream& stream, char* buffer, std::size_t size);

}  // namespace orbelm

#endif
