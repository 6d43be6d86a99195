#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <string>

#include "common/Process.h"
#include "common/TestSupport.h"
#include "ZentrelVersion.h"

namespace {

const char kConfig[] = "model:demo1\nflash:32768\neeprom:256\neraseblock:64\nprogramblock:8\n"
                       "bootloader:007D00\n";
// Four bytes at 0x0010, then the end record.
const char kGoodHex[] = ":0400100001020304E2\n:00000001FF\n";
const char kBadChecksum[] = ":0400100001020304E1\n:00000001FF\n";

// A folder with a config.txt and a HEX file in it.
struct Fixture {
  TempDir dir;
  Fixture(const std::string& config = kConfig, const std::string& hex = kGoodHex) {
    dir.write("config.txt", config);
    dir.write("prog.hex", hex);
  }
  QStringList Check(QStringList extra = {}) const {
    return QStringList{"check", Q(dir.file("prog.hex")), "--config", Q(dir.file("config.txt"))} +
           extra;
  }
};

TEST(CheckCommand, LoadsAndPrintsTheWindowsMessage) {
  Fixture f;
  ProcessResult run = RunCli(f.Check({"--image-out", Q(f.dir.file("image.bin"))}));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "Operation completed.\nTotal 20 (.019K) program bytes loaded.\n");
  EXPECT_EQ(run.err, "");
  std::string image = ReadFile(f.dir.file("image.bin"));
  ASSERT_EQ(image.size(), 32768u);
  EXPECT_EQ(image.substr(0x10, 4), "\x01\x02\x03\x04");
  EXPECT_EQ(image.substr(0, 0x10), std::string(0x10, '\xFF'));
  EXPECT_EQ(image.find_first_not_of('\xFF', 0x14), std::string::npos);
}

TEST(CheckCommand, FaultyFileExitsOneWithBlankImage) {
  Fixture f(kConfig, kBadChecksum);
  ProcessResult run = RunCli(f.Check({"--image-out", Q(f.dir.file("image.bin"))}));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err, "");
  EXPECT_EQ(ReadFile(f.dir.file("image.bin")), std::string(32768, '\xFF'));

  ProcessResult missing = RunCli({"check", Q(f.dir.file("absent.hex")), "--config",
                                  Q(f.dir.file("config.txt"))});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("absent.hex"), std::string::npos) << missing.err;
}

TEST(CheckCommand, ConfigurationProblemsExitTwo) {
  struct Case {
    std::string config;  // "" = no config.txt at all
    std::string wanted;  // in stderr
    std::string elsewhere = "";  // --config this instead
  };
  const Case cases[] = {
      {"", "config.txt"},
      {"flash:99999999999\n", "flash:99999999999"},
      {"model:x\n", "flash"},  // flash 0: the load is refused
      {"flash:0\n", "flash"},
      // Endless inputs are refused at once instead of read.
      {kConfig, "/dev/zero could not be read: not a regular file", "/dev/zero"},
      {kConfig, "/dev/urandom could not be read: not a regular file", "/dev/urandom"},
  };
  for (const Case& c : cases) {
    Fixture f(c.config);
    if (c.config.empty()) std::filesystem::remove(f.dir.file("config.txt"));
    ProcessResult run =
        RunCli(c.elsewhere.empty() ? f.Check() : f.Check({"--config", Q(c.elsewhere)}));
    EXPECT_EQ(run.exitCode, 2) << c.config;
    EXPECT_EQ(run.out, "") << c.config;
    EXPECT_NE(run.err.find(c.wanted), std::string::npos) << c.config << run.err;
  }
}

TEST(CheckCommand, UsageErrorsExitTwoOnStderr) {
  const QStringList cases[] = {
      {}, {"nope"}, {"check"}, {"check", "a.hex", "b.hex"}, {"check", "--bogus", "a.hex"},
      {"check", "a.hex", "--config"},
  };
  for (const QStringList& args : cases) {
    ProcessResult run = RunCli(args);
    EXPECT_EQ(run.exitCode, 2) << args.join(' ').toStdString();
    EXPECT_EQ(run.out, "") << args.join(' ').toStdString();
    EXPECT_NE(run.err, "") << args.join(' ').toStdString();
  }
  ProcessResult unwritable = RunCli(Fixture().Check({"--image-out", "/nonexistent/dir/image.bin"}));
  EXPECT_EQ(unwritable.exitCode, 2);
  EXPECT_NE(unwritable.err.find("/nonexistent/dir/image.bin"), std::string::npos);
}

TEST(CheckCommand, HelpGoesToStdout) {
  for (const QStringList& args : {QStringList{"--help"}, QStringList{"check", "--help"},
                                  QStringList{"check", "x.hex", "-h"}}) {
    ProcessResult run = RunCli(args);
    EXPECT_EQ(run.exitCode, 0) << args.join(' ').toStdString();
    EXPECT_NE(run.out.find("Usage: zentrel-cli"), std::string::npos) << run.out;
  }
  EXPECT_NE(RunCli({"check", "--help"}).out.find("--image-out"), std::string::npos);
}

TEST(CheckCommand, FileNamesNeedNotBeUtf8) {
  Fixture f;
  f.dir.write("\xFF\xE9t\xC3\xA9.hex", kGoodHex);
  // QProcess would turn the name into UTF-8; the shell passes the bytes.
  ProcessResult run = RunProgram(
      "/bin/sh",
      {"-c", R"sh(exec "$0" check "$(printf '\377\351t\303\251.hex')" --config config.txt \
                   --image-out "$(printf 'image\377.bin')")sh",
       Q(BinPath("zentrel-cli"))},
      Q(f.dir.path()));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("Total 20 (.019K)"), std::string::npos) << run.out;
  EXPECT_EQ(ReadFile(f.dir.file("image\xFF.bin")).size(), 32768u);
}

TEST(CheckCommand, FindsConfigBesideTheRealProgramAndFilesInTheWorkingFolder) {
  // The link sits in a folder without config.txt; the program's own folder has one.
  Fixture f;
  std::filesystem::create_symlink(BinPath("zentrel-cli"), f.dir.file("linked-cli"));
  std::filesystem::remove(f.dir.file("config.txt"));
  ScopedUserDirs user;
  ProcessResult run = RunProgram(Q(f.dir.file("linked-cli")), {"check", "prog.hex"}, Q(f.dir.path()));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("Total 20 (.019K)"), std::string::npos) << run.out;

  // The user's own device description comes first, and is named.
  const std::string own = user.dir().path() + "/Software/Quorvel Zentrel/config.txt";
  std::filesystem::create_directories(std::filesystem::path(own).parent_path());
  user.dir().write("Software/Quorvel Zentrel/config.txt", "flash:99999999999\n");
  run = RunProgram(Q(f.dir.file("linked-cli")), {"check", "prog.hex"}, Q(f.dir.path()));
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find(own), std::string::npos) << run.err;
}

TEST(CheckCommand, FileWithoutEndRecordWarnsAndFailsWhenStrict) {
  const std::string cut = ":0400100001020304E2\n";  // the end record is missing
  struct Row {
    std::string hex;
    QStringList extra;
    int exitCode;
    bool warned;
  };
  const Row rows[] = {{cut, {}, 0, true}, {cut, {"--strict"}, 1, true}, {kGoodHex, {"--strict"}, 0, false},
                      {cut, {"-q"}, 0, true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.extra.join(' ').toStdString() + (row.warned ? " without end record" : ""));
    Fixture f(kConfig, row.hex);
    ProcessResult run = RunCli(f.Check(row.extra));
    EXPECT_EQ(run.exitCode, row.exitCode) << run.err;
    EXPECT_EQ(run.err.find("no end-of-file record") != std::string::npos, row.warned) << run.err;
    EXPECT_EQ(run.out.empty(), row.extra.contains("-q")) << run.out;
  }
}

TEST(CheckCommand, WarnsOfWhatTheDownloadLeavesOut) {
  Fixture f(kConfig, ":0400100001020304E2\n:020000040030CA\n:0100000001FE\n:00000001FF\n");
  for (const QStringList& extra : {QStringList{}, QStringList{"-q"}, QStringList{"--json"}}) {
    ProcessResult run = RunCli(f.Check(extra));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.err.find("warning: The download leaves out the file's configuration words (1 byte)"),
              std::string::npos) << run.err;
    if (!extra.contains("--json")) continue;
    const QJsonObject areas = QJsonDocument::fromJson(QByteArray::fromStdString(run.out)).object()["notProgrammed"].toObject();
    EXPECT_EQ(areas["config"].toInt(), 1) << run.out;
    EXPECT_EQ(areas["eeprom"].toInt(), 0) << run.out;
  }
}

// A file that the download would refuse fails its check too, with the reason.
TEST(CheckCommand, JsonResultParsesForSuccessFaultAndRefusal) {
  // The rounded program area (64 bytes) reaches this bootloader.
  const std::string lowBootloader = std::string(kConfig).replace(std::string(kConfig).find("007D00"), 6, "000020");
  struct Row {
    std::string config;
    const char* hex;
    const char* outcome;
    const char* reason;  // "" for none
    int exitCode;
  };
  for (const Row& row : {Row{kConfig, kGoodHex, "loaded", "", 0}, Row{kConfig, kBadChecksum, "faulty", "file", 1},
                         Row{lowBootloader, kGoodHex, "refused", "frame", 3}}) {
    SCOPED_TRACE(row.outcome);
    Fixture f(row.config, row.hex);
    ProcessResult run = RunCli(f.Check({"--json"}));
    EXPECT_EQ(run.exitCode, row.exitCode);
    QJsonParseError error;
    const QJsonObject result = QJsonDocument::fromJson(QByteArray::fromStdString(run.out), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << run.out;
    EXPECT_EQ(result["format"].toInt(), 1);
    EXPECT_EQ(result["outcome"].toString().toStdString(), row.outcome);
    EXPECT_EQ(result["reason"].toString().toStdString(), row.reason);
    EXPECT_EQ(result["exitStatus"].toInt(), row.exitCode);
    EXPECT_EQ(result["programBytes"].toInt(), row.exitCode == 1 ? 0 : 20);
    EXPECT_FALSE(result["message"].toString().isEmpty());
  }
}

TEST(CheckCommand, VersionOnEveryCommandAndProgram) {
  const QStringList cases[] = {{"--version"}, {"check", "--version"}, {"frame", "--version"},
                               {"download", "--version"}, {"ports", "--version"}};
  for (const QStringList& args : cases) {
    ProcessResult run = RunCli(args);
    EXPECT_EQ(run.exitCode, 0) << args.join(' ').toStdString();
    EXPECT_EQ(run.out, "zentrel-cli " + std::string(kZentrelVersion) + "\n");
  }
  ProcessResult sim = RunBuilt("zentrel-sim", {"--version"});
  EXPECT_EQ(sim.exitCode, 0);
  EXPECT_EQ(sim.out, "zentrel-sim " + std::string(kZentrelVersion) + "\n");
}

}  // namespace
