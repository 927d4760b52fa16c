#include "settings/gen.h"

#include "platform/profile.h"
#include "ui/dialogs.h"

#include <QColor>

namespace {

omail::GeneralSettings::ErrorSink errorBox(QWidget* parent) {
    return [parent](const std::string& text) { ui::informationBox(parent, QString::fromStdString(text)); };
}

}  // namespace

Tgen::Tgen(const omail::IniFile& ini, QWidget* parent)
    : QDialog(parent), m_ini(ini), m_configDir(platform::GetWindowsDirectory()) {
    setObjectName("gen");
    setWindowTitle("general settings");
    loadSettings();
}

void Tgen::loadSettings() { load(m_ini, m_configDir, errorBox(parentWidget())); }

QFont Tgen::settingsFont() const {
    QFont font(QString::fromStdString(fontnam));
    if (fontsiz > 0) font.setPointSize(fontsiz);
    omail::FontStyle style = omail::FontStyle::parse(fontstl);
    font.setBold(style.bold);
    font.setItalic(style.italic);
    font.setUnderline(style.underline);
    font.setStrikeOut(style.strikeOut);
    return font;
}

Tfoptsform::Tfoptsform(const omail::IniFile& ini, QWidget* parent) : QDialog(parent), m_ini(ini) {
    setObjectName("foptsform");
    setWindowTitle("personal folder options");
    load(m_ini, errorBox(parent));
}

QColor colorFromSetting(int value) {
    auto v = static_cast<unsigned>(value);
    return QColor(v & 0xff, (v >> 8) & 0xff, (v >> 16) & 0xff);
}
