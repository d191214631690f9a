// The command line: which inputs to convert, where the element files go and
// which records to convert, or what else the program is asked to do.
//
// parse_command_line only reads the arguments: it does not print, touch a
// file or end the process. The driver acts on the result (and alone prints
// the help, the version and errors).
#ifndef ORBELM_COMMAND_LINE_HPP
#define ORBELM_COMMAND_LINE_HPP

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orbelm {

// Exit status of a command line that cannot be parsed.
inline constexpr int EXIT_USAGE = 2;

// The lines the driver prints under a command-line error, as GNU tools do:
//   orbelm: unrecognized option '--bogus'
//   Usage: orbelm [OPTIONS] [INPUT_FILE...]
//   Try 'orbelm --help' for more information.
inline constexpr std::string_view USAGE_LINE =
    "Usage: orbelm [OPTIONS] [INPUT_FILE...]\n";
inline constexpr std::string_view TRY_HELP_LINE =
    "Try 'orbelm --help' for more information.\n";

// The --jobs of a run that gives none: the run's own thread and 15
// look-ahead workers. Their looks mostly wait on the disk, so more workers
// than cores pay; more than 16 threads did not pay here: a cold refresh of
// 300,000 files on 2 cores took a median 5.46 s with 16 threads in two
// sittings, 6.12 s and 5.66 s with 32, against 4.61 s and 5.66 s for 32
// processes that only read and compare.
inline constexpr unsigned DEFAULT_JOBS = 16;
inline constexpr unsigned MAX_JOBS = 256;

struct CommandLine {
  enum class Action {
    Run,         // convert `inputs` (none given: ask for one at the prompt)
    Help,        // print `message` on standard output, exit status 0
    Version,     // print `message` on standard output, exit status 0
    UsageError,  // print "orbelm: ", `message`, then USAGE_LINE and
                 // TRY_HELP_LINE on standard error; exit status EXIT_USAGE
  };
  Action action = Action::Run;
  std::string message;  // the help text, the version line or the error;
                        // each without its final newline

  std::vector<std::string> inputs;        // in the order given; "-" kept
  std::optional<std::string> output_dir;  // none: the current folder
  std::optional<double> max_magnitude;
  bool minor_planets = false;  // --minor-planets
  bool comets = false;         // --comets
  std::optional<std::string> designations_file;
  bool all_comet_types = false;  // --all-comet-types
  bool prune = false;            // --prune
  bool dry_run = false;          // --dry-run
  bool read_all = false;         // --read-all
  unsigned jobs = DEFAULT_JOBS;  // -j, --jobs: threads on element files
  // --max-delete N: the most files pruning removes; "all" gives the largest
  // value. None: the default limit.
  std::optional<std::uint64_t> max_delete;

  // What can be seen: --max-apparent-magnitude V selects by the predicted
  // apparent magnitude over a window of --days days (default 1) from 0h
  // UTC of --date (default: the current UTC date, which the driver reads),
  // at least --min-elongation degrees from the Sun (default 0); --report
  // FILE lists what it selected. The others need --max-apparent-magnitude.
  std::optional<double> max_apparent_magnitude;
  std::optional<double> window_start;      // --date: Julian Day of its 0h UTC
  std::optional<double> window_days;       // --days
  std::optional<double> min_elongation;    // --min-elongation, degrees
  std::optional<std::string> report_file;  // --report
};

// The window's span: --date from 1900-01-01 to 2100-12-31, the years for
// which the Earth's model is measured; --days more than 0 and at most
// MAX_WINDOW_DAYS (a century: the Earth's positions over the window take
// 48 bytes a day).
inline constexpr int FIRST_DATE_YEAR = 1900;
inline constexpr int LAST_DATE_YEAR = 2100;
inline constexpr double MAX_WINDOW_DAYS = 36525.0;

// The command line of `argc` arguments (argv[0] is the program's name),
// read as GNU getopt_long reads it. Options may stand before, between and
// after the input names; "--" ends the options, so that every later
// argument is an input name ("-x" too); "-" is an input name (standard
// input), never an option. The arguments are read in order, and the first
// of --help, --version and a wrong option decides: "--help --bogus" gives
// Help, "--bogus --help" UsageError. Its message is the one GNU tools
// give:
//   "unrecognized option '--bogus'", "invalid option -- 'x'",
//   "option '--output-dir' requires an argument",
//   "option requires an argument -- 'o'",
//   "option '--dry-run' doesn't allow an argument" (every option without a
//   value: --dry-run=no is no way to say no),
//   "option '--output-dir' given more than once" (any option, -o or
//   --output-dir),
//   "invalid argument 'abc' for '--max-magnitude'" for a value that is not
//   a finite decimal number, "invalid argument '0' for '--jobs'" for one
//   that is not a whole number from 1 to 256, "invalid argument '-1' for
//   '--max-delete'" for one that is neither a whole number nor "all",
//   "invalid argument '2026-02-30' for '--date'" for a date that is not
//   YYYY-MM-DD of the calendar between FIRST_DATE_YEAR and LAST_DATE_YEAR,
//   "invalid argument '0' for '--days'" for a number of days that is not
//   above 0 and at most MAX_WINDOW_DAYS, "invalid argument '181' for
//   '--min-elongation'" for one outside 0-180, "invalid argument '-' for
//   '--report'" (standard output holds the names) or an empty name,
//   "option '--max-delete' requires '--prune'", "option '--date' requires
//   '--max-apparent-magnitude'" (also --days, --min-elongation, --report).
// Example: {"orbelm", "-o", "out", "a.txt", "--", "-b"} gives Run with
// inputs {"a.txt", "-b"} and output_dir "out".
CommandLine parse_command_line(int argc, const char* const* argv);

// The decimal number that `text` holds in full, as --max-magnitude takes
// it: an optional sign, digits with an optional point, an optional
// exponent; none for anything else, also for "inf", "nan" and "".
// Examples: "12" is 12, "+7.5" is 7.5, "-1e1" is -10; "12," and "abc" are
// none.
std::optional<double> parse_limit(std::string_view text);

// The Julian Day of 0h UTC of the date `text` holds in full as YYYY-MM-DD,
// a day of the Gregorian calendar in the years FIRST_DATE_YEAR to
// LAST_DATE_YEAR; none for anything else.
// Examples: "2026-12-11" is 2461385.5; "2024-02-29" is a date;
// "2026-02-30", "2026-2-3", "tomorrow" and "1899-12-31" are none.
std::optional<double> parse_date(std::string_view text);

}  // namespace orbelm

#endif
