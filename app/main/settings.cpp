#include "main/settings.h"

#include "platform/fsys.h"
#include "platform/profile.h"

#include <charconv>
#include <cstdio>

namespace omail {
namespace {

std::string cut(std::string_view s) { return std::string(s.substr(0, kProfileArgMax)); }

// Reads one integer key, reporting a bad value and keeping the default.
void readInt(const IniFile& ini, std::string_view key, int& field,
             const GeneralSettings::ErrorSink& onError) {
    try {
        field = ini.readInteger(key, field);
    } catch (const InvalidInteger& e) {
        if (onError) onError(e.what());
    }
}

std::string defaultEmail(std::string_view user) {
    return std::string(user) + "@" + std::string(kDefaultMailDomain);
}

std::string defaultReply(std::string_view name, std::string_view email) {
    return std::string(name) + " <" + std::string(email) + ">";
}

}  // namespace

InvalidInteger::InvalidInteger(std::string_view text)
    : std::runtime_error("'" + std::string(text) + "' is not a valid integer value") {}

int strictToInt(std::string_view text) {
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    if (digits.empty() || digits.front() == '+') throw InvalidInteger(text);
    int value = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size()) throw InvalidInteger(text);
    return value;
}

IniFile::IniFile(std::string dataDirectory) : m_dir(std::move(dataDirectory)) {}

std::string IniFile::path() const { return cut(m_dir + "/" + std::string(kIniName)); }

bool IniFile::exists() const { return platform::fileExists(path()); }

int IniFile::readInteger(std::string_view key, int def) const {
    std::string text = platform::GetPrivateProfileString(kSection, cut(key), std::to_string(def), path());
    return strictToInt(text);
}

std::string IniFile::readString(std::string_view key, std::string_view def) const {
    return readStringFrom(path(), key, def);
}

void IniFile::writeInteger(std::string_view key, int value) const {
    platform::WritePrivateProfileString(kSection, cut(key), std::to_string(value), path());
}

void IniFile::writeString(std::string_view key, std::string_view value) const {
    platform::WritePrivateProfileString(kSection, cut(key), value.empty() ? kEmptyMarker : value, path());
}

std::string IniFile::readStringFrom(std::string_view fullPath, std::string_view key, std::string_view def) {
    std::string value = platform::GetPrivateProfileString(kSection, cut(key), cut(def), cut(fullPath));
    return value == kEmptyMarker ? std::string() : value;
}

void GeneralSettings::load(const IniFile& ini, const std::string& configDirectory, const ErrorSink& onError) {
    *this = GeneralSettings();
    if (ini.exists())
        loadFromIni(ini, onError);
    else
        loadFallback(configDirectory);
}

void GeneralSettings::loadFromIni(const IniFile& ini, const ErrorSink& onError) {
    rname = ini.readString("rname", "Your Name");
    email = ini.readString("email", defaultEmail("username"));
    reply = ini.readString("reply", defaultReply("Your Name", defaultEmail("username")));
    org = ini.readString("org", "Your Organization");
    sigfile = ini.readString("sigfile", kEmptyMarker);
    smtp = ini.readString("smtp", kDefaultMailHost);
    pop = ini.readString("pop", kDefaultMailHost);
    nntp = ini.readString("nntp", kDefaultNewsHost);
    user = ini.readString("user", "username");
    pass = ini.readString("pass", "defpaswd");
    timez = ini.readString("timez", "GMT");
    readInt(ini, "enctyp", enctyp, onError);
    readInt(ini, "asize", asize, onError);
    fontnam = ini.readString("fontnam", "MS Sans Serif");
    fontstl = ini.readString("fontstl", "B");
    readInt(ini, "fontsiz", fontsiz, onError);
    readInt(ini, "backcol", backcol, onError);
    readInt(ini, "normcol", normcol, onError);
    readInt(ini, "unredcol", unredcol, onError);
    readInt(ini, "headcol", headcol, onError);
    readInt(ini, "readcol", readcol, onError);
    readInt(ini, "highcol", highcol, onError);
    readInt(ini, "markcol", markcol, onError);
    readInt(ini, "seltcol", seltcol, onError);
    readInt(ini, "timei", timei, onError);
    readInt(ini, "autodlv", autodlv, onError);
    readInt(ini, "hlimit", hlimit, onError);
    readInt(ini, "xnoarc", xnoarc, onError);
}

void GeneralSettings::loadFallback(const std::string& configDirectory) {
    std::string shared = configDirectory + "/" + std::string(kFallbackIniName);
    if (platform::fileExists(shared)) {
        rname = IniFile::readStringFrom(shared, "rname", "Your Name");
        pass = IniFile::readStringFrom(shared, "pass", "defpaswd");
        user = IniFile::readStringFrom(shared, "user", "username");
    } else {
        rname = "Your Name";
        pass = "defpaswd";
        user = "username";
    }
    email = defaultEmail(user);
    reply = defaultReply(rname, email);
    // The built-in values differ from a file's missing-key defaults here.
    org = "Your organization";
    sigfile.clear();
    smtp = pop = std::string(kDefaultMailHost);
    nntp = std::string(kDefaultNewsHost);
    timez = "GMT";
    fontnam = "MS Sans Serif";
    fontstl = "B";
}

void GeneralSettings::save(const IniFile& ini) const {
    ini.writeString("rname", rname);
    ini.writeString("email", email);
    ini.writeString("reply", reply);
    ini.writeString("org", org);
    ini.writeString("sigfile", sigfile);
    ini.writeString("smtp", smtp);
    ini.writeString("pop", pop);
    ini.writeString("nntp", nntp);
    ini.writeString("user", user);
    ini.writeString("pass", pass);
    ini.writeString("timez", timez);
    ini.writeInteger("enctyp", enctyp);
    ini.writeInteger("asize", asize);
    ini.writeString("fontnam", fontnam);
    ini.writeString("fontstl", fontstl);
    ini.writeInteger("fontsiz", fontsiz);
    ini.writeInteger("backcol", backcol);
    ini.writeInteger("normcol", normcol);
    ini.writeInteger("unredcol", unredcol);
    ini.writeInteger("headcol", headcol);
    ini.writeInteger("readcol", readcol);
    ini.writeInteger("highcol", highcol);
    ini.writeInteger("markcol", markcol);
    ini.writeInteger("seltcol", seltcol);
    ini.writeInteger("timei", timei);
    ini.writeInteger("autodlv", autodlv);
    ini.writeInteger("hlimit", hlimit);
    ini.writeInteger("xnoarc", xnoarc);
}

void FolderOptions::load(const IniFile& ini, const GeneralSettings::ErrorSink& onError) {
    *this = FolderOptions();
    readInt(ini, "rfrom", rfrom, onError);
    readInt(ini, "rrecip", rrecip, onError);
    readInt(ini, "sfrom", sfrom, onError);
    readInt(ini, "srecip", srecip, onError);
    readInt(ini, "pfrom", pfrom, onError);
    readInt(ini, "pgrp", pgrp, onError);
}

void FolderOptions::save(const IniFile& ini) const {
    ini.writeInteger("rfrom", rfrom);
    ini.writeInteger("rrecip", rrecip);
    ini.writeInteger("sfrom", sfrom);
    ini.writeInteger("srecip", srecip);
    ini.writeInteger("pfrom", pfrom);
    ini.writeInteger("pgrp", pgrp);
}

WindowGeometry WindowGeometry::read(const IniFile& ini, char prefix, int defaultWidth, int defaultHeight,
                                    const GeneralSettings::ErrorSink& onError) {
    WindowGeometry g;
    std::string p(1, prefix);
    readInt(ini, p + "left", g.left, onError);
    if (g.left == -1) return g;  // the other keys are not read
    g.stored = true;
    g.width = defaultWidth;
    g.height = defaultHeight;
    readInt(ini, p + "top", g.top, onError);
    readInt(ini, p + "width", g.width, onError);
    readInt(ini, p + "height", g.height, onError);
    return g;
}

void WindowGeometry::write(const IniFile& ini, char prefix, int left, int top, int width, int height) {
    std::string p(1, prefix);
    ini.writeInteger(p + "left", left);
    ini.writeInteger(p + "top", top);
    ini.writeInteger(p + "width", width);
    ini.writeInteger(p + "height", height);
}

FontStyle FontStyle::parse(std::string_view letters) {
    FontStyle s;
    for (char c : letters) {
        switch (c) {
        case 'B': s.bold = true; break;
        case 'I': s.italic = true; break;
        case 'U': s.underline = true; break;
        case 'S': s.strikeOut = true; break;
        default: break;  // "R" (regular) and anything else add nothing
        }
    }
    return s;
}

}  // namespace omail
