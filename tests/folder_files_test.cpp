#include "folder_files.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orbelm {
namespace {

using Names = std::vector<std::string>;

Names stale(const FolderFiles& files) {
  Names names;
  for_each_stale_file(files, [&names](std::string_view name) {
    names.emplace_back(name);
    return true;
  });
  return names;
}

FolderFiles listed(const Names& names, bool fold_case) {
  FolderFiles files;
  files.fold_case = fold_case;
  for (const std::string& name : names) add_folder_file(files, name);
  index_folder_files(files);
  return files;
}

std::string numbered(int i) {
  std::string name = std::to_string(i);
  name.insert(name.begin(), 'K');
  return name;
}

// Enough names that the table's probes wrap around its end.
TEST(FolderFiles, KeptNamesAreNotStaleTheOthersComeInListingOrder) {
  Names names;
  for (int i = 0; i < 5000; ++i) names.push_back(numbered(i));
  FolderFiles files = listed(names, false);
  for (int i = 0; i < 5000; ++i)
    if (i % 1000 != 7) keep_folder_file(files, numbered(i));
  keep_folder_file(files, "00433");  // not listed: ignored
  keep_folder_file(files, "k7");     // another name where case counts
  EXPECT_EQ(stale(files), (Names{"K7", "K1007", "K2007", "K3007", "K4007"}));
}

TEST(FolderFiles, LetterCaseIsIgnoredWhereFileNamesIgnoreIt) {
  FolderFiles files = listed({"K14UA5S", "CJ95O010", "0001P"}, true);
  keep_folder_file(files, "k14ua5s");
  keep_folder_file(files, "0001p");
  EXPECT_EQ(stale(files), Names{"CJ95O010"});
}

}  // namespace
}  // namespace orbelm
