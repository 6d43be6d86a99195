// Start-up: the program folder, the per-user lock, and the single-copy rule
// checked on the built program.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QLocalServer>
#include <QSysInfo>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTest>
#include <climits>
#include <cstring>
#include <filesystem>
#include <functional>

#include "HandOver.h"
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
  TempDir temp;
  const std::string own = temp.path() + "/quorvel-zentrel-" + std::to_string(getuid());
  const std::string open = dirs.dir().file("open");
  fs::create_directories(open);
  fs::permissions(open, fs::perms::all);
  struct Row {
    const char* runtime;  // nullptr: unset
    std::function<void()> plant;
    std::string folder;  // "" = refused
    const char* why;
  };
  const Row rows[] = {
      {dirs.dir().path().c_str(), {}, dirs.dir().path() + "/", ""},
      {"run", {}, own + "/", ""},
      {"", {}, own + "/", ""},
      {nullptr, {}, own + "/", ""},
      {open.c_str(), {}, own + "/", ""},
      {nullptr, [&] { fs::create_directory(own), fs::permissions(own, fs::perms::all); }, "",
       "may be entered by other users"},
      {nullptr, [&] { fs::create_directory_symlink(dirs.dir().path(), own); }, "", "is not a folder"},
      {nullptr, [&] { fs::create_directory(own), (void)chown(own.c_str(), 65534, 65534); }, "",
       "belongs to another user"},
  };
  const QByteArray oldTemp = qgetenv("TMPDIR");
  setenv("TMPDIR", temp.path().c_str(), 1);
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.runtime != nullptr ? row.runtime : "(unset)") + " " + row.why);
    // Only root can give a folder away.
    if (row.why == std::string("belongs to another user") && getuid() != 0) continue;
    fs::remove_all(own);
    if (row.plant) row.plant();
    row.runtime != nullptr ? setenv("XDG_RUNTIME_DIR", row.runtime, 1) : unsetenv("XDG_RUNTIME_DIR");
    std::string why;
    EXPECT_EQ(RuntimeFolder(why), row.folder);
    EXPECT_NE(why.find(row.why), std::string::npos) << why;
  }
  oldTemp.isNull() ? unsetenv("TMPDIR") : setenv("TMPDIR", oldTemp.constData(), 1);
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
    std::filesystem::create_directories(dirs.portMapDir());
    for (int n = 1; n <= 12; ++n) {
      std::filesystem::create_symlink(dirs.dir().file("absent" + std::to_string(n)),
                                      dirs.portMapDir() + "/COM" + std::to_string(n));
    }
  }
  ~SingleCopyTest() override {
    for (auto& copy : copies) {
      copy->kill();
      copy->waitForFinished(10000);
    }
  }

  QProcess& Start(const QStringList& args = {}, const std::string& workDir = "") {
    copies.push_back(std::make_unique<QProcess>());
    QProcess& copy = *copies.back();
    copy.setProcessEnvironment(env);
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

  // Where the file of a later start lands: the folder the window remembers.
  bool HandedOver(const std::string& folder) const {
    return QTest::qWaitFor([&] { return Stored("Last Path") == Q(folder); }, 60000);
  }

  // A window runs; a second start in another folder hands it a file there.
  void ExpectASecondStartHandsItsFileOver() {
    QProcess& first = Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Loaded(); }, 60000));
    std::filesystem::create_directories(dirs.dir().file("here"));
    dirs.dir().write("here/blink.hex", ReadFile(SourcePath("samples/blink.hex")));
    QProcess& second = Start({"blink.hex"}, dirs.dir().file("here"));
    ASSERT_TRUE(second.waitForFinished(60000));
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    EXPECT_TRUE(HandedOver(dirs.dir().file("here/"))) << Stored("Last Path").toStdString();
    EXPECT_EQ(first.state(), QProcess::Running);
  }

  ScopedUserDirs dirs;
  QProcessEnvironment env = OffscreenEnvironment();
  std::vector<std::unique_ptr<QProcess>> copies;

 private:
  static QProcessEnvironment OffscreenEnvironment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    return env;
  }
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

// Without a runtime folder, names in the shared temporary folder that
// another user holds (or planted) neither stop the window nor hear from it.
TEST_F(SingleCopyTest, NamesInTheSharedTemporaryFolderAreNeverTrusted) {
  const TempDir temp;
  const std::string old = temp.file("quorvel-zentrel-" + std::to_string(getuid()));
  temp.write(old + ".lock", std::to_string(getpid()) + "\nzentrel\n" + QSysInfo::machineHostName().toStdString());
  QLocalServer planted;
  ASSERT_TRUE(planted.listen(Q(old + ".socket")));
  env.remove("XDG_RUNTIME_DIR");
  env.insert("TMPDIR", Q(temp.path()));
  ExpectASecondStartHandsItsFileOver();
  EXPECT_FALSE(planted.hasPendingConnections());
}

TEST_F(SingleCopyTest, LockThatCannotBeWrittenDoesNotKeepTheProgramFromStarting) {
  // No runtime folder, and a plain file where the private folder should be.
  const TempDir temp;
  const std::string own = temp.file("quorvel-zentrel-" + std::to_string(getuid()));
  temp.write("quorvel-zentrel-" + std::to_string(getuid()), "");
  env.remove("XDG_RUNTIME_DIR");
  env.insert("TMPDIR", Q(temp.path()));
  QProcess& copy = Start();
  EXPECT_TRUE(QTest::qWaitFor([&] { return Loaded(); }, 60000));
  EXPECT_EQ(copy.state(), QProcess::Running);
  EXPECT_NE(copy.readAllStandardError().toStdString().find(own + " is not a folder"), std::string::npos);
}

TEST_F(SingleCopyTest, SecondStartWithAFileHandsItToTheRunningCopy) { ExpectASecondStartHandsItsFileOver(); }

TEST_F(SingleCopyTest, FileArgumentIsOpenedFromTheStartingFolder) {
  std::filesystem::create_directories(dirs.dir().file("here"));
  dirs.dir().write("here/blink.hex", ReadFile(SourcePath("samples/blink.hex")));
  QProcess& copy = Start({"blink.hex"}, dirs.dir().file("here"));
  // The open command remembers the folder before it loads the file.
  EXPECT_TRUE(HandedOver(dirs.dir().file("here/"))) << Stored("Last Path").toStdString();
  EXPECT_EQ(copy.state(), QProcess::Running);
}

namespace {
// A caller of the hand-over socket that writes raw bytes; true when the
// server then hangs up on it.
bool HungUpAfter(const std::string& socketPath, const std::string& bytes) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, socketPath.c_str());
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  // As much as the buffers take, which is more than a path.
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t sent = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (sent <= 0) break;
    done += static_cast<size_t>(sent);
  }
  char byte = 0;
  const bool hungUp = QTest::qWaitFor([&] { return recv(fd, &byte, 1, 0) == 0; }, 10000);
  close(fd);
  return hungUp;
}
}  // namespace

// One path a connection, and no more than a path: the rest is dropped
// unread, and the server goes on.
TEST(HandOver, TakesWholePathsOnlyAndOutlivesAFailedAccept) {
  const TempDir dir;
  std::vector<std::string> taken;
  HandOverServer server([&](const std::string& path) { taken.push_back(path); });
  std::string why;
  ASSERT_TRUE(server.Listen(dir.file("socket"), why)) << why;
  const std::string longest = "/" + std::string(PATH_MAX - 1, 'p');
  const std::string messages[] = {std::string(PATH_MAX + 1, 'p') + '\0', std::string(1 << 20, '/'),
                                  std::string("relative.hex") + '\0', std::string(1, '\0'), longest + '\0'};
  for (const std::string& message : messages) {
    EXPECT_TRUE(HungUpAfter(dir.file("socket"), message)) << message.size();
  }
  EXPECT_TRUE(QTest::qWaitFor([&] { return !taken.empty(); }, 10000));
  EXPECT_EQ(taken, std::vector<std::string>{longest});

  // Out of descriptors, the caller waits in line until one is free.
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  const rlimit lowered{512, limit.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
  std::vector<int> filler;
  for (int fd; (fd = dup(0)) >= 0;) filler.push_back(fd);
  close(filler.back());
  filler.pop_back();  // one left for the caller
  EXPECT_EQ(HandToRunningCopy(dir.file("socket"), "/late.hex"), 0);
  QTest::qWait(300);
  for (const int fd : filler) close(fd);
  setrlimit(RLIMIT_NOFILE, &limit);
  EXPECT_TRUE(QTest::qWaitFor([&] { return taken.size() == 2; }, 10000));
  EXPECT_EQ(taken.back(), "/late.hex");
}
