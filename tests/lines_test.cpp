#include "lines.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace orbelm {
namespace {

struct Read {
  std::string text;
  bool ends_line;
  bool unterminated = false;
  bool operator==(const Read&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Read& read) {
  return out << '"' << read.text << '"' << (read.ends_line ? "+NL" : "")
             << (read.unterminated ? "+END" : "");
}

// Feeds `input` to a reader in blocks of `block` bytes and collects every
// piece, as the driver does.
std::vector<Read> read_all(const std::string& input, std::size_t block) {
  auto reader = std::make_unique<LineReader>();
  std::vector<Read> pieces;
  LinePiece piece;
  std::size_t at = 0;
  while (!reader->finished) {
    const std::span<char> space = input_space(*reader);
    const std::size_t size = std::min({block, space.size(), input.size() - at});
    std::copy_n(input.data() + at, size, space.data());
    at += size;
    if (size == 0)
      finish_input(*reader);
    else
      commit_input(*reader, size);
    while (next_piece(*reader, piece))
      pieces.push_back(
          {std::string(piece.text), piece.ends_line, piece.unterminated});
  }
  return pieces;
}

std::vector<Read> read_all(const std::string& input) {
  return read_all(input, LineReader::CAPACITY);
}

TEST(LineReader, LinesWithAndWithoutAFinalNewline) {
  EXPECT_EQ(read_all("a\nbc\n"),
            (std::vector<Read>{{"a", true}, {"bc", true}}));
  EXPECT_EQ(read_all("a\nbc"),
            (std::vector<Read>{{"a", true}, {"bc", true, true}}));
  // A final CR is half of a CR LF: not unterminated, also when it arrives
  // alone in the last block.
  EXPECT_EQ(read_all("a\nbc\r", 1),
            (std::vector<Read>{{"a", true}, {"bc\r", true}}));
  EXPECT_EQ(read_all("\n\n"), (std::vector<Read>{{"", true}, {"", true}}));
  EXPECT_TRUE(read_all("").empty());
}

TEST(LineReader, CarriageReturnBeforeNewlineIsDropped) {
  EXPECT_EQ(read_all("ab\r\ncd\r\n"),
            (std::vector<Read>{{"ab", true}, {"cd", true}}));
  EXPECT_EQ(read_all("a\r\r\n"), (std::vector<Read>{{"a\r", true}}));
}

TEST(LineReader, CarriageReturnAndNewlineSplitAcrossBlocks) {
  // With blocks of 3 bytes the pair "\r\n" of "ab\r\ncd" is cut in two.
  EXPECT_EQ(read_all("ab\r\ncd", 3),
            (std::vector<Read>{{"ab", true}, {"cd", true, true}}));
  EXPECT_EQ(read_all("x\r\r\n\r\ny", 1),
            (std::vector<Read>{{"x\r", true}, {"", true}, {"y", true, true}}));
}

TEST(LineReader, LoneCarriageReturnsStayInTheText) {
  EXPECT_EQ(read_all("a\rb\r"), (std::vector<Read>{{"a\rb\r", true}}));
  EXPECT_EQ(read_all("a\rb\r", 2), (std::vector<Read>{{"a\rb\r", true}}));
}

TEST(LineReader, NulReadsAsBlank) {
  EXPECT_EQ(read_all(std::string("K0\0A\n", 5)),
            (std::vector<Read>{{"K0 A", true}}));
}

TEST(LineReader, PlainBlocksBesideBlocksToNormalise) {
  // Blocks without carriage returns or NUL bytes are taken as they are;
  // the ones around them must still be normalised, also where a held
  // carriage return is followed by a plain block.
  const std::string input = std::string("ab\ncd\n") +
                            std::string("e\0f\r\n", 5) + "gh\r" + "\nij\n" +
                            "kl\r" + "mn\n";
  EXPECT_EQ(read_all(input, 3), (std::vector<Read>{{"ab", true},
                                                   {"cd", true},
                                                   {"e f", true},
                                                   {"gh", true},
                                                   {"ij", true},
                                                   {"kl\rmn", true}}));
}

TEST(LineReader, LongLinesArriveInPiecesOf249Characters) {
  const std::string long_line(249 + 249 + 10, 'x');
  EXPECT_EQ(read_all(long_line + "\nz\n", 100),
            (std::vector<Read>{{std::string(249, 'x'), false},
                               {std::string(249, 'x'), false},
                               {std::string(10, 'x'), true},
                               {"z", true}}));
}

TEST(LineReader, LineOf248CharactersFitsOneRead) {
  EXPECT_EQ(read_all(std::string(248, 'x') + "\n"),
            (std::vector<Read>{{std::string(248, 'x'), true}}));
}

TEST(LineReader, LineOf249CharactersLeavesItsNewlineAsAnEmptyLine) {
  EXPECT_EQ(read_all(std::string(249, 'x') + "\n"),
            (std::vector<Read>{{std::string(249, 'x'), false}, {"", true}}));
  // The carriage return of CR LF does not count.
  EXPECT_EQ(read_all(std::string(248, 'x') + "\r\n"),
            (std::vector<Read>{{std::string(248, 'x'), true}}));
}

TEST(LineReader, AnUnterminatedRecordShorterThanAWholeOneIsCut) {
  const std::string minor_planet = "K05A00A" + std::string(194, ' ');
  CutRecord cut{0, 0};
  EXPECT_TRUE(is_cut_record({minor_planet, true, true}, cut));
  EXPECT_EQ(cut, (CutRecord{201, 202}));
  EXPECT_FALSE(is_cut_record({minor_planet + ' ', true, true}, cut));
  EXPECT_FALSE(is_cut_record({"Des'n     H", true, true}, cut));
}

TEST(LineReader, InputLargerThanTheBuffer) {
  std::string input;
  for (int i = 0; i < 2000; ++i)
    input += std::string(200, static_cast<char>('a' + i % 26)) + "\n";
  const std::vector<Read> pieces = read_all(input, 4096);
  ASSERT_EQ(pieces.size(), 2000u);
  EXPECT_EQ(pieces[1999].text,
            std::string(200, static_cast<char>('a' + 1999 % 26)));
}

}  // namespace
}  // namespace orbelm
