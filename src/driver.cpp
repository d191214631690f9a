#include "driver.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "command_line.hpp"
#include "convert.hpp"
#include "fixed.hpp"
#include "input.hpp"
#include "lines.hpp"
#include "platform.hpp"
#include "progress.hpp"
#include "selection.hpp"
#include "text.hpp"

namespace orbelm {
namespace {

char kind_flag(RecordKind kind) {
  return kind == RecordKind::MinorPlanet ? '0' : '1';
}

// Why a designation cannot name an element file, or "" when it can: a
// path (on every platform), or a name that this platform takes for
// something other than a file in the current folder.
std::string_view designation_problem(std::string_view designation) {
  if (designation.size() > MAX_DESIGNATION)
    return "is longer than 11 characters";
  if (designation.find_first_of(std::string_view("/\\\0", 3)) !=
      std::string_view::npos)
    return "holds \"/\" or \"\\\", which would name a path";
  return platform::file_name_problem(designation);
}

// Appends the fields of an element line to a fixed buffer that holds the
// longest line (see MAX_ELEMENT_LINE).
struct LineBuilder {
  char* out;
  std::size_t size = 0;

  void text(std::string_view value) {
    std::memcpy(out + size, value.data(), value.size());
    size += value.size();
  }
  void blank() { out[size++] = ' '; }
  void number(double value, int width, int precision) {
    size += format_fixed(value, width, precision, out + size);
  }
};

ElementRecord convert_record(RecordKind kind, std::string_view line,
                             std::string_view designation) {
  switch (kind) {
    case RecordKind::MinorPlanet:
      return convert_minor_planet(line, designation);
    case RecordKind::Comet:
      return convert_comet(line, designation);
  }
  return {};
}

}  // namespace

LineClass classify_line(std::string_view line) {
  constexpr LineClass SKIP{false, RecordKind::MinorPlanet, 0};
  if (line.empty()) return SKIP;
  const char c1 = column_char(line, 1);
  const char c5 = column_char(line, 5);
  if (c1 == 'J' || c1 == 'K') return {true, RecordKind::MinorPlanet, 1};
  if (c1 == '~' || c1 == '_') return {true, RecordKind::MinorPlanet, 1};
  if (is_decimal_digit(c5)) return {true, RecordKind::MinorPlanet, 1};
  if (is_decimal_digit(c1)) {
    if (c5 == 'P' || c5 == 'D') return {true, RecordKind::Comet, 1};
    return SKIP;
  }
  if (c1 == ' ' && (c5 == 'P' || c5 == 'D' || c5 == 'C'))
    return {true, RecordKind::Comet, 5};
  return SKIP;
}

std::string_view designation_token(std::string_view line, int column) {
  std::size_t begin = static_cast<std::size_t>(column - 1);
  if (begin >= line.size()) return {};
  while (begin < line.size() && is_white_space(line[begin])) ++begin;
  std::size_t end = begin;
  while (end < line.size() && !is_white_space(line[end])) ++end;
  return line.substr(begin, end - begin);
}

bool is_safe_designation(std::string_view designation) {
  return designation_problem(designation).empty();
}

void build_name_field(std::string_view short_name, std::string_view designation,
                      RecordKind kind, char (&name_field)[NAME_FIELD_WIDTH]) {
  constexpr std::size_t NAME_POSITIONS = NAME_FIELD_WIDTH - 1;
  std::fill_n(name_field, NAME_POSITIONS, ' ');
  name_field[NAME_POSITIONS] = kind_flag(kind);
  short_name = short_name.substr(0, NAME_POSITIONS);
  std::copy(short_name.begin(), short_name.end(), name_field);
  designation = designation.substr(0, NAME_POSITIONS);
  std::copy(designation.begin(), designation.end(),
            name_field + (NAME_POSITIONS - designation.size()));
}

std::size_t format_element_line(RecordKind kind, const ElementRecord& record,
                                char (&out)[MAX_ELEMENT_LINE]) {
  const bool minor_planet = kind == RecordKind::MinorPlanet;
  LineBuilder line{out};
  line.text({record.name_field, NAME_FIELD_WIDTH});
  line.blank();
  line.number(record.perihelion_time, minor_planet ? 14 : 13,
              minor_planet ? 6 : 5);
  line.blank();
  if (minor_planet)
    line.number(record.perihelion_distance, 12, 8);
  else
    line.text(record.perihelion_distance_text.view());
  line.blank();
  line.text(record.eccentricity_text.view());
  for (const double angle :
       {record.inclination, record.arg_perihelion, record.ascending_node}) {
    line.blank();
    line.number(angle, 9, 7);
  }
  line.blank();
  line.number(record.magnitude_code, 8, 1);
  line.blank();
  line.text(EQUINOX_TEXT);
  line.blank();
  line.number(record.epoch, 13, 5);
  line.blank();
  line.text(record.long_name.view());
  line.text("\n");
  return line.size;
}

namespace {

// convert_line, with a selection or (null) without.
LineOutcome convert_selected_line(std::string_view line, ConvertedLine& out,
                                  Selection* selection) {
  const LineClass line_class = classify_line(line);
  if (!line_class.is_record) return LineOutcome::Skipped;
  out.kind = line_class.kind;
  out.designation = designation_token(line, line_class.designation_column);
  if (selection != nullptr &&
      !is_selected(*selection, out.kind, line, out.designation))
    return LineOutcome::Skipped;
  if (!is_safe_designation(out.designation)) return LineOutcome::Rejected;

  constexpr std::string_view EXTENSION = ".elm";
  std::copy(out.designation.begin(), out.designation.end(), out.file_name);
  std::copy(EXTENSION.begin(), EXTENSION.end(),
            out.file_name + out.designation.size());
  out.file_name_size = out.designation.size() + EXTENSION.size();
  out.file_name[out.file_name_size] = '\0';

  ElementRecord record = convert_record(out.kind, line, out.designation);
  build_name_field(record.short_name.view(), out.designation, out.kind,
                   record.name_field);
  out.element_line_size =
      format_element_line(out.kind, record, out.element_line);
  return LineOutcome::Converted;
}

}  // namespace

LineOutcome convert_line(std::string_view line, ConvertedLine& out) {
  return convert_selected_line(line, out, nullptr);
}

LineOutcome convert_line(std::string_view line, ConvertedLine& out,
                         Selection& selection) {
  return convert_selected_line(line, out, &selection);
}

// ---------------------------------------------------------------------------
// The run: the only code that touches files, the console and the exit
// status.

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILURE_STATUS = 1;

// Standard output is flushed per line on a terminal and in large blocks
// otherwise; the buffer must be set before the first output.
//
// The block buffer is passed explicitly: given no buffer, glibc ignores the
// size and allocates one of the file system's block size (4 KiB). Standard
// output uses it until the process ends, after run returns, so it is
// allocated once and never freed. Without memory for it the C library's
// own buffering stays.
void set_up_console() {
  platform::report_broken_pipe_as_error();
  constexpr std::size_t CONSOLE_BLOCK = 1 << 16;
  if (platform::stdout_is_terminal())
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  else if (char* block = static_cast<char*>(std::malloc(CONSOLE_BLOCK)))
    std::setvbuf(stdout, block, _IOFBF, CONSOLE_BLOCK);
}

bool write_stdout(std::string_view text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

// The exit status after the console is flushed: a console that could not
// take its output turns success into failure.
int finish(int status) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::fprintf(stderr, "orbelm: cannot write to standard output: %s\n",
                 std::strerror(errno));
    return EXIT_FAILURE_STATUS;
  }
  return status;
}

// The file name typed at the prompt: one white-space-delimited token of any
// length. False when standard input ends before a token begins.
bool prompt_for_input_name(std::string& name) {
  write_stdout("input_file = ");
  std::fflush(stdout);
  int c = std::getchar();
  while (c != EOF && is_white_space(static_cast<char>(c))) c = std::getchar();
  while (c != EOF && !is_white_space(static_cast<char>(c))) {
    name.push_back(static_cast<char>(c));
    c = std::getchar();
  }
  return !name.empty();
}

// Longest part of a rejected designation that its diagnostic shows: a
// piece of a runaway line can make a token of 249 characters.
constexpr std::size_t MAX_SHOWN_DESIGNATION = 40;
// Longest input name that a diagnostic shows whole; a longer one is cut.
constexpr std::size_t MAX_SHOWN_NAME = 512;

// A diagnostic line in a fixed buffer, written whole with one call
// (standard error is unbuffered).
struct Diagnostic {
  char buffer[768];
  TextBuilder line{buffer, sizeof buffer};

  void append(std::string_view part) { line.text(part); }
  void append_number(std::size_t value) { line.number(value); }
  void append_name(std::string_view name) {
    append(name.substr(0, MAX_SHOWN_NAME));
    if (name.size() > MAX_SHOWN_NAME) append("...");
  }
  // Printable ASCII as it is, other bytes as \xHH, so a crafted record
  // cannot drive the terminal.
  void append_escaped(std::string_view part) {
    static constexpr char HEX[] = "0123456789ABCDEF";
    for (const char c : part.substr(0, MAX_SHOWN_DESIGNATION)) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte >= 0x20 && byte < 0x7f) {
        append({&c, 1});
      } else {
        const char escaped[] = {'\\', 'x', HEX[byte >> 4], HEX[byte & 0xF]};
        append({escaped, sizeof escaped});
      }
    }
    if (part.size() > MAX_SHOWN_DESIGNATION) append("...");
  }
  void write() const { std::fwrite(buffer, 1, line.size, stderr); }
};

using Clock = std::chrono::steady_clock;

// The status line of a long run, shown on standard error when it is a
// terminal and standard output is not (see progress.hpp for its text).
struct Progress {
  bool enabled = false;
  Clock::time_point start;
  Clock::time_point shown_at;
  std::size_t shown_size = 0;  // characters of the line on the screen
  ProgressFacts facts{};
};

// Rewrites the status line in place: a carriage return, the line, and
// blanks over the rest of a longer earlier line.
void draw_progress(Progress& progress, Clock::time_point now) {
  progress.facts.elapsed_seconds =
      std::chrono::duration<double>(now - progress.start).count();
  char text[MAX_PROGRESS_LINE] = {};
  const std::size_t size = format_progress(progress.facts, text);
  char line[1 + 2 * MAX_PROGRESS_LINE];
  line[0] = '\r';
  std::memcpy(line + 1, text, size);
  const std::size_t blanks =
      progress.shown_size > size ? progress.shown_size - size : 0;
  std::memset(line + 1 + size, ' ', blanks);
  std::fwrite(line, 1, 1 + size + blanks, stderr);
  progress.shown_size = size;
  progress.shown_at = now;
}

// Called once per input block; redraws at most four times a second.
void tick_progress(Progress& progress) {
  if (!progress.enabled) return;
  const Clock::time_point now = Clock::now();
  if (progress.shown_size == 0 ||
      now - progress.shown_at >= std::chrono::milliseconds(250))
    draw_progress(progress, now);
}

// Blanks the status line so that a diagnostic starts at the line's start;
// the next tick draws it again below.
void clear_progress(Progress& progress) {
  if (progress.shown_size == 0) return;
  char line[2 + MAX_PROGRESS_LINE];
  line[0] = '\r';
  std::memset(line + 1, ' ', progress.shown_size);
  line[1 + progress.shown_size] = '\r';
  std::fwrite(line, 1, 2 + progress.shown_size, stderr);
  progress.shown_size = 0;
}

// The status line with the final count and time, and its newline.
void end_progress(Progress& progress) {
  if (!progress.enabled) return;
  draw_progress(progress, Clock::now());
  std::fputc('\n', stderr);
}

// What the command line set up for the whole run, before the first input:
// which records to convert and where to write them.
struct RunSetup {
  Selection selection;
  platform::OutputFolder folder;
};

struct RunState {
  RunSetup& setup;
  std::string_view input_name{};  // as diagnostics name it
  std::size_t line_number = 1;    // in the current input
  bool any_failure = false;
  Progress progress{};
};

void report_rejected(RunState& state, std::string_view designation) {
  clear_progress(state.progress);
  Diagnostic message;
  message.append("orbelm: ");
  message.append_name(state.input_name);
  message.append(": line ");
  message.append_number(state.line_number);
  message.append(": designation \"");
  message.append_escaped(designation);
  message.append("\" ");
  message.append(designation_problem(designation));
  message.append("; record not converted\n");
  message.write();
}

// Damaged compressed data, or a read error: the lines read before it were
// converted, the rest of the input is not.
void report_input_failure(const InputStream& stream, RunState& state) {
  clear_progress(state.progress);
  Diagnostic message;
  message.append("orbelm: ");
  if (stream.failure != InputFailure::Damaged) {
    message.append("cannot read ");
    message.append_name(state.input_name);
    message.append(": ");
    message.append(std::strerror(stream.read_error));
    message.append("\n");
    message.write();
    return;
  }
  message.append_name(state.input_name);
  message.append(": ");
  message.append(stream.damage);
  if (!stream.damage_detail.empty()) {
    message.append(" (");
    message.append(stream.damage_detail);
    message.append(")");
  }
  const std::size_t whole_lines = state.line_number - 1;
  if (whole_lines == 0) {
    message.append("; no line converted\n");
  } else {
    message.append("; lines after line ");
    message.append_number(whole_lines);
    message.append(" not converted\n");
  }
  message.write();
}

// The outcome of one record, or of one input, for the run: go on, or stop
// with status 1.
enum class Step { Continue, Stop };

// Ends an interrupted run: the names printed so far are flushed, one line
// on standard error tells how far the run got, for example
// "orbelm: interrupted by SIGINT; 1234 element files written", and the
// process ends by the interruption.
[[noreturn]] void end_interrupted(int interruption, RunState& state) {
  std::fflush(stdout);
  clear_progress(state.progress);
  const std::size_t written = state.progress.facts.files_written;
  Diagnostic message;
  message.append("orbelm: interrupted by ");
  message.append(platform::interruption_name(interruption));
  message.append("; ");
  message.append_number(written);
  message.append(written == 1 ? " element file written\n"
                              : " element files written\n");
  message.write();
  platform::end_by_interruption(interruption);
}

Step finish_record(const ConvertedLine& converted, RunState& state) {
  const std::string_view name{converted.file_name, converted.file_name_size};
  if (!write_stdout(name) || !write_stdout("\n"))
    return Step::Stop;  // finish() reports it
  switch (platform::write_text_file(state.setup.folder, converted.file_name,
                                    converted.element_line,
                                    converted.element_line_size)) {
    case platform::WriteStatus::Written:
      ++state.progress.facts.files_written;
      return Step::Continue;
    case platform::WriteStatus::NotOpened:
      std::printf("%s  file not open\n", converted.file_name);
      break;
    case platform::WriteStatus::NotWritten:
      std::printf("%s  file not written\n", converted.file_name);
      break;
  }
  return Step::Stop;
}

Step process_piece(const LinePiece& piece, ConvertedLine& converted,
                   RunState& state) {
  switch (convert_line(piece.text, converted, state.setup.selection)) {
    case LineOutcome::Skipped:
      return Step::Continue;
    case LineOutcome::Rejected:
      report_rejected(state, converted.designation);
      state.any_failure = true;
      return Step::Continue;
    case LineOutcome::Converted:
      return finish_record(converted, state);
  }
  return Step::Continue;
}

long read_platform_input(void* file, char* buffer, std::size_t size) {
  return platform::read_input(*static_cast<platform::InputFile*>(file), buffer,
                              size);
}

// The line loop over an open input, plain or compressed. An interruption
// ends the process after the record in progress.
Step convert_input(platform::InputFile input, RunState& state) {
  LineReader reader;
  InputStream stream;
  ConvertedLine converted;
  open_stream(stream, read_platform_input, &input);
  state.line_number = 1;
  const FeedEnd end = feed_pieces(
      reader,
      [&stream, &state](char* buffer, std::size_t size) {
        const long count = read_stream(stream, buffer, size);
        state.progress.facts.bytes_read = stream.raw_read;
        tick_progress(state.progress);
        return count;
      },
      [&converted, &state](const LinePiece& piece) {
        if (process_piece(piece, converted, state) == Step::Stop) return false;
        if (piece.ends_line) ++state.line_number;
        return platform::interruption() == 0;
      });
  if (const int interruption = platform::interruption(); interruption != 0)
    end_interrupted(interruption, state);
  if (end == FeedEnd::ReadFailed) report_input_failure(stream, state);
  close_stream(stream);
  return end == FeedEnd::Finished ? Step::Continue : Step::Stop;
}

// Acts on a command line that asks for something other than a run.
int answer(const CommandLine& command) {
  switch (command.action) {
    case CommandLine::Action::Run:
      break;
    case CommandLine::Action::Help:
    case CommandLine::Action::Version:
      return finish(write_stdout(command.message) && write_stdout("\n")
                        ? EXIT_OK
                        : EXIT_FAILURE_STATUS);
    case CommandLine::Action::UsageError:
      std::fprintf(stderr, "orbelm: %s\n%.*s", command.message.c_str(),
                   static_cast<int>(USAGE_LINE.size()), USAGE_LINE.data());
      return finish(EXIT_USAGE);
  }
  return EXIT_OK;
}

// The designation list of FILE into `selection`; false, after a message,
// when the file cannot be read.
bool read_designation_list(const std::string& name, Selection& selection) {
  platform::InputFile file;
  switch (platform::open_input(name.c_str(), file)) {
    case platform::OpenStatus::Opened:
      break;
    case platform::OpenStatus::IsDirectory:
      errno = EISDIR;
      [[fallthrough]];
    case platform::OpenStatus::NotFound:
      std::fprintf(stderr, "orbelm: cannot read designation list %s: %s\n",
                   name.c_str(), std::strerror(errno));
      return false;
  }
  constexpr std::size_t BLOCK = 1 << 16;
  std::string text;
  long count = 0;
  do {
    const std::size_t size = text.size();
    text.resize(size + BLOCK);
    count = platform::read_input(file, text.data() + size, BLOCK);
    text.resize(size + static_cast<std::size_t>(count > 0 ? count : 0));
  } while (count > 0);
  const int error = errno;
  platform::close_input(file);
  if (count < 0) {
    std::fprintf(stderr, "orbelm: cannot read designation list %s: %s\n",
                 name.c_str(), std::strerror(error));
    return false;
  }
  selection.designations = parse_designation_list(text);
  return true;
}

// The selection and the output folder that `command` asks for; false,
// after a message, when either cannot be had.
bool set_up_run(const CommandLine& command, RunSetup& setup) {
  Selection& selection = setup.selection;
  selection.max_magnitude = command.max_magnitude;
  if (command.minor_planets || command.comets) {
    selection.minor_planets = command.minor_planets;
    selection.comets = command.comets;
  }
  if (command.designations_file &&
      !read_designation_list(*command.designations_file, selection))
    return false;
  if (command.output_dir && !platform::open_output_folder(
                                command.output_dir->c_str(), setup.folder)) {
    std::fprintf(stderr, "orbelm: cannot use output folder %s: %s\n",
                 command.output_dir->c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

// Listed designations that no record had: one line each for the first
// MAX_NOT_FOUND_SHOWN, then their count. They do not change the exit
// status: the list chooses records, it does not demand them.
constexpr std::size_t MAX_NOT_FOUND_SHOWN = 20;

void report_not_found(const DesignationList& list) {
  const std::vector<std::string_view> missing = designations_not_found(list);
  if (missing.empty()) return;
  for (std::size_t i = 0; i < missing.size() && i < MAX_NOT_FOUND_SHOWN; ++i) {
    Diagnostic message;
    message.append("orbelm: listed designation \"");
    message.append_escaped(missing[i]);
    message.append("\" not found\n");
    message.write();
  }
  std::fprintf(stderr, "orbelm: %zu listed designation%s not found\n",
               missing.size(), missing.size() == 1 ? "" : "s");
}

// Converts the inputs `names` in the order given, as one run, with the
// selection and into the folder of `setup`: the console and the element
// files are those of converting them one after the other, and line numbers
// count from 1 in each input. With `dash_reads_standard_input`, the name
// "-" reads standard input. An input that cannot be opened stops the run
// there ("NAME  file not open" on standard output); so does one that cannot
// be read or whose compressed data is damaged, after its whole lines before
// the damage (a message on standard error). Returns the exit status: 0 when
// every selected record of every input was converted, 1 otherwise.
int convert_inputs(std::span<const std::string> names,
                   bool dash_reads_standard_input, RunSetup& setup) {
  RunState state{setup};
  Progress& progress = state.progress;
  progress.enabled =
      platform::stderr_is_terminal() && !platform::stdout_is_terminal();
  progress.start = Clock::now();
  progress.facts.input_count = names.size();
  for (std::size_t i = 0; i < names.size(); ++i) {
    const bool from_standard_input =
        dash_reads_standard_input && names[i] == "-";
    platform::InputFile input;
    if (from_standard_input) {
      input = platform::standard_input();
    } else if (platform::open_input(names[i].c_str(), input) !=
               platform::OpenStatus::Opened) {
      std::printf("%s  file not open\n", names[i].c_str());
      end_progress(progress);
      return EXIT_FAILURE_STATUS;
    }
    // From here on an interruption ends the run between records; before
    // the first input is open it ends the program at once.
    if (i == 0) platform::begin_interruptible_run();
    state.input_name =
        from_standard_input ? std::string_view("standard input") : names[i];
    progress.facts.input_number = i + 1;
    progress.facts.input_name = state.input_name;
    progress.facts.bytes_read = 0;
    progress.facts.input_size = platform::input_size(input);
    const Step step = convert_input(input, state);
    platform::close_input(input);
    if (step == Step::Stop) {
      end_progress(progress);
      return EXIT_FAILURE_STATUS;
    }
  }
  end_progress(progress);
  platform::close_output_folder(setup.folder);
  if (setup.selection.designations)
    report_not_found(*setup.selection.designations);
  return state.any_failure ? EXIT_FAILURE_STATUS : EXIT_OK;
}

}  // namespace

int run(int argc, char** argv) {
  set_up_console();
  const CommandLine command = parse_command_line(argc, argv);
  if (command.action != CommandLine::Action::Run) return answer(command);
  RunSetup setup;
  if (!set_up_run(command, setup)) return finish(EXIT_FAILURE_STATUS);
  if (!command.inputs.empty())
    return finish(convert_inputs(command.inputs, true, setup));
  std::string input_name;
  if (!prompt_for_input_name(input_name)) {
    write_stdout("\n");
    std::fputs("orbelm: no input file name given\n", stderr);
    return finish(EXIT_FAILURE_STATUS);
  }
  // The name typed at the prompt is a file name, "-" too.
  return finish(convert_inputs({&input_name, 1}, false, setup));
}

}  // namespace orbelm
