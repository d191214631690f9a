#include "progress.hpp"

#include <gtest/gtest.h>

#include <string>

namespace orbelm {
namespace {

std::string line(const ProgressFacts& facts) {
  char out[MAX_PROGRESS_LINE];
  return {out, format_progress(facts, out)};
}

TEST(Progress, PercentOfAKnownSizeElseMegabytes) {
  EXPECT_EQ(line({1, 1, "in.txt", 2, 3, {1234, 0, 0, 0}, 12.34}),
            "orbelm: 66% read, 1234 element files, 12.3 s");
  // A file that grew while it was read.
  EXPECT_EQ(line({1, 1, "in.txt", 5000000000, 4000000000, {}, 0.0}),
            "orbelm: 100% read, 0 element files, 0.0 s");
  EXPECT_EQ(line({1, 1, "standard input", 61299999, 0, {80, 0, 0, 0}, 0.45}),
            "orbelm: 61.2 MB read, 80 element files, 0.4 s");
}

TEST(Progress, SeveralInputsNameTheOneBeingRead) {
  EXPECT_EQ(line({2, 3, "CometEls.txt", 45, 100, {7, 0, 0, 0}, 1.0}),
            "orbelm: 2/3 CometEls.txt: 45% read, 7 element files, 1.0 s");
  EXPECT_EQ(line({10, 10, "a-very-long-input-file-name.txt", 1, 1, {}, 0.0}),
            "orbelm: 10/10 ...put-file-name.txt: 100% read, 0 element files, "
            "0.0 s");
}

TEST(Progress, LastLineCountsNewChangedUnchangedAndRemoved) {
  ProgressFacts facts{1, 1, "in.txt", 9, 9, {2, 1, 14, 3}, 0.25};
  facts.final_line = true;
  EXPECT_EQ(line(facts),
            "orbelm: 100% read, 17 element files (2 new, 1 changed, 14 "
            "unchanged), 0.2 s");
  facts.with_removed = true;
  EXPECT_EQ(line(facts),
            "orbelm: 100% read, 17 element files (2 new, 1 changed, 14 "
            "unchanged, 3 removed), 0.2 s");
}

}  // namespace
}  // namespace orbelm
