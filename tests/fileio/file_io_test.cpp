#include "fileio/file_io.h"

#include <gtest/gtest.h>
#include <QDateTime>

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
        dir.SetWritable(false);
        Unprivileged nobody;
        return SaveFileBytes(u"f"_s, "new\r\n");
      }
      FileSizeLimit limit(64);
      return SaveFileBytes(u"f"_s, QByteArray(200, 'n'));
    }();
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.error().number, row.expected);
    EXPECT_TRUE(saved.error().description.contains(u"f"_s));
    dir.SetWritable(true);
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
      {"a_directory_of_that_name", [](ScratchDir&) { QDir().mkdir(u"f"_s); },
       static_cast<int>(FileError::kNotRegularFile)},
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
    ASSERT_EQ(::chdir(dir.Path().toLocal8Bit().constData()), 0);
    EXPECT_EQ(QDir().entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size(),
              row.number == static_cast<int>(FileError::kNotRegularFile) ? 1 : 0)
        << ": a temporary file was left";
  }
}

// Only a regular file, or a link to one, is replaced; anything else of that name is
// refused and left as it is.
TEST(file_io, save_replaces_only_a_regular_file) {
  struct Row {
    const char* name;
    std::function<void()> arrange;
    bool saved;
  };
  const Row rows[] = {
      {"nothing_there", [] {}, true},
      {"a_regular_file", [] { WriteAll(u"f"_s, "old"); }, true},
      {"a_link_to_a_regular_file",
       [] {
         WriteAll(u"target"_s, "old");
         ASSERT_TRUE(QFile::link(u"target"_s, u"f"_s));
       },
       true},
      {"a_dangling_link", [] { ASSERT_TRUE(QFile::link(u"nowhere"_s, u"f"_s)); }, true},
      {"a_fifo", [] { ASSERT_EQ(::mkfifo("f", 0600), 0); }, false},
      {"a_link_to_a_fifo",
       [] {
         ASSERT_EQ(::mkfifo("fifo", 0600), 0);
         ASSERT_TRUE(QFile::link(u"fifo"_s, u"f"_s));
       },
       false},
      {"a_link_to_a_device", [] { ASSERT_TRUE(QFile::link(u"/dev/null"_s, u"f"_s)); }, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScratchDir dir;
    row.arrange();
    struct stat before {};
    const bool existed = ::lstat("f", &before) == 0;
    const Result<> saved = SaveFileBytes(u"f"_s, "new");
    EXPECT_EQ(saved.has_value(), row.saved);
    struct stat after {};
    ASSERT_EQ(::lstat("f", &after), 0);
    if (row.saved) {
      EXPECT_TRUE(S_ISREG(after.st_mode));
      EXPECT_EQ(ReadAll(u"f"_s), "new");
    } else {
      EXPECT_EQ(saved.error().number, static_cast<int>(FileError::kNotRegularFile));
      EXPECT_TRUE(saved.error().description.startsWith(u"f に保存できません: "_s));
      ASSERT_TRUE(existed);
      EXPECT_EQ(after.st_ino, before.st_ino);  // the very same entry, untouched
    }
    EXPECT_EQ(
        QDir().entryList({u"f.*"_s, u".f.*"_s}, QDir::AllEntries | QDir::Hidden | QDir::System),
        QStringList());
  }
}

// A save keeps the group of the file it replaces, where the saver may set it.
TEST(file_io, save_keeps_the_old_files_group) {
  gid_t groups[64];
  const int count = ::getgroups(64, groups);
  gid_t other = static_cast<gid_t>(-1);
  for (int i = 0; i < count; ++i) {
    if (groups[i] != ::getegid()) other = groups[i];
  }
  if (::geteuid() == 0) other = ::getegid() == 1 ? 2 : 1;  // root may give any group
  if (other == static_cast<gid_t>(-1)) GTEST_SKIP() << "this user has one group only";
  ScratchDir dir;
  WriteAll(u"f"_s, "old");
  ASSERT_EQ(::chown("f", static_cast<uid_t>(-1), other), 0);
  ASSERT_EQ(::chmod("f", 0640), 0);
  ASSERT_TRUE(SaveFileBytes(u"f"_s, "new"));
  struct stat status {};
  ASSERT_EQ(::stat("f", &status), 0);
  EXPECT_EQ(status.st_gid, other);
  EXPECT_EQ(status.st_mode & 0777, 0640u);
}

TEST(file_io, system_error_texts_follow_a_shift_jis_locale) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "ja_JP.SJIS") == nullptr) GTEST_SKIP() << "no ja_JP.SJIS locale";
  const QString text = SystemErrorText(ENOENT);
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(text, u"そのようなファイルやディレクトリはありません"_s);
}

TEST(file_io, reading_what_is_not_a_file) {
  ScratchDir dir;
  ASSERT_EQ(::mkfifo("fifo", 0600), 0);
  QDir().mkdir(u"folder"_s);
  for (const QString& name : {u"fifo"_s, u"folder"_s, u"/dev/zero"_s, u"/dev/null"_s}) {
    SCOPED_TRACE(name.toStdString());
    const Result<FilePrefix> read = ReadFilePrefix(name, 100);
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error().number, static_cast<int>(FileError::kNotRegularFile));
    EXPECT_TRUE(read.error().description.startsWith(name + u" を読み込めません: "_s));
  }
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
