// What the POSIX and the Windows side of the platform share. Internal to
// the platform's sources.
#ifndef ORBELM_PLATFORM_DETAIL_HPP
#define ORBELM_PLATFORM_DETAIL_HPP

#include <atomic>
#include <string_view>

#ifndef _WIN32
#include <fcntl.h>
#endif

#include "platform.hpp"

namespace orbelm::platform::detail {

#ifdef _WIN32
inline constexpr bool WINDOWS = true;
#else
inline constexpr bool WINDOWS = false;
#endif

inline bool is_separator(char c) { return c == '/' || (WINDOWS && c == '\\'); }

// Creates each folder on `path` that is missing, parents first, with
// `make_folder` (mkdir's contract: 0, or -1 with errno). Returns why the
// path could not be made: the errno of the first failed creation that no
// later one made up for, or 0. A creation that fails because the folder
// exists is no failure; that it is a folder is checked afterwards.
int make_folders(std::string_view path, int (*make_folder)(const char*));

// Whether `name` ends in ".elm" after something, with `fold_case` in any
// letter case ("K05A00A.ELM").
bool has_element_extension(std::string_view name, bool fold_case);

// The interruption noted by the handler, 0 while there is none: the one
// piece of mutable global state of the program, since a signal handler (or,
// on Windows, the console's handler thread) can reach nothing else. A
// lock-free atomic may be stored from a signal handler as well as from
// another thread.
extern std::atomic<int> noted_interruption;
static_assert(std::atomic<int>::is_always_lock_free);

#ifdef _WIN32
// Room for the path of an element file: its folder's prefix and its name.
// Longer paths than this do not open on Windows anyway (MAX_PATH is 260).
inline constexpr std::size_t PATH_CAPACITY = 1024;

// The path of `name` in `folder`, in `path`; null when it is too long.
const char* element_path(const OutputFolder& folder, const char* name,
                         char (&path)[PATH_CAPACITY]);
#endif

#ifndef _WIN32
// The folder argument of the *at calls for `folder`: its descriptor, or
// AT_FDCWD for the current folder.
inline int folder_at(const OutputFolder& folder) {
  return folder.descriptor >= 0 ? folder.descriptor : AT_FDCWD;
}
#endif

}  // namespace orbelm::platform::detail

#endif
