#include "settings/settings.h"

#include "platform/fsys.h"
#include "platform/profile.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <utility>
#include <vector>

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

// Every key of the general settings in file order: a text with its default
// for a file that lacks the key, or an integer whose default is the field's
// initial value.
struct SettingKey {
    const char* name;
    std::string GeneralSettings::*text = nullptr;
    int GeneralSettings::*number = nullptr;
    std::string def;
};

const std::vector<SettingKey>& settingKeys() {
    using G = GeneralSettings;
    static const std::vector<SettingKey> keys = {
        {"rname", &G::rname, nullptr, "Your Name"},
        {"email", &G::email, nullptr, defaultEmail("username")},
        {"reply", &G::reply, nullptr, defaultReply("Your Name", defaultEmail("username"))},
        {"org", &G::org, nullptr, "Your Organization"},
        {"sigfile", &G::sigfile, nullptr, std::string(kEmptyMarker)},
        {"smtp", &G::smtp, nullptr, std::string(kDefaultMailHost)},
        {"pop", &G::pop, nullptr, std::string(kDefaultMailHost)},
        {"nntp", &G::nntp, nullptr, std::string(kDefaultNewsHost)},
        {"user", &G::user, nullptr, "username"},
        {"pass", &G::pass, nullptr, "defpaswd"},
        {"timez", &G::timez, nullptr, "GMT"},
        {"enctyp", nullptr, &G::enctyp, {}},
        {"asize", nullptr, &G::asize, {}},
        {"fontnam", &G::fontnam, nullptr, "MS Sans Serif"},
        {"fontstl", &G::fontstl, nullptr, "B"},
        {"fontsiz", nullptr, &G::fontsiz, {}},
        {"backcol", nullptr, &G::backcol, {}},
        {"normcol", nullptr, &G::normcol, {}},
        {"unredcol", nullptr, &G::unredcol, {}},
        {"headcol", nullptr, &G::headcol, {}},
        {"readcol", nullptr, &G::readcol, {}},
        {"highcol", nullptr, &G::highcol, {}},
        {"markcol", nullptr, &G::markcol, {}},
        {"seltcol", nullptr, &G::seltcol, {}},
        {"timei", nullptr, &G::timei, {}},
        {"autodlv", nullptr, &G::autodlv, {}},
        {"hlimit", nullptr, &G::hlimit, {}},
        {"xnoarc", nullptr, &G::xnoarc, {}},
        // Connections beyond plain text: the security of each server (0 none,
        // 1 STARTTLS, 2 TLS from the first byte) and the SMTP and news logins.
        {"popsec", nullptr, &G::popsec, {}},
        {"smtpsec", nullptr, &G::smtpsec, {}},
        {"nntpsec", nullptr, &G::nntpsec, {}},
        {"smtpuser", &G::smtpuser, nullptr, std::string(kEmptyMarker)},
        {"smtppass", &G::smtppass, nullptr, std::string(kEmptyMarker)},
        {"newsuser", &G::newsuser, nullptr, std::string(kEmptyMarker)},
        {"newspass", &G::newspass, nullptr, std::string(kEmptyMarker)},
        {"leave", nullptr, &G::leave, {}},
        {"leavedays", nullptr, &G::leavedays, {}},
        {"uidl", nullptr, &G::uidl, {}},
        {"smtppipe", nullptr, &G::smtppipe, {}},
    };
    return keys;
}

// The order in which the settings dialog writes the keys: a new omail.ini
// lists them so.
constexpr const char* kSaveOrder[] = {
    "rname",   "email",   "reply",   "org",     "smtp",    "pop",     "nntp",     "user",    "pass",    "timez",
    "timei",   "sigfile", "asize",   "hlimit",  "fontnam", "fontstl", "fontsiz",  "backcol", "normcol", "unredcol",
    "headcol", "readcol", "highcol", "markcol", "seltcol", "xnoarc",  "autodlv", "enctyp",
    // Keys of our own, after the ones every installation has.
    "popsec",  "smtpsec", "nntpsec", "smtpuser", "smtppass", "newsuser", "newspass", "leave",   "leavedays", "uidl",
    "smtppipe",
};

constexpr std::pair<const char*, int FolderOptions::*> kFolderOptionKeys[] = {
    {"rfrom", &FolderOptions::rfrom}, {"rrecip", &FolderOptions::rrecip}, {"sfrom", &FolderOptions::sfrom},
    {"srecip", &FolderOptions::srecip}, {"pfrom", &FolderOptions::pfrom}, {"pgrp", &FolderOptions::pgrp},
};

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
    for (const SettingKey& k : settingKeys()) {
        if (k.text)
            this->*k.text = ini.readString(k.name, k.def);
        else
            readInt(ini, k.name, this->*k.number, onError);
    }
}

void GeneralSettings::loadFallback(const std::string& configDirectory) {
    // Every text starts from the value a file without the key would give.
    for (const SettingKey& k : settingKeys())
        if (k.text) this->*k.text = k.def == kEmptyMarker ? std::string() : k.def;
    std::string shared = configDirectory + "/" + std::string(kFallbackIniName);
    if (platform::fileExists(shared)) {
        rname = IniFile::readStringFrom(shared, "rname", rname);
        pass = IniFile::readStringFrom(shared, "pass", pass);
        user = IniFile::readStringFrom(shared, "user", user);
    }
    email = defaultEmail(user);
    reply = defaultReply(rname, email);
    // The built-in organisation differs from a file's missing-key default.
    org = "Your organization";
}

void GeneralSettings::save(const IniFile& ini) const {
    // Every rewrite keeps the file's mode, so a file made readable by others
    // by hand would receive the passwords as it is.
    if (ini.exists()) ::chmod(ini.path().c_str(), S_IRUSR | S_IWUSR);
    for (const char* name : kSaveOrder) {
        const SettingKey& k =
            *std::find_if(settingKeys().begin(), settingKeys().end(),
                          [name](const SettingKey& key) { return std::string_view(key.name) == name; });
        if (k.text)
            ini.writeString(k.name, this->*k.text);
        else
            ini.writeInteger(k.name, this->*k.number);
    }
}

void FolderOptions::load(const IniFile& ini, const GeneralSettings::ErrorSink& onError) {
    *this = FolderOptions();
    for (const auto& [name, field] : kFolderOptionKeys) readInt(ini, name, this->*field, onError);
}

void FolderOptions::save(const IniFile& ini) const {
    for (const auto& [name, field] : kFolderOptionKeys) ini.writeInteger(name, this->*field);
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
