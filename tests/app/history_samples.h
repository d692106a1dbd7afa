// Records for the history tests, and a folder of the test's own for the
// history file.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>

#include "app/update_history.h"

namespace tslflash::testing {

// An update that ended with a refused command, every field filled; the
// enclosure's name is not ASCII, so cuts fall inside characters too.
inline HistoryRecord SampleRecord(std::string id) {
  HistoryRecord record;
  record.id = std::move(id);
  record.time = "2026-12-11T01:53:11Z";
  record.toolVersion = "1.0.0.7";
  record.drive = {"TESSEL", "DVD-RW TS-H653", "1.02", "Gehäuse ÜSB-3", "/dev/sg1"};
  record.package = {"9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08",
                    "TESSEL  DVD-RW TS-H653",
                    "1.05",
                    "summed-pages",
                    0x00AB,
                    0xF00D};
  record.checks = {{"empty-tray", "passed"}, {"model", "passed"}, {"transfer", "passed"}};
  record.unitsSent = 3;
  record.unitsTotal = 8;
  record.unit = "pages";
  record.outcome = HistoryOutcome{4, "On Command Fail !!"};
  record.completed = false;
  record.confirmation = Confirmation::NotConfirmed;
  record.reportedRevision = "1.02";
  return record;
}

inline std::string Slurped(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteRaw(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A new empty folder for each test, removed when the test passed.
class HistoryFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '_');
    dir_ = std::filesystem::path(::testing::TempDir()) /
           ("history_" + name + "_" + std::to_string(std::random_device{}()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    if (!HasFailure()) std::filesystem::remove_all(dir_);
  }
  std::string Path(std::string_view name) const { return (dir_ / name).string(); }

 private:
  std::filesystem::path dir_;
};

}  // namespace tslflash::testing
