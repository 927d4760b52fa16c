#include "commands/find.h"

#include "main/mainhost.h"
#include "main/prompts.h"
#include "platform/fsys.h"
#include "store/lines.h"
#include "store/torvakit.h"
#include "transfer/transfer.h"
#include "ui/dialogs.h"
#include "ui/virtuallist.h"
#include "ui/waitcursor.h"

#include <algorithm>
#include <cstdio>

namespace {
constexpr int kMaxPattern = 255;
constexpr std::size_t kMaxField = 255;
constexpr std::size_t kIndexRecordSize = 24;
constexpr int kAuthorLine = 3;
constexpr int kSubjectLine = 5;

std::string readWhole(const std::string& path) {
    std::string data;
    platform::UniqueFile in = platform::openFile(path, "rb");
    if (!in) return data;
    char buffer[1 << 16];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in.get())) > 0) data.append(buffer, n);
    return data;
}

// A file name that stays inside the folder, as the store requires of a
// record's first line.
bool plainName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find_first_of(std::string_view("\\/:\r\n\0", 6)) == std::string_view::npos;
}

// The folder's index and list read once, each row's field taken from memory
// exactly as the store's row readers take it from the files: the list
// offset of the row's index record (the first record without an index or
// past its end), the record's lines split by the store's line rule, a
// record whose file name is not plain giving an empty field.
class FolderRows {
public:
    FolderRows(const std::string& folder, int sortType)
        : m_index(readWhole(folder + "n" + std::to_string(sortType) + ".idx")),
          m_list(readWhole(folder + std::string(transfer::kListName))) {}

    std::string_view field(int row, int line) const {
        std::size_t pos = static_cast<std::size_t>(offset(row));
        std::string_view first, value;
        if (!torvakit::lines::nextLine(m_list, pos, first) || !plainName(first)) return {};
        for (int i = 2; i <= line; ++i) torvakit::lines::nextLine(m_list, pos, value);
        return line == 1 ? first : value.substr(0, kMaxField);
    }

private:
    uint64_t offset(int row) const {
        const std::size_t at = static_cast<std::size_t>(row) * kIndexRecordSize;
        if (row < 0 || at >= m_index.size()) return 0;
        uint64_t value = 0;
        for (std::size_t i = at; i < m_index.size() && m_index[i] >= '0' && m_index[i] <= '9'; ++i)
            value = value * 10 + static_cast<uint64_t>(m_index[i] - '0');
        return value;
    }

    std::string m_index;
    std::string m_list;
};

// Upper case of a-z only, as the store compares.
void upper(std::string& text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
}
}  // namespace

int findRow(const std::string& folder, int sortType, int line, const std::string& pattern, int from, int count) {
    const FolderRows rows(folder, sortType);
    std::string field;
    for (int row = std::max(from, 0); row < count; ++row) {
        field = rows.field(row, line);
        upper(field);
        if (torvakit::substringcompare(field, pattern) >= 0) return row;
    }
    return -1;
}

FindCommands::FindCommands(MainHost& host, QObject* parent) : QObject(parent), m_host(host) {}

bool FindCommands::allowed() const {
    return m_host.transfers().transferState == transfer::kIdle && m_host.itemCount() > 0;
}

void FindCommands::ask(Mode mode) {
    if (!allowed()) return;
    Tenterstringform& prompt = m_host.entryPrompt();
    if (prompt.ask(kFindPrompt) != ui::kResultOk) return;
    m_mode = mode;
    m_text = prompt.text();
    search();
}

void FindCommands::findagain1Click() {
    if (m_mode == Mode::None || !allowed()) return;
    search();
}

void FindCommands::search() {
    int found = -1;
    {
        ui::WaitCursor wait;
        std::string pattern = m_text.toLocal8Bit().left(kMaxPattern).toStdString();
        upper(pattern);
        const std::string folder = m_host.folderPath();
        const int count = m_host.itemCount();
        found = folder.empty() ? -1
                               : findRow(folder, m_host.sortType(), m_mode == Mode::Subject ? kSubjectLine : kAuthorLine,
                                         pattern, m_host.currentItem() + 1, count);
    }
    if (found < 0) {
        ui::informationBox(m_host.window(), kNoMatch);
        return;
    }
    VirtualList& list = m_host.messageList();
    if (m_host.currentItem() >= 0) {
        list.setMultiSelect(false);
        list.setMultiSelect(true);
    }
    m_host.setCurrentItem(found);
    list.setFocusedRow(found);
    list.selectOnly(found);
    list.setFocus();
}
