#include "element_files.hpp"

#include <cerrno>
#include <cstring>
#include <string_view>

namespace orbelm {
namespace {

void append_folder(Diagnostic& message, const ElementFiles& files) {
  if (files.folder_name.empty()) {
    message.append("the current folder");
  } else {
    message.append("folder ");
    message.append_name(files.folder_name);
  }
}

// "orbelm: cannot list output folder DIR: REASON" (or "the current
// folder").
void report_list_failure(const ElementFiles& files, int error) {
  Diagnostic message;
  message.append(files.folder_name.empty() ? "orbelm: cannot list "
                                           : "orbelm: cannot list output ");
  append_folder(message, files);
  message.append(": ");
  message.append(std::strerror(error));
  message.append("\n");
  message.write();
}

void list_file(void* context, std::string_view name) {
  add_folder_file(*static_cast<FolderFiles*>(context), name);
}

// "3 element files" / "1 element file".
void append_files(Diagnostic& message, std::uint64_t count) {
  message.append_number(count);
  message.append(count == 1 ? " element file" : " element files");
}

// "orbelm: WHAT NAME.elm", and ": REASON" for an `error`.
void report_file(std::string_view what, std::string_view file_name, int error) {
  Diagnostic message;
  message.append("orbelm: ");
  message.append(what);
  message.append_escaped(file_name, MAX_FOLDER_NAME + 4);
  if (error != 0) {
    message.append(": ");
    message.append(std::strerror(error));
  }
  message.append("\n");
  message.write();
}

// Says why pruning removes nothing: `stale` files are more than `limit`.
void report_over_limit(const ElementFiles& files, std::uint64_t stale,
                       std::uint64_t limit) {
  Diagnostic message;
  message.append("orbelm: pruning would remove ");
  message.append_number(stale);
  message.append(" of the ");
  append_files(message, files.listed.count);
  message.append(" in ");
  append_folder(message, files);
  if (files.max_delete) {
    message.append(", more than --max-delete ");
    message.append_number(limit);
  } else {
    message.append(", more than a tenth (");
    message.append_number(limit);
    message.append(")");
  }
  message.append("; nothing removed (--max-delete ");
  message.append_number(stale);
  message.append(" or --max-delete all allows it)\n");
  message.write();
}

}  // namespace

std::uint64_t prune_limit(const ElementFiles& files) {
  constexpr std::uint64_t SMALLEST_LIMITED = 20;
  if (files.max_delete) return *files.max_delete;
  const std::uint64_t held = files.listed.count;
  if (held < SMALLEST_LIMITED) return UINT64_MAX;
  return (held + 9) / 10;
}

bool open_element_folder(const std::optional<std::string>& output_dir,
                         ElementFiles& files) {
  if (!output_dir) return true;
  files.folder_name = *output_dir;
  if (platform::open_output_folder(output_dir->c_str(), !files.dry_run,
                                   files.folder))
    return true;
  // The folder's name as given, as before: "folder" would read oddly.
  std::fprintf(stderr, "orbelm: cannot use output folder %s: %s\n",
               output_dir->c_str(), std::strerror(errno));
  return false;
}

namespace {

long read_states(void* file, char* buffer, std::size_t size) {
  return platform::read_input(*static_cast<platform::InputFile*>(file),
                              buffer, size);
}

bool write_states(void* descriptor, const char* data, std::size_t size) {
  return platform::write_folder_file(*static_cast<int*>(descriptor), data,
                                     size);
}

// Opens the last run's record and starts this run's, where the folder's
// file system allows quick checks.
void open_element_states(ElementFiles& files) {
  platform::FileState folder;
  if (!platform::quick_checks_hold(files.folder, folder)) return;
  StateSource source;
  if (!files.read_all &&
      platform::open_folder_file(files.folder, STATES_NAME,
                                 files.last_states))
    source = {read_states, &files.last_states};
  StateSink sink;
  if (!files.dry_run) {
    files.new_states = platform::create_folder_file(files.folder, TEMPORARY_NAME);
    if (files.new_states >= 0) sink = {write_states, &files.new_states};
  }
  start_file_states(files.states, folder, source, sink);
}

}  // namespace

bool claim_element_folder(ElementFiles& files) {
  if (platform::lock_output_folder(files.folder, false) ==
      platform::LockStatus::Busy) {
    Diagnostic message;
    message.append("orbelm: waiting for another run of orbelm in ");
    append_folder(message, files);
    message.append("\n");
    message.write();
    platform::lock_output_folder(files.folder, true);
  }
  if (!files.dry_run) platform::remove_replacement(files.folder);
  open_element_states(files);
  if (!files.prune) return true;
  // Pruning compares the folder's names with the run's: where the folder
  // takes "K14UA5S.elm" for "K14Ua5S.elm", the record K14UA5S keeps it.
  files.listed.fold_case =
      platform::folder_ignores_case(files.folder, !files.dry_run);
  if (!platform::list_element_files(files.folder, files.listed.fold_case,
                                    list_file, &files.listed)) {
    report_list_failure(files, errno);
    return false;
  }
  index_folder_files(files.listed);
  return true;
}

KnownState know_element_file(ElementFiles& files,
                             const ConvertedLine& converted) {
  return known_state(files.states,
                     {converted.file_name, converted.file_name_size},
                     converted.element_line, converted.element_line_size);
}

namespace {

// Whether the file of `converted` is in the state in which it was last
// found holding its line: then it holds it still.
bool holds_known_line(const ElementFiles& files, const ConvertedLine& converted,
                      const KnownState& known) {
  platform::FileState now;
  return known.held &&
         platform::file_state(files.folder, converted.file_name, now) &&
         now.regular && now.device == files.states.folder.device &&
         platform::same_file_state(now, known.entry.state);
}

}  // namespace

platform::WriteStatus put_element_file(ElementFiles& files,
                                       const ConvertedLine& converted,
                                       const KnownState& known,
                                       platform::FileLook& look,
                                       ElementFileCounts& counts) {
  // The file found holding its line by its state alone, or by a read that
  // gives its state then (left not regular otherwise).
  StateEntry seen = known.entry;
  bool by_state = false;
  platform::WriteStatus status = platform::WriteStatus::Unchanged;
  // A file looked at ahead and found with other names (or not a regular
  // file) is judged now, as in a run with one thread: first by its state.
  if ((look.found == platform::FileLook::Found::None ||
       look.found == platform::FileLook::Found::Other) &&
      holds_known_line(files, converted, known)) {
    platform::forget_look(look);
    by_state = true;
    files.folder.expect_new = false;
  } else {
    if (look.found == platform::FileLook::Found::Same) {
      by_state = look.quick;
      if (!look.quick) seen.state = look.state;
    } else {
      seen.state = platform::FileState{};
    }
    status = platform::write_looked_at_file(
        files.folder, converted.file_name, converted.element_line,
        converted.element_line_size, files.dry_run, look,
        files.states.recording ? &seen.state : nullptr);
  }
  if (status == platform::WriteStatus::Unchanged &&
      (by_state ||
       settled(seen.state, files.states.folder, converted.element_line_size)))
    record_file_state(files.states, seen);
  switch (status) {
    case platform::WriteStatus::Created:
      ++counts.created;
      break;
    case platform::WriteStatus::Changed:
      ++counts.changed;
      break;
    case platform::WriteStatus::Unchanged:
      ++counts.unchanged;
      break;
    case platform::WriteStatus::NotOpened:
    case platform::WriteStatus::NotWritten:
      return status;
  }
  if (files.prune) keep_folder_file(files.listed, converted.designation);
  return status;
}

void close_element_states(ElementFiles& files, bool complete) {
  const bool whole = end_file_states(files.states, complete);
  if (files.new_states >= 0) {
    const bool closed = platform::close_folder_file(files.new_states);
    files.new_states = -1;
    // A run that recorded nothing (all its files new, say) leaves no record,
    // and none of the last run's: every entry of that was used or dropped.
    const bool kept = whole && closed && files.states.recorded > 0 &&
                      platform::rename_folder_file(files.folder, TEMPORARY_NAME,
                                                   STATES_NAME);
    if (!kept) platform::remove_file(files.folder, TEMPORARY_NAME);
    if (whole && closed && files.states.recorded == 0)
      platform::remove_file(files.folder, STATES_NAME);
  }
  if (files.last_states.descriptor >= 0) {
    platform::close_input(files.last_states);
    files.last_states.descriptor = -1;
  }
}

bool remove_stale_files(ElementFiles& files, ElementFileCounts& counts,
                        Progress& progress) {
  clear_progress(progress);
  std::uint64_t stale = 0;
  for_each_stale_file(files.listed, [&stale](std::string_view) {
    ++stale;
    return true;
  });
  if (const std::uint64_t limit = prune_limit(files); stale > limit) {
    report_over_limit(files, stale, limit);
    return false;
  }
  bool complete = true;
  for_each_stale_file(files.listed, [&](std::string_view name) {
    if (platform::interruption() != 0) return false;
    char file_name[MAX_FOLDER_NAME + 5];
    std::memcpy(file_name, name.data(), name.size());
    std::memcpy(file_name + name.size(), ".elm", 5);
    const std::string_view shown{file_name, name.size() + 4};
    if (files.dry_run) {
      report_file("would remove ", shown, 0);
      ++counts.removed;
    } else if (platform::remove_file(files.folder, file_name)) {
      ++counts.removed;
    } else {
      report_file("cannot remove ", shown, errno);
      complete = false;
    }
    return true;
  });
  if (files.dry_run || platform::interruption() != 0) return complete;
  Diagnostic message;
  message.append("orbelm: removed ");
  append_files(message, counts.removed);
  message.append(" that this run did not write\n");
  message.write();
  return complete;
}

namespace {

// "3 element files would be created, 1 changed, 12 left unchanged".
void append_dry_run_counts(Diagnostic& message,
                           const ElementFileCounts& counts) {
  append_files(message, counts.created);
  message.append(" would be created, ");
  message.append_number(counts.changed);
  message.append(" changed, ");
  message.append_number(counts.unchanged);
  message.append(" left unchanged");
}

// ", 5 removed", or nothing without `shown`.
void append_removed(Diagnostic& message, std::uint64_t removed, bool shown) {
  if (!shown) return;
  message.append(", ");
  message.append_number(removed);
  message.append(" removed");
}

}  // namespace

void report_dry_run(const ElementFiles& files,
                    const ElementFileCounts& counts) {
  Diagnostic message;
  message.append("orbelm: dry run, nothing written: ");
  append_dry_run_counts(message, counts);
  append_removed(message, counts.removed, files.prune);
  message.append("\n");
  message.write();
}

void report_interrupted(std::string_view by, const ElementFiles& files,
                        const ElementFileCounts& counts) {
  Diagnostic message;
  message.append("orbelm: interrupted by ");
  message.append(by);
  if (files.dry_run) {
    message.append("; dry run, nothing written: ");
    append_dry_run_counts(message, counts);
  } else {
    message.append("; ");
    append_files(message, counts.created + counts.changed);
    message.append(" written");
    if (counts.unchanged > 0) {
      message.append(", ");
      message.append_number(counts.unchanged);
      message.append(" left unchanged");
    }
  }
  append_removed(message, counts.removed, counts.removed > 0);
  message.append("\n");
  message.write();
}

}  // namespace orbelm
