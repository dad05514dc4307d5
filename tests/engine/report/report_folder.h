// A fresh working folder for report tests, removed when the test ends.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include <unistd.h>

namespace vexa::report::testing {

class ReportFolder {
 public:
  ReportFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            (std::string("vexa_report_") + info->test_suite_name() + "_" + info->name() + "_" +
             std::to_string(::getpid()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ReportFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ReportFolder(const ReportFolder&) = delete;
  ReportFolder& operator=(const ReportFolder&) = delete;

  // The folder as the engine names it: ending with the separator.
  std::string working() const { return path_.string() + "/"; }
  std::filesystem::path file(std::string_view name) const { return path_ / name; }

  void Put(std::string_view name, std::string_view bytes) const {
    std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  std::string Get(std::string_view name) const {
    std::ifstream in(file(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool Has(std::string_view name) const { return std::filesystem::exists(file(name)); }

 private:
  std::filesystem::path path_;
};

}  // namespace vexa::report::testing
