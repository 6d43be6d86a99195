#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "common/TestSupport.h"
#include "SettingsStore.h"

namespace {

ino_t Inode(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_ino;
}

std::string Repeat(std::string_view piece, size_t times) {
  std::string text;
  for (size_t i = 0; i < times; ++i) text += piece;
  return text;
}

TEST(SettingsStore, FollowsTheUsersConfigurationFolder) {
  ScopedUserDirs dirs;
  EXPECT_EQ(SettingsStore::DefaultPath(), dirs.settingsFile());
  EXPECT_EQ(SettingsStore::PortMapDirectory(), dirs.portMapDir());
  EXPECT_EQ(SettingsStore().Path(), dirs.settingsFile());
  {
    ScopedUserDirs other;
    EXPECT_EQ(SettingsStore::DefaultPath(), other.settingsFile());
  }
  // A relative folder would move with the current folder: it is ignored.
  const char* home = std::getenv("HOME");
  ASSERT_NE(home, nullptr);
  for (const char* relative : {"relative/config", ".", ":config"}) {
    setenv("XDG_CONFIG_HOME", relative, 1);
    EXPECT_EQ(SettingsStore::DefaultPath(), std::string(home) + "/.config/Software/Quorvel Zentrel.ini") << relative;
  }
  setenv("XDG_CONFIG_HOME", dirs.dir().path().c_str(), 1);
}

TEST(SettingsStore, FirstRunWritesTheDefaultsBack) {
  ScopedUserDirs dirs;
  SettingsStore store;
  EXPECT_EQ(store.ReadSetting("Serial Port Number", "2"), "2");
  EXPECT_EQ(store.ReadSetting("Last Path", "/opt/zentrel/"), "/opt/zentrel/");
  EXPECT_TRUE(std::filesystem::is_regular_file(dirs.settingsFile()));
  // Stored now: another default no longer applies.
  SettingsStore again;
  EXPECT_EQ(again.ReadSetting("Serial Port Number", "7"), "2");
  EXPECT_EQ(again.ReadSetting("Last Path", "/elsewhere/"), "/opt/zentrel/");
}

TEST(SettingsStore, CreateSettingsKeyMakesTheFileWithoutTouchingIt) {
  ScopedUserDirs dirs;
  SettingsStore store;
  store.CreateSettingsKey();
  EXPECT_TRUE(std::filesystem::is_regular_file(dirs.settingsFile()));
  store.WriteSetting("Serial Port Baud Rate", "115200");
  store.CreateSettingsKey();
  EXPECT_EQ(store.ReadSetting("Serial Port Baud Rate", "19200"), "115200");
}

TEST(SettingsStore, ValuesUpTo254CharactersReadBack) {
  ScopedUserDirs dirs;
  SettingsStore store;
  // The limit counts characters, whatever their UTF-8 length; a byte that
  // belongs to no character counts as one.
  for (const char* piece : {"x", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x94\x8C", "\xFF"}) {
    for (size_t length : {0, 1, 200, 253, 254}) {
      std::string value = Repeat(piece, length);
      store.WriteSetting("Last Path", value);
      EXPECT_EQ(store.ReadSetting("Last Path", "/default/"), value) << piece << " x " << length;
    }
    for (size_t length : {255, 300}) {
      store.WriteSetting("Last Path", Repeat(piece, length));
      EXPECT_EQ(store.ReadSetting("Last Path", "/default/"), "/default/") << piece << " x " << length;
      // The default has replaced the long value.
      EXPECT_EQ(store.ReadSetting("Last Path", "/other/"), "/default/") << piece << " x " << length;
    }
  }
}

TEST(SettingsStore, AwkwardTextsSurvive) {
  ScopedUserDirs dirs;
  SettingsStore store;
  const std::string texts[] = {
      "/home/a b/c, d/",  "@Variant(1)", "=;#[General]", "\"quoted\"", "back\\slash\\",
      "line\nbreak",      " lead and trail ", "caf\xC3\xA9/", "/home/\xE9t\xE9/\xFF\x80/",
      "a\x01" "b\x7F" "c\td", "@@two", "x;y",
  };
  for (const std::string& text : texts) {
    store.WriteSetting("Last Path", text);
    EXPECT_EQ(SettingsStore().ReadSetting("Last Path", "/default/"), text);
  }
  store.WriteSetting("A Name = with [odd] chars", "v");
  EXPECT_EQ(store.ReadSetting("A Name = with [odd] chars", "d"), "v");
}

TEST(SettingsStore, HandWrittenValuesReadAsWritten) {
  ScopedUserDirs dirs;
  std::filesystem::create_directories(dirs.dir().file("Software"));
  struct Case {
    std::string file;
    std::string wanted;  // "" = the default
  };
  const Case cases[] = {
      {"[General]\nLast Path=/home/u/a, b/\n", "/home/u/a, b/"},
      {"Last Path=/home/u/a;b/\n", "/home/u/a;b/"},
      {"[General]\nLast%20Path=\"/q, r/\"\n", "/q, r/"},
      {"[general]\n  Last Path =  spaced out  \t\r\n", "spaced out"},
      {"[General]\nLast Path=\" kept \"\n", " kept "},
      {"[General]\nLast Path=C:\\dir\\q\\\n", "C:\\dir\\q\\"},
      {"[General]\nLast Path=\\x41\\101\\x\n", "AA\\x"},
      {"[General]\nLast Path=/one/\nLast Path=/two/\n", "/two/"},
      {"[General]\nLast Path=\n", ""},
      {"[Other]\nLast Path=/elsewhere/\n", "/default/"},
      {"; note\n# note\n\n[General]\r\nLast Path=/crlf/\r\n", "/crlf/"},
  };
  for (const Case& c : cases) {
    dirs.dir().write("Software/Quorvel Zentrel.ini", c.file);
    EXPECT_EQ(SettingsStore().ReadSetting("Last Path", "/default/"), c.wanted) << c.file;
  }
}

TEST(SettingsStore, WritesChangeOnlyTheirLineAndFollowLinks) {
  ScopedUserDirs dirs;
  TempDir elsewhere;
  const std::string handWritten =
      "; my settings\r\n[General]\r\nLast Path=/home/u/a, b/\r\nSerial Port Number = 3 \r\n"
      "\r\n[Window]\r\nsize=@Size(10 20)\r\n";
  elsewhere.write("real.ini", handWritten);
  std::filesystem::create_directories(dirs.dir().file("Software"));
  std::filesystem::create_symlink(elsewhere.file("real.ini"), dirs.settingsFile());

  SettingsStore store;
  const ino_t before = Inode(elsewhere.file("real.ini"));
  EXPECT_EQ(store.ReadSetting("Last Path", "/d/"), "/home/u/a, b/");
  EXPECT_EQ(store.ReadSetting("Serial Port Number", "2"), "3");
  store.WriteSetting("Serial Port Number", "3");
  store.WriteSetting("Last Path", "/home/u/a, b/");
  // Nothing changed, so nothing was written.
  EXPECT_EQ(Inode(elsewhere.file("real.ini")), before);
  EXPECT_EQ(ReadFile(elsewhere.file("real.ini")), handWritten);

  store.WriteSetting("Serial Port Number", "5");
  EXPECT_EQ(store.ReadSetting("Serial Port Baud Rate", "19200"), "19200");
  EXPECT_TRUE(std::filesystem::is_symlink(dirs.settingsFile()));
  EXPECT_EQ(ReadFile(elsewhere.file("real.ini")),
            "; my settings\r\n[General]\r\nLast Path=/home/u/a, b/\r\nSerial Port Number = 5\r\n"
            "Serial%20Port%20Baud%20Rate=19200\r\n\r\n[Window]\r\nsize=@Size(10 20)\r\n");
}

TEST(SettingsStore, FirstValueOfAFileGetsAGeneralSection) {
  TempDir dir;
  for (const std::string& before : {std::string(), std::string("; hand\n[Other]\nx=1")}) {
    dir.write("s.ini", before);
    SettingsStore(dir.file("s.ini")).WriteSetting("Last Path", "/p/");
    EXPECT_EQ(ReadFile(dir.file("s.ini")), "[General]\nLast%20Path=/p/\n" + before) << before;
  }
  // A link to nowhere is written through: the file appears at its target.
  std::filesystem::create_symlink("target.ini", dir.file("link.ini"));
  SettingsStore(dir.file("link.ini")).WriteSetting("Last Path", "/p/");
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.ini")));
  EXPECT_EQ(ReadFile(dir.file("target.ini")), "[General]\nLast%20Path=/p/\n");
}

// One odd hand-written line must not hide every other value.
TEST(SettingsStore, LinesThatCannotBeReadAreKeptAndSkipped) {
  ScopedUserDirs dirs;
  SettingsStore store;
  store.CreateSettingsKey();
  dirs.dir().write("Software/Quorvel Zentrel.ini", "[General\nSerial%20Port%20Number=5\nno equals sign\n[Other\n");
  EXPECT_EQ(store.ReadSetting("Serial Port Number", "2"), "5");
  store.WriteSetting("Serial Port Number", "12");
  EXPECT_EQ(SettingsStore().ReadSetting("Serial Port Number", "2"), "12");
  EXPECT_EQ(ReadFile(dirs.settingsFile()), "[General\nSerial%20Port%20Number=12\nno equals sign\n[Other\n");
}

// Two programs changing settings at once: each change is made on the text
// the other left, so none is lost; a killed writer's file goes with the next write.
TEST(SettingsStore, WritersAtOnceLoseNothingAndLeaveNothingBehind) {
  ScopedUserDirs dirs;
  SettingsStore().CreateSettingsKey();
  for (const char* ending : {".writing-Ab12Cd", ".backup"}) std::ofstream(dirs.settingsFile() + ending) << "x";
  auto writer = [](char who) {
    SettingsStore store;  // each its own, as two programs have
    for (int i = 0; i < 40; ++i) store.WriteSetting(who + std::to_string(i), "v");
  };
  std::thread a(writer, 'a'), b(writer, 'b');
  a.join();
  b.join();
  for (const std::string who : {"a", "b"}) {
    for (int i = 0; i < 40; ++i) EXPECT_EQ(SettingsStore().ReadSetting(who + std::to_string(i), "lost"), "v") << who << i;
  }
  EXPECT_FALSE(std::filesystem::exists(dirs.settingsFile() + ".writing-Ab12Cd"));
  EXPECT_TRUE(std::filesystem::exists(dirs.settingsFile() + ".backup"));
}

TEST(SettingsStore, SettingsFileThatIsNoFileIsNeitherReadNorReplaced) {
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.file("fifo.ini").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", dir.file("zero.ini"));
  dir.write("big.ini", "[General]\nLast Path=/p/\n" + std::string(2 << 20, ';'));
  for (const char* name : {"fifo.ini", "zero.ini", "big.ini"}) {
    SettingsStore store(dir.file(name));
    EXPECT_EQ(store.ReadSetting("Last Path", "/d/"), "/d/") << name;
    store.WriteSetting("Last Path", "/w/");
    EXPECT_EQ(store.ReadSetting("Last Path", "/d/"), "/w/") << name;
  }
  EXPECT_TRUE(std::filesystem::is_fifo(dir.file("fifo.ini")));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("zero.ini")));
  EXPECT_EQ(std::filesystem::file_size(dir.file("big.ini")), 24u + (2u << 20));
}

TEST(SettingsStore, UnwritablePlacesNeverStopTheProgram) {
  ScopedUserDirs dirs;
  // Root ignores permissions, so block the path with the wrong kind of file.
  dirs.dir().write("Software", "a file where the folder should be");
  SettingsStore blockedFolder;
  EXPECT_EQ(blockedFolder.ReadSetting("Serial Port Number", "2"), "2");
  blockedFolder.WriteSetting("Serial Port Number", "4");
  EXPECT_EQ(blockedFolder.ReadSetting("Serial Port Number", "2"), "4");
  EXPECT_EQ(SettingsStore().ReadSetting("Serial Port Number", "2"), "2");

  TempDir other;
  std::filesystem::create_directories(other.file("Quorvel Zentrel.ini"));
  SettingsStore folderForFile(other.file("Quorvel Zentrel.ini"));
  EXPECT_EQ(folderForFile.ReadSetting("Last Path", "/d/"), "/d/");
  folderForFile.WriteSetting("Last Path", "/x/");
  EXPECT_EQ(folderForFile.ReadSetting("Last Path", "/d/"), "/x/");
  EXPECT_TRUE(std::filesystem::is_directory(other.file("Quorvel Zentrel.ini")));
}

}  // namespace

// Which config.txt is read, named as the file behind any link.
TEST(SettingsStore, DeviceDescriptionIsTheUsersOwnFirstAndNamedAsTheRealFile) {
  namespace fs = std::filesystem;
  struct Row {
    const char* user;     // the user's config.txt: "file", "link to missing" or nullptr
    const char* program;  // the program's: "file" or "link to etc"
    const char* read;     // what is read, under the test folder
  };
  const Row rows[] = {
      {nullptr, "file", "program/config.txt"},
      {nullptr, "link to etc", "etc/config.txt"},
      {"file", "file", "Software/Quorvel Zentrel/config.txt"},
      // The user's choice holds even when its target is gone: reading it says so.
      {"link to missing", "file", "missing.txt"},
  };
  for (const Row& row : rows) {
    ScopedUserDirs dirs;
    const TempDir& top = dirs.dir();
    const fs::path user = top.path() + "/Software/Quorvel Zentrel/config.txt";
    fs::create_directories(user.parent_path());
    fs::create_directories(top.file("program"));
    const std::string userKind = row.user != nullptr ? row.user : "";
    if (userKind == "file") top.write("Software/Quorvel Zentrel/config.txt", "model:mine\n");
    if (userKind == "link to missing") fs::create_symlink(top.file("missing.txt"), user);
    if (row.program == std::string("file")) top.write("program/config.txt", "model:x\n");
    if (row.program == std::string("link to etc")) fs::create_symlink("../etc/config.txt", top.file("program/config.txt"));
    SCOPED_TRACE(row.read);
    EXPECT_EQ(SettingsStore::DeviceDescriptionPath(top.file("program/")),
              fs::weakly_canonical(top.path()).string() + "/" + row.read);
  }
}
