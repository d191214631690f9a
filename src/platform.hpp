// The few operating-system calls the driver makes, behind one small
// interface with a POSIX and a Windows side, so that nothing else in the
// program depends on the platform.
#ifndef ORBELM_PLATFORM_HPP
#define ORBELM_PLATFORM_HPP

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orbelm::platform {

enum class OpenStatus { Opened, NotFound, IsDirectory };

// An input file open for reading as bytes (line ends are handled by the
// line reader, the same way on every platform).
struct InputFile {
  int descriptor = -1;
  bool owned = true;  // closed by close_input (standard input is not)
  // A regular file never makes a read wait, so read_input need not watch
  // for an interruption while it waits (a pipe or a terminal can wait).
  bool regular = false;
};

OpenStatus open_input(const char* path, InputFile& file);

// Standard input as an input file, switched to binary mode on Windows.
InputFile standard_input();

// Keeps a closed standard stream's descriptor (0, 1, 2) from being taken by
// a file the run opens, which would then get what is meant for the stream
// (the names for standard output, say): it is opened on the null device
// the wrong way round (standard input for writing, the others for
// reading), so that any use of it fails. Returns whether standard input
// was closed. Called before anything else is opened. Windows: only tells
// whether standard input has no handle.
bool guard_standard_streams();

// The size in bytes of a regular file, or 0 when it has none (a pipe, a
// terminal) or it cannot be told.
std::uint64_t input_size(InputFile file);

// Reads up to `size` bytes; returns the count, 0 at the end of the input,
// or -1 after a read error (errno tells which). A wait for input (a slow
// pipe) that an interruption breaks returns -1 with errno EINTR; see
// interruption().
long read_input(InputFile file, char* buffer, std::size_t size);

void close_input(InputFile file);

// Makes the file `path` hold `text` and nothing else, as a text file (on
// Windows each LF as CR LF): created, or truncated and written (a symbolic
// link is followed, as a shell's redirection follows it). False, with
// errno telling why, when it cannot be opened, written whole or closed;
// what was written then stays.
bool write_whole_file(const char* path, std::string_view text);

// The folder that element files are written into, and what the writes
// learn on the way.
struct OutputFolder {
  int descriptor = -1;   // POSIX: the open folder; -1 for the current one
  std::string prefix;    // Windows: the folder's path and a separator
  bool missing = false;  // a dry run's folder that does not exist yet
  // A refresh finds nearly every file, a fresh folder nearly none: the kind
  // of the last file decides whether the next is first opened as an
  // existing file or created, so that either costs one open per file.
  bool expect_new = false;
  // Whether reads may ask not to update the access time (POSIX O_NOATIME,
  // allowed for the files the process owns): a refresh reads every file,
  // and relatime would otherwise write every inode back once a day.
  bool no_access_time = true;
  int lock_descriptor = -1;     // POSIX: the folder opened for its lock
  void* lock_handle = nullptr;  // Windows: the folder's mutex
};

// Opens the folder `path` into `folder`; with `make`, creates it and its
// missing parents first. Without `make` (a dry run) a folder that does not
// exist is no failure: `folder.missing` is set. False, with errno telling
// why, when it cannot be created or opened, or is not a folder (ENOTDIR).
bool open_output_folder(const char* path, bool make, OutputFolder& folder);

void close_output_folder(OutputFolder& folder);

enum class LockStatus {
  Locked,      // this process holds the folder's lock until it ends
  Busy,        // another process holds it (only when not waiting)
  Unsupported  // the file system cannot lock; the run goes on without
};

// Takes the exclusive lock of `folder` (the current folder when none was
// opened), waiting for it with `wait`. POSIX: flock on the folder itself,
// so it needs no file of its own and ends with the process. Windows: a
// named mutex for the folder's full path in any letter case, held until
// the process ends (two machines writing to one network share are not
// kept apart).
LockStatus lock_output_folder(OutputFolder& folder, bool wait);

// Whether the file names of `folder` compare without regard to letter
// case, so that "K14UA5S.elm" opens the file "K14Ua5S.elm": macOS's
// default volumes, FAT and exFAT (USB sticks, SD cards), ext4 and f2fs
// folders with casefold, Windows folders unless made case-sensitive.
// Given: `may_write`, whether a folder that holds nothing to look at may
// be asked with a file made and removed (not in a dry run).
// Returned: true where names fold, false where they do not. Where it
// cannot be told (POSIX: a missing dry-run folder, an unreadable one, one
// that holds no entry whose name has a letter when `may_write` is false),
// false; such a folder holds no element file to compare.
// Notes: POSIX: the first entry, not a folder, whose name has a letter
// ("K14Ua5S.elm") is looked up (lstat) under the letters' other case
// ("k14uA5s.ELM"): no such entry, the folder tells the two apart; the same
// file (device and inode) with one name, it does not; else (a hard link
// under that name, or a FUSE file system that numbers its inodes by the
// name looked up, as exfat-fuse and fusefat do) it does exactly when the
// listing holds the other spelling. A folder with no such entry is asked
// the same with REPLACEMENT_NAME, made for it and removed after. Cost: an
// opendir, one readdir block and two lstat; a whole listing only in that
// last case. Windows: the folder's case-sensitivity flag
// (GetFileInformationByHandleEx, FileCaseSensitiveInfo); a folder without
// one (FAT, exFAT, Windows before 10, a missing dry-run folder) folds.
bool folder_ignores_case(const OutputFolder& folder, bool may_write);

// Calls `each(context, name)` for every entry of `folder` that is a regular
// file or a symbolic link (never followed) and whose name ends in ".elm"
// (with `fold_case` in any letter case: "K05A00A.ELM" is the file that
// "K05A00A.elm" opens), with the name without its ".elm". A missing
// dry-run folder has none. False, with errno, when the folder cannot be
// read.
bool list_element_files(const OutputFolder& folder, bool fold_case,
                        void (*each)(void* context, std::string_view name),
                        void* context);

// Removes the file (or symbolic link, not what it points to) `name` from
// `folder`; never a folder. True when it is gone, also when it was gone
// before; false, with errno, otherwise.
bool remove_file(const OutputFolder& folder, const char* name);

// What the inode of an element file says (POSIX lstat, never following a
// symbolic link), for the quick check: a file whose state equals the one
// recorded when it was found holding a line holds that line still, since
// whatever writes a file, or sets its times back, moves its change time,
// which no program can set.
struct FileState {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t change_time = 0;  // nanoseconds since 1970 (st_ctim)
  std::int64_t modify_time = 0;  // nanoseconds since 1970 (st_mtim)
  std::uint64_t size = 0;
  std::int64_t seen_at = 0;  // the system clock just before it was asked
  std::uint32_t links = 0;   // names of the file (hard links)
  bool regular = false;      // a regular file (not a link, folder, FIFO)
};

// Whether two states of a file's inode are alike in everything a write
// changes: inode, size, change and modification time.
inline bool same_file_state(const FileState& a, const FileState& b) {
  return a.inode == b.inode && a.size == b.size &&
         a.change_time == b.change_time && a.modify_time == b.modify_time;
}

// How an element file came to hold its line, or why it does not.
enum class WriteStatus {
  Created,    // it did not exist
  Changed,    // it held something else: the line was written over it
  Unchanged,  // it held exactly the line: left untouched, times kept
  NotOpened,  // it cannot be opened (nothing changed)
  NotWritten  // the write, the cut or the close failed: removed
};

// Makes the file `name` in `folder` hold exactly `data` (`size` bytes, as a
// text file: on Windows each LF as CR LF), writing only what differs. An
// existing file is opened for reading and writing (never truncated on
// opening, never through a symbolic link) and up to size + 1 bytes are
// read: when it holds exactly the line, it is closed without a write, so no
// block is dirtied and its modification time stays; otherwise the line is
// written from the start and the file cut to its length when it was longer
// (or could not be read). A missing file is created and written. A file
// that can be written but not read is written as an unread one: from the
// start, cut when fstat says it was longer.
//
// A name that is a symbolic link, or a file that is not a regular one or
// has other names (hard links), is not written in place: the line is
// written into a new file beside it (REPLACEMENT_NAME) that is then renamed
// over the name, so that the link's target and the other names keep what
// they hold. Such a file that holds the line already is left as it is,
// but a symbolic link is never followed, so it is always replaced (on
// Windows, where links are rare, only when the line differs).
//
// Returned: Created, Changed (also for a replaced file) or Unchanged;
// NotOpened when the file, or its replacement, cannot be opened;
// NotWritten after the file is removed, since a file rewritten only in
// part would hold a mix of the old and the new line (a replacement that
// fails leaves the old file as it was).
// Notes: ext4 writes a file that was opened with truncation back to disk at
// its close; written in place it is not, which makes replacing 300,000
// files about ten times faster. A process killed mid-file leaves the old or
// the new line, except when the old line was longer and the cut had not
// happened yet (the new line followed by the old one's tail); one killed
// mid-replacement leaves the old file and, beside it, the replacement.
// `seen`, when given, gets the state of a file found Unchanged by its read,
// asked after the file was opened and before it was read (so that a later
// change moves its change time past it); otherwise it is left alone.
WriteStatus write_text_file(OutputFolder& folder, const char* name,
                            const char* data, std::size_t size,
                            FileState* seen = nullptr);

// What write_text_file would do, without writing: Created when the file
// (or the folder) does not exist, Unchanged when it holds exactly the
// line, Changed otherwise, also when it cannot be read or is a symbolic
// link.
WriteStatus check_text_file(OutputFolder& folder, const char* name,
                            const char* data, std::size_t size);

// The name in the output folder under which write_text_file writes a
// replacement before renaming it over an element file. Not "*.elm", so
// that neither --prune nor a later run takes it for an element file.
inline constexpr const char* REPLACEMENT_NAME = ".orbelm-replacement.tmp";

// Removes a replacement that a run killed in the middle of one left in
// `folder` (an interruption that the run notes never does: it comes
// between files).
void remove_replacement(const OutputFolder& folder);

// The state of the file `name` in `folder` into `state`; false when it
// cannot be had (no such file, no access; errno tells). Windows: false.
bool file_state(const OutputFolder& folder, const char* name,
                FileState& state);

// Whether the files of `folder` keep what the quick check relies on: a
// change time that every write moves, inode numbers that stay with a file
// from one run to the next, and fresh attributes on every lstat. Linux:
// ext2/3/4, XFS, Btrfs, F2FS, bcachefs, ZFS and tmpfs; macOS: APFS and
// HFS+. Not NFS (attributes cached for seconds), FAT and exFAT (inode
// numbers made up per mount, no change time), FUSE or overlays (whatever
// lies beneath), nor Windows. Sets `state` to the folder's own state
// (device and inode tell one folder from another, or from a copy).
bool quick_checks_hold(const OutputFolder& folder, FileState& state);

// A file of the run's own beside the element files (the record of their
// states): opened for reading as an input (read with read_input; false when
// missing or not a regular file), or made anew for writing (-1 when it
// cannot be; a name that exists is replaced, a symbolic link is never
// followed), written, closed (false when a write or the close failed), and
// renamed over another name of the folder. Windows: none of them works.
bool open_folder_file(const OutputFolder& folder, const char* name,
                      InputFile& file);
int create_folder_file(const OutputFolder& folder, const char* name);
bool write_folder_file(int descriptor, const char* data, std::size_t size);
bool close_folder_file(int descriptor);
bool rename_folder_file(const OutputFolder& folder, const char* from,
                        const char* to);

// What a look at an element file ahead of its record's turn found. A
// look only opens and reads: it never creates, writes or removes.
struct FileLook {
  enum class Found : std::uint8_t {
    None,       // not looked at
    Missing,    // no file of that name
    Same,       // a file holding exactly the line (closed again)
    Different,  // a regular file of one name holding something else
    Other       // for the write itself to find out: a symbolic link, not a
                // regular file, a file with several names, no access
  };
  Found found = Found::None;
  bool longer = true;   // Different: the file holds more than the line
  bool quick = false;   // Same: told by the file's state alone, unread
  int descriptor = -1;  // Different, unless `for_writing` was false: the
                        // file, open for reading and writing
  FileState state;      // Same: the file's state when it was read
};

// Whether looks ahead find anything: POSIX yes; Windows no (a look there
// gives None and the write does all).
extern const bool LOOKS_AHEAD;

// A watch on the entries of an output folder, which tells what happened to
// its files since a look ahead, so that a look is used only when nothing
// wrote, cut, renamed, made or removed its file since (Linux: inotify, read
// every few records, where asking each file's state again would cost two
// system calls a record). Where a folder cannot be watched (other systems,
// or the watches of the user are used up), nothing is looked at ahead.
// Notes: it sees what reaches the files through the folder's own names
// (also through symbolic links elsewhere, and any mount of the folder); a
// write through another name of a file with several names (a hard link in
// another folder) made after its look goes unseen, so such files are never
// judged by a look (see look_at_text_file).
struct FolderWatch {
  int descriptor = -1;
};

// Starts watching `folder`; false where it cannot be watched.
bool watch_folder(const OutputFolder& folder, FolderWatch& watch);

void close_watch(FolderWatch& watch);

inline bool watching(const FolderWatch& watch) { return watch.descriptor >= 0; }

enum class WatchNews {
  Names,  // `each` was called for every file that may have changed
  Lost    // changes may have been missed: every file may have changed
};

// Calls `each(context, name)` for every name of the watched folder whose
// file was written, cut, had its attributes or names changed, was made,
// renamed or removed since the last call (or the watch's start), by this
// or any other process; `name` as reported, ".elm" included. Lost when
// the watch's queue overflowed (it watches on), or when the watch ended
// (the folder was removed, its file system unmounted): then it is closed,
// and every later call says Lost.
WatchNews read_watch(FolderWatch& watch,
                     void (*each)(void* context, std::string_view name),
                     void* context);

// Keeps the interruptions (SIGINT, SIGTERM, SIGHUP) from the calling
// thread while `hold`, and from the threads it starts meanwhile, so that
// they reach the run's own thread, whose wait for input they must break.
// Does nothing on Windows, whose console handler has a thread of its own.
void hold_interruptions(bool hold);

// Lowers the calling thread's scheduling priority as far as it goes
// (Linux: nice 19 for this thread alone), so that a thread which only
// prepares work takes no core from the thread whose work is in order; it
// cannot be raised again. Does nothing where threads have no priority of
// their own.
void yield_priority();

// Looks at the element file `name` in `folder` against the line `data`
// (`size` bytes) as write_text_file would read it, without changing
// anything; safe to call from several threads at once on one folder.
// Given: `for_writing`, whether a Different file is kept open for the
// write (a dry run asks not); `no_access_time`, the caller's own copy of
// OutputFolder::no_access_time, cleared when the process may not ask.
// `held`, when given, is the state in which the file was last found
// holding this very line: a file in that state is Same without a read
// (`look.quick`).
// Returned: `look`; for Same read, the file's state (see write_text_file's
// `seen`).
// Notes: a symbolic link is not followed, and a file with several names is
// Other: a write through another name (a snapshot's hard link, in another
// folder) would escape the folder's watch, so such a file is judged at its
// turn, as a run with one thread judges it.
void look_at_text_file(const OutputFolder& folder, const char* name,
                       const char* data, std::size_t size, bool for_writing,
                       bool& no_access_time, const FileState* held,
                       FileLook& look);

// write_text_file, or with `dry_run` check_text_file, using `look`: what
// it gives is what those give, provided that nothing changed the file since
// the look (the caller makes sure with a FolderWatch). Same gives Unchanged
// without a system call, Different writes through the open file. `look` is
// used up; `seen` as for write_text_file when the file is read now (a look
// of None or Other).
WriteStatus write_looked_at_file(OutputFolder& folder, const char* name,
                                 const char* data, std::size_t size,
                                 bool dry_run, FileLook& look,
                                 FileState* seen);

// Closes what `look` holds open, for a look that will not be used.
void forget_look(FileLook& look);

// Why `name` (without its ".elm") cannot name a plain file in the current
// folder on this platform, or "" when it can. On Windows: a control
// character or one of < > : " | ? * (a drive, a stream, a wildcard), or a
// device name such as NUL or COM1 in any letter case, which would swallow
// or misdirect the element line. Elsewhere every name without "/" can.
std::string_view file_name_problem(std::string_view name);

// Whether standard output is a terminal (then it is flushed per line).
bool stdout_is_terminal();

// Whether standard error is a terminal (then a long run shows progress).
bool stderr_is_terminal();

// Makes a write to a closed pipe fail with an error instead of ending the
// process by a signal, so that the exit status reports it.
void report_broken_pipe_as_error();

// Interruptions of a run: SIGINT, SIGTERM and SIGHUP (on Windows: Ctrl-C,
// Ctrl-Break and closing the console) are noted instead of ending the
// process, so that the driver can finish the record in progress first.
//
// begin_interruptible_run installs the handlers; until then an
// interruption ends the process at once. A signal that the process was
// started ignoring (nohup, a background job) stays ignored. Interrupted
// system calls are restarted (a console write never fails for it); only a
// wait in read_input for more input gives up.
void begin_interruptible_run();

// The interruption noted since begin_interruptible_run (the signal number;
// on Windows a code of its own), or 0 when there was none.
int interruption();

// The interruption's name for a message: "SIGINT", "SIGTERM", "SIGHUP";
// on Windows "Ctrl-C", "Ctrl-Break", "closing the console".
std::string_view interruption_name(int interruption);

// Ends the process the way the interruption would have without a handler:
// the default action restored and the signal raised again (unblocked), so
// that a shell sees status 128 + N. On Windows the process exits with
// STATUS_CONTROL_C_EXIT (0xC000013A), the status of a Ctrl-C. Flushes
// nothing: standard output must be flushed before.
[[noreturn]] void end_by_interruption(int interruption);

}  // namespace orbelm::platform

#endif
