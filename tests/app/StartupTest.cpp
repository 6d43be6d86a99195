// Start-up: the program folder, the per-user lock, and the single-copy rule
// checked on the built program.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QLocalServer>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTest>
#include <filesystem>

#include "ProgramFolder.h"
#include "Startup.h"
#include "WindowArguments.h"
#include "ZentrelVersion.h"
#include "common/Process.h"
#include "common/TestSupport.h"

TEST(Startup, ProgramDirectoryIsTheRealFolderEndingInSlash) {
  // Test programs are built next to the window program.
  const std::string expected = std::filesystem::canonical(BinPath("")).string() + "/";
  EXPECT_EQ(ProgramDirectory(), expected);
}

// The lock and the socket live only where no other user can reach them.
TEST(Startup, RuntimeFolderIsPrivateToTheUser) {
  namespace fs = std::filesystem;
  ScopedUserDirs dirs;
  const TempDir temp;
  setenv("TMPDIR", temp.path().c_str(), 1);
  const std::string own = temp.file("quorvel-zentrel-" + std::to_string(getuid()));
  std::string why;
  // A runtime folder that is relative, or open to others, is not used.
  fs::permissions(dirs.dir().path(), fs::perms::all);
  for (const std::string& runtime : {std::string("run"), dirs.dir().path()}) {
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    EXPECT_EQ(RuntimeFolder(why), own + "/") << runtime;
  }
  // At the folder's own name, one open to others, or a link, is refused.
  fs::permissions(own, fs::perms::all);
  EXPECT_EQ(RuntimeFolder(why), "");
  EXPECT_NE(why.find(own + " may be entered by other users"), std::string::npos) << why;
  fs::remove(own);
  fs::create_directory_symlink(dirs.dir().path(), own);
  EXPECT_EQ(RuntimeFolder(why), "");
  EXPECT_NE(why.find(own + " is not a folder"), std::string::npos) << why;
  unsetenv("TMPDIR");
}

TEST(Startup, DefaultFolderIsTheProgramFolderOnlyWhereTheUserMayWrite) {
  TempDir dir;
  const std::string home = QDir::homePath().toStdString() + "/";
  EXPECT_EQ(DefaultFolder(dir.path() + "/"), dir.path() + "/");
  EXPECT_EQ(DefaultFolder(dir.file("gone") + "/"), home);
  if (getuid() != 0) {  // root may write anywhere
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_read |
                                                 std::filesystem::perms::owner_exec);
    EXPECT_EQ(DefaultFolder(dir.path() + "/"), home);
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all);
  }
}

TEST(WindowArgumentsTest, FileHelpVersionAndMistakes) {
  struct Row {
    std::vector<std::string> args;
    bool help, version;
    const char* file;
    const char* error;
  };
  const Row rows[] = {
      {{}, false, false, "", ""},
      {{"blink.hex"}, false, false, "blink.hex", ""},
      {{"--version"}, false, true, "", ""},
      {{"-h"}, true, false, "", ""},
      {{"--bogus", "--help"}, true, false, "", "unknown option '--bogus'"},
      {{"--", "--help"}, false, false, "--help", ""},
      {{"-"}, false, false, "-", ""},
      {{"a.hex", "b.hex"}, false, false, "a.hex", "one HEX file at a time ('a.hex', then 'b.hex')"},
  };
  for (const Row& row : rows) {
    const WindowArguments parsed = ParseWindowArguments(row.args);
    SCOPED_TRACE(row.args.empty() ? "(none)" : row.args.front());
    EXPECT_EQ(parsed.help, row.help);
    EXPECT_EQ(parsed.version, row.version);
    EXPECT_EQ(parsed.file, row.file);
    EXPECT_EQ(parsed.error, row.error);
  }
}

// --help and --version must work where there is no display at all.
TEST(Startup, HelpAndVersionNeedNoDisplay) {
  struct Row {
    const char* arg;
    std::string output;
  };
  for (const Row& row : {Row{"--version", std::string("zentrel ") + kZentrelVersion + "\n"},
                         Row{"--help", WindowHelpText()}}) {
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
    program.setProcessEnvironment(env);
    program.start(QString::fromStdString(BinPath("zentrel")), {row.arg});
    ASSERT_TRUE(program.waitForFinished(30000)) << row.arg;
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << row.arg;
    EXPECT_EQ(program.exitCode(), 0) << row.arg;
    EXPECT_EQ(program.readAllStandardOutput().toStdString(), row.output);
    EXPECT_EQ(program.readAllStandardError().toStdString(), "") << row.arg;
  }
}

namespace {
// Runs the built window program headless, with temporary user folders whose
// port map points every number at a missing device, so no real port is touched.
class SingleCopyTest : public ::testing::Test {
 protected:
  SingleCopyTest() {
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("TMPDIR", Q(temp.path()));  // where the private folder goes without a runtime folder
    std::filesystem::create_directories(dirs.portMapDir());
    for (int n = 1; n <= 12; ++n) {
      std::filesystem::create_symlink(dirs.dir().file("absent" + std::to_string(n)),
                                      dirs.portMapDir() + "/COM" + std::to_string(n));
    }
  }
  ~SingleCopyTest() override {
    // Ended as a user ends it, so that its port leaves no lock file behind.
    for (auto& copy : copies) {
      copy->terminate();
      if (!copy->waitForFinished(10000)) copy->kill();
      copy->waitForFinished(10000);
    }
  }

  QProcess& Start(const QStringList& args = {}, const std::string& runtimeDir = "",
                  const std::string& workDir = "") {
    copies.push_back(std::make_unique<QProcess>());
    QProcess& copy = *copies.back();
    QProcessEnvironment started = env;
    if (!runtimeDir.empty()) started.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtimeDir));
    copy.setProcessEnvironment(started);
    if (!workDir.empty()) copy.setWorkingDirectory(QString::fromStdString(workDir));
    copy.start(QString::fromStdString(BinPath("zentrel")), args);
    EXPECT_TRUE(copy.waitForStarted(10000));
    return copy;
  }

  // The load sequence has run when the port number has been stored.
  bool Loaded() const { return !Stored("Serial Port Number").isEmpty(); }
  QString Stored(const char* name) const {
    return QSettings(QString::fromStdString(dirs.settingsFile()), QSettings::IniFormat)
        .value(name)
        .toString();
  }

  // The lock names the process that holds it on its first line.
  bool HoldsLock(const QProcess& copy) const {
    const std::string content = ReadFile(dirs.dir().file("quorvel-zentrel.lock"));
    return content.substr(0, content.find('\n')) == std::to_string(copy.processId());
  }

  ScopedUserDirs dirs;
  TempDir temp;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  std::vector<std::unique_ptr<QProcess>> copies;
};
}  // namespace

TEST_F(SingleCopyTest, SecondCopyEndsSilentlyAndAStaleLockDoesNotBlock) {
  QProcess& first = Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return HoldsLock(first); }, 60000));

  QProcess& second = Start();
  ASSERT_TRUE(second.waitForFinished(60000));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_EQ(second.readAll().toStdString(), "");
  EXPECT_EQ(first.state(), QProcess::Running);

  // A copy that dies leaves its lock behind; the next start takes it over.
  first.kill();
  ASSERT_TRUE(first.waitForFinished(10000));
  QProcess& third = Start();
  EXPECT_TRUE(QTest::qWaitFor([&] { return HoldsLock(third); }, 60000));
  EXPECT_EQ(third.state(), QProcess::Running);
}

TEST_F(SingleCopyTest, LockThatCannotBeWrittenDoesNotKeepTheProgramFromStarting) {
  // A plain file where the folder should be: the lock cannot be made there.
  dirs.dir().write("not-a-folder", "");
  temp.write("quorvel-zentrel-" + std::to_string(getuid()), "");
  QProcess& copy = Start({}, dirs.dir().file("not-a-folder"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return Loaded(); }, 60000));
  EXPECT_EQ(copy.state(), QProcess::Running);
}

// Without a runtime folder, a lock and a socket planted at the names in the
// shared temporary folder neither stop the window nor hear from it.
TEST_F(SingleCopyTest, NamesOthersCouldHoldAreNeverUsed) {
  const std::string old = "quorvel-zentrel-" + std::to_string(getuid());
  temp.write(old + ".lock", "1\nzentrel\nelsewhere\n");  // held on another host: never stale
  QLocalServer planted;
  ASSERT_TRUE(planted.listen(Q(temp.file(old + ".socket"))));
  env.remove("XDG_RUNTIME_DIR");
  dirs.dir().write("blink.hex", ReadFile(SourcePath("samples/blink.hex")));
  QProcess& copy = Start({"blink.hex"}, "", dirs.dir().path());
  EXPECT_TRUE(QTest::qWaitFor([&] { return Stored("Last Path") == Q(dirs.dir().path() + "/"); }, 60000));
  EXPECT_EQ(copy.state(), QProcess::Running);
  EXPECT_FALSE(planted.hasPendingConnections());
}

TEST_F(SingleCopyTest, SecondStartWithAFileHandsItToTheRunningCopy) {
  QProcess& first = Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Loaded(); }, 60000));
  std::filesystem::create_directories(dirs.dir().file("here"));
  dirs.dir().write("here/blink.hex", ReadFile(SourcePath("samples/blink.hex")));

  QProcess& second = Start({"blink.hex"}, "", dirs.dir().file("here"));
  ASSERT_TRUE(second.waitForFinished(60000));
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Stored("Last Path") == Q(dirs.dir().file("here/")); }, 60000))
      << Stored("Last Path").toStdString();
  EXPECT_EQ(first.state(), QProcess::Running);
}

TEST_F(SingleCopyTest, FileArgumentIsOpenedFromTheStartingFolder) {
  std::filesystem::create_directories(dirs.dir().file("here"));
  dirs.dir().write("here/blink.hex", ReadFile(SourcePath("samples/blink.hex")));
  QProcess& copy = Start({"blink.hex"}, "", dirs.dir().file("here"));
  // The open command remembers the folder before it loads the file.
  EXPECT_TRUE(QTest::qWaitFor([&] { return Stored("Last Path") == Q(dirs.dir().file("here/")); }, 60000))
      << Stored("Last Path").toStdString();
  EXPECT_EQ(copy.state(), QProcess::Running);
}
