#include "news/grouplist.h"

#include "net/netwire.h"
#include "platform/fsys.h"
#include "store/lines.h"
#include "store/torvakit.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <unordered_set>
#include <vector>

namespace news {

namespace {

constexpr int kNntpServerType = 2;
// Index records: "%010lu  %010lu\r\n", the offset of the row's line first.
constexpr long kIndexRecordSize = 24;
constexpr size_t kIndexOffsetDigits = 10;
constexpr size_t kMaxNameLine = 2047;
// The server's date of a transfer is kept aside until its list is filed:
// a date moved forward over a list that was not filed would hide the
// groups created in between from every later update.
constexpr std::string_view kDateReceive = "NEWSDATE.TMP";

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

File open(const std::string& path, const char* mode) {
    return File(std::fopen(platform::resolvePath(path).c_str(), mode), &std::fclose);
}

// Replaces target by source in one step, so that a crash leaves either
// the old file or the new one, never neither.
bool replaceFile(const std::string& source, const std::string& target) {
    return std::rename(platform::resolvePath(source).c_str(), platform::resolvePath(target).c_str()) == 0;
}

}  // namespace

GroupList::GroupList(GroupListHost& host, std::string dataDirectory)
    : m_host(host), m_dataDir(std::move(dataDirectory)) {
    readTotal();
}

GroupList::~GroupList() {
    // The engine must not post to a window that is gone.
    if (m_state != ListTransfer::Idle) netwire::AbortConnection();
}

std::string GroupList::dataPath(std::string_view name) const {
    std::string path = m_dataDir;
    path += '/';
    path += name;
    return path;
}

void GroupList::readTotal() {
    uint32_t total = 0;
    torvakit::GetFile(dataPath(kGroupCount), total);
    m_total = static_cast<int32_t>(total);
}

bool GroupList::start(ListTransfer kind, std::string_view server) {
    if (m_state != ListTransfer::Idle || kind == ListTransfer::Idle) return false;
    m_host.setBusy(true);
    m_state = kind;
    m_received = 0;
    m_pending.clear();
    netwire::OpenServer(this, kSocketMessage, kConnectedMessage, kStatusMessage, server, kNntpServerType);
    return true;
}

void GroupList::cancel() {
    if (m_state == ListTransfer::Idle) return;
    m_state = ListTransfer::Idle;
    netwire::AbortConnection();
    m_host.setBusy(false);
}

void GroupList::handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    const char* text = reinterpret_cast<const char*>(lParam);
    switch (msg) {
    case kSocketMessage: netwire::ProcessMsg(wParam, lParam); return;
    case kStatusMessage: onStatus(wParam, text); return;
    case kConnectedMessage:
        if (m_state == ListTransfer::FullList) netwire::ListGroups(kListedMessage, dataPath(kReceiveList), m_received);
        else if (m_state == ListTransfer::NewGroups)
            netwire::ListNewGroups(kListedMessage, dataPath(kReceiveList), dataPath(kServerDate), m_received);
        return;
    case kListedMessage:
        if (m_state == ListTransfer::Idle) return;
        m_pending = text ? text : "";
        netwire::NewsDate(kDatedMessage, dataPath(kDateReceive));
        return;
    case kDatedMessage:
        if (m_state != ListTransfer::Idle) finish();
        return;
    default: return;
    }
}

void GroupList::onStatus(uintptr_t wParam, const char* text) {
    std::string message = text ? text : "";
    if (wParam == 0) {
        m_host.showStatus(message);
        return;
    }
    const bool running = m_state != ListTransfer::Idle;
    netwire::AbortConnection();
    m_host.setBusy(false);
    m_state = ListTransfer::Idle;
    if (running) m_host.information(message);
}

void GroupList::finish() {
    netwire::AbortConnection();
    const ListTransfer kind = m_state;
    bool filed = true;
    if (m_received != 0) {
        filed = kind == ListTransfer::FullList ? fileFullList() : fileNewGroups();
        if (filed) {
            m_host.showStatus(std::string(kSortingList));
            filed = writeIndexAndCount();
        }
        m_host.listsFiled(kind == ListTransfer::NewGroups);
    }
    if (filed) replaceFile(dataPath(kDateReceive), dataPath(kServerDate));
    m_state = ListTransfer::Idle;
    m_host.setBusy(false);
    m_host.information(filed ? m_pending : "cannot write newsgroups file");
}

bool GroupList::fileFullList() {
    if (!replaceFile(dataPath(kReceiveList), dataPath(kGroupList))) return false;
    m_total = m_received;
    return true;
}

bool GroupList::fileNewGroups() {
    std::unordered_set<std::string> known;
    int32_t lines = 0;
    std::string line;
    if (File list = open(dataPath(kGroupList), "rb")) {
        while (torvakit::lines::readLine(list.get(), line) != torvakit::lines::kEndOfFile) {
            if (line.empty()) continue;
            known.insert(line);
            ++lines;
        }
    }
    // A server reports a group again when its date was older than the group;
    // the list keeps each name once.
    std::vector<std::string> added;
    if (File received = open(dataPath(kReceiveList), "rb")) {
        while (torvakit::lines::readLine(received.get(), line) != torvakit::lines::kEndOfFile)
            if (!line.empty() && known.insert(line).second) added.push_back(line);
    } else {
        return false;
    }
    if (!added.empty()) {
        File list = open(dataPath(kGroupList), "ab");
        if (!list) return false;
        for (const std::string& name : added)
            if (std::fprintf(list.get(), "%s\r\n", name.c_str()) < 0) return false;
        if (std::fflush(list.get()) != 0) return false;
    }
    m_total = lines + static_cast<int32_t>(added.size());
    return replaceFile(dataPath(kReceiveList), dataPath(kNewGroupList));
}

bool GroupList::writeIndexAndCount() {
    if (torvakit::sort(dataPath(kGroupList), 1, 1, 0, dataPath(kGroupIndex), m_total) < 0) return false;
    return torvakit::SetFile(dataPath(kGroupCount), static_cast<uint32_t>(m_total)) == 1;
}

std::string GroupList::name(int32_t row) const {
    std::string line;
    if (row < 0 || row >= m_total) return line;
    torvakit::GetFirstField(row, dataPath(kGroupIndex), dataPath(kGroupList), line);
    return line;
}

int32_t GroupList::find(std::string_view text, int32_t after) const {
    if (text.empty()) return -1;
    // Rows are read in index order from one pass over the index and the
    // list held in memory: opening both files for every row would make a
    // search through a hundred thousand groups take seconds.
    File index = open(dataPath(kGroupIndex), "rb");
    File list = open(dataPath(kGroupList), "rb");
    if (!index || !list) return -1;
    std::string names;
    char chunk[65536];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, list.get())) > 0;) names.append(chunk, n);
    int32_t row = after < 0 ? 0 : after + 1;
    if (std::fseek(index.get(), static_cast<long>(row) * kIndexRecordSize, SEEK_SET) != 0) return -1;
    char record[kIndexRecordSize];
    for (; row < m_total && std::fread(record, 1, sizeof record, index.get()) == sizeof record; ++row) {
        const uint64_t offset = std::strtoull(std::string(record, kIndexOffsetDigits).c_str(), nullptr, 10);
        if (offset >= names.size()) continue;
        size_t end = names.find_first_of("\r\n", offset);
        if (end == std::string::npos) end = names.size();
        const std::string_view name(names.data() + offset, std::min<size_t>(end - offset, kMaxNameLine));
        if (torvakit::substringcompare(name, text) >= 0) return row;
    }
    return -1;
}

}  // namespace news
