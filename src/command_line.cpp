#include "command_line.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "calendar.hpp"
#include "columns.hpp"

namespace orbelm {
namespace {

constexpr const char* DESCRIPTION =
    "Converts the orbital elements of minor planets and comets, one\n"
    "record per line in the Minor Planet Center's fixed-column layouts,\n"
    "into element files: for every record one file DESIGNATION.elm in\n"
    "the current folder (or DIR), holding one line. Prints the name of\n"
    "each element file as it writes it. Several input files are\n"
    "converted in the order given, as one run; \"-\" reads standard\n"
    "input. An input in gzip format (MPCORB.DAT.gz) is decompressed as\n"
    "it is read. Without INPUT_FILE it asks for the name\n"
    "(\"input_file = \"). When standard error is a terminal and standard\n"
    "output is not, a status line on standard error shows the progress.\n"
    "The options choose which records are converted; a record must pass\n"
    "every one given.\n"
    "\n"
    "An existing element file that already holds its line is left\n"
    "untouched (its modification time too); otherwise it is overwritten\n"
    "in place and cut to the new line's length. A run records the state\n"
    "of the files it found holding their lines (.orbelm-states in the\n"
    "folder, on Linux and macOS file systems that keep change times):\n"
    "the next run takes such a file, unchanged since, as holding its\n"
    "line without reading it. One run at a time writes into a folder:\n"
    "another run into it waits until the first ends.\n"
    "An interruption (SIGINT or "
    "Ctrl-C, SIGTERM, SIGHUP;\n"
    "on Windows also Ctrl-Break and closing the console) ends the run\n"
    "after the record in progress: its file is written whole, standard\n"
    "error tells how many element files were written, and the program\n"
    "ends by the same signal.";

constexpr const char* EXIT_STATUS =
    "Exit status: 0 when every selected record was converted; 1 when an\n"
    "input, the designation list, DIR, an element file or the report\n"
    "cannot be opened, read or written, compressed input is damaged, an\n"
    "input ends inside a record or in the first 4 characters of a line,\n"
    "a record was not converted because its designation cannot name a\n"
    "file, or --prune would remove more than --max-delete allows; 2 when\n"
    "the command line is wrong.";

// A --max-delete value: a whole number, or "all" for no limit.
std::optional<std::uint64_t> parse_max_delete(std::string_view text) {
  if (text == "all") return std::numeric_limits<std::uint64_t>::max();
  std::uint64_t count = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), count);
  if (error != std::errc() || end != text.data() + text.size())
    return std::nullopt;
  return count;
}

// What an option does when it is given: stores its value (a flag gets "")
// in `line`; false when the value is not one the option takes.
using Take = bool (*)(std::string_view value, CommandLine& line);

template <bool CommandLine::*Flag>
bool set_flag(std::string_view /*value*/, CommandLine& line) {
  line.*Flag = true;
  return true;
}

template <std::optional<std::string> CommandLine::*Name>
bool take_name(std::string_view value, CommandLine& line) {
  line.*Name = std::string(value);
  return true;
}

bool take_help(std::string_view /*value*/, CommandLine& line) {
  line.action = CommandLine::Action::Help;
  return true;
}

bool take_version(std::string_view /*value*/, CommandLine& line) {
  line.action = CommandLine::Action::Version;
  line.message = "orbelm " ORBELM_VERSION;
  return true;
}

bool take_max_magnitude(std::string_view value, CommandLine& line) {
  line.max_magnitude = parse_limit(value);
  return line.max_magnitude.has_value();
}

bool take_max_apparent_magnitude(std::string_view value, CommandLine& line) {
  line.max_apparent_magnitude = parse_limit(value);
  return line.max_apparent_magnitude.has_value();
}

bool take_date(std::string_view value, CommandLine& line) {
  line.window_start = parse_date(value);
  return line.window_start.has_value();
}

bool take_days(std::string_view value, CommandLine& line) {
  line.window_days = parse_limit(value);
  return line.window_days && *line.window_days > 0.0 &&
         *line.window_days <= MAX_WINDOW_DAYS;
}

bool take_min_elongation(std::string_view value, CommandLine& line) {
  line.min_elongation = parse_limit(value);
  return line.min_elongation && *line.min_elongation >= 0.0 &&
         *line.min_elongation <= 180.0;
}

// Standard output holds the names, so the report cannot go there.
bool take_report(std::string_view value, CommandLine& line) {
  line.report_file = std::string(value);
  return !value.empty() && value != "-";
}

bool take_max_delete(std::string_view value, CommandLine& line) {
  line.max_delete = parse_max_delete(value);
  return line.max_delete.has_value();
}

bool take_jobs(std::string_view value, CommandLine& line) {
  const auto [end, error] =
      std::from_chars(value.data(), value.data() + value.size(), line.jobs);
  return error == std::errc() && end == value.data() + value.size() &&
         line.jobs >= 1 && line.jobs <= MAX_JOBS;
}

// An option: its long name (without "--"), its short name ('\0': none), the
// name of its value in the help (empty for a flag, which takes no value),
// its help text and what it does. The help lists the options in this order.
struct Option {
  std::string_view long_name;
  char short_name;
  std::string_view value_name;
  std::string_view help;
  Take take;
};

constexpr std::array OPTIONS{
    Option{"help", 'h', "", "show this help and exit", take_help},
    Option{"version", '\0', "", "show the version and exit", take_version},
    Option{"output-dir", 'o', "DIR",
           "write the element files into DIR (made when\n"
           "missing); the names printed stay bare",
           take_name<&CommandLine::output_dir>},
    Option{"max-magnitude", '\0', "H",
           "only records whose absolute magnitude is at\n"
           "most H; a record without one is left out",
           take_max_magnitude},
    Option{"minor-planets", '\0', "", "only minor planets",
           set_flag<&CommandLine::minor_planets>},
    Option{"comets", '\0', "", "only comets", set_flag<&CommandLine::comets>},
    Option{"all-comet-types", '\0', "",
           "also convert the interstellar objects (0003I)\n"
           "and asteroids on cometary orbits (AK17U010)\n"
           "of a comet file, as comets; without it they\n"
           "are skipped",
           set_flag<&CommandLine::all_comet_types>},
    Option{"designations", '\0', "FILE",
           "only records whose designation is listed in\n"
           "FILE, one per line (lines starting with # are\n"
           "comments); listed designations that no record\n"
           "has are named on standard error",
           take_name<&CommandLine::designations_file>},
    Option{"max-apparent-magnitude", '\0', "V",
           "only records predicted to be of apparent\n"
           "magnitude V or brighter at some instant of the\n"
           "window (two-body orbits, geocentric)",
           take_max_apparent_magnitude},
    Option{"date", '\0', "YYYY-MM-DD",
           "with --max-apparent-magnitude, start the\n"
           "window at 0h UTC of that day, 1900-2100\n"
           "(default: today, UTC)",
           take_date},
    Option{"days", '\0', "N",
           "with --max-apparent-magnitude, the window's\n"
           "length in days, above 0 (fractions allowed) and\n"
           "at most 36525 (default 1)",
           take_days},
    Option{"min-elongation", '\0', "DEG",
           "with --max-apparent-magnitude, only at\n"
           "instants when the object is at least DEG\n"
           "(0-180) from the Sun in the sky",
           take_min_elongation},
    Option{"report", '\0', "FILE",
           "with --max-apparent-magnitude, write the\n"
           "selected records' brightest moments to FILE\n"
           "as CSV, brightest first, once every input is\n"
           "read (not -; a dry run writes it too)",
           take_report},
    Option{"prune", '\0', "",
           "after a complete run, remove every *.elm file in\n"
           "the folder that this run did not write or leave\n"
           "unchanged, including what the options above\n"
           "left out: give all inputs in one run",
           set_flag<&CommandLine::prune>},
    Option{"max-delete", '\0', "N",
           "with --prune, remove nothing when more than N\n"
           "files are stale, and say so (default: a tenth\n"
           "of the folder's element files, no limit below\n"
           "20; all: no limit)",
           take_max_delete},
    Option{"dry-run", '\0', "",
           "write and remove no element file; tell how many\n"
           "would be created, changed, left unchanged\n"
           "and (with --prune) removed, naming those",
           set_flag<&CommandLine::dry_run>},
    Option{"read-all", '\0', "",
           "read every element file to compare it, trusting\n"
           "no record of an earlier run's file states (a\n"
           "new record is made)",
           set_flag<&CommandLine::read_all>},
    Option{"jobs", 'j', "N",
           "work on the element files with N threads: the\n"
           "run's own, which writes every file in input\n"
           "order, and N-1 that read existing files ahead\n"
           "of it (default 16; 1: one thread)",
           take_jobs},
};

// Options that mean something only with another: {option, needed}.
struct Requirement {
  std::string_view option;
  std::string_view needed;
};

constexpr std::array REQUIREMENTS{
    Requirement{"max-delete", "prune"},
    Requirement{"date", "max-apparent-magnitude"},
    Requirement{"days", "max-apparent-magnitude"},
    Requirement{"min-elongation", "max-apparent-magnitude"},
    Requirement{"report", "max-apparent-magnitude"},
};

std::size_t option_index(std::string_view long_name) {
  return static_cast<std::size_t>(std::find_if(OPTIONS.begin(), OPTIONS.end(),
                                               [long_name](const Option& o) {
                                                 return o.long_name ==
                                                        long_name;
                                               }) -
                                  OPTIONS.begin());
}

// The help as it reads best here: the usage line first, then what the
// program does, the options (laid out by CLI11) and the exit statuses. The
// input names are explained in the description, so they get no list of
// their own.
class HelpFormatter : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string /*name*/,
                        CLI::AppFormatMode mode) const override {
    return std::string(USAGE_LINE) + "\n" + make_description(app) +
           make_groups(app, mode) + "\n" + make_footer(app);
  }
};

std::string help_text() {
  CLI::App app;
  app.description(DESCRIPTION);
  app.footer(EXIT_STATUS);
  app.formatter(std::make_shared<HelpFormatter>());
  app.get_formatter()->column_width(24);
  app.set_help_flag();  // -h and --help are listed with the others
  for (const Option& option : OPTIONS) {
    std::string names;
    if (option.short_name != '\0') names = {'-', option.short_name, ','};
    names.append("--").append(option.long_name);
    const std::string help(option.help);
    if (option.value_name.empty())
      app.add_flag(names, help);
    else
      app.add_option(names, help)->type_name(std::string(option.value_name));
  }
  std::string text = app.help();
  while (text.ends_with('\n')) text.pop_back();
  return text;
}

// The arguments as GNU getopt_long reads them: options and input names in
// any order, "--" ends the options, "-" is an input name, short flags
// group ("-hj4"), a value follows its option as the next argument or
// attached ("-j4", "--jobs=4"), even when it starts with "-". Long names
// are not abbreviated: a later option could make an abbreviation
// ambiguous.
struct ArgumentReader {
  CommandLine& line;
  const char* const* argv;
  int argc;
  int next = 1;  // the argument after the one being read
  std::array<bool, OPTIONS.size()> given{};
};

void fail(CommandLine& line, std::string message) {
  line.action = CommandLine::Action::UsageError;
  line.message = std::move(message);
}

// Gives `option` its value: `attached`, or for an option that takes one and
// has none attached, the next argument. `long_form`: whether the argument
// named it by its long name.
void apply(ArgumentReader& reader, const Option& option,
           std::optional<std::string_view> attached, bool long_form) {
  const std::string name = "--" + std::string(option.long_name);
  if (option.value_name.empty() && attached)
    return fail(reader.line, "option '" + name + "' doesn't allow an argument");
  if (!option.value_name.empty() && !attached) {
    if (reader.next == reader.argc)
      return fail(reader.line,
                  long_form ? "option '" + name + "' requires an argument"
                            : std::string("option requires an argument -- '") +
                                  option.short_name + "'");
    attached = reader.argv[reader.next++];
  }
  bool& given =
      reader.given[static_cast<std::size_t>(&option - OPTIONS.data())];
  if (given)
    return fail(reader.line, "option '" + name + "' given more than once");
  given = true;
  const std::string_view value = attached.value_or("");
  if (!option.take(value, reader.line))
    fail(reader.line,
         "invalid argument '" + std::string(value) + "' for '" + name + "'");
}

// "--name" or "--name=value".
void read_long_option(ArgumentReader& reader, std::string_view word) {
  const std::size_t equals = word.find('=');
  const std::string_view name = word.substr(2, equals - 2);
  const auto* option =
      std::find_if(OPTIONS.begin(), OPTIONS.end(),
                   [name](const Option& o) { return o.long_name == name; });
  if (option == OPTIONS.end())
    return fail(reader.line, "unrecognized option '" + std::string(word) + "'");
  apply(reader, *option,
        equals == std::string_view::npos
            ? std::nullopt
            : std::optional(word.substr(equals + 1)),
        true);
}

// "-x", a group of short flags "-xy", and one ending in an option that
// takes a value, with the value attached or not ("-hjN", "-hj").
void read_short_options(ArgumentReader& reader, std::string_view word) {
  for (std::size_t at = 1; at < word.size(); ++at) {
    const char letter = word[at];
    const auto* option = std::find_if(
        OPTIONS.begin(), OPTIONS.end(),
        [letter](const Option& o) { return o.short_name == letter; });
    if (option == OPTIONS.end())
      return fail(reader.line,
                  std::string("invalid option -- '") + letter + "'");
    const bool rest_is_value =
        !option->value_name.empty() && at + 1 < word.size();
    apply(reader, *option,
          rest_is_value ? std::optional(word.substr(at + 1)) : std::nullopt,
          false);
    if (rest_is_value || reader.line.action != CommandLine::Action::Run) return;
  }
}

// The first option given without the option it needs is a usage error.
void check_requirements(ArgumentReader& reader) {
  if (reader.line.action != CommandLine::Action::Run) return;
  const auto* unmet =
      std::find_if(REQUIREMENTS.begin(), REQUIREMENTS.end(),
                   [&reader](const Requirement& r) {
                     return reader.given[option_index(r.option)] &&
                            !reader.given[option_index(r.needed)];
                   });
  if (unmet != REQUIREMENTS.end())
    fail(reader.line, "option '--" + std::string(unmet->option) +
                          "' requires '--" + std::string(unmet->needed) + "'");
}

}  // namespace

std::optional<double> parse_limit(std::string_view text) {
  // read_decimal_chars takes no "+" and reads "inf" and "nan", which are no
  // magnitude limits.
  if (text.starts_with('+')) text.remove_prefix(1);
  if (text.empty() || text.front() == '+') return std::nullopt;
  double value = 0.0;
  const auto [end, error] =
      read_decimal_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() ||
      !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::optional<double> parse_date(std::string_view text) {
  constexpr std::string_view SHAPE = "dddd-dd-dd";
  if (text.size() != SHAPE.size()) return std::nullopt;
  for (std::size_t i = 0; i < SHAPE.size(); ++i)
    if (SHAPE[i] == 'd' ? !is_decimal_digit(text[i]) : text[i] != SHAPE[i])
      return std::nullopt;
  const auto number = [text](std::size_t at, std::size_t size) {
    int value = 0;
    for (std::size_t i = at; i < at + size; ++i)
      value = value * 10 + (text[i] - '0');
    return value;
  };
  const int year = number(0, 4);
  const int month = number(5, 2);
  const int day = number(8, 2);
  if (year < FIRST_DATE_YEAR || year > LAST_DATE_YEAR || day < 1 ||
      day > days_in_month(year, month))
    return std::nullopt;
  return julian_day(year, month, day);
}

CommandLine parse_command_line(int argc, const char* const* argv) {
  CommandLine line;
  ArgumentReader reader{line, argv, argc};
  while (reader.next < argc && line.action == CommandLine::Action::Run) {
    const std::string_view word = argv[reader.next++];
    if (word == "--") {
      line.inputs.insert(line.inputs.end(), argv + reader.next, argv + argc);
      break;
    }
    if (word.starts_with("--"))
      read_long_option(reader, word);
    else if (word.size() > 1 && word.front() == '-')
      read_short_options(reader, word);
    else
      line.inputs.emplace_back(word);
  }
  if (line.action == CommandLine::Action::Help) line.message = help_text();
  check_requirements(reader);
  return line;
}

}  // namespace orbelm
