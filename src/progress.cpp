#include "progress.hpp"

#include <algorithm>

#include "text.hpp"

namespace orbelm {
namespace {

// `tenths` / 10 with one decimal: 123 gives "12.3".
void append_tenths(TextBuilder& line, std::uint64_t tenths) {
  line.number(tenths / 10);
  const char decimal[] = {'.', static_cast<char>('0' + tenths % 10)};
  line.text({decimal, sizeof decimal});
}

// " (2 new, 1 changed, 14 unchanged)", with ", 3 removed" before the ")"
// when the run prunes.
void append_counts(TextBuilder& line, const ProgressFacts& facts) {
  line.text(" (");
  line.number(facts.files.created);
  line.text(" new, ");
  line.number(facts.files.changed);
  line.text(" changed, ");
  line.number(facts.files.unchanged);
  line.text(" unchanged");
  if (facts.with_removed) {
    line.text(", ");
    line.number(facts.files.removed);
    line.text(" removed");
  }
  line.text(")");
}

}  // namespace

std::size_t format_progress(const ProgressFacts& facts,
                            char (&out)[MAX_PROGRESS_LINE]) {
  TextBuilder line{out, MAX_PROGRESS_LINE};
  line.text("orbelm: ");
  if (facts.input_count > 1) {
    line.number(facts.input_number);
    line.text("/");
    line.number(facts.input_count);
    line.text(" ");
    std::string_view name = facts.input_name;
    if (name.size() > MAX_PROGRESS_NAME) {
      line.text("...");
      name = name.substr(name.size() - (MAX_PROGRESS_NAME - 3));
    }
    line.text(name);
    line.text(": ");
  }
  if (facts.input_size > 0) {
    line.number(facts.bytes_read >= facts.input_size
                    ? 100
                    : facts.bytes_read * 100 / facts.input_size);
    line.text("% read, ");
  } else {
    append_tenths(line, facts.bytes_read / 100000);
    line.text(" MB read, ");
  }
  line.number(facts.files.total());
  line.text(" element files");
  if (facts.final_line) append_counts(line, facts);
  line.text(", ");
  append_tenths(line, static_cast<std::uint64_t>(
                          std::max(0.0, facts.elapsed_seconds) * 10.0));
  line.text(" s");
  return line.size;
}

}  // namespace orbelm
