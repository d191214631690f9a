// What both sides of the platform share: making an output folder's path
// and the interruption noted by a handler.
#include <cerrno>
#include <string>

#include "platform.hpp"
#include "platform_detail.hpp"

namespace orbelm::platform {

namespace detail {

std::atomic<int> noted_interruption{0};

int make_folders(std::string_view path, int (*make_folder)(const char*)) {
  int error = 0;
  for (std::size_t at = 1; at <= path.size(); ++at) {
    if (at < path.size() && !is_separator(path[at])) continue;
    if (is_separator(path[at - 1])) continue;  // "a//b", "a/"
    const std::string part(path.substr(0, at));
    if (make_folder(part.c_str()) == 0 || errno == EEXIST)
      error = 0;
    else if (error == 0)
      error = errno;
  }
  return error;
}

}  // namespace detail

int interruption() {
  return detail::noted_interruption.load(std::memory_order_relaxed);
}

}  // namespace orbelm::platform
