// The production log's file append on the platform this test is built for, against real files.
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#endif

#include "update/file_append.h"

namespace {

namespace fs = std::filesystem;

class FileAppend : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("zorven-append-" + std::to_string(std::time(nullptr)) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const char* name) const { return (dir_ / name).string(); }

  static std::string contents(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  static void put(const std::string& p, const std::string& s) {
    std::ofstream out(p, std::ios::binary);
    out << s;
  }

  fs::path dir_;
};

// The append as the run makes it, with its reason kept for the failure message.
bool append(const std::string& p, const std::string& line, std::string* reason = nullptr) {
  char why[160] = "";
  const bool ok = update::append_file(p.c_str(), line.data(), line.size(), why, sizeof why);
  if (reason != nullptr) *reason = why;
  return ok;
}

TEST_F(FileAppend, AddsAfterTheLastByteOfAnExistingFile) {
  const std::string p = path("sn_build.txt");
  put(p, "OLD;T;01/01/26 00:00:00\r\npartial");  // last byte is not a line end
  const std::string line = "A1B2C3;X;12/06/26 03:57:54\r\n";
  ASSERT_TRUE(append(p, line));
  EXPECT_EQ(contents(p), "OLD;T;01/01/26 00:00:00\r\npartial" + line);
  ASSERT_TRUE(append(p, line));
  EXPECT_EQ(contents(p), "OLD;T;01/01/26 00:00:00\r\npartial" + line + line);
}

TEST_F(FileAppend, CreatesAMissingFileWithJustTheLine) {
  const std::string p = path("sn_build.txt");
  const std::string line = ";X;12/06/26 03:57:54\r\n";
  ASSERT_TRUE(append(p, line));
  EXPECT_EQ(contents(p), line);
}

// A file that cannot be opened is reported with the reason in plain words, by the append after
// its attempts and by the check a front end makes before any printer is touched.
TEST_F(FileAppend, ReportsAFileThatCannotBeOpenedWithItsReason) {
  fs::create_directories(path("a_directory"));
  struct Case {
    const char* name;
    const char* reason;
  };
  const Case cases[] = {
#ifdef _WIN32
      {"a_directory", "access is denied (a read-only file, a folder, or no permission)"},
#else
      {"a_directory", "it is a folder"},
#endif
      {"missing/sn_build.txt", "its folder does not exist"},
  };
  for (const Case& c : cases) {
    std::string reason;
    EXPECT_FALSE(append(path(c.name), "x\r\n", &reason)) << c.name;
    EXPECT_EQ(reason, c.reason) << c.name;
    char why[160] = "";
    EXPECT_FALSE(update::can_append(path(c.name).c_str(), why, sizeof why)) << c.name;
    EXPECT_STREQ(why, c.reason) << c.name;
  }
  EXPECT_FALSE(fs::exists(path("missing"))) << "a failed append creates no folder";
}

// The check opens the file as the append does and writes nothing: a missing file is created
// empty, an existing one keeps its content.
TEST_F(FileAppend, CheckCreatesTheFileAndWritesNothing) {
  const std::string p = path("sn_build.txt");
  char why[160] = "";
  ASSERT_TRUE(update::can_append(p.c_str(), why, sizeof why)) << why;
  EXPECT_TRUE(fs::exists(p));
  EXPECT_EQ(contents(p), "");
  put(p, "OLD\r\n");
  ASSERT_TRUE(update::can_append(p.c_str(), why, sizeof why)) << why;
  EXPECT_EQ(contents(p), "OLD\r\n");
}

// A file that cannot be written for a moment (here its folder appears only after the first
// attempt) still gets its line: the append tries again for a while before it gives up.
TEST_F(FileAppend, TriesAgainForAWhile) {
  const std::string p = path("later/sn_build.txt");
  const std::string line = "A1B2C3;X;12/06/26 03:57:54\r\n";
  std::thread updater([&] { EXPECT_TRUE(append(p, line)); });
  std::this_thread::sleep_for(std::chrono::milliseconds(update::kAppendPauseMs * 2));
  fs::create_directories(path("later"));
  updater.join();
  EXPECT_EQ(contents(p), line);
}

#ifdef _WIN32
// A spreadsheet program that opened the production log holds it against writing: the append tries
// again while it is held, gets its line in once the file is let go, and names the cause when it
// is held throughout.
TEST_F(FileAppend, FileHeldByAnotherProgram) {
  const std::string p = path("sn_build.txt");
  put(p, "OLD\r\n");
  HANDLE held = CreateFileA(p.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::string reason;
  EXPECT_FALSE(append(p, "A\r\n", &reason));
  EXPECT_EQ(reason, "the file is in use by another program");

  std::thread spreadsheet([held] {
    std::this_thread::sleep_for(std::chrono::milliseconds(update::kAppendPauseMs * 2));
    CloseHandle(held);
  });
  EXPECT_TRUE(append(p, "B\r\n", &reason)) << reason;
  spreadsheet.join();
  EXPECT_EQ(contents(p), "OLD\r\nB\r\n");
}
#endif

#ifndef _WIN32
// A station's collector that locks the production log while it reads takes turns with the
// updaters: an append waits for the lock and adds its line only after the reader let go.
TEST_F(FileAppend, WaitsForAReaderThatHoldsTheLock) {
  const std::string p = path("sn_build.txt");
  put(p, "OLD;T;01/01/26 00:00:00\r\n");
  const int reader = ::open(p.c_str(), O_RDONLY);
  ASSERT_GE(reader, 0);
  ASSERT_EQ(::flock(reader, LOCK_EX), 0);

  const std::string line = "A1B2C3;X;12/06/26 03:57:54\r\n";
  std::atomic<bool> done{false};
  std::thread updater([&] {
    EXPECT_TRUE(append(p, line));
    done = true;
  });
  // However long the append is given, it must not write while the lock is held.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(done.load());
  EXPECT_EQ(contents(p), "OLD;T;01/01/26 00:00:00\r\n");

  ::flock(reader, LOCK_UN);
  ::close(reader);
  updater.join();
  EXPECT_EQ(contents(p), "OLD;T;01/01/26 00:00:00\r\n" + line);
}
#endif

TEST(LocalTimeNow, MatchesTheLocalCalendar) {
  // Fields are compared with the C library's local time taken just before and just after, so a
  // minute turning over in between cannot fail the test.
  auto as_local = [] {
    std::time_t now = std::time(nullptr);
    return *std::localtime(&now);
  };
  auto same = [](const update::LocalTime& t, const std::tm& c) {
    return t.year == c.tm_year + 1900 && t.month == c.tm_mon + 1 && t.day == c.tm_mday && t.hour == c.tm_hour &&
           t.minute == c.tm_min;
  };
  std::tm before = as_local();
  update::LocalTime t = update::local_time_now();
  std::tm after = as_local();
  EXPECT_TRUE(same(t, before) || same(t, after))
      << t.year << "-" << t.month << "-" << t.day << " " << t.hour << ":" << t.minute;
  EXPECT_GE(t.second, 0);
  EXPECT_LE(t.second, 60);
}

}  // namespace
