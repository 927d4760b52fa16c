// The unique ids (POP3 UIDL) of the messages already filed from one server
// for one user, kept in a file of the data directory so that a message left
// on the server, or one whose deletion a crash cut short, is never filed
// twice.
//
// The file is private to its owner (mode 0600) and made of lines
// "SECONDS ID\n": when the message was filed (seconds since 1970) and its
// id. A new line is appended and synced to the disk right after its message
// is filed, before anything else happens. A last line without its line end
// was torn by a crash while being written; it is ignored and cut off, as its
// message had not been recorded yet. Lines that are not of that form
// (the first, "# user@host", names the account) are ignored.
//
// A kill between the filing and its line would file the message again, so
// a line "?SECONDS ID<tab>PATH" goes before the filing: PATH is the header
// file the filing is about to create. Opened again after a crash, such a
// line counts as filed when that file exists (the store's journal has by
// then finished or undone the filing), and the record is rewritten with the
// answer, so that a later item of the same name cannot be taken for it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>

namespace transfer {

inline constexpr std::string_view kUidListTemp = "uidl.tmp";
inline constexpr std::string_view kCannotRecordIds = "cannot write the list of retrieved messages";

class UidRecord {
public:
    UidRecord() = default;
    ~UidRecord() { close(); }
    UidRecord(const UidRecord&) = delete;
    UidRecord& operator=(const UidRecord&) = delete;

    // "uidl" + a hash of user and host (case of the host ignored) + ".lst".
    static std::string fileName(std::string_view host, std::string_view user);

    // Reads the record (created when missing), cuts a torn last line and keeps
    // the file open for appending. false when it cannot be read or written.
    bool open(const std::string& path, std::string_view account);
    void close();
    bool isOpen() const { return m_fd >= 0; }

    // When the message of that id was filed; -1 when it was not.
    int64_t filedAt(std::string_view id) const;
    // Appends the id and syncs the file; false when that failed.
    bool add(std::string_view id, int64_t when);
    // Marks the id as about to be filed as headerPath (a file that must not
    // exist yet); false when it cannot be marked (then nothing may be filed).
    bool addPending(std::string_view id, int64_t when, std::string_view headerPath);
    // Drops the ids of messages no longer on the server (the record would
    // otherwise grow forever), rewriting the file through a synced temporary
    // file. false when the rewrite failed (the old record then stands).
    bool keepOnly(const std::map<int32_t, std::string>& onServer);
    size_t size() const { return m_filed.size(); }

private:
    bool rewrite(const std::unordered_map<std::string, int64_t>& filed);

    std::string m_path, m_account;
    int m_fd = -1;
    std::unordered_map<std::string, int64_t> m_filed;
};

// Which of the waiting messages a retrieval with unique ids fetches and
// which it deletes: new ones are fetched; with mail left on the server none
// is deleted but those filed more than the given days ago (0: never),
// otherwise every message filed (in this run or an earlier one) is deleted.
class UidPlan {
public:
    // The server's "NUMBER ID" lines as ListUniqueIds wrote them.
    bool readList(const std::string& listFile);
    const std::map<int32_t, std::string>& ids() const { return m_ids; }

    // The first message number after `after` to fetch / to delete, or
    // count + 1 when there is none.
    int32_t nextToFetch(int32_t after, int32_t count, const UidRecord& record) const;
    int32_t nextToDelete(int32_t after, int32_t count, const UidRecord& record, bool leave, int leaveDays,
                         int64_t now) const;
    std::string idOf(int32_t number) const;

private:
    std::map<int32_t, std::string> m_ids;
};

}  // namespace transfer
