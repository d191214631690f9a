// gzip data made with zlib for the tests, independent of the program's
// reading side.
#ifndef ORBELM_TESTS_GZIP_DATA_HPP
#define ORBELM_TESTS_GZIP_DATA_HPP

#include <zlib.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace orbelm::testing {

// One gzip member holding `text` and then `stored`. When `stored` is not
// empty it follows a full flush in a stored block: its header byte is at
// `*stored_at` and its bytes, uncompressed, 5 bytes later.
inline std::string gzip(std::string_view text, std::string_view stored = {},
                        std::size_t* stored_at = nullptr) {
  z_stream z{};
  deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8,
               Z_DEFAULT_STRATEGY);
  std::string out(text.size() + stored.size() + 1024, '\0');
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const auto deflate_part = [&z](std::string_view part, int flush) {
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(part.data()));
    z.avail_in = static_cast<uInt>(part.size());
    deflate(&z, flush);
  };
  deflate_part(text, stored.empty() ? Z_FINISH : Z_FULL_FLUSH);
  if (!stored.empty()) {
    *stored_at = z.total_out;
    deflateParams(&z, 0, Z_DEFAULT_STRATEGY);
    deflate_part(stored, Z_FINISH);
  }
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

}  // namespace orbelm::testing

#endif
