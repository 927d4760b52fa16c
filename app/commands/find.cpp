#include "commands/find.h"

#include "main/mainhost.h"
#include "main/prompts.h"
#include "store/torvakit.h"
#include "transfer/transfer.h"
#include "ui/dialogs.h"
#include "ui/virtuallist.h"
#include "ui/waitcursor.h"

namespace {
constexpr int kMaxPattern = 255;

// Upper case of a-z only, as the store compares.
void upper(std::string& text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
}
}  // namespace

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
        const int sortType = m_host.sortType();
        std::string field, body;
        for (int row = m_host.currentItem() + 1; row < count; ++row) {
            if (m_mode == Mode::Subject) torvakit::GetSubject(folder, field, body, row, sortType);
            else torvakit::GetAuth(folder, field, body, row, sortType);
            upper(field);
            if (torvakit::substringcompare(field, pattern) >= 0) {
                found = row;
                break;
            }
        }
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
