#include "fileio/file_io.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <clocale>
#include <functional>
#include <string>

#include "support/sandbox.h"

using namespace Qt::StringLiterals;

namespace kelmo {
namespace {

using testing::FileSizeLimit;
using testing::ReadAll;
using testing::ScratchDir;
using testing::Unprivileged;
using testing::WriteAll;

TEST(file_io, save_replaces_the_whole_file) {
  ScratchDir dir;
  WriteAll(u"f"_s, "a much longer old content\r\n");
  EXPECT_TRUE(SaveFileBytes(u"f"_s, "new\r\n"));
  EXPECT_EQ(ReadAll(u"f"_s), "new\r\n");
  EXPECT_TRUE(SaveFileBytes(u"f"_s, ""));
  EXPECT_EQ(ReadAll(u"f"_s), "");
}

TEST(file_io, failed_saves_keep_the_old_file) {
  struct Row {
    const char* name;
    bool readOnlyDir;
    int expected;
  };
  for (const Row row : {Row{"read_only_directory", true, EACCES}, Row{"full_disk", false, EFBIG}}) {
    SCOPED_TRACE(row.name);
    ScratchDir dir;
    WriteAll(u"f"_s, "old\r\n");
    const Result<> saved = [&row, &dir] {
      if (row.readOnlyDir) {
        dir.setWritable(false);
        Unprivileged nobody;
        return SaveFileBytes(u"f"_s, "new\r\n");
      }
      FileSizeLimit limit(64);
      return SaveFileBytes(u"f"_s, QByteArray(200, 'n'));
    }();
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.error().number, row.expected);
    EXPECT_TRUE(saved.error().description.contains(u"f"_s));
    dir.setWritable(true);
    EXPECT_EQ(ReadAll(u"f"_s), "old\r\n");
    EXPECT_EQ(QDir().entryList(QDir::Files | QDir::Hidden), QStringList{u"f"_s});
  }
}

// A link of the saved name is replaced by the file; what it points to is never written.
TEST(file_io, save_replaces_a_link_and_leaves_its_target) {
  ScratchDir dir;
  WriteAll(u"elsewhere"_s, "someone else's\n");
  ASSERT_EQ(::symlink("elsewhere", "f"), 0);
  EXPECT_TRUE(SaveFileBytes(u"f"_s, "new\r\n"));
  EXPECT_FALSE(QFileInfo(u"f"_s).isSymLink());
  EXPECT_EQ(ReadAll(u"f"_s), "new\r\n");
  EXPECT_EQ(ReadAll(u"elsewhere"_s), "someone else's\n");
  ASSERT_EQ(::symlink("/nonexistent/dir/x", "dangling"), 0);
  EXPECT_TRUE(SaveFileBytes(u"dangling"_s, "x", Durability::kUnsynced));
  EXPECT_EQ(ReadAll(u"dangling"_s), "x");
}

TEST(file_io, save_keeps_the_permissions_of_the_file_it_replaces) {
  ScratchDir dir;
  WriteAll(u"f"_s, "old");
  ASSERT_EQ(::chmod("f", 0600), 0);
  ASSERT_TRUE(SaveFileBytes(u"f"_s, "new"));
  struct stat status {};
  ASSERT_EQ(::stat("f", &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  // A new file gets what the umask leaves, as any file the user creates.
  const mode_t mask = ::umask(022);
  ASSERT_TRUE(SaveFileBytes(u"g"_s, "new"));
  ::umask(mask);
  ASSERT_EQ(::stat("g", &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0644u);
}

// What stands at the name, or the folder around it, is not an ordinary file: a clear
// error naming the file, nothing left behind, and whatever was there untouched.
TEST(file_io, saving_where_no_file_can_go) {
  struct Row {
    const char* name;
    std::function<void(ScratchDir&)> arrange;
    int number;
  };
  const Row rows[] = {
      {"a_directory_of_that_name", [](ScratchDir&) { QDir().mkdir(u"f"_s); }, EISDIR},
      {"the_folder_was_removed",
       [](ScratchDir&) {
         QDir().mkdir(u"gone"_s);
         ASSERT_EQ(::chdir("gone"), 0);
         ASSERT_EQ(::rmdir("../gone"), 0);
       },
       ENOENT},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScratchDir dir;
    row.arrange(dir);
    const Result<> saved = SaveFileBytes(u"f"_s, "new");
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.error().number, row.number);
    EXPECT_TRUE(saved.error().description.startsWith(u"f に保存できません: "_s))
        << saved.error().description.toStdString();
    ASSERT_EQ(::chdir(dir.path().toLocal8Bit().constData()), 0);
    EXPECT_EQ(QDir().entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size(),
              row.number == EISDIR ? 1 : 0)
        << ": a temporary file was left";
  }
}

// A FIFO or a device under the name is replaced by the saved file, like a link.
TEST(file_io, save_replaces_a_fifo) {
  ScratchDir dir;
  ASSERT_EQ(::mkfifo("f", 0600), 0);
  EXPECT_TRUE(SaveFileBytes(u"f"_s, "new"));
  EXPECT_EQ(ReadAll(u"f"_s), "new");
}

TEST(file_io, reading_what_is_not_a_file) {
  ScratchDir dir;
  ASSERT_EQ(::mkfifo("fifo", 0600), 0);
  QDir().mkdir(u"folder"_s);
  // A FIFO nobody writes to reads as empty at once rather than hanging the window.
  const Result<FilePrefix> fifo = ReadFilePrefix(u"fifo"_s, 100);
  ASSERT_TRUE(fifo);
  EXPECT_EQ(fifo->bytes, "");
  const Result<FilePrefix> folder = ReadFilePrefix(u"folder"_s, 100);
  ASSERT_FALSE(folder);
  EXPECT_EQ(folder.error().number, EISDIR);
  // An endless device: no more than asked for.
  const Result<FilePrefix> zero = ReadFilePrefix(u"/dev/zero"_s, 100);
  ASSERT_TRUE(zero);
  EXPECT_EQ(zero->bytes, QByteArray(100, '\0'));
  EXPECT_FALSE(zero->wholeFile);
}

TEST(file_io, reads_no_further_than_asked) {
  ScratchDir dir;
  WriteAll(u"f"_s, "0123456789");
  struct Row {
    qsizetype limit;
    QByteArray bytes;
    bool wholeFile;
  };
  for (const Row& row :
       {Row{4, "0123", false}, Row{10, "0123456789", true}, Row{64, "0123456789", true}}) {
    const Result<FilePrefix> prefix = ReadFilePrefix(u"f"_s, row.limit);
    ASSERT_TRUE(prefix) << row.limit;
    EXPECT_EQ(prefix->bytes, row.bytes) << row.limit;
    EXPECT_EQ(prefix->wholeFile, row.wholeFile) << row.limit;
  }
  const Result<FilePrefix> missing = ReadFilePrefix(u"missing"_s, 4);
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().number, ENOENT);
}

// The reason comes in the user's language, as the rest of the window does.
TEST(file_io, reasons_follow_the_users_locale) {
  const std::string previous = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "ja_JP.UTF-8") == nullptr) {
    GTEST_SKIP() << "the ja_JP.UTF-8 locale is not installed (scripts/deps test makes it)";
  }
  ScratchDir dir;
  const Result<FilePrefix> read = ReadFilePrefix(u"kelmo.ini"_s, 100);
  std::setlocale(LC_ALL, previous.c_str());
  ASSERT_FALSE(read);
  const Error& error = read.error();
  EXPECT_EQ(error.number, ENOENT);
  EXPECT_TRUE(error.description.contains(u"そのようなファイルやディレクトリはありません"_s))
      << error.description.toStdString();
  EXPECT_TRUE(error.description.startsWith(u"kelmo.ini を開けません: "_s))
      << error.description.toStdString();
}

}  // namespace
}  // namespace kelmo
