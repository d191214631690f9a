#include "command_line.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

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
    "in place and cut to the new line's length. One run at a time writes\n"
    "into a folder: another run into it waits until the first ends.\n"
    "An interruption (SIGINT or "
    "Ctrl-C, SIGTERM, SIGHUP;\n"
    "on Windows also Ctrl-Break and closing the console) ends the run\n"
    "after the record in progress: its file is written whole, standard\n"
    "error tells how many element files were written, and the program\n"
    "ends by the same signal.";

constexpr const char* EXIT_STATUS =
    "Exit status: 0 when every selected record was converted; 1 when an\n"
    "input, the designation list, DIR or an element file cannot be opened,\n"
    "read or written, compressed input is damaged, an input ends inside a\n"
    "record, a record was not converted because its designation cannot\n"
    "name a file, or --prune would remove more than --max-delete allows;\n"
    "2 when the command line is wrong.";

// The help as it reads best here: the usage line first, then what the
// program does, the options and the exit statuses. The input names are
// explained in the description, so they get no list of their own.
class HelpFormatter : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string name,
                        CLI::AppFormatMode mode) const override {
    return make_usage(app, std::move(name)) + "\n" + make_description(app) +
           make_groups(app, mode) + "\n" + make_footer(app);
  }
};

struct Values {
  std::string output_dir;
  std::string max_magnitude;
  std::string designations_file;
  std::string jobs;
  std::string max_delete;
};

void define_options(CLI::App& app, CommandLine& line, Values& values) {
  // On Windows CLI11 would take "/x" for an option; here it is a path.
  app.allow_windows_style_options(false);
  app.formatter(std::make_shared<HelpFormatter>());
  app.get_formatter()->column_width(24);
  app.set_help_flag("-h,--help", "show this help and exit");
  app.set_version_flag("--version", "orbelm " ORBELM_VERSION,
                       "show the version and exit");
  app.add_option("INPUT_FILE", line.inputs);
  app.add_option("-o,--output-dir", values.output_dir,
                 "write the element files into DIR (made when\n"
                 "missing); the names printed stay bare")
      ->type_name("DIR");
  app.add_option("--max-magnitude", values.max_magnitude,
                 "only records whose absolute magnitude is at\n"
                 "most H; a record without one is left out")
      ->type_name("H");
  app.add_flag("--minor-planets", line.minor_planets, "only minor planets");
  app.add_flag("--comets", line.comets, "only comets");
  app.add_flag("--all-comet-types", line.all_comet_types,
               "also convert the interstellar objects (0003I)\n"
               "and asteroids on cometary orbits (AK17U010)\n"
               "of a comet file, as comets; without it they\n"
               "are skipped");
  app.add_option("--designations", values.designations_file,
                 "only records whose designation is listed in\n"
                 "FILE, one per line (lines starting with # are\n"
                 "comments); listed designations that no record\n"
                 "has are named on standard error")
      ->type_name("FILE");
  app.add_flag("--prune", line.prune,
               "after a complete run, remove every *.elm file in\n"
               "the folder that this run did not write or leave\n"
               "unchanged, including what the options above\n"
               "left out: give all inputs in one run");
  app.add_option("--max-delete", values.max_delete,
                 "with --prune, remove nothing when more than N\n"
                 "files are stale, and say so (default: a tenth\n"
                 "of the folder's element files, no limit below\n"
                 "20; all: no limit)")
      ->type_name("N");
  app.add_flag("--dry-run", line.dry_run,
               "write and remove nothing; tell how many files\n"
               "would be created, changed, left unchanged and\n"
               "(with --prune) removed, naming those");
  app.add_option("-j,--jobs", values.jobs,
                 "work on the element files with N threads: the\n"
                 "run's own, which writes every file in input\n"
                 "order, and N-1 that read existing files ahead\n"
                 "of it (default 16; 1: one thread)")
      ->type_name("N");
  app.footer(EXIT_STATUS);
}

// A --max-delete value: a whole number, or "all" for no limit.
std::optional<std::uint64_t> parse_max_delete(const std::string& text) {
  if (text == "all") return std::numeric_limits<std::uint64_t>::max();
  std::uint64_t count = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), count);
  if (error != std::errc() || end != text.data() + text.size())
    return std::nullopt;
  return count;
}

// Moves the values of the options that were given into `line`.
void take_values(const CLI::App& app, Values& values, CommandLine& line) {
  if (app.count("--output-dir") > 0)
    line.output_dir = std::move(values.output_dir);
  if (app.count("--designations") > 0)
    line.designations_file = std::move(values.designations_file);
  if (app.count("--jobs") > 0) {
    unsigned jobs = 0;
    const std::string& text = values.jobs;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), jobs);
    if (error != std::errc() || end != text.data() + text.size() || jobs < 1 ||
        jobs > MAX_JOBS) {
      line.action = CommandLine::Action::UsageError;
      line.message = "invalid argument '" + text + "' for '--jobs'";
      return;
    }
    line.jobs = jobs;
  }
  if (app.count("--max-delete") > 0) {
    line.max_delete = parse_max_delete(values.max_delete);
    if (!line.max_delete) {
      line.action = CommandLine::Action::UsageError;
      line.message =
          "invalid argument '" + values.max_delete + "' for '--max-delete'";
      return;
    }
  }
  if (app.count("--max-magnitude") == 0) return;
  line.max_magnitude = parse_limit(values.max_magnitude);
  if (!line.max_magnitude) {
    line.action = CommandLine::Action::UsageError;
    line.message =
        "invalid argument '" + values.max_magnitude + "' for '--max-magnitude'";
  }
}

// The option that argument `word` names ("-o", "--output-dir", the part of
// "--output-dir=DIR" before "="), and whether the word also holds its
// value ("-oDIR", "--output-dir=DIR").
struct NamedOption {
  std::string name;
  bool value_attached;
};

NamedOption named_option(std::string_view word) {
  if (word.starts_with("--")) {
    const std::size_t equals = word.find('=');
    return {std::string(word.substr(0, equals)),
            equals != std::string_view::npos};
  }
  return {std::string(word.substr(0, 2)), word.size() > 2};
}

// What is wrong with a command line that CLI11 refused, in the words of
// GNU's getopt: the first unknown option, option without its value or
// option given twice, in the order of the arguments. Example:
// {"orbelm", "in.txt", "--bogus"} gives "unrecognized option '--bogus'".
// CLI11's own message when the arguments show none of these.
std::string usage_problem(const CLI::App& app, int argc,
                          const char* const* argv, const char* fallback) {
  std::vector<const CLI::Option*> seen;
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (word == "--") break;
    if (word.size() < 2 || word.front() != '-') continue;  // an input name
    const NamedOption named = named_option(word);
    const bool long_name = word.starts_with("--");
    const CLI::Option* option = app.get_option_no_throw(named.name);
    if (option == nullptr)
      return long_name ? "unrecognized option '" + std::string(word) + "'"
                       : "invalid option -- '" + named.name.substr(1) + "'";
    if (option->get_items_expected_min() == 0) continue;  // a flag
    if (!named.value_attached && ++i == argc)
      return long_name ? "option '" + named.name + "' requires an argument"
                       : "option requires an argument -- '" +
                             named.name.substr(1) + "'";
    if (std::find(seen.begin(), seen.end(), option) != seen.end())
      return "option '--" + option->get_lnames().front() +
             "' given more than once";
    seen.push_back(option);
  }
  return fallback;
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

CommandLine parse_command_line(int argc, const char* const* argv) {
  CommandLine line;
  Values values;
  CLI::App app;
  app.name("orbelm");
  app.description(DESCRIPTION);
  define_options(app, line, values);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    line.action = CommandLine::Action::Help;
    line.message = app.help();
    while (line.message.ends_with('\n')) line.message.pop_back();
    return line;
  } catch (const CLI::CallForVersion& version) {
    line.action = CommandLine::Action::Version;
    line.message = version.what();
    return line;
  } catch (const CLI::ParseError& error) {
    line.action = CommandLine::Action::UsageError;
    line.message = usage_problem(app, argc, argv, error.what());
    return line;
  }
  take_values(app, values, line);
  return line;
}

}  // namespace orbelm
