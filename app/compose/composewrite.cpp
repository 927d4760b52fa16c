// OK: the three checks, then the item (or the attachment set) written into
// the outbox through MakeItem. Whatever goes wrong is reported and undone:
// the window stays open with everything typed, and the outbox holds no
// half-written item and no record of one.
#include "compose/charset.h"
#include "compose/mailform.h"

#include "main/mainhost.h"
#include "platform/fsys.h"
#include "settings/settings.h"
#include "store/torvakit.h"
#include "ui/dialogs.h"
#include "ui/waitcursor.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <fstream>
#include <iterator>
#include <set>

namespace {

constexpr std::string_view kOutboxFolder = "out";
constexpr std::string_view kNumberFile = "omail.dat";
constexpr std::string_view kScratch = "OMAIL.TMP";

std::string readAll(const std::string& path, bool& exists) {
    exists = false;
    if (!platform::fileExists(path)) return {};
    std::ifstream in(platform::resolvePath(path), std::ios::binary);
    exists = bool(in);
    return exists ? std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()) : std::string();
}

bool writeAll(const std::string& path, std::string_view bytes) {
    std::ofstream out(platform::resolvePath(path), std::ios::binary | std::ios::trunc);
    return out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())) && out.flush();
}

// The outbox as it was before an item was written, to put it back.
class OutboxSnapshot {
public:
    explicit OutboxSnapshot(std::string folder) : m_folder(std::move(folder)) {
        for (const std::string& name : platform::findFiles(m_folder, "*", false, true)) m_files.insert(name);
        m_list = readAll(m_folder + "n.lst", m_hadList);
        m_count = readAll(m_folder + "n.cnt", m_hadCount);
    }
    void restore() const {
        for (const std::string& name : platform::findFiles(m_folder, "*", false, true))
            if (!m_files.count(name)) platform::deleteFile(m_folder + name);
        if (m_hadList) writeAll(m_folder + "n.lst", m_list);
        if (m_hadCount) writeAll(m_folder + "n.cnt", m_count);
    }

private:
    std::string m_folder;
    std::set<std::string> m_files;
    std::string m_list, m_count;
    bool m_hadList = false, m_hadCount = false;
};

std::string itemHeaderName(uint32_t number) {
    char name[16];
    std::snprintf(name, sizeof name, "N%07u.omh", number);
    return name;
}

// The body as the text pane holds it, every line ending in CR LF.
std::string bodyBytes(const QString& text) {
    std::string body = text.toUtf8().toStdString();
    std::string out;
    out.reserve(body.size() + body.size() / 32 + 2);
    for (char c : body) {
        if (c == '\n') out += '\r';
        out += c;
    }
    if (!out.empty() && out.back() != '\n') out += "\r\n";
    if (out.empty()) out = "\r\n";
    return out;
}

}  // namespace

using namespace compose;

bool Tmailform::checkFields() {
    const char* problem = nullptr;
    if (dto->text().isEmpty()) problem = kMissingRecipient;
    else if (dsub->text().isEmpty()) problem = kMissingSubject;
    else if (memo->toPlainText().isEmpty()) problem = kMissingBody;
    else if (!datt->text().isEmpty()) {
        // An attachment that cannot be read would leave a text item
        // announcing parts that do not exist.
        const QFileInfo file(datt->text());
        if (!file.isFile() || !file.isReadable()) problem = kCannotReadAttachment;
    }
    if (!problem) return true;
    ui::informationBox(this, problem);
    return false;
}

void Tmailform::exitcompose1Click() {
    if (!checkFields()) return;
    bool written = false;
    {
        ui::WaitCursor wait;
        written = writeItem();
    }
    if (!written) {
        ui::informationBox(this, kCannotWrite);
        return;
    }
    accept();
}

bool Tmailform::writeItem() {
    const std::string dataDir = m_host.dataDirectory();
    const std::string outbox = dataDir + "/" + std::string(kOutboxFolder) + "/";
    const std::string numberFile = dataDir + "/" + std::string(kNumberFile);
    const OutboxSnapshot before(outbox);
    auto fail = [&before] {
        before.restore();
        return false;
    };

    std::string headerName, bodyName;
    if (torvakit::MakeFileNames(numberFile, headerName, bodyName) != 1) return fail();
    const std::string header = outbox + headerName;
    const std::string body = outbox + bodyName;
    const std::string scratch = dataDir + "/" + std::string(kScratch);
    const std::string text = bodyBytes(memo->toPlainText());
    if (!writeAll(scratch, text) || torvakit::wordwrapfile(scratch, body) != 1) return fail();

    const omail::GeneralSettings& s = m_host.settings();
    const std::string from = s.rname + " <" + s.email + ">";
    const std::string replyTo = drep->text().isEmpty() ? s.reply : drep->text().toStdString();
    uint32_t next = 0;
    torvakit::GetFile(numberFile, next);
    const int parts = torvakit::MakeItem(header, from, replyTo, dsub->text().toStdString(), dto->text().toStdString(),
                                         dcc->text().toStdString(), datt->text().toStdString(), s.org, s.timez,
                                         m_references.toStdString(), s.user, s.pop, dfol->text().toStdString(),
                                         m_mode, s.asize, next, s.xnoarc, s.enctyp);
    if (parts < 0) return fail();
    if (parts > 0 && torvakit::SetFile(numberFile, next + static_cast<uint32_t>(parts)) != 1) return fail();
    // Text outside ASCII is declared; a pure-ASCII item stays byte for byte.
    if (!declareUtf8(header, !isAscii(text))) return fail();
    for (int j = 0; j < parts; ++j)
        if (!declareUtf8(outbox + itemHeaderName(next + static_cast<uint32_t>(j)), false)) return fail();
    return true;
}
