// Item creation in the outbox (header file, list record, attachment parts)
// and the row readers the windows and news body retrieval use.
#include "store/torvakit.h"

#include "platform/fsys.h"
#include "store/lines.h"
#include "store/storeutil.h"

#include <cinttypes>
#include <cstdio>
#include <string>

namespace torvakit {
namespace {

using util::kCrLf;
constexpr std::string_view kMailer = "orrindel mail 32";
// Item types from 4 on are news (new article, follow-up).
constexpr int32_t kFirstNewsType = 4;
constexpr int32_t kMimeEncoding = 1;
constexpr uint32_t kKilobyte = 1024;
// Message-ids of a user without a user name or domain setting end in these.
constexpr std::string_view kPlaceholderUser = "username";
constexpr std::string_view kPlaceholderHost = "omail";
constexpr std::string_view kPlaceholderDomain = "invalid";
// Article number in an NNTP header reply ("221 n <id> ...") starts here.
constexpr int32_t kArticleNumberOffset = 4;

// A value as it may stand in a header line: a line break inside it would end
// the line early and could smuggle in header lines of its own.
std::string oneLine(std::string_view value) {
    std::string text(value);
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    return text;
}

std::string itemFileName(uint32_t number, char last) {
    char name[32];
    std::snprintf(name, sizeof name, "N%07" PRIu32 ".om%c", number, last);
    return name;
}

// Only what a message-id may hold between its brackets.
std::string idPart(std::string_view text) {
    std::string out;
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        if (u > ' ' && u < 0x7f && c != '<' && c != '>' && c != '@') out += c;
    }
    return out;
}

std::string makeMessageId(std::string_view date, std::string_view headerPath, std::string_view user,
                          std::string_view domain) {
    int32_t pos = 0, day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
    extractdate(date, pos, day, month, year, hour, minute, second);
    char stamp[96];
    std::snprintf(stamp, sizeof stamp, "<%02d%02d%02d%02d%02d%02d.", year, month, day, hour, minute, second);
    std::string_view name = util::fileNamePart(headerPath);
    name = name.substr(0, name.find('.'));
    // A user name given as a whole address contributes its local part only.
    std::string local = idPart(user.substr(0, user.find('@')));
    std::string host = idPart(domain);
    if (local.empty()) local = kPlaceholderUser;
    if (host.empty())
        host.append(kPlaceholderHost).append(".").append(kPlaceholderDomain);
    else if (host.find('.') == std::string::npos)
        host.append(".").append(kPlaceholderDomain);
    std::string id(stamp);
    id.append(name).append(".").append(local).append("@").append(host).append(">");
    util::lowerAscii(id);
    return id;
}

// What every item of one composed message shares.
struct Composed {
    std::string from, replyTo, subject, recipients, cc, organization, references, followupTo;
    std::string date, user, domain;
    bool news = false;
    bool noArchive = false;
};

std::string headerText(const Composed& c, std::string_view messageId, std::string_view label, bool mime,
                       uint32_t boundary) {
    std::string h;
    auto line = [&h](std::string_view name, std::string_view value) {
        h.append(name).append(value).append(kCrLf);
    };
    if (!c.news) {
        line("To: ", c.recipients);
        if (!c.cc.empty()) line("Cc: ", c.cc);
    } else {
        line("Newsgroups: ", c.recipients);
    }
    if (!c.followupTo.empty()) line("Followup-To: ", c.followupTo);
    line("Message-Id: ", messageId);
    if (!c.references.empty()) line("References: ", c.references);
    line("From: ", c.from);
    if (!c.replyTo.empty()) line("Reply-To: ", c.replyTo);
    if (!c.organization.empty()) line("Organization: ", c.organization);
    if (label.empty()) {
        line("Subject: ", c.subject);
    } else {
        line("Subject: ", c.subject + " -- " + std::string(label));
        line("X-Attachment: ", label);
    }
    if (!c.news) {
        line("X-Mailer: ", kMailer);
    } else {
        line("X-Newsreader: ", kMailer);
        if (c.noArchive) line("X-No-Archive: ", "yes");
    }
    if (mime) {
        line("MIME-Version: ", "1.0");
        line("Content-Type: ", "multipart/mixed; boundary=\"" + std::to_string(boundary) + "\"");
    }
    line("Date: ", c.date);
    return h;
}

std::string recordText(const Composed& c, std::string_view headerPath, std::string_view messageId,
                       std::string_view label) {
    std::string author, recipient, display, sortable;
    extractrealname(c.replyTo.empty() ? c.from : c.replyTo, 0, author);
    if (c.news) recipient = c.recipients;
    else extractrealname(c.recipients, 0, recipient);
    util::recordDates(c.date, display, sortable);
    uint32_t kilobytes = 0;
    std::string size = StatFileSize(util::withLastChar(headerPath, 'b'), kilobytes)
                           ? std::to_string(kilobytes) : std::string("-");
    std::string subject = label.empty() ? c.subject : c.subject + " -- " + std::string(label);
    std::string r;
    for (std::string_view field : {util::fileNamePart(headerPath), std::string_view("U"),
                                   std::string_view(author), std::string_view(recipient),
                                   std::string_view(subject), std::string_view(display),
                                   std::string_view(sortable), std::string_view(size), messageId})
        r.append(field).append(kCrLf);
    return r;
}

// Writes one item's header file, then its record and the folder's count;
// false when any of them could not be written.
bool writeItem(const Composed& c, std::string_view headerPath, std::string_view label, bool mime,
               uint32_t boundary) {
    std::string messageId = makeMessageId(c.date, headerPath, c.user, c.domain);
    {
        platform::UniqueFile header = platform::openFile(headerPath, "wb");
        if (!header) return false;
        if (!util::writeAll(header.get(), headerText(c, messageId, label, mime, boundary))) return false;
    }
    std::string directory, name;
    extractfrompath(headerPath, directory, name);
    {
        // The appender finishes a cut-off last line first and takes a failed
        // record back off, so the list never holds half a record.
        util::ListAppender list;
        if (!list.open(util::listPath(directory))) return false;
        if (!util::writeAll(list.get(), recordText(c, headerPath, messageId, label))) return false;
        if (!list.commit(false)) return false;
    }
    uint32_t count = 0;
    GetFile(util::countPath(directory), count);
    return SetFile(util::countPath(directory), count + 1) == 1;
}

std::string partLabel(std::string_view file, int part, int parts) {
    return std::string(file) + " (" + std::to_string(part) + "/" + std::to_string(parts) + ")";
}

// The record at a display row: its first `wanted` lines. false when the list
// cannot be opened or the record's file name cannot be joined to the folder.
bool readRecord(std::string_view folder, int32_t row, int32_t sortType, int wanted,
                std::vector<std::string>& fields) {
    uint64_t offset = util::resolveRow(util::indexPath(folder, sortType), row);
    platform::UniqueFile list = platform::openFile(util::listPath(folder), "rb");
    if (!list) return false;
    if (fseeko(list.get(), static_cast<off_t>(offset), SEEK_SET) != 0) return false;
    fields.assign(static_cast<size_t>(wanted), std::string());
    for (std::string& field : fields) lines::readLine(list.get(), field);
    return util::isPlainName(fields[0]);
}

std::string bodyPathOf(std::string_view folder, std::string_view headerName) {
    return util::withLastChar(std::string(folder) + std::string(headerName), 'b');
}

}  // namespace

int MakeItem(std::string_view headerPath, std::string_view from, std::string_view replyTo,
             std::string_view subject, std::string_view recipients, std::string_view cc,
             std::string_view attachment, std::string_view organization, std::string_view timeZone,
             std::string_view references, std::string_view userName, std::string_view domain,
             std::string_view followupTo, int32_t itemType, int32_t partSizeKb, uint32_t nextFree,
             int32_t noArchive, int32_t mime) {
    Composed c{oneLine(from),       oneLine(replyTo),    oneLine(subject),  oneLine(recipients),
               oneLine(cc),         oneLine(organization), oneLine(references), oneLine(followupTo),
               {},                  std::string(userName), std::string(domain)};
    c.news = itemType >= kFirstNewsType;
    c.noArchive = noArchive != 0;
    createunixdate(c.date, oneLine(timeZone));
    if (attachment.empty()) return writeItem(c, headerPath, {}, false, 0) ? 0 : kItemNotWritten;
    std::string directory, name;
    extractfrompath(headerPath, directory, name);
    std::string file(util::fileNamePart(attachment));
    int parts = 0;
    if (mime == kMimeEncoding) {
        parts = mimeencodefile(attachment, directory + itemFileName(nextFree, 'b'), nextFree);
    } else {
        uint64_t bytes = static_cast<uint64_t>(std::max(partSizeKb, 0)) * kKilobyte;
        uint32_t partSize = static_cast<uint32_t>(std::min<uint64_t>(bytes, UINT32_MAX));
        parts = uueencodefile2(attachment, partSize, directory + "N%07d.omb", nextFree);
    }
    // Every part is tried even after a failure, so as much as possible of
    // the item is in the outbox, but the caller learns that something is missing.
    bool written = writeItem(c, headerPath, partLabel(file, 0, parts), false, 0);
    for (int j = 0; j < parts; ++j) {
        uint32_t number = nextFree + static_cast<uint32_t>(j);
        written = writeItem(c, directory + itemFileName(number, 'h'), partLabel(file, j + 1, parts),
                            mime == kMimeEncoding, number) && written;
    }
    return written ? parts : kItemNotWritten;
}

int GetMessageId(std::string_view folder, std::string& messageId, std::string& bodyPath, int32_t row,
                 int32_t sortType, char& status, int32_t& hasBody, uint32_t& articleNumber) {
    messageId.clear(), bodyPath.clear();
    status = 0, hasBody = 0, articleNumber = 0;
    std::vector<std::string> fields;
    if (!readRecord(folder, row, sortType, 2, fields)) return 0;
    std::string path = std::string(folder) + fields[0];
    platform::UniqueFile header = platform::openFile(util::withLastChar(path, 'h'), "rb");
    if (!header) return 0;
    status = fields[1].empty() ? 0 : fields[1][0];
    hasBody = platform::openFile(bodyPathOf(folder, fields[0]), "rb") ? 1 : 0;
    std::string reply;
    lines::readLine(header.get(), reply);
    int32_t pos = kArticleNumberOffset;
    if (extractlong(reply, pos, articleNumber)) {
        size_t start = std::min(reply.size(), static_cast<size_t>(pos) + 1);
        messageId = util::capped(std::string_view(reply).substr(start, reply.find(' ', start) - start));
    }
    bodyPath = bodyPathOf(folder, fields[0]);
    return 1;
}

int GetSubject(std::string_view folder, std::string& subject, std::string& bodyPath, int32_t row,
               int32_t sortType) {
    subject.clear(), bodyPath.clear();
    std::vector<std::string> fields;
    if (!readRecord(folder, row, sortType, 5, fields)) return 0;
    subject = util::capped(fields[4]);
    bodyPath = bodyPathOf(folder, fields[0]);
    return 1;
}

int GetAuth(std::string_view folder, std::string& author, std::string& bodyPath, int32_t row,
            int32_t sortType) {
    author.clear(), bodyPath.clear();
    std::vector<std::string> fields;
    if (!readRecord(folder, row, sortType, 3, fields)) return 0;
    author = util::capped(fields[2]);
    bodyPath = bodyPathOf(folder, fields[0]);
    return 1;
}

}  // namespace torvakit
