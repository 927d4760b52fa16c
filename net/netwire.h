// netwire: one asynchronous connection at a time to a POP3, NNTP or SMTP
// server, one command at a time, reporting to its caller by posted messages.
//
// The caller opens a connection with OpenServer, naming three message
// numbers: the socket notification message (every one it receives goes back
// to ProcessMsg with its wParam and lParam), the status message and the
// completion message. Each command names its own completion message again.
//
//   status      wParam 0: progress text; wParam 1: error text. After an error
//               the connection has been closed and "ready" posted before it,
//               except for a refused article after its text (NNTP POST).
//   completion  wParam 0: the connection is up or the command succeeded;
//               wParam 1: the command failed. lParam is a text, or for the
//               POP3 logon the message count.
//
// Texts travel in lParam as const char* owned by this library; a text stays
// valid until the library formats the next text of its kind, so a receiver
// copies what it keeps. Every function returns 0; outcomes come as messages.
//
// A host may be a name or a dotted address and may end in ":PORT" to use
// another port than the protocol's (110 POP3, 119 NNTP, 25 SMTP). The reply
// reader follows the server type, whatever the port. A name may resolve to
// several IPv6 and IPv4 addresses: each is tried in turn until one connects.
// An IPv6 literal is written in brackets when a port follows ("[::1]:110").
#pragma once

#include "platform/messages.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace netwire {

// Server types of OpenServer.
inline constexpr int kServerPop3 = 1;
inline constexpr int kServerNntp = 2;
inline constexpr int kServerSmtp = 3;

// Connection states, as ConnectionState() reports them.
inline constexpr int kStateIdle = 0;
inline constexpr int kStateLookingUp = 1;
inline constexpr int kStateConnecting = 2;
inline constexpr int kStateConnected = 3;

// Security of a connection (ServerOptions::security).
//   kSecurityNone      plain text, exactly as without options.
//   kSecurityStartTls  plain-text greeting, then POP3 STLS, SMTP STARTTLS or
//                      NNTP STARTTLS; the connection is reported up only
//                      once TLS is on. A server that does not offer it, or
//                      refuses it, or a handshake that fails, ends the
//                      connection with an error text: nothing that carries a
//                      user name or password has been sent by then.
//   kSecurityTls       TLS from the first byte; the default ports become 995
//                      (POP3), 563 (NNTP) and 465 (SMTP).
// TLS is 1.2 or later; the server's certificate must chain to a trusted
// authority (the system's, plus SetCertificateAuthorities), be valid now and
// name the host as written (a name, or an address literal), unless the user
// trusted that very certificate for that host (TrustCertificate).
inline constexpr int kSecurityNone = 0;
inline constexpr int kSecurityStartTls = 1;
inline constexpr int kSecurityTls = 2;

// What a refused certificate was refused for (LastCertificateProblem).
inline constexpr int kCertificateOk = 0;
inline constexpr int kCertificateNotTrusted = 1;    // "certificate not trusted"
inline constexpr int kCertificateExpired = 2;       // "certificate expired"
inline constexpr int kCertificateNotYetValid = 3;   // "certificate not yet valid"
inline constexpr int kCertificateOtherHost = 4;     // "certificate is for another host"

struct ServerOptions {
    int security = kSecurityNone;
    // SMTP: with a user, EHLO and AUTH PLAIN or LOGIN (whichever the server
    // offers) before "connected"; without one and without TLS, HELO as
    // always. NNTP: with a user, AUTHINFO USER/PASS after the greeting (and
    // once TLS is on); without one, a 480 reply is reported as
    // "nntp server asks for authentication". POP3 takes its user and
    // password from OpenMailBox.
    std::string user;
    std::string password;
    // SMTP: EHLO even without TLS or a user, so that a server can announce
    // PIPELINING for SendMailItemAhead; a server that refuses EHLO gets HELO.
    bool smtpPipelining = false;
};

// Connection ----------------------------------------------------------------

// Looks the host up, connects and waits for the greeting; completion wParam 0
// with "connected to pop3 server" (nntp, smtp) when it was accepted. A type
// other than 1-3 keeps the port and protocol of the previous connection.
int OpenServer(platform::Window* window, uint32_t socketMessage, uint32_t completionMessage,
               uint32_t statusMessage, std::string_view host, int serverType);
// The same with a security mode and credentials for this connection only.
int OpenServer(platform::Window* window, uint32_t socketMessage, uint32_t completionMessage,
               uint32_t statusMessage, std::string_view host, int serverType, const ServerOptions& options);
// Handles one socket notification message (its wParam and lParam).
int ProcessMsg(uintptr_t wParam, intptr_t lParam);
// Closes whatever is open (sending QUIT on a connection) and posts "ready".
int AbortConnection();
// The connection state (kStateIdle ... kStateConnected), for callers and tests.
int ConnectionState();
// How long a look-up, connect or command may wait for the server without
// any progress before the connection is closed with "server not responding"
// (default 120000 ms; 0 waits for ever). A connection idle between commands
// never times out.
int SetReplyTimeout(uint32_t milliseconds);

// Certificates --------------------------------------------------------------

// The file of certificates the user trusted: lines "host SHA256-FINGERPRINT"
// (the fingerprint as 32 hex pairs joined by ':'). Read on every connection
// that meets a certificate it would otherwise refuse; an empty path (the
// default) trusts nothing beyond the authorities.
int SetTrustFile(std::string_view path);
// A PEM file of further authorities to trust beside the system's (a
// company's own authority; the tests' own). Empty: the system's only.
int SetCertificateAuthorities(std::string_view pemFile);
// The last refused certificate: its host (as written, without the port),
// its SHA-256 fingerprint, and the reason (kCertificate..., kCertificateOk
// when none was refused since OpenServer). The error status text was
// "REASON TEXT (SHA-256 FINGERPRINT)".
int LastCertificateProblem(std::string& host, std::string& fingerprint);
// Adds host -> fingerprint to the trust file (made readable by its owner
// only), so that the next connection to host accepts that certificate and
// no other that fails the checks. 0 done, 1 no trust file set, 2 the file
// could not be written, 3 not a fingerprint.
int TrustCertificate(std::string_view host, std::string_view fingerprint);

// NNTP ----------------------------------------------------------------------

// LIST into listFile, one lower-case group name per line; count = groups.
int ListGroups(uint32_t completionMessage, std::string_view listFile, int32_t& count);
// NEWGROUPS since the date kept in dateFile (YYMMDDhhmmss; "991231 120000"
// when it cannot be read) into listFile.
int ListNewGroups(uint32_t completionMessage, std::string_view listFile, std::string_view dateFile,
                  int32_t& count);
// DATE; the server's date goes into dateFile as YYMMDDhhmmss.
int NewsDate(uint32_t completionMessage, std::string_view dateFile);
// GROUP; the three numbers of the reply go into the slots.
int OpenGroup(uint32_t completionMessage, std::string_view group, int32_t& articleCount,
              int32_t& firstArticle, int32_t& lastArticle);
// HEAD of article number (-1: the current article) into headerFile, whose
// first line is the server's 221 reply; the article number goes into slot.
int GetHeader(uint32_t completionMessage, std::string_view headerFile, int32_t article,
              int32_t& articleNumber);
// NEXT; the new current article number goes into slot (-1 when refused).
int NextHeader(uint32_t completionMessage, int32_t& articleNumber);
// BODY of the article number, or of messageId when article is -1.
int GetBody(uint32_t completionMessage, std::string_view bodyFile, int32_t article,
            std::string_view messageId);
// POST of an outbox item (header file, body file, optional signature file).
int PostItem(uint32_t completionMessage, std::string_view headerFile, std::string_view bodyFile,
             std::string_view signatureFile);

// NNTP pipelining (RFC 3977, section 3.5): a server of version 2 or later
// takes commands sent before the replies to the ones before them. A server
// that is not asked, or does not say so, gets the commands above one at a
// time.
//
// CAPABILITIES: completion wParam 0 "capabilities listed", with pipelining
// 1 when the server speaks version 2 or later, else 0 (also for a server
// that does not know the command); the connection stays up either way.
int QueryNewsPipelining(uint32_t completionMessage, int32_t& pipelining);
// GetHeader of article (a number, not -1), with HEAD of the numbers after it
// up to last sent ahead, at most window numbers in flight; withBodies puts
// BODY n behind each HEAD n. Only article's HEAD reply is read into the file
// and completed as GetHeader does ("header retrieved", or wParam 1 "header
// not available [423]" for a number the group lacks); the replies behind it
// stay unread until the next call, which must ask for the reply that comes
// next: GetBodyAhead(article) when withBodies (also after a refused header),
// else GetHeaderAhead(article + 1). Another command while replies are owed
// is refused as busy.
int GetHeaderAhead(uint32_t completionMessage, std::string_view headerFile, int32_t article, int32_t last,
                   int window, bool withBodies, int32_t& articleNumber);
// The BODY reply of article sent ahead by GetHeaderAhead, as GetBody reads it.
int GetBodyAhead(uint32_t completionMessage, std::string_view bodyFile, int32_t article);

// A body to ask for: by article number, or by messageId when article is -1
// (GetBody's two forms).
struct BodySelector {
    int32_t article = -1;
    std::string messageId;
};
// GetBody of selectors[0], with BODY of the selectors after it sent ahead in
// that order, at most window in flight (topped up once half of them are
// answered). Only selectors[0]'s reply is read into the file and completed
// as GetBody completes it ("body retrieved", or wParam 1 "body not available
// [430]"); the replies behind it stay unread until the next call. Each call
// passes the list from its own body on, continuing the list of the call
// before (what was sent is not sent again, but later selectors may be added
// at its end); a first selector other than the one whose reply comes next,
// or another command while replies are owed, is refused as busy.
int GetBodiesAhead(uint32_t completionMessage, std::string_view bodyFile, std::span<const BodySelector> selectors,
                   int window);

// SMTP ----------------------------------------------------------------------

// Sends one outbox item to every To and Cc address of its header file.
int SendMailItem(uint32_t completionMessage, std::string_view headerFile, std::string_view bodyFile,
                 std::string_view signatureFile);
// SendMailItem with pipelining (RFC 2920) on a connection opened with
// smtpPipelining whose EHLO reply announced PIPELINING (on any other it is
// SendMailItem): MAIL FROM, every RCPT TO and DATA go out in one write, and
// with a nextHeaderFile the next item's MAIL FROM, RCPT TO and DATA follow
// this item's "." at once. Replies are read in order; the item completes
// ("message sent") only on the reply to its "."; texts and outcomes are
// SendMailItem's. When the next item's commands went ahead, the replies to
// them wait unread until the call for that header file; any other command
// in between is refused as busy.
int SendMailItemAhead(uint32_t completionMessage, std::string_view headerFile, std::string_view bodyFile,
                      std::string_view signatureFile, std::string_view nextHeaderFile);

// An outbox item: its header file and its body file.
struct OutboxItem {
    std::string headerFile;
    std::string bodyFile;
};
// Items sent without waiting for replies, on a connection opened with
// smtpPipelining whose EHLO reply announced PIPELINING and CHUNKING (RFC
// 3030): each item goes as MAIL FROM, every RCPT TO and "BDAT SIZE LAST"
// followed by its text exactly as SendMailItem would send it after DATA,
// without dot-stuffing and without the final ".". items[0] is the item
// completed now, the ones after it are sent ahead in that order, at most
// window items in flight; each call passes the list from its own item on,
// and what was already sent is not sent again. An item with several
// recipients holds its text back until their replies came, so that it
// never reaches some of them only. Each item completes on its own last
// reply with SendMailItem's texts: wParam 0 "message sent", or wParam 1
// with the refusal ("rcpt to: failed [550]", "message send failed [554]"),
// after which the connection stays up and the next call goes on with the
// next item. Replies behind a completed item wait unread until the call for
// the next one; another command in between is refused as busy. On any
// other connection it is SendMailItemAhead(items[0], items[1]).
int SendMailItemsAhead(uint32_t completionMessage, std::span<const OutboxItem> items,
                       std::string_view signatureFile, int window);

// POP3 ----------------------------------------------------------------------

// USER, PASS and STAT; completion lParam = the message count (also in count).
int OpenMailBox(uint32_t completionMessage, std::string_view user, std::string_view password,
                int32_t& count);
// RETR into headerFile (beginning with the +OK line) and bodyFile.
int GetMailItem(uint32_t completionMessage, std::string_view headerFile, std::string_view bodyFile,
                int32_t number);
// DELE.
int DeleteMailItem(uint32_t completionMessage, int32_t number);
// UIDL after OpenMailBox: the unique id of every message, one line
// "NUMBER ID" each into listFile; count = messages listed. A server without
// UIDL answers -ERR: completion wParam 1 "uidl not supported", the
// connection stays up and the program goes on as it would without ids.
int ListUniqueIds(uint32_t completionMessage, std::string_view listFile, int32_t& count);

// Pipelining (RFC 2449): commands sent ahead, replies read in order. A
// server that does not announce it gets the commands above, one at a time.
//
// CAPA after OpenMailBox: completion wParam 0 with lParam (and pipelining)
// 1 when the server announces PIPELINING, else 0 (also for a server that
// does not know CAPA); the connection stays up either way.
int QueryPipelining(uint32_t completionMessage, int32_t& pipelining);
// GetMailItem of number, with RETR of the numbers after it up to last sent
// ahead, at most window commands in flight. Only number's reply is read
// into the files and completed ("mail item retrieved"); the replies behind
// it stay unread until the call for number + 1, so the files are the
// caller's until then. Numbers go up one by one; another command while
// replies are owed is refused as busy.
int GetMailItemAhead(uint32_t completionMessage, std::string_view headerFile, std::string_view bodyFile,
                     int32_t number, int32_t last, int window);
// The same for DELE ("mail item deleted").
int DeleteMailItemAhead(uint32_t completionMessage, int32_t number, int32_t last, int window);
// GetMailItemAhead for message numbers that need not follow one another (a
// retrieval with unique ids fetches only the messages it has not filed):
// numbers is ascending, numbers[0] is the message read now and the ones
// after it are sent ahead in that order. Each call passes the list from its
// own message on; what was already sent is not sent again. Another number
// than the one whose reply comes next is refused as busy.
int GetMailItemsAhead(uint32_t completionMessage, std::string_view headerFile, std::string_view bodyFile,
                      std::span<const int32_t> numbers, int window);
int DeleteMailItemsAhead(uint32_t completionMessage, std::span<const int32_t> numbers, int window);

}  // namespace netwire
