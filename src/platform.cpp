// What both sides of the platform share: making an output folder's path,
// the element files' extension and the interruption noted by a handler.
#include <algorithm>
#include <cerrno>
#include <string>

#include "hash.hpp"
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

bool has_element_extension(std::string_view name, bool fold_case) {
  constexpr std::string_view EXTENSION = ".elm";
  if (name.size() <= EXTENSION.size()) return false;
  const std::string_view end = name.substr(name.size() - EXTENSION.size());
  if (!fold_case) return end == EXTENSION;
  return std::equal(end.begin(), end.end(), EXTENSION.begin(),
                    [](char c, char lower) {
                      return upper_ascii(c) == upper_ascii(lower);
                    });
}

}  // namespace detail

int interruption() {
  return detail::noted_interruption.load(std::memory_order_relaxed);
}

}  // namespace orbelm::platform
