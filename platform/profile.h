// Profile (INI) files: "[section]" lines followed by "key=value" lines.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// A value is at most this many characters; longer ones read back cut.
constexpr size_t kProfileValueMax = 255;

// The value of key in section (both without regard to case), with blanks
// around it removed and cut at kProfileValueMax characters; `def` when the
// file, the section or the key is missing.
std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view def, std::string_view file);

// Sets key in section, adding the section or the key when missing. Every
// other line of the file is kept as it was. The file is written under a
// temporary name and renamed over the old one, so a crash never leaves a
// half-written file; a new file is readable by its owner only, an existing
// one keeps its mode.
bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view value, std::string_view file);

// The directory that holds shared profile files: $XDG_CONFIG_HOME, else
// ~/.config.
std::string GetWindowsDirectory();

}  // namespace platform
