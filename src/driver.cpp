#include "driver.hpp"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "command_line.hpp"
#include "console.hpp"
#include "convert_line.hpp"
#include "element_files.hpp"
#include "input.hpp"
#include "input_messages.hpp"
#include "lines.hpp"
#include "look_ahead.hpp"
#include "platform.hpp"
#include "report.hpp"
#include "selection.hpp"

namespace orbelm {
namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILURE_STATUS = 1;

// The exit status after the console is flushed: a console that could not
// take its output turns success into failure.
int finish(int status) { return flush_stdout() ? status : EXIT_FAILURE_STATUS; }

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

// What the command line set up for the whole run, before the first input:
// which records to convert and where to write them.
struct RunSetup {
  Selection selection;
  std::optional<std::string> report_file;  // --report
  ElementFiles files;
  unsigned jobs = DEFAULT_JOBS;
  bool input_closed = false;      // standard input was closed at the start
  std::size_t console_block = 0;  // set_up_console's
};

struct RunState {
  RunSetup& setup;
  LookAheadWindow& window;
  std::string_view input_name{};  // as diagnostics name it
  std::size_t line_number = 1;    // in the current input
  bool any_failure = false;
  Progress progress{};
  ConvertedLine converted{};  // the record in progress without the window
  NameOutput names{setup.console_block};
  std::vector<ReportEntry> report{};  // with --report: each record selected
};

// The outcome of one record, or of one input, for the run: go on, or stop
// with status 1.
enum class Step { Continue, Stop };

// Ends an interrupted run: the names printed so far are flushed, one line
// on standard error tells how far the run got (see report_interrupted),
// and the process ends by the interruption.
[[noreturn]] void end_interrupted(int interruption, RunState& state) {
  close_element_states(state.setup.files, false);
  std::fflush(stdout);
  clear_progress(state.progress);
  report_interrupted(platform::interruption_name(interruption),
                     state.setup.files, state.progress.facts.files);
  platform::end_by_interruption(interruption);
}

// Prints the name of the record's element file, then writes the file with
// what `look` found of it, once confirmed for a record of the window
// (`pending`), and what the last run's record of file states knows of it
// (`known`); `status` tells how that went.
Step finish_record(const ConvertedLine& converted, const KnownState& known,
                   platform::FileLook& look, RunState& state,
                   platform::WriteStatus& status,
                   PendingRecord* pending = nullptr) {
  // The name and its newline in one write: the C library's stream locks
  // and checks on every call.
  char name_line[sizeof converted.file_name + 1];
  std::memcpy(name_line, converted.file_name, converted.file_name_size);
  name_line[converted.file_name_size] = '\n';
  status = platform::WriteStatus::NotOpened;
  if (!write_name(state.names, {name_line, converted.file_name_size + 1}))
    return Step::Stop;  // finish() reports it
  if (pending != nullptr)
    confirm_look(state.window, *pending, state.names.written);
  status = put_element_file(state.setup.files, converted, known, look,
                            state.progress.facts.files);
  switch (status) {
    case platform::WriteStatus::Created:
    case platform::WriteStatus::Changed:
    case platform::WriteStatus::Unchanged:
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

// Finishes the oldest record of the look-ahead window.
Step commit_oldest(RunState& state) {
  PendingRecord& record = oldest_record(state.window);
  platform::WriteStatus status{};
  const Step step = finish_record(record.converted, record.known,
                                  look_of(record), state, status, &record);
  retire_oldest(state.window, status);
  return step;
}

// Finishes every record of the window, in order; stops early at an
// interruption.
Step commit_window(RunState& state) {
  const LookAheadWindow& window = state.window;
  while (!window_empty(window)) {
    if (commit_oldest(state) == Step::Stop) return Step::Stop;
    if (platform::interruption() != 0) return Step::Stop;
  }
  return Step::Continue;
}

Step process_piece(const LinePiece& piece, RunState& state) {
  LookAheadWindow& window = state.window;
  // A record ahead of its turn goes into the window while the files ahead
  // are looked at, and after records that did.
  const bool ahead = looking_ahead(window) || !window_empty(window);
  if (ahead && window_full(window) && commit_oldest(state) == Step::Stop)
    return Step::Stop;
  ConvertedLine& converted = ahead ? next_record(window) : state.converted;
  switch (convert_line(piece.text, converted, state.setup.selection)) {
    case LineOutcome::Skipped:
      return Step::Continue;
    case LineOutcome::Rejected:
      // After the records before it, as a run without the window says it.
      if (commit_window(state) == Step::Stop) return Step::Stop;
      clear_progress(state.progress);
      report_rejected(state.input_name, state.line_number,
                      converted.designation);
      state.any_failure = true;
      return Step::Continue;
    case LineOutcome::Converted:
      break;
  }
  if (state.setup.report_file)
    state.report.push_back(report_entry(
        converted.kind, piece.text, converted.designation, converted.sighting));
  const KnownState known = know_element_file(state.setup.files, converted);
  if (ahead) {
    publish_record(window, known);
    return looking_ahead(window) ? Step::Continue : commit_window(state);
  }
  platform::FileLook look;
  look_now(window, converted, known, look);
  platform::WriteStatus status{};
  const Step step = finish_record(converted, known, look, state, status);
  platform::forget_look(look);
  note_finished(window, status);
  return step;
}

long read_platform_input(void* file, char* buffer, std::size_t size) {
  return platform::read_input(*static_cast<platform::InputFile*>(file), buffer,
                              size);
}

// The line loop over an open input, plain or compressed. An interruption
// ends the process after the record in progress. The records of the
// look-ahead window are finished before each read that may wait (a pipe,
// a terminal), so that no name waits for the input, and at the end. A
// last line that the end of the input cut (is_cut_record) is not
// converted, and stops the run after the lines before it, as damage does.
Step convert_input(platform::InputFile input, RunState& state) {
  LineReader reader;
  InputStream stream;
  open_stream(stream, read_platform_input, &input);
  state.line_number = 1;
  bool window_stopped = false;
  CutRecord cut{0, 0};
  FeedEnd end = feed_pieces(
      reader,
      [&stream, &state, &input, &window_stopped](char* buffer,
                                                 std::size_t size) {
        if (!input.regular && commit_window(state) == Step::Stop) {
          window_stopped = true;
          return -1L;
        }
        const long count = read_stream(stream, buffer, size);
        state.progress.facts.bytes_read = stream.raw_read;
        tick_progress(state.progress);
        return count;
      },
      [&state, &cut](const LinePiece& piece) {
        if (is_cut_record(piece, cut)) return true;  // reported below
        if (process_piece(piece, state) == Step::Stop) return false;
        if (piece.ends_line) ++state.line_number;
        return platform::interruption() == 0;
      });
  if (window_stopped) end = FeedEnd::Stopped;
  // The records before the end of the input, or before its damage, are
  // finished before the damage is reported.
  if (end != FeedEnd::Stopped && commit_window(state) == Step::Stop)
    end = FeedEnd::Stopped;
  if (const int interruption = platform::interruption(); interruption != 0)
    end_interrupted(interruption, state);
  if (end == FeedEnd::ReadFailed) {
    clear_progress(state.progress);
    report_input_failure(stream, state.input_name, state.line_number - 1);
  } else if (end == FeedEnd::Finished && cut.size != 0) {
    clear_progress(state.progress);
    report_cut_record(state.input_name, state.line_number, cut);
    end = FeedEnd::Stopped;
  }
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
      std::fprintf(stderr, "orbelm: %s\n%.*s%.*s", command.message.c_str(),
                   static_cast<int>(USAGE_LINE.size()), USAGE_LINE.data(),
                   static_cast<int>(TRY_HELP_LINE.size()),
                   TRY_HELP_LINE.data());
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

// The Julian Day of 0h UTC of the current date, by the system's clock.
double today_utc() {
  constexpr double UNIX_EPOCH_JD = 2440587.5;  // 1970-01-01 0h UTC
  const auto days = std::chrono::floor<std::chrono::days>(
      std::chrono::system_clock::now().time_since_epoch());
  return UNIX_EPOCH_JD + static_cast<double>(days.count());
}

// The window of --max-apparent-magnitude (made once: the Earth's positions
// over it), when it is given.
void set_up_sky(const CommandLine& command, Selection& selection) {
  if (!command.max_apparent_magnitude) return;
  selection.sky = make_sky_window(
      command.window_start ? *command.window_start : today_utc(),
      command.window_days.value_or(1.0), *command.max_apparent_magnitude,
      command.min_elongation.value_or(0.0));
}

// The selection and the output folder that `command` asks for; false,
// after a message, when either cannot be had.
bool set_up_run(const CommandLine& command, RunSetup& setup) {
  setup.input_closed = platform::guard_standard_streams();
  Selection& selection = setup.selection;
  selection.max_magnitude = command.max_magnitude;
  if (command.minor_planets || command.comets) {
    selection.minor_planets = command.minor_planets;
    selection.comets = command.comets;
  }
  selection.all_comet_types = command.all_comet_types;
  set_up_sky(command, selection);
  setup.report_file = command.report_file;
  if (command.designations_file &&
      !read_designation_list(*command.designations_file, selection))
    return false;
  setup.jobs = command.jobs;
  setup.files.dry_run = command.dry_run;
  setup.files.prune = command.prune;
  setup.files.max_delete = command.max_delete;
  setup.files.read_all = command.read_all;
  return open_element_folder(command.output_dir, setup.files);
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

// The end of a run that was not interrupted, with `status` so far: the dry
// run's report, the final status line, the listed designations not found
// (only when every input was read to its end). Returns the exit status.
int end_run(RunState& state, int status) {
  stop_look_ahead(state.window);
  RunSetup& setup = state.setup;
  if (setup.files.dry_run) {
    clear_progress(state.progress);
    report_dry_run(setup.files, state.progress.facts.files);
  }
  end_progress(state.progress);
  // Only a run that went through every input knows every file it recorded.
  close_element_states(setup.files, status == EXIT_OK);
  platform::close_output_folder(setup.files.folder);
  if (status != EXIT_OK) return status;
  if (setup.selection.designations)
    report_not_found(*setup.selection.designations);
  return state.any_failure ? EXIT_FAILURE_STATUS : EXIT_OK;
}

// Writes the report of the records selected; false, after a message, when
// it cannot be written.
bool write_report(RunState& state) {
  const std::string& name = *state.setup.report_file;
  if (platform::write_whole_file(name.c_str(), report_text(state.report)))
    return true;
  const int error = errno;
  clear_progress(state.progress);
  std::fprintf(stderr, "orbelm: cannot write report %s: %s\n", name.c_str(),
               std::strerror(error));
  return false;
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
  LookAheadWindow window;
  start_look_ahead(window, setup.files.folder, setup.files.dry_run, setup.jobs);
  RunState state{setup, window};
  Progress& progress = state.progress;
  progress.enabled =
      platform::stderr_is_terminal() && !platform::stdout_is_terminal();
  progress.start = Clock::now();
  progress.facts.input_count = names.size();
  progress.facts.with_removed = setup.files.prune;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const bool from_standard_input =
        dash_reads_standard_input && names[i] == "-";
    platform::InputFile input;
    if (from_standard_input && setup.input_closed) {
      clear_progress(progress);
      std::fputs("orbelm: cannot read standard input: it is closed\n", stderr);
      return end_run(state, EXIT_FAILURE_STATUS);
    }
    if (from_standard_input) {
      input = platform::standard_input();
    } else if (platform::open_input(names[i].c_str(), input) !=
               platform::OpenStatus::Opened) {
      std::printf("%s  file not open\n", names[i].c_str());
      return end_run(state, EXIT_FAILURE_STATUS);
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
    if (step == Step::Stop) return end_run(state, EXIT_FAILURE_STATUS);
  }
  // Only a run that read every input to its end, and whose names all
  // reached standard output, knows what is stale.
  if (setup.files.prune && console_written() &&
      !remove_stale_files(setup.files, progress.facts.files, progress))
    state.any_failure = true;
  if (const int interruption = platform::interruption(); interruption != 0)
    end_interrupted(interruption, state);
  // Only a run that read every input to its end has the whole list.
  if (setup.report_file && !write_report(state)) state.any_failure = true;
  return end_run(state, EXIT_OK);
}

}  // namespace

int run(int argc, char** argv) {
  const std::size_t console_block = set_up_console();
  const CommandLine command = parse_command_line(argc, argv);
  if (command.action != CommandLine::Action::Run) return answer(command);
  RunSetup setup;
  setup.console_block = console_block;
  if (!set_up_run(command, setup)) return finish(EXIT_FAILURE_STATUS);
  std::span<const std::string> names = command.inputs;
  std::string typed_name;
  if (names.empty()) {
    if (!prompt_for_input_name(typed_name)) {
      write_stdout("\n");
      std::fputs("orbelm: no input file name given\n", stderr);
      return finish(EXIT_FAILURE_STATUS);
    }
    names = {&typed_name, 1};
  }
  // After the prompt, so that a run waiting for its input name does not
  // keep another from the folder.
  if (!claim_element_folder(setup.files)) return finish(EXIT_FAILURE_STATUS);
  // The name typed at the prompt is a file name, "-" too.
  return finish(convert_inputs(names, !command.inputs.empty(), setup));
}

}  // namespace orbelm
