#include "fileio/file_io.h"

#include <gtest/gtest.h>

#include <QFile>
#include <cerrno>
#include <clocale>
#include <string>

#include "../support/sandbox.h"

namespace kelmo {
namespace {

using testing::FileSizeLimit;
using testing::ReadAll;
using testing::ScratchDir;
using testing::Unprivileged;
using testing::WriteAll;

TEST(file_io, save_replaces_the_whole_file) {
  ScratchDir dir;
  WriteAll("f", "a much longer old content\r\n");
  EXPECT_EQ(SaveFileBytes("f", "new\r\n"), std::nullopt);
  EXPECT_EQ(ReadAll("f"), "new\r\n");
  EXPECT_EQ(SaveFileBytes("f", ""), std::nullopt);
  EXPECT_EQ(ReadAll("f"), "");
}

TEST(file_io, failed_saves_keep_the_old_file) {
  struct Row {
    const char* name;
    bool readOnlyDir;
    int expected;
  };
  for (const Row row : {Row{"read_only_directory", true, EACCES}, Row{"full_disk", false, EFBIG}}) {
    ScratchDir dir;
    WriteAll("f", "old\r\n");
    std::optional<FileError> error;
    if (row.readOnlyDir) {
      dir.setWritable(false);
      Unprivileged nobody;
      error = SaveFileBytes("f", "new\r\n");
    } else {
      FileSizeLimit limit(64);
      error = SaveFileBytes("f", QByteArray(200, 'n'));
    }
    ASSERT_TRUE(error.has_value()) << row.name;
    EXPECT_EQ(error->number, row.expected) << row.name;
    EXPECT_TRUE(error->description.contains("f")) << row.name;
    dir.setWritable(true);
    EXPECT_EQ(ReadAll("f"), "old\r\n") << row.name;
  }
}

TEST(file_io, write_in_place_reports_what_the_system_says) {
  ScratchDir dir;
  EXPECT_EQ(WriteFileBytes("t", "x"), std::nullopt);
  EXPECT_EQ(ReadAll("t"), "x");
  QFile::remove("t");
  dir.setWritable(false);
  Unprivileged nobody;
  const auto error = WriteFileBytes("t", "x");
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->number, EACCES);
}

TEST(file_io, reads_no_further_than_asked) {
  ScratchDir dir;
  WriteAll("f", "0123456789");
  struct Row {
    qsizetype limit;
    QByteArray bytes;
    bool wholeFile;
  };
  for (const Row& row :
       {Row{4, "0123", false}, Row{10, "0123456789", true}, Row{64, "0123456789", true}}) {
    FilePrefix prefix;
    ASSERT_EQ(ReadFilePrefix("f", row.limit, prefix), std::nullopt);
    EXPECT_EQ(prefix.bytes, row.bytes) << row.limit;
    EXPECT_EQ(prefix.wholeFile, row.wholeFile) << row.limit;
  }
  FilePrefix prefix;
  const auto missing = ReadFilePrefix("missing", 4, prefix);
  ASSERT_TRUE(missing.has_value());
  EXPECT_EQ(missing->number, ENOENT);
}

// The reason comes in the user's language, as the rest of the window does.
TEST(file_io, reasons_follow_the_users_locale) {
  const std::string previous = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "ja_JP.UTF-8") == nullptr) {
    GTEST_SKIP() << "the ja_JP.UTF-8 locale is not installed (scripts/deps test makes it)";
  }
  ScratchDir dir;
  FilePrefix prefix;
  const std::optional<FileError> error = ReadFilePrefix("kelmo.ini", 100, prefix);
  std::setlocale(LC_ALL, previous.c_str());
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->number, ENOENT);
  EXPECT_TRUE(error->description.contains(u"そのようなファイルやディレクトリはありません"_qs))
      << error->description.toStdString();
  EXPECT_TRUE(error->description.startsWith(u"kelmo.ini を開けません: "_qs))
      << error->description.toStdString();
}

}  // namespace
}  // namespace kelmo
