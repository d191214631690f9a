// The input stream fed in reads of a few bytes, as a pipe may deliver them:
// the gzip magic and the start of the next member can arrive split.
#include "input.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "gzip_data.hpp"

namespace orbelm {
namespace {

struct Source {
  std::string data;
  std::size_t chunk;
  std::size_t at = 0;
};

long read_source(void* context, char* buffer, std::size_t size) {
  auto& source = *static_cast<Source*>(context);
  const std::size_t count =
      std::min({size, source.chunk, source.data.size() - source.at});
  std::memcpy(buffer, source.data.data() + source.at, count);
  source.at += count;
  return static_cast<long>(count);
}

// Everything the stream hands out over `data` read `chunk` bytes at a
// time, and how it ended.
std::string read_all(const std::string& data, std::size_t chunk,
                     InputFailure& failure) {
  Source source{data, chunk};
  auto stream = std::make_unique<InputStream>();
  open_stream(*stream, read_source, &source);
  std::string out;
  char buffer[5];
  long count;
  while ((count = read_stream(*stream, buffer, sizeof buffer)) > 0)
    out.append(buffer, static_cast<std::size_t>(count));
  failure = stream->failure;
  close_stream(*stream);
  return out;
}

TEST(InputStream, MembersReadAsOneStreamInReadsOfAnySize) {
  const std::string data =
      testing::gzip("first member\n") + testing::gzip("second\r\n");
  for (const std::size_t chunk : {1U, 2U, 3U, 7U, 1U << 16}) {
    InputFailure failure{};
    EXPECT_EQ(read_all(data, chunk, failure), "first member\nsecond\r\n")
        << chunk;
    EXPECT_EQ(failure, InputFailure::None) << chunk;
  }
}

TEST(InputStream, MagicThatIsCutShortIsPlainOrEndsEarly) {
  InputFailure failure{};
  EXPECT_EQ(read_all("\x1F", 1, failure), "\x1F");
  EXPECT_EQ(failure, InputFailure::None);
  EXPECT_EQ(read_all("\x1F\x8B", 1, failure), "");
  EXPECT_EQ(failure, InputFailure::Damaged);
  // A member, then one byte of what could be the next one.
  EXPECT_EQ(read_all(testing::gzip("a\n") + "\x1F", 1, failure), "a\n");
  EXPECT_EQ(failure, InputFailure::Damaged);
}

}  // namespace
}  // namespace orbelm
