// Profile files: defaults, case, the 255-character cut, other lines kept,
// safe rewrites and the file mode.
#include "platform/profile.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

using platform::GetPrivateProfileString;
using platform::WritePrivateProfileString;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

TEST(Profile, MissingFileSectionOrKeyGivesTheDefault) {
    TempDir dir;
    std::string ini = dir.file("omail.ini");
    EXPECT_EQ(GetPrivateProfileString("general", "rname", "Your Name", ini), "Your Name");
    writeFile(ini, "[other]\nrname=X\n[general]\nemail=a@b\n");
    EXPECT_EQ(GetPrivateProfileString("general", "rname", "dflt", ini), "dflt");
    EXPECT_EQ(GetPrivateProfileString("general", "email", "dflt", ini), "a@b");
    EXPECT_EQ(GetPrivateProfileString("other", "rname", "dflt", ini), "X");
}

TEST(Profile, SectionsAndKeysIgnoreCaseAndBlanksAreTrimmed) {
    TempDir dir;
    std::string ini = dir.file("omail.ini");
    writeFile(ini, "[General]\r\n  RName =  Ann Smith  \r\nquoted=\"a b \"\r\nempty=\r\n");
    EXPECT_EQ(GetPrivateProfileString("general", "rname", "", ini), "Ann Smith");
    EXPECT_EQ(GetPrivateProfileString("GENERAL", "Quoted", "", ini), "a b ");
    EXPECT_EQ(GetPrivateProfileString("general", "empty", "dflt", ini), "");
}

TEST(Profile, LongValuesReadBackCutAt255) {
    TempDir dir;
    std::string ini = dir.file("omail.ini");
    std::string longValue(300, 'x');
    ASSERT_TRUE(WritePrivateProfileString("general", "org", longValue, ini));
    EXPECT_EQ(GetPrivateProfileString("general", "org", "", ini), std::string(255, 'x'));
    EXPECT_EQ(GetPrivateProfileString("general", "nothere", longValue, ini).size(), 255u);
}

TEST(Profile, WritingKeepsEveryOtherLine) {
    TempDir dir;
    std::string ini = dir.file("omail.ini");
    writeFile(ini, "; my settings\r\n[general]\r\nrname=Ann\r\n; keep me\r\nemail=a@b\r\n\r\n[news]\r\nx=1\r\n");
    ASSERT_TRUE(WritePrivateProfileString("general", "RNAME", "Bob", ini));
    ASSERT_TRUE(WritePrivateProfileString("general", "timei", "5", ini));
    ASSERT_TRUE(WritePrivateProfileString("extra", "k", "v", ini));
    EXPECT_EQ(readFile(ini),
              "; my settings\r\n[general]\r\nRNAME=Bob\r\n; keep me\r\nemail=a@b\r\ntimei=5\r\n\r\n"
              "[news]\r\nx=1\r\n\r\n[extra]\r\nk=v\r\n");
}

TEST(Profile, NewFileIsPrivateAndAnExistingModeIsKept) {
    TempDir dir;
    std::string ini = dir.file("omail.ini");
    ASSERT_TRUE(WritePrivateProfileString("general", "pass", "secret", ini));
    struct stat st;
    ASSERT_EQ(stat(ini.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(readFile(ini), "[general]\npass=secret\n");
    chmod(ini.c_str(), 0640);
    ASSERT_TRUE(WritePrivateProfileString("general", "pass", "other", ini));
    ASSERT_EQ(stat(ini.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    // No temporary files are left beside it.
    int entries = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 1);
}

TEST(Profile, WriteIntoAnUnwritableDirectoryFailsAndKeepsTheFile) {
    if (geteuid() == 0) GTEST_SKIP() << "root may write anywhere";
    TempDir dir;
    std::string ini = dir.file("omail.ini");
    writeFile(ini, "[general]\nrname=Ann\n");
    chmod(dir.path().c_str(), 0500);
    EXPECT_FALSE(WritePrivateProfileString("general", "rname", "Bob", ini));
    chmod(dir.path().c_str(), 0700);
    EXPECT_EQ(readFile(ini), "[general]\nrname=Ann\n");
}

TEST(Profile, WindowsDirectoryIsTheUsersConfigDirectory) {
    setenv("XDG_CONFIG_HOME", "/tmp/cfg-test", 1);
    EXPECT_EQ(platform::GetWindowsDirectory(), "/tmp/cfg-test");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", "/home/ann", 1);
    EXPECT_EQ(platform::GetWindowsDirectory(), "/home/ann/.config");
}
