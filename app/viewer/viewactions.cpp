// The viewer's print, save, decode and launch commands and its compose
// entries. The main window borrows print and save for its own menu.
#include "viewer/viewform.h"

#include "main/mainhost.h"
#include "platform/fsys.h"
#include "settings/gen.h"
#include "store/torvakit.h"
#include "transfer/transfer.h"
#include "ui/dialogs.h"
#include "ui/printing.h"
#include "ui/savedialog.h"
#include "ui/waitcursor.h"
#include "viewer/bodytext.h"
#include "viewer/logform.h"

#include <QFileInfo>
#include <QPlainTextEdit>

#include <cctype>

namespace {

constexpr char kQuote = '>';
constexpr int kHeaderPrintSize = 11;
constexpr int kUuComplete = 2;
constexpr int kOutboxPosition = 1;

size_t digitsAt(const std::string& s, size_t at) {
    size_t n = 0;
    while (at + n < s.size() && std::isdigit(static_cast<unsigned char>(s[at + n]))) ++n;
    return n;
}

}  // namespace

void Tviewform::printitem1Click() {
    if (ui::questionBox(this, kPrintThisItem) != ui::kResultOk) return;
    ui::WaitCursor wait;
    ui::PrintJob job;
    std::string headerPath = bodyPath;
    if (!headerPath.empty()) headerPath.back() = 'h';
    std::string shortHeader;
    job.hasHeader = !headerPath.empty() && torvakit::MakeViewHeaderDecoded(headerPath, shortHeader, 0) == 1 &&
                    viewer::readBodyText(QString::fromStdString(shortHeader), job.header);
    job.headerFont = headermemo->font();
    job.headerFont.setPointSize(kHeaderPrintSize);
    // The text as the viewer shows it, not the stored MIME encoding.
    torvakit::ReadableText info;
    job.hasBody = viewer::readableText(bodyPath, job.body, info);
    job.bodyFont = bodymemo->font();
    // Report only once the printer is known to be there.
    if (ui::printItem(job) == ui::PrintResult::NoPrinter) {
        ui::informationBox(this, kCannotOpenPrinter);
        return;
    }
    if (!job.hasHeader) ui::informationBox(this, kCannotPrintHeader);
    if (!job.hasBody) ui::informationBox(this, kCannotPrintBody);
}

void Tviewform::saveitemas1Click() {
    QString name = ui::saveFileName(this, "save as", m_saveDir, QString(), "text file (*.txt *.TXT)");
    if (name.isEmpty()) return;
    ui::WaitCursor wait;
    if (QFileInfo(name).suffix().isEmpty()) name += ".txt";
    if (!platform::copyFileReplace(platform::resolvePath(bodyPath), name.toStdString()))
        ui::informationBox(this, kSaveAsFailed);
    m_saveDir = QFileInfo(name).absolutePath();
}

std::string Tviewform::decodeFolder() const { return Tlogform::decodeFolder(m_host.dataDirectory()); }

bool Tviewform::decodeSingle() {
    ui::WaitCursor wait;
    std::string names;
    torvakit::decodefile(platform::resolvePath(bodyPath), names, kQuote, decodeFolder());
    // A file counts as decoded only when it is there: a part whose output
    // could not be created is named too.
    for (const QString& name : QString::fromStdString(names).split("\r\n", Qt::SkipEmptyParts))
        if (QFileInfo(name).isFile()) return true;
    return false;
}

void Tviewform::decodesinglepart1Click() {
    if (!decodeSingle()) {
        ui::informationBox(this, kDecodingFailed);
        return;
    }
    decodelog1Click();
}

void Tviewform::launchsinglepartattachment1Click() {
    if (!decodeSingle()) {
        ui::informationBox(this, kDecodingFailed);
        return;
    }
    m_log.launchNewest();
}

void Tviewform::launchnext1Click() {
    const int before = currentRow;
    viewnext2Click();
    if (currentRow != before) launchsinglepartattachment1Click();
}

void Tviewform::decodesinglepartnetscapeattachment1Click() {
    std::string name;
    int rc = 0;
    {
        ui::WaitCursor wait;
        rc = torvakit::decodebase64(platform::resolvePath(bodyPath), name, kQuote, decodeFolder());
    }
    if (rc == 1 && !name.empty()) decodelog1Click();
    else ui::informationBox(this, kDecodingFailed);
}

void Tviewform::launchPart(int index) {
    if (index < 0 || index >= int(m_parts.size())) return;
    std::string output;
    int rc = 0;
    {
        ui::WaitCursor wait;
        rc = torvakit::DecodeMimePart(platform::resolvePath(bodyPath), m_parts[size_t(index)].index, decodeFolder(),
                                      output);
    }
    // A file that failed its checks is said so, never opened as if whole.
    if (rc != 1 || !QFileInfo(QString::fromStdString(output)).isFile()) {
        ui::informationBox(this, QString("%1 [%2]").arg(kDecodingFailed).arg(rc));
        return;
    }
    m_log.launchNewest();
}

void Tviewform::decodelog1Click() {
    m_log.setCaller(this);
    m_log.exec();
}

bool Tviewform::partCounter(const std::string& subject, std::string& prefix, int& part, int& count) {
    const size_t bracket = subject.find_last_of("([");
    if (bracket == std::string::npos) return false;
    const size_t partDigits = digitsAt(subject, bracket + 1);
    const size_t countAt = bracket + 1 + partDigits + 1;
    const size_t countDigits = countAt <= subject.size() ? digitsAt(subject, countAt) : 0;
    // Without both numbers there is no counter to follow: the item stands alone.
    if (partDigits == 0 || countDigits == 0 || partDigits > 9 || countDigits > 9) return false;
    prefix = subject.substr(0, bracket + 1);
    part = std::stoi(subject.substr(bracket + 1, partDigits));
    count = std::stoi(subject.substr(countAt, countDigits));
    return true;
}

int Tviewform::findPartRow(const std::string& plain, const std::string& padded) {
    int plainRow = -1;
    for (int row = 0; row < itemCount; ++row) {
        std::string subject, path;
        if (torvakit::GetSubject(folderPath, subject, path, row, sortType) != 1) continue;
        if (subject.compare(0, padded.size(), padded) == 0) return row;
        if (plainRow < 0 && subject.compare(0, plain.size(), plain) == 0) plainRow = row;
    }
    return plainRow;
}

void Tviewform::decodemultipart1Click() {
    std::string subject, shownPath;
    torvakit::GetSubject(folderPath, subject, shownPath, currentRow, sortType);
    std::string prefix;
    int part = 0, count = 0;
    if (!partCounter(subject, prefix, part, count)) part = count = 0;
    if (part >= 2 && ui::questionBox(this, kDecodeFromHere) != ui::kResultOk) return;
    int state = 0;
    {
        ui::WaitCursor wait;
        const std::string folder = decodeFolder();
        std::string output;
        state = torvakit::uuedecodefile2(platform::resolvePath(bodyPath), 0, kQuote, folder, output);
        const int width = int(std::to_string(count).size());
        while ((state == 0 || state == 1) && part + 1 <= count) {
            ++part;
            const std::string tail = "/" + std::to_string(count);
            std::string number = std::to_string(part);
            const std::string padded = prefix + std::string(width - std::min<int>(width, number.size()), '0') +
                                       number + tail;
            const int row = findPartRow(prefix + number + tail, padded);
            std::string path;
            if (row >= 0) torvakit::GetBodyFileName(folderPath, row, sortType, path);
            state = torvakit::uuedecodefile2(path.empty() ? std::string() : platform::resolvePath(path), state,
                                              kQuote, folder, output);
        }
    }
    if (state == kUuComplete) decodelog1Click();
    else ui::informationBox(this, QString("%1 [%2]").arg(kDecodingFailed).arg(state));
}

void Tviewform::compose(int mode) {
    if (!composeHandler || m_host.transfers().deliveryFlag) return;
    const std::string source = (mode == 1 || mode == 4) ? std::string() : bodyPath;
    const bool outboxShown = m_host.mailFolderShown() && m_host.mailFolderRow() == kOutboxPosition;
    if (composeHandler(mode, source) == ui::kResultOk && outboxShown) {
        m_host.reloadList();
        itemCount = m_host.itemCount();
        bodyPath = m_host.bodyPathOfRow(currentRow);
        display();
    }
    bodymemo->setFocus();
}
