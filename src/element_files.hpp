// The element files of a run: the output folder (made, or by a dry run only
// looked at), its lock, each record's file written or checked, and the
// stale files that a pruning run removes at its end.
//
// Part of the driver: it prints its own diagnostics on standard error.
#ifndef ORBELM_ELEMENT_FILES_HPP
#define ORBELM_ELEMENT_FILES_HPP

#include <cstdint>
#include <optional>
#include <string>

#include "console.hpp"
#include "convert_line.hpp"
#include "file_states.hpp"
#include "folder_files.hpp"
#include "platform.hpp"
#include "progress.hpp"

namespace orbelm {

struct ElementFiles {
  platform::OutputFolder folder;
  std::string folder_name;  // as given with -o; empty: the current folder
  bool dry_run = false;     // read and compare, write nothing
  bool prune = false;       // remove at the end what the run did not keep
  FolderFiles listed;       // with prune: the folder's files at the start
  // The most files that pruning may remove (--max-delete); none: the
  // default of prune_limit.
  std::optional<std::uint64_t> max_delete;
  bool read_all = false;  // read every file, not trusting the last record
  FileStates states;      // the record of file states (see file_states.hpp)
  platform::InputFile last_states;  // the last run's record, when read
  int new_states = -1;              // this run's, being written
};

// The most stale files that pruning removes: `files.max_delete` when set,
// else a tenth of the element files that the folder held at the start,
// rounded up, and no limit for a folder of fewer than 20. A slip of the
// selection (--comets on a folder of minor planets too) would remove far
// more; a monthly refresh removes a few percent. Examples: 68 files give 7,
// 20 give 2, 19 give no limit (the largest count).
std::uint64_t prune_limit(const ElementFiles& files);

// Opens the folder `output_dir` (none: the current folder), made with its
// parents unless `files.dry_run`. False, after "orbelm: cannot use output
// folder DIR: REASON" on standard error, when it cannot be had.
bool open_element_folder(const std::optional<std::string>& output_dir,
                         ElementFiles& files);

// Takes the folder's lock, waiting for another run that holds it after
// saying so once ("orbelm: waiting for another run of orbelm in DIR"),
// removes what a killed run left of a file's replacement (unless a dry
// run), with prune lists the folder's element files, and where the
// folder's file system allows quick checks opens the last run's record of
// file states (unless `files.read_all`) and starts this run's (unless a
// dry run). False, after a message, when the folder cannot be listed. A
// folder that cannot be locked is used without the lock.
bool claim_element_folder(ElementFiles& files);

// What the last run's record knows of the file of `converted`, taken out
// of it; called once per record, in input order.
KnownState know_element_file(ElementFiles& files,
                             const ConvertedLine& converted);

// Writes the element file of `converted` (a dry run only compares it),
// using what `look` found of it ahead (see platform::write_looked_at_file;
// a look that found None: the file as it is now, first by its state when
// `known` holds one), counts how it came about in `counts`, with prune notes
// it kept, and records the file's state when it was found holding its
// line.
platform::WriteStatus put_element_file(ElementFiles& files,
                                       const ConvertedLine& converted,
                                       const KnownState& known,
                                       platform::FileLook& look,
                                       ElementFileCounts& counts);

// Ends the record of file states: with `complete` (the run read every
// input to its end) this run's record replaces the last one; otherwise the
// last one stays as it was.
void close_element_states(ElementFiles& files, bool complete);

// Removes the stale files (a dry run names them instead: "orbelm: would
// remove NAME.elm"), counting them in `counts.removed`, and says how many
// ("orbelm: removed 3 element files that this run did not write").
// Stops early at an interruption. False when a file could not be removed
// (after "orbelm: cannot remove NAME.elm: REASON"), and when there are more
// than prune_limit: then nothing is removed, or named, and one line says so
// ("orbelm: pruning would remove 35 of the 68 element files in folder
// elements, more than a tenth (7); nothing removed (--max-delete 35 or
// --max-delete all allows it)"; a dry run says the same).
bool remove_stale_files(ElementFiles& files, ElementFileCounts& counts,
                        Progress& progress);

// The dry run's report: "orbelm: dry run, nothing written: 3 element files
// would be created, 1 changed, 12 left unchanged", with ", 2 removed" when
// it prunes.
void report_dry_run(const ElementFiles& files, const ElementFileCounts& counts);

// How far a run interrupted `by` ("SIGINT") got: "orbelm: interrupted by
// SIGINT; 12 element files written, 340 left unchanged, 5 removed", where
// written counts the files created and changed, and the last two parts
// come only when not 0. A dry run says what it would have done: "orbelm:
// interrupted by SIGINT; dry run, nothing written: 3 element files would
// be created, 1 changed, 12 left unchanged" (", 2 removed" as above).
void report_interrupted(std::string_view by, const ElementFiles& files,
                        const ElementFileCounts& counts);

}  // namespace orbelm

#endif
