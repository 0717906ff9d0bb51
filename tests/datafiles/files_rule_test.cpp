// The window's four file operations (メアド保存, メアド読込, the character-mode write
// and the start-up clean-up) against files Kelmo did not make: nothing the user made is
// deleted or replaced without a word, and nothing is read as Kelmo's without one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "datafiles/address_file.h"
#include "datafiles/data_folder.h"
#include "datafiles/scratch_file.h"
#include "error/error.h"
#include "fileio/file_io.h"
#include "support/dir_snapshot.h"
#include "support/sandbox.h"

using namespace Qt::StringLiterals;

namespace kelmo {
namespace {

using testing::ScratchDir;
using testing::WriteAll;

constexpr int kNotRegular = static_cast<int>(FileError::kNotRegularFile);
constexpr int kKept = static_cast<int>(FileError::kKeptAside);
constexpr int kNotShiftJis = static_cast<int>(AddressFileError::kNotShiftJis);

void Make(const char* name, const QByteArray& bytes) {
  WriteAll(QString::fromLatin1(name), bytes);
  QFile file(QString::fromLatin1(name));
  ASSERT_TRUE(file.open(QIODevice::ReadWrite));
  ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                               QFileDevice::FileModificationTime));
}

enum class Operation { kSaveAddresses, kLoadAddresses, kScratchWrite, kStartUp };

struct Row {
  const char* name;
  std::function<void()> arrange;
  int save;     // 0, or the error メアド保存 shows
  int load;     // 0, or the error メアド読込 shows
  int scratch;  // 0, 1008 (a file kept aside), or the error the character-mode write shows
};

const Row kRows[] = {
    {"users_copies_with_look_alike_names",
     [] {
       Make("kelmo.ini", "me@x.jp\r\nyou@x.jp\r\n");
       Make("temp.tmp", "2,600 bytes of the user's notes\n");
       for (const char* name : {"kelmo.ini.backup", "kelmo.ini.2024v1", "kelmo.ini.123456",
                                "temp.tmp.backup", "temp.tmp.saved1", ".temp.tmp.swp"}) {
         Make(name, "the user's own\n");
       }
     },
     0, 0, kKept},
    {"read_only_files",
     [] {
       Make("kelmo.ini", "me@x.jp\r\nyou@x.jp\r\n");
       Make("temp.tmp", "notes\n");
       ASSERT_EQ(::chmod("kelmo.ini", 0444), 0);
       ASSERT_EQ(::chmod("temp.tmp", 0444), 0);
     },
     EACCES, 0, EACCES},
    {"fifos",
     [] {
       ASSERT_EQ(::mkfifo("kelmo.ini", 0600), 0);
       ASSERT_EQ(::mkfifo("temp.tmp", 0600), 0);
     },
     kNotRegular, kNotRegular, kNotRegular},
    {"devices_through_links",
     [] {
       ASSERT_EQ(::symlink("/dev/null", "kelmo.ini"), 0);
       ASSERT_EQ(::symlink("/dev/null", "temp.tmp"), 0);
     },
     kNotRegular, kNotRegular, kNotRegular},
    {"directories",
     [] {
       ASSERT_EQ(::mkdir("kelmo.ini", 0700), 0);
       ASSERT_EQ(::mkdir("temp.tmp", 0700), 0);
     },
     kNotRegular, kNotRegular, kNotRegular},
    {"links_to_the_users_notes",
     [] {
       Make("notes.txt", "me@x.jp\r\nyou@x.jp\r\n");
       ASSERT_EQ(::symlink("notes.txt", "kelmo.ini"), 0);
       ASSERT_EQ(::symlink("notes.txt", "temp.tmp"), 0);
     },
     0, 0, kKept},
    {"utf8_with_byte_order_mark", [] { Make("kelmo.ini", "\xEF\xBB\xBFme@x.jp\r\nyou@x.jp\r\n"); },
     0, kNotShiftJis, 0},
    {"bytes_code_page_932_lacks", [] { Make("kelmo.ini", "me@x.jp\r\n\x80@x.jp\r\n"); }, 0,
     kNotShiftJis, 0},
};

// What the operation reports: 0 or the number of the one message it shows.
int Perform(Operation operation, const DataFolder& folder) {
  switch (operation) {
    case Operation::kSaveAddresses: {
      const Result<> saved = SaveAddresses(folder.AddressFile(), {u"new@x.jp"_s, u"new@y.jp"_s});
      return saved ? 0 : saved.error().number;
    }
    case Operation::kLoadAddresses: {
      const Result<AddressPair> loaded = LoadAddresses(folder.AddressFile());
      return loaded ? 0 : loaded.error().number;
    }
    case Operation::kScratchWrite: {
      std::vector<int> reported;
      ScratchFile scratch(
          folder.ScratchFile(), [] { return std::u16string(u"new"); },
          [&reported](const Error& error) { reported.push_back(error.number); });
      scratch.Write();
      EXPECT_LE(reported.size(), 1u);
      return reported.empty() ? 0 : reported.front();
    }
    case Operation::kStartUp:
      folder.RemoveLeftoverSaves();
      return 0;
  }
  return -1;
}

TEST(files_rule, the_windows_file_operations_against_files_kelmo_did_not_make) {
  for (const Row& row : kRows) {
    for (const Operation operation : {Operation::kSaveAddresses, Operation::kLoadAddresses,
                                      Operation::kScratchWrite, Operation::kStartUp}) {
      static const char* const kNames[] = {"save", "load", "scratch_write", "start_up"};
      SCOPED_TRACE(std::string(row.name) + " × " + kNames[static_cast<int>(operation)]);
      ScratchDir dir;
      row.arrange();
      const auto before = testing::DirSnapshot();
      const int outcome = Perform(operation, DataFolder(QDir()));
      auto after = testing::DirSnapshot();
      // The one name the operation may replace, and only when it says it did.
      const char* replaced = nullptr;
      switch (operation) {
        case Operation::kSaveAddresses:
          EXPECT_EQ(outcome, row.save);
          if (outcome == 0) replaced = "kelmo.ini";  // on the user's own command
          break;
        case Operation::kLoadAddresses:
          EXPECT_EQ(outcome, row.load);
          break;
        case Operation::kScratchWrite:
          EXPECT_EQ(outcome, row.scratch);
          if (outcome == 0 || outcome == kKept) replaced = "temp.tmp";
          break;
        case Operation::kStartUp:
          break;
      }
      if (replaced != nullptr) {
        ASSERT_EQ(after.count(replaced), 1u);
        after.erase(replaced);
      }
      // A file kept aside is the very file that stood at the replaced name.
      for (auto entry = after.begin(); entry != after.end();) {
        if (entry->first.starts_with("temp.tmp.kelmo-kept-")) {
          EXPECT_EQ(outcome, kKept);
          EXPECT_EQ(entry->second, before.at("temp.tmp"));
          entry = after.erase(entry);
        } else {
          ++entry;
        }
      }
      auto expected = before;
      if (replaced != nullptr) expected.erase(replaced);
      EXPECT_EQ(after, expected);
    }
  }
}

}  // namespace
}  // namespace kelmo
