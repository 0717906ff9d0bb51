// The file module's rule as a table: every file operation against files Kelmo did not
// make. A file it did not create is never deleted, never replaced and never read as
// Kelmo's without a word.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <atomic>
#include <cerrno>
#include <clocale>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>

#include "fileio/file_io.h"
#include "support/dir_snapshot.h"
#include "support/sandbox.h"

using namespace Qt::StringLiterals;

namespace kelmo {
namespace {

using testing::ReadAll;
using testing::ScratchDir;
using testing::WriteAll;

constexpr int kNotRegular = static_cast<int>(FileError::kNotRegularFile);

std::map<std::string, std::string> Snapshot() { return testing::DirSnapshot(); }

void Age(const char* name) {
  QFile file(QString::fromLatin1(name));
  ASSERT_TRUE(file.open(QIODevice::ReadWrite));
  ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                               QFileDevice::FileModificationTime));
}

void Make(const char* name, const QByteArray& bytes, bool aged = true) {
  WriteAll(QString::fromLatin1(name), bytes);
  if (aged) Age(name);
}

// What a test holds open for the length of a row: a FIFO's writer, a lock of a save.
std::vector<int> g_held;

void Hold(int fd) { g_held.push_back(fd); }

void ReleaseHeld() {
  for (const int fd : g_held) ::close(fd);
  g_held.clear();
}

void RemoveAllIn(const char* folder) {
  DIR* dir = ::opendir(folder);
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..") {
      ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
  }
  ::closedir(dir);
}

enum class Operation { kSave, kRead, kRemoveLeftovers, kKeepAside };

const char* NameOf(Operation operation) {
  switch (operation) {
    case Operation::kSave:
      return "save";
    case Operation::kRead:
      return "read";
    case Operation::kRemoveLeftovers:
      return "remove_leftovers";
    case Operation::kKeepAside:
      return "keep_aside";
  }
  return "?";
}

// Each row: what stands at and around "kelmo.ini", and what each operation must do with it
// (0: done; else the error it reports, leaving everything as it was).
struct Hostile {
  const char* name;
  std::function<void()> arrange;
  int save;
  int read;
  int keep;
};

const Hostile kHostileFiles[] = {
    {"nothing_there", [] {}, 0, ENOENT, ENOENT},
    {"users_copies_with_look_alike_names",
     [] {
       Make("kelmo.ini", "me@x.jp\r\nyou@x.jp\r\n");
       for (const char* name :
            {"kelmo.ini.backup", "kelmo.ini.2024v1", "kelmo.ini.123456", "kelmo.ini.Ab12Cd",
             "temp.tmp.backup", "temp.tmp.saved1", ".kelmo.ini.kelmo-save-12-abc",
             ".kelmo.ini.kelmo-save-x-Ab12Cd", ".kelmo.ini.kelmo-save-12-Ab12Cd.bak",
             "kelmo.ini.kelmo-save-12-Ab12Cd", "kelmo.ini.kelmo-kept-20240101-000000"}) {
         Make(name, "the user's own\n");
       }
     },
     0, 0, 0},
    {"read_only_file",
     [] {
       Make("kelmo.ini", "me@x.jp\r\nyou@x.jp\r\n");
       ASSERT_EQ(::chmod("kelmo.ini", 0444), 0);
     },
     EACCES, 0, 0},
    {"fifo_with_another_programs_data",
     [] {
       ASSERT_EQ(::mkfifo("kelmo.ini", 0600), 0);
       const int fd = ::open("kelmo.ini", O_RDWR | O_NONBLOCK);
       ASSERT_GE(fd, 0);
       ASSERT_EQ(::write(fd, "data", 4), 4);
       Hold(fd);
     },
     kNotRegular, kNotRegular, kNotRegular},
    {"device_through_a_link", [] { ASSERT_EQ(::symlink("/dev/null", "kelmo.ini"), 0); },
     kNotRegular, kNotRegular, 0},
    {"directory", [] { ASSERT_EQ(::mkdir("kelmo.ini", 0700), 0); }, kNotRegular, kNotRegular,
     kNotRegular},
    // The link itself is replaced by a save, its target never.
    {"link_to_the_users_notes",
     [] {
       Make("notes.txt", "me@x.jp\r\nyou@x.jp\r\n");
       ASSERT_EQ(::symlink("notes.txt", "kelmo.ini"), 0);
     },
     0, 0, 0},
    {"stalled_save_of_another_window",
     [] {
       Make("kelmo.ini", "me@x.jp\r\nyou@x.jp\r\n");
       Make(".kelmo.ini.kelmo-save-1-Ab12Cd", "half");
       const int fd = ::open(".kelmo.ini.kelmo-save-1-Ab12Cd", O_RDONLY);
       ASSERT_GE(fd, 0);
       ASSERT_EQ(::flock(fd, LOCK_EX), 0);
       Hold(fd);
     },
     0, 0, 0},
    {"save_of_a_live_window_just_begun",
     [] {
       Make((".kelmo.ini.kelmo-save-" + std::to_string(::getppid()) + "-Ab12Cd").c_str(), "half",
            false);
     },
     0, ENOENT, ENOENT},
};

int Perform(Operation operation) {
  switch (operation) {
    case Operation::kSave: {
      const Result<> saved = SaveFileBytes(u"kelmo.ini"_s, "new@x.jp\r\nnew@y.jp\r\n");
      return saved ? 0 : saved.error().number;
    }
    case Operation::kRead: {
      const Result<FilePrefix> read = ReadFilePrefix(u"kelmo.ini"_s, 100);
      return read ? 0 : read.error().number;
    }
    case Operation::kRemoveLeftovers:
      return RemoveLeftoverSaves(u"kelmo.ini"_s, std::chrono::seconds(60));
    case Operation::kKeepAside: {
      const Result<QString> kept = KeepAside(u"kelmo.ini"_s);
      return kept ? 0 : kept.error().number;
    }
  }
  return -1;
}

TEST(file_rule, every_operation_against_files_kelmo_did_not_make) {
  for (const Hostile& row : kHostileFiles) {
    for (const Operation operation :
         {Operation::kSave, Operation::kRead, Operation::kRemoveLeftovers, Operation::kKeepAside}) {
      SCOPED_TRACE(std::string(row.name) + " × " + NameOf(operation));
      ReleaseHeld();
      ScratchDir dir;
      row.arrange();
      const auto before = Snapshot();
      const int outcome = Perform(operation);
      auto after = Snapshot();
      switch (operation) {
        case Operation::kSave:
          EXPECT_EQ(outcome, row.save);
          if (outcome == 0) {
            // Only the name saved to changed, to a regular file with the new bytes.
            struct stat status {};
            ASSERT_EQ(::lstat("kelmo.ini", &status), 0);
            EXPECT_TRUE(S_ISREG(status.st_mode));
            EXPECT_EQ(ReadAll(u"kelmo.ini"_s), "new@x.jp\r\nnew@y.jp\r\n");
            after.erase("kelmo.ini");
            auto expected = before;
            expected.erase("kelmo.ini");
            EXPECT_EQ(after, expected);
            continue;
          }
          break;
        case Operation::kRead:
          EXPECT_EQ(outcome, row.read);
          break;
        case Operation::kRemoveLeftovers:
          EXPECT_EQ(outcome, 0) << "none of these is a leftover of a save that ended";
          break;
        case Operation::kKeepAside:
          EXPECT_EQ(outcome, row.keep);
          if (outcome == 0) {
            // One new name, for the very same file; nothing else touched.
            ASSERT_EQ(after.size(), before.size() + 1);
            for (const auto& [name, state] : before) EXPECT_EQ(after[name], state) << name;
            continue;
          }
          break;
      }
      EXPECT_EQ(after, before) << "changed though the operation was refused or had nothing to do";
      if (std::string(row.name) == "fifo_with_another_programs_data") {
        char data[8] = {};
        EXPECT_EQ(::read(g_held.back(), data, sizeof data), 4) << "another program's data taken";
      }
    }
  }
  ReleaseHeld();
}

// What a killed save left goes; what a live save may still own stays.
TEST(file_rule, leftovers_of_saves_that_ended_are_removed) {
  ScratchDir dir;
  // A process that has ended: its number runs nothing now.
  const pid_t ended = ::fork();
  ASSERT_GE(ended, 0);
  if (ended == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(ended, nullptr, 0), ended);
  const std::string gone = ".kelmo.ini.kelmo-save-" + std::to_string(ended) + "-";
  const std::string running = ".temp.tmp.kelmo-save-" + std::to_string(::getppid()) + "-";
  Make((gone + "a1B2c3").c_str(), "half", false);     // its saver is gone: however young
  Make((running + "Zz9yY8").c_str(), "half", true);   // an hour old: that save is over
  Make((running + "fresh1").c_str(), "half", false);  // may be a save going on now
  Make((gone + "locked").c_str(), "half", true);      // locked: a save going on after all
  Make((gone + "copied").c_str(), "half", true);      // the name alone: copied, or the user's
  // What a save leaves on the file it makes, which the copy lacks.
  for (const std::string& leftover :
       {gone + "a1B2c3", running + "Zz9yY8", running + "fresh1", gone + "locked"}) {
    const int made = ::open(leftover.c_str(), O_RDONLY);
    ASSERT_GE(made, 0);
    const bool marked = MarkAsSave(made);
    ::close(made);
    if (!marked) GTEST_SKIP() << "this file system keeps no extended attributes";
  }
  const int fd = ::open((gone + "locked").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  ASSERT_EQ(::symlink("elsewhere", (gone + "link12").c_str()), 0);
  EXPECT_EQ(RemoveLeftoverSaves(u"kelmo.ini"_s, std::chrono::seconds(60)), 1);
  EXPECT_EQ(RemoveLeftoverSaves(u"temp.tmp"_s, std::chrono::seconds(60)), 1);
  ::close(fd);
  const QStringList left = QDir().entryList(
      QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
  EXPECT_EQ(left, QStringList({QString::fromStdString(gone + "copied"),
                               QString::fromStdString(gone + "link12"),
                               QString::fromStdString(gone + "locked"),
                               QString::fromStdString(running + "fresh1")}));
}

// A save's temporary name is one no user types, and a save in progress holds its lock
// against another window's clean-up.
TEST(file_rule, save_names_are_kelmos_own) {
  EXPECT_EQ(KelmoSaveName("kelmo.ini", 42), ".kelmo.ini.kelmo-save-42-XXXXXX");
  EXPECT_EQ(KelmoSaveName("dir/temp.tmp", 7), "dir/.temp.tmp.kelmo-save-7-XXXXXX");
}

// Kept aside: the file under a new name, never over an existing one.
TEST(file_rule, keeping_aside_never_overwrites) {
  ScratchDir dir;
  Make("temp.tmp", "the user's notes\n", false);
  const Result<QString> first = KeepAside(u"temp.tmp"_s);
  ASSERT_TRUE(first);
  const Result<QString> second = KeepAside(u"temp.tmp"_s);
  ASSERT_TRUE(second);
  EXPECT_NE(*first, *second);
  EXPECT_TRUE(first->startsWith(u"temp.tmp.kelmo-kept-"_s)) << first->toStdString();
  EXPECT_EQ(ReadAll(*first), "the user's notes\n");
  EXPECT_EQ(ReadAll(*second), "the user's notes\n");
  EXPECT_EQ(ReadAll(u"temp.tmp"_s), "the user's notes\n");
}

// A read-only file is refused even for root, whom the system would let write it.
TEST(file_rule, read_only_is_refused_whoever_saves) {
  ScratchDir dir;
  Make("kelmo.ini", "old\r\nold\r\n", false);
  ASSERT_EQ(::chmod("kelmo.ini", 0444), 0);
  const Result<> saved = SaveFileBytes(u"kelmo.ini"_s, "new");
  ASSERT_FALSE(saved);
  EXPECT_EQ(saved.error().number, EACCES);
  EXPECT_TRUE(saved.error().description.contains(u"読み取り専用"_s))
      << saved.error().description.toStdString();
  struct stat status {};
  ASSERT_EQ(::stat("kelmo.ini", &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0444u);
  EXPECT_EQ(ReadAll(u"kelmo.ini"_s), "old\r\nold\r\n");
}

// A folder named in Shift_JIS bytes, entered as the working directory: every operation
// works by the names relative to it, and messages show the folder decoded.
TEST(file_rule, a_folder_named_in_shift_jis) {
  const std::string previous = std::setlocale(LC_ALL, nullptr);
  for (const char* locale : {"C.UTF-8", "ja_JP.UTF-8"}) {
    if (std::setlocale(LC_ALL, locale) == nullptr) continue;
    SCOPED_TRACE(locale);
    ScratchDir dir;
    const char folder[] = "\x93\xfa\x96\x7b\x8c\xea";  // 日本語 in Shift_JIS
    ASSERT_EQ(::mkdir(folder, 0700), 0);
    ASSERT_EQ(::chdir(folder), 0);
    const FilePath file = FilePath::InFolder(QDir(), u"kelmo.ini"_s);
    EXPECT_TRUE(file.shown.endsWith(u"/日本語/kelmo.ini"_s)) << file.shown.toStdString();
    const Result<> saved = SaveFileBytes(file, "me@x.jp\r\nyou@x.jp\r\n");
    ASSERT_TRUE(saved) << saved.error().description.toStdString();
    const Result<FilePrefix> read = ReadFilePrefix(file, 100);
    ASSERT_TRUE(read) << read.error().description.toStdString();
    EXPECT_EQ(read->bytes, "me@x.jp\r\nyou@x.jp\r\n");
    EXPECT_TRUE(KeepAside(file));
    EXPECT_EQ(RemoveLeftoverSaves(file, std::chrono::seconds(60)), 0);
    const Result<FilePrefix> missing = ReadFilePrefix(FilePath::InFolder(QDir(), u"x"_s), 1);
    ASSERT_FALSE(missing);
    EXPECT_TRUE(missing.error().description.contains(u"/日本語/x "_s))
        << missing.error().description.toStdString();
    // Qt's removal of the sandbox would decode these names: removed here as bytes.
    RemoveAllIn(".");
    ASSERT_EQ(::chdir(".."), 0);
    ASSERT_EQ(::rmdir(folder), 0);
  }
  std::setlocale(LC_ALL, previous.c_str());
}

TEST(file_rule, names_are_shown_as_well_as_they_decode) {
  EXPECT_EQ(ShownName("/home/me/kelmo.ini"), u"/home/me/kelmo.ini"_s);
  EXPECT_EQ(ShownName("/home/\x93\xfa\x96\x7b/kelmo.ini"), u"/home/日本/kelmo.ini"_s);
  EXPECT_EQ(ShownName("/home/a\xff/kelmo.ini"), u"/home/a\\xff/kelmo.ini"_s);
}

// A file rewritten while it is read is read again, and reported when it never holds still;
// never half of it.
TEST(file_rule, a_file_rewritten_during_the_read) {
  ScratchDir dir;
  const QByteArray whole = "me@example.jp\r\nsomeone.with.a.long.address@example.jp\r\n";
  Make("kelmo.ini", whole.left(20), false);
  int rewrites = 0;
  // Once: the second read has the whole new file.
  const Result<FilePrefix> once = ReadFilePrefix(u"kelmo.ini"_s, 200, [&] {
    if (rewrites++ == 0) WriteAll(u"kelmo.ini"_s, whole);
  });
  ASSERT_TRUE(once);
  EXPECT_EQ(once->bytes, whole);
  // Always: no read can be trusted.
  const Result<FilePrefix> always = ReadFilePrefix(u"kelmo.ini"_s, 200, [&] {
    WriteAll(u"kelmo.ini"_s, ++rewrites % 2 ? whole.left(20) : whole);
  });
  ASSERT_FALSE(always);
  EXPECT_EQ(always.error().number, static_cast<int>(FileError::kChangedWhileRead));
  EXPECT_TRUE(always.error().description.startsWith(u"kelmo.ini "_s));
}

// A sync tool rewriting the file in place, in two parts, while it is loaded again and
// again: a read gives the whole file or a report, never the first part. (A writer stalled
// between its parts for longer than the reads' quiet time cannot be told from one that
// is done; should the busy machine stall it so, the run proves nothing and says so.)
TEST(file_rule, a_writer_racing_the_reads) {
  ScratchDir dir;
  const QByteArray whole = "me@example.jp\r\nsomeone.with.a.long.address@example.jp\r\n";
  Make("kelmo.ini", whole, false);
  std::atomic<bool> stop = false;
  std::atomic<bool> stalled = false;
  std::thread writer([&] {
    std::minstd_rand random(5);
    while (!stop) {
      const auto start = std::chrono::steady_clock::now();
      const int fd = ::open("kelmo.ini", O_WRONLY | O_TRUNC);
      if (fd < 0) return;
      (void)!::write(fd, whole.constData(), 20);
      std::this_thread::sleep_for(std::chrono::microseconds(300));
      (void)!::write(fd, whole.constData() + 20, static_cast<std::size_t>(whole.size() - 20));
      if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(40)) stalled = true;
      ::close(fd);
      std::this_thread::sleep_for(std::chrono::milliseconds(random() % 80));
    }
  });
  int wholeReads = 0;
  int reported = 0;
  std::vector<QByteArray> cut;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (std::chrono::steady_clock::now() < end) {
    const Result<FilePrefix> read = ReadFilePrefix(u"kelmo.ini"_s, 200);
    if (!read) {
      ++reported;
    } else if (read->bytes == whole) {
      ++wholeReads;
    } else {
      cut.push_back(read->bytes);
    }
  }
  stop = true;
  writer.join();
  if (!cut.empty() && stalled) GTEST_SKIP() << "the writer stalled between its two parts";
  EXPECT_TRUE(cut.empty()) << cut.size() << " cut, e.g. \"" << cut.front().toStdString() << "\"; "
                           << wholeReads << " whole, " << reported << " reported";
  EXPECT_GT(wholeReads, 0);
}

}  // namespace
}  // namespace kelmo
