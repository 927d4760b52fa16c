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
// reader follows the server type, whatever the port.
#pragma once

#include "platform/messages.h"

#include <cstdint>
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

// Connection ----------------------------------------------------------------

// Looks the host up, connects and waits for the greeting; completion wParam 0
// with "connected to pop3 server" (nntp, smtp) when it was accepted. A type
// other than 1-3 keeps the port and protocol of the previous connection.
int OpenServer(platform::Window* window, uint32_t socketMessage, uint32_t completionMessage,
               uint32_t statusMessage, std::string_view host, int serverType);
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

// SMTP ----------------------------------------------------------------------

// Sends one outbox item to every To and Cc address of its header file.
int SendMailItem(uint32_t completionMessage, std::string_view headerFile, std::string_view bodyFile,
                 std::string_view signatureFile);

// POP3 ----------------------------------------------------------------------

// USER, PASS and STAT; completion lParam = the message count (also in count).
int OpenMailBox(uint32_t completionMessage, std::string_view user, std::string_view password,
                int32_t& count);
// RETR into headerFile (beginning with the +OK line) and bodyFile.
int GetMailItem(uint32_t completionMessage, std::string_view headerFile, std::string_view bodyFile,
                int32_t number);
// DELE.
int DeleteMailItem(uint32_t completionMessage, int32_t number);

}  // namespace netwire
