#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "common/TestSupport.h"
#include "SettingsStore.h"

namespace {

TEST(SettingsStore, FollowsTheUsersConfigurationFolder) {
  ScopedUserDirs dirs;
  EXPECT_EQ(SettingsStore::DefaultPath(), dirs.settingsFile());
  EXPECT_EQ(SettingsStore::PortMapDirectory(), dirs.portMapDir());
  EXPECT_EQ(SettingsStore().Path(), dirs.settingsFile());
  {
    ScopedUserDirs other;
    EXPECT_EQ(SettingsStore::DefaultPath(), other.settingsFile());
  }
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
  for (size_t length : {0, 1, 253, 254}) {
    std::string value(length, 'x');
    store.WriteSetting("Last Path", value);
    EXPECT_EQ(store.ReadSetting("Last Path", "/default/"), value) << length;
  }
  for (size_t length : {255, 300}) {
    store.WriteSetting("Last Path", std::string(length, 'x'));
    EXPECT_EQ(store.ReadSetting("Last Path", "/default/"), "/default/") << length;
    // The default has replaced the long value.
    EXPECT_EQ(store.ReadSetting("Last Path", "/other/"), "/default/") << length;
  }
}

TEST(SettingsStore, AwkwardTextsSurvive) {
  ScopedUserDirs dirs;
  SettingsStore store;
  const std::string texts[] = {
      "/home/a b/c, d/",  "@Variant(1)", "=;#[General]", "\"quoted\"", "back\\slash\\",
      "line\nbreak",      " lead and trail ", "caf\xC3\xA9/",
  };
  for (const std::string& text : texts) {
    store.WriteSetting("Last Path", text);
    EXPECT_EQ(SettingsStore().ReadSetting("Last Path", "/default/"), text);
  }
  store.WriteSetting("A Name = with [odd] chars", "v");
  EXPECT_EQ(store.ReadSetting("A Name = with [odd] chars", "d"), "v");
}

TEST(SettingsStore, CorruptFileGivesDefaultsAndIsLeftAlone) {
  ScopedUserDirs dirs;
  SettingsStore store;
  store.CreateSettingsKey();
  const std::string corrupt = "[General\nSerial%20Port%20Number=5\n";
  {
    std::ofstream out(dirs.settingsFile(), std::ios::binary);
    out << corrupt;
  }
  EXPECT_EQ(store.ReadSetting("Serial Port Number", "2"), "2");
  store.WriteSetting("Serial Port Number", "9");
  EXPECT_EQ(ReadFile(dirs.settingsFile()), corrupt);
}

TEST(SettingsStore, UnwritablePlacesNeverStopTheProgram) {
  ScopedUserDirs dirs;
  // Root ignores permissions, so block the path with the wrong kind of file.
  dirs.dir().write("Software", "a file where the folder should be");
  SettingsStore blockedFolder;
  EXPECT_EQ(blockedFolder.ReadSetting("Serial Port Number", "2"), "2");
  blockedFolder.WriteSetting("Serial Port Number", "4");
  EXPECT_EQ(blockedFolder.ReadSetting("Serial Port Number", "2"), "2");

  TempDir other;
  std::filesystem::create_directories(other.file("Quorvel Zentrel.ini"));
  SettingsStore folderForFile(other.file("Quorvel Zentrel.ini"));
  EXPECT_EQ(folderForFile.ReadSetting("Last Path", "/d/"), "/d/");
  folderForFile.WriteSetting("Last Path", "/x/");
  EXPECT_EQ(folderForFile.ReadSetting("Last Path", "/d/"), "/d/");
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
