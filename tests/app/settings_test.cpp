// omail.ini: the empty-value marker, strict integers, the torva.ini and
// built-in fallbacks, folder options and window geometry keys.
#include "settings/settings.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

using namespace omail;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

struct Errors {
    std::vector<std::string> texts;
    GeneralSettings::ErrorSink sink() {
        return [this](const std::string& t) { texts.push_back(t); };
    }
};

}  // namespace

TEST(IniFile, EmptyStringsTravelAsTheMarker) {
    TempDir dir;
    IniFile ini(dir.path());
    ini.writeString("sigfile", "");
    EXPECT_NE(readFile(ini.path()).find("sigfile=$%^&*"), std::string::npos);
    EXPECT_EQ(ini.readString("sigfile", "x"), "");
    ini.writeString("org", "$%^&*");  // typed by the user: also reads back empty
    EXPECT_EQ(ini.readString("org", "x"), "");
    EXPECT_EQ(ini.readString("missing", kEmptyMarker), "");
    EXPECT_EQ(ini.readString("missing", "dflt"), "dflt");
}

TEST(IniFile, LongValuesAreCutAndTheFileIsPrivate) {
    TempDir dir;
    IniFile ini(dir.path());
    ini.writeString("org", std::string(400, 'o'));
    EXPECT_EQ(ini.readString("org", ""), std::string(255, 'o'));
    struct stat st;
    ASSERT_EQ(stat(ini.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // A key longer than 255 characters is the same key as its first 255.
    std::string longKey(300, 'k');
    ini.writeString(longKey, "v");
    EXPECT_EQ(ini.readString(longKey.substr(0, 255), ""), "v");
}

TEST(IniFile, IntegersAreStrict) {
    EXPECT_EQ(strictToInt("42"), 42);
    EXPECT_EQ(strictToInt("-1"), -1);
    EXPECT_EQ(strictToInt("+7"), 7);
    for (const char* bad : {"", "abc", "12a", "1.5", "0x10", "--1", "++1", "99999999999", "1 2"}) {
        try {
            strictToInt(bad);
            ADD_FAILURE() << "accepted '" << bad << "'";
        } catch (const InvalidInteger& e) {
            EXPECT_EQ(std::string(e.what()), "'" + std::string(bad) + "' is not a valid integer value");
        }
    }
    TempDir dir;
    IniFile ini(dir.path());
    writeFile(ini.path(), "[general]\ntimei=soon\nasize= 250 \n");
    EXPECT_THROW(ini.readInteger("timei", 0), InvalidInteger);
    EXPECT_EQ(ini.readInteger("asize", 100), 250);
    EXPECT_EQ(ini.readInteger("hlimit", 50), 50);
}

TEST(GeneralSettings, ExistingFileGivesTableDefaultsForMissingKeys) {
    TempDir dir, config;
    IniFile ini(dir.path());
    writeFile(ini.path(), "[general]\nrname=Ann Smith\ntimei=abc\nbackcol=255\n");
    Errors errors;
    GeneralSettings s;
    s.load(ini, config.path(), errors.sink());
    EXPECT_EQ(s.rname, "Ann Smith");
    EXPECT_EQ(s.org, "Your Organization");
    EXPECT_EQ(s.email, "username@" + std::string(kDefaultMailDomain));
    EXPECT_EQ(s.reply, "Your Name <username@" + std::string(kDefaultMailDomain) + ">");
    EXPECT_EQ(s.sigfile, "");
    EXPECT_EQ(s.pop, s.smtp);
    EXPECT_EQ(s.pass, "defpaswd");
    EXPECT_EQ(s.timez, "GMT");
    EXPECT_EQ(s.fontnam, "MS Sans Serif");
    EXPECT_EQ(s.fontstl, "B");
    EXPECT_EQ(s.fontsiz, 8);
    EXPECT_EQ(s.backcol, 255);
    EXPECT_EQ(s.headcol, 16777215);
    EXPECT_EQ(s.highcol, 8453888);
    EXPECT_EQ(s.markcol, 4259584);
    EXPECT_EQ(s.seltcol, 16776960);
    EXPECT_EQ(s.timei, 0);  // the bad value was reported and the default kept
    ASSERT_EQ(errors.texts.size(), 1u);
    EXPECT_EQ(errors.texts[0], "'abc' is not a valid integer value");
    EXPECT_EQ(s.hlimit, 50);
    EXPECT_EQ(s.xnoarc, 1);
    EXPECT_EQ(s.asize, 100);
}

TEST(GeneralSettings, WithoutAnyFileTheBuiltInValuesDifferInOrg) {
    TempDir dir, config;
    IniFile ini(dir.path());
    GeneralSettings s;
    s.load(ini, config.path(), nullptr);
    EXPECT_EQ(s.org, "Your organization");
    EXPECT_EQ(s.rname, "Your Name");
    EXPECT_EQ(s.user, "username");
    EXPECT_EQ(s.pass, "defpaswd");
    EXPECT_EQ(s.email, "username@" + std::string(kDefaultMailDomain));
    EXPECT_EQ(s.reply, "Your Name <" + s.email + ">");
    EXPECT_EQ(s.sigfile, "");
    EXPECT_EQ(s.nntp, kDefaultNewsHost);
    EXPECT_EQ(s.readcol, 255);
    EXPECT_FALSE(std::filesystem::exists(ini.path()));  // nothing is written
}

TEST(GeneralSettings, SharedFileSuppliesNameUserAndPassword) {
    TempDir dir, config;
    IniFile ini(dir.path());
    writeFile(config.file("torva.ini"), "[general]\nrname=Ann Smith\nuser=ann\npass=$%^&*\norg=Ignored Ltd\n");
    GeneralSettings s;
    s.load(ini, config.path(), nullptr);
    EXPECT_EQ(s.rname, "Ann Smith");
    EXPECT_EQ(s.user, "ann");
    EXPECT_EQ(s.pass, "");
    EXPECT_EQ(s.email, "ann@" + std::string(kDefaultMailDomain));
    EXPECT_EQ(s.reply, "Ann Smith <ann@" + std::string(kDefaultMailDomain) + ">");
    EXPECT_EQ(s.org, "Your organization");
}

TEST(GeneralSettings, SaveThenLoadRoundTrips) {
    TempDir dir, config;
    IniFile ini(dir.path());
    GeneralSettings a;
    a.load(ini, config.path(), nullptr);
    a.rname = "Bob";
    a.sigfile = "";
    a.timei = 15;
    a.seltcol = 123;
    a.save(ini);
    GeneralSettings b;
    b.load(ini, config.path(), nullptr);
    EXPECT_EQ(b.rname, "Bob");
    EXPECT_EQ(b.org, "Your organization");  // saved from the built-in value
    EXPECT_EQ(b.sigfile, "");
    EXPECT_EQ(b.timei, 15);
    EXPECT_EQ(b.seltcol, 123);
}

TEST(GeneralSettings, SavingAPasswordMakesAReadableFilePrivate) {
    TempDir dir, config;
    IniFile ini(dir.path());
    writeFile(ini.path(), "[general]\r\nrname=Bob\r\n");
    ASSERT_EQ(::chmod(ini.path().c_str(), 0644), 0);
    GeneralSettings a;
    a.load(ini, config.path(), nullptr);
    EXPECT_EQ(a.leave, 0);
    EXPECT_EQ(a.uidl, 0);
    a.leave = 1;
    a.leavedays = 14;
    a.save(ini);
    struct stat st;
    ASSERT_EQ(stat(ini.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // Our keys follow the ones every installation has, in their order.
    const std::string text = readFile(ini.path());
    const size_t news = text.find("newspass="), leave = text.find("leave=1"), days = text.find("leavedays=14");
    ASSERT_NE(leave, std::string::npos);
    EXPECT_LT(news, leave);
    EXPECT_LT(leave, days);
    GeneralSettings b;
    b.load(ini, config.path(), nullptr);
    EXPECT_EQ(b.leavedays, 14);
}

TEST(FolderOptions, DefaultsAndStoredValues) {
    TempDir dir;
    IniFile ini(dir.path());
    FolderOptions o;
    o.load(ini, nullptr);
    EXPECT_EQ(o.rfrom, 0);
    EXPECT_EQ(o.rrecip, 1);
    EXPECT_EQ(o.sfrom, 1);
    EXPECT_EQ(o.srecip, 0);
    EXPECT_EQ(o.pfrom, 0);
    EXPECT_EQ(o.pgrp, 0);
    o.rfrom = 1;
    o.rrecip = 0;
    o.save(ini);
    FolderOptions p;
    p.load(ini, nullptr);
    EXPECT_EQ(p.rfrom, 1);
    EXPECT_EQ(p.rrecip, 0);
    EXPECT_EQ(p.sfrom, 1);
}

TEST(WindowGeometry, LeftOfMinusOneMeansNothingStored) {
    TempDir dir;
    IniFile ini(dir.path());
    writeFile(ini.path(), "[general]\nmleft=-1\nmtop=50\nmwidth=900\nmheight=700\n");
    WindowGeometry g = WindowGeometry::read(ini, 'm', 640, 480, nullptr);
    EXPECT_FALSE(g.stored);

    writeFile(ini.path(), "[general]\nmleft=10\nmheight=300\n");
    g = WindowGeometry::read(ini, 'm', 640, 480, nullptr);
    EXPECT_TRUE(g.stored);
    EXPECT_EQ(g.left, 10);
    EXPECT_EQ(g.top, 0);
    EXPECT_EQ(g.width, 640);
    EXPECT_EQ(g.height, 300);

    g = WindowGeometry::read(ini, 'l', 320, 480, nullptr);  // the decode log's keys are absent
    EXPECT_FALSE(g.stored);
    WindowGeometry::write(ini, 'l', 1, 2, 3, 4);
    g = WindowGeometry::read(ini, 'l', 320, 480, nullptr);
    EXPECT_EQ(std::make_tuple(g.left, g.top, g.width, g.height), std::make_tuple(1, 2, 3, 4));
}

TEST(FontStyle, LettersAddStylesAndOthersAreIgnored) {
    FontStyle s = FontStyle::parse("RBxU");
    EXPECT_TRUE(s.bold);
    EXPECT_FALSE(s.italic);
    EXPECT_TRUE(s.underline);
    EXPECT_FALSE(s.strikeOut);
    s = FontStyle::parse("IS");
    EXPECT_TRUE(s.italic && s.strikeOut && !s.bold);
    s = FontStyle::parse("b");  // lower case is not a style letter
    EXPECT_FALSE(s.bold);
}
