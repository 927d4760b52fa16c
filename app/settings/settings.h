// The configuration file omail.ini (section "general" in the data directory)
// and the general settings every window reads.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace omail {

inline constexpr std::string_view kIniName = "omail.ini";
inline constexpr std::string_view kFallbackIniName = "torva.ini";
inline constexpr std::string_view kSection = "general";
// Written in place of an empty string, which a profile file cannot hold apart
// from a missing key.
inline constexpr std::string_view kEmptyMarker = "$%^&*";
// File name, section, key and default are each cut to this before use.
inline constexpr size_t kProfileArgMax = 255;

// The defaults of a new installation: the provider's hosts and mail domain.
inline constexpr std::string_view kDefaultMailHost = "mail.example.net";
inline constexpr std::string_view kDefaultNewsHost = "news.example.net";
inline constexpr std::string_view kDefaultMailDomain = "example.net";

// Raised by a strict integer conversion; what() is the text the user sees.
class InvalidInteger : public std::runtime_error {
public:
    explicit InvalidInteger(std::string_view text);
};

// Decimal text with an optional sign and nothing else, within 32 bits.
int strictToInt(std::string_view text);

// The "general" section of omail.ini in one data directory.
class IniFile {
public:
    explicit IniFile(std::string dataDirectory);
    const std::string& dataDirectory() const { return m_dir; }
    std::string path() const;
    bool exists() const;

    // Throws InvalidInteger when the stored (or default) text is no integer.
    int readInteger(std::string_view key, int def) const;
    // The marker reads back as the empty string.
    std::string readString(std::string_view key, std::string_view def) const;
    void writeInteger(std::string_view key, int value) const;
    void writeString(std::string_view key, std::string_view value) const;

    // A string from section "general" of another profile file, by full path.
    static std::string readStringFrom(std::string_view fullPath, std::string_view key,
                                      std::string_view def);

private:
    std::string m_dir;
};

// Every key of the general settings, with the values in use.
struct GeneralSettings {
    std::string rname, email, reply, org, sigfile;
    std::string smtp, pop, nntp, user, pass, timez;
    int enctyp = 0, asize = 100;
    std::string fontnam, fontstl;
    int fontsiz = 8;
    int backcol = 12632256, normcol = 0, unredcol = 0, headcol = 16777215, readcol = 255,
        highcol = 8453888, markcol = 4259584, seltcol = 16776960;
    int timei = 0, autodlv = 0, hlimit = 50, xnoarc = 1;
    // Security of each server (netwire::kSecurity...) and the logins of the
    // SMTP and news servers; all off unless set.
    int popsec = 0, smtpsec = 0, nntpsec = 0;
    std::string smtpuser, smtppass, newsuser, newspass;
    // Mail kept on the POP3 server: leave (1) keeps every message there,
    // leavedays > 0 then deletes those filed that many days ago; uidl (1)
    // remembers the unique ids of the messages filed so that none is filed
    // twice, also when the run that filed it was cut short.
    int leave = 0, leavedays = 0, uidl = 0;
    // smtppipe (1): EHLO to a plain server too, and commands in groups when
    // it announces PIPELINING. Set by hand in omail.ini; a rewrite keeps it.
    int smtppipe = 0;

    // Reports a conversion error; the key then keeps its default.
    using ErrorSink = std::function<void(const std::string&)>;

    // From omail.ini when it exists; otherwise from torva.ini in
    // configDirectory, or the built-in defaults.
    void load(const IniFile& ini, const std::string& configDirectory, const ErrorSink& onError);
    // Writes every key to omail.ini, which is made readable by its owner
    // only first, as it receives the passwords.
    void save(const IniFile& ini) const;

private:
    void loadFromIni(const IniFile& ini, const ErrorSink& onError);
    void loadFallback(const std::string& configDirectory);
};

// The six switches that redirect retrieved, sent and posted items into
// personal folders.
struct FolderOptions {
    int rfrom = 0, rrecip = 1, sfrom = 1, srecip = 0, pfrom = 0, pgrp = 0;
    void load(const IniFile& ini, const GeneralSettings::ErrorSink& onError);
    void save(const IniFile& ini) const;
};

// A window's stored place: left (-1: nothing stored), top, width, height
// under the keys prefix + "left", "top", "width", "height".
struct WindowGeometry {
    bool stored = false;
    int left = -1, top = 0, width = 640, height = 480;
    static WindowGeometry read(const IniFile& ini, char prefix, int defaultWidth, int defaultHeight,
                               const GeneralSettings::ErrorSink& onError);
    static void write(const IniFile& ini, char prefix, int left, int top, int width, int height);
};

// Font style letters: B bold, I italic, U underline, S strike-out.
struct FontStyle {
    bool bold = false, italic = false, underline = false, strikeOut = false;
    static FontStyle parse(std::string_view letters);
};

}  // namespace omail
