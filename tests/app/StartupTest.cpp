// Start-up: the program folder, the per-user lock, and the single-copy rule
// checked on the built program.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTest>
#include <filesystem>

#include "ProgramFolder.h"
#include "Startup.h"
#include "common/TestSupport.h"

TEST(Startup, ProgramDirectoryIsTheRealFolderEndingInSlash) {
  // Test programs are built next to the window program.
  const std::string expected = std::filesystem::canonical(BinPath("")).string() + "/";
  EXPECT_EQ(ProgramDirectory(), expected);
}

TEST(Startup, LockIsPerUser) {
  ScopedUserDirs dirs;
  EXPECT_EQ(SingleCopyLockPath(), dirs.dir().path() + "/quorvel-zentrel.lock");
  const std::string shared =
      QDir::tempPath().toStdString() + "/quorvel-zentrel-" + std::to_string(getuid()) + ".lock";
  for (const char* relative : {"run", "./run", ""}) {
    setenv("XDG_RUNTIME_DIR", relative, 1);
    EXPECT_EQ(SingleCopyLockPath(), shared) << relative;
  }
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(SingleCopyLockPath(), shared);
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

  QProcess& Start(const std::string& runtimeDir = "") {
    copies.push_back(std::make_unique<QProcess>());
    QProcess& copy = *copies.back();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    if (!runtimeDir.empty()) env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtimeDir));
    copy.setProcessEnvironment(env);
    copy.start(QString::fromStdString(BinPath("zentrel")), {});
    EXPECT_TRUE(copy.waitForStarted(10000));
    return copy;
  }

  // The load sequence has run when the port number has been stored.
  bool Loaded() const {
    return QSettings(QString::fromStdString(dirs.settingsFile()), QSettings::IniFormat)
        .contains("Serial Port Number");
  }

  // The lock names the process that holds it on its first line.
  bool HoldsLock(const QProcess& copy) const {
    const std::string content = ReadFile(dirs.dir().file("quorvel-zentrel.lock"));
    return content.substr(0, content.find('\n')) == std::to_string(copy.processId());
  }

  ScopedUserDirs dirs;
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
  QProcess& copy = Start(dirs.dir().file("not-a-folder"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return Loaded(); }, 60000));
  EXPECT_EQ(copy.state(), QProcess::Running);
}
