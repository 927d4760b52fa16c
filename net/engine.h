// Inside the connection engine: the one connection record and the services
// the three protocols share (reports, the command guard, the send queue, the
// transfer files). Not installed; only net/*.cpp include it.
#pragma once

#include "net/netwire.h"
#include "platform/fsys.h"
#include "platform/winsock.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct ssl_st;

namespace netwire::engine {

inline constexpr int kReceiveSize = 16384;
inline constexpr int kSendSize = 16400;      // whole send queue
inline constexpr int kSendLimit = 16384;     // what ordinary lines may fill
inline constexpr int kLineSize = 2048;       // a reply or queued line, CR LF and NUL included
inline constexpr int kFileLineMax = 2047;    // characters of a line read from a sent file
inline constexpr int kCommandSize = 256;     // a command line carrying caller data
inline constexpr int kTextSize = 512;        // a formatted report text
inline constexpr int kMaxTransferFiles = 3;
inline constexpr int kMaxAhead = 256;        // commands in flight at most (pipelining)
inline constexpr uint32_t kDefaultReplyTimeoutMs = 120000;
inline constexpr uint32_t kWatchdogTimerId = 1;

inline constexpr uint16_t kPortPop3 = 110;
inline constexpr uint16_t kPortNntp = 119;
inline constexpr uint16_t kPortSmtp = 25;
inline constexpr uint16_t kPortPop3s = 995;
inline constexpr uint16_t kPortNntps = 563;
inline constexpr uint16_t kPortSmtps = 465;

inline constexpr long kConnectedEvents = platform::FD_READ | platform::FD_WRITE | platform::FD_CLOSE;

// Protocol steps.
inline constexpr int kStepGreeting = 0;
inline constexpr int kStepList = 1;
inline constexpr int kStepNewGroups = 2;
inline constexpr int kStepGroup = 3;
inline constexpr int kStepHead = 4;
inline constexpr int kStepBody = 5;
inline constexpr int kStepDate = 6;
inline constexpr int kStepPost = 7;
inline constexpr int kStepArticleSent = 8;
inline constexpr int kStepNext = 9;
inline constexpr int kStepHelo = 10;
inline constexpr int kStepMailFrom = 11;
inline constexpr int kStepRcptTo = 12;
inline constexpr int kStepData = 13;
inline constexpr int kStepDataSent = 14;
inline constexpr int kStepUser = 15;
inline constexpr int kStepPass = 16;
inline constexpr int kStepStat = 17;
inline constexpr int kStepRetr = 18;
inline constexpr int kStepDele = 19;
inline constexpr int kStepStartTls = 20;    // STLS / STARTTLS sent, its reply awaited
inline constexpr int kStepTlsHandshake = 21;
inline constexpr int kStepEhlo = 22;
inline constexpr int kStepAuth = 23;        // SMTP AUTH PLAIN or the user name of AUTH LOGIN
inline constexpr int kStepAuthLogin = 24;   // AUTH LOGIN sent
inline constexpr int kStepAuthPass = 25;    // the password of AUTH LOGIN sent
inline constexpr int kStepAuthUser = 26;    // NNTP AUTHINFO USER sent
inline constexpr int kStepAuthInfoPass = 27;
inline constexpr int kStepUidl = 28;
inline constexpr int kStepCapa = 29;
inline constexpr int kStepChunks = 30;    // SMTP items sent as BDAT chunks, replies owed
inline constexpr int kStepReady = 99;

inline constexpr int kFileSendIdle = 1;
inline constexpr int kFileSendStreaming = 2;

enum class State { Idle = 0, LookingUp = 1, Connecting = 2, Connected = 3 };
enum class Protocol { None, Pop3, Nntp, Smtp };

// What a data reply does with a line that begins with ".": remove the dot
// (POP3 RETR, NNTP BODY) or leave the line out (NNTP HEAD, group lists).
enum class DotRule { Strip, Drop };

// One reply line as the frame hands it over: `text` is the line cut to the
// line buffer, ending in CR LF and NUL (for classification and status
// lines); `raw` is the whole line as received without its line end (what
// data files get).
struct Line {
    const char* text;
    int length;
    const char* raw;
    int rawLength;
};

// Texts posted in lParam live in one buffer per kind.
enum class TextKind { NntpError, SmtpError, Pop3Error, NntpProgress, NntpDone,
                      SmtpProgress, Pop3Progress, Count };

struct Connection {
    platform::Window* window = nullptr;
    uint32_t socketMessage = 0;
    uint32_t statusMessage = 0;
    uint32_t completionMessage = 0;
    State state = State::Idle;
    int step = kStepReady;
    uint16_t port = 0;
    Protocol protocol = Protocol::None;
    std::vector<platform::HostAddress> addresses;  // to connect to, in turn
    size_t nextAddress = 0;
    platform::AsyncHandle lookup = 0;
    platform::HostEntry host;
    platform::SOCKET socket = platform::INVALID_SOCKET;

    std::array<char, kReceiveSize> receive{};
    int receiveCount = 0;
    std::array<char, kSendSize> send{};
    int sendCount = 0;
    bool writeReady = false;
    bool refused = false;
    int replyLines = 0;
    // A data line longer than the receive buffer is written in pieces; while
    // one is open the next bytes continue it.
    bool midLine = false;
    bool droppingLine = false;
    bool streamingData = false;   // a RETR, HEAD or BODY data file is being written
    DotRule dotRule = DotRule::Strip;

    std::array<std::string, kMaxTransferFiles> files;
    int nextFile = 0;
    int fileCount = 0;
    platform::UniqueFile current;
    bool currentWritten = false;  // current is a file being written (not read)
    int fileSend = kFileSendIdle;
    bool holdFlush = false;       // the file sender is filling the queue
    // The file sender sends the files as they are (no dot-stuffing, no
    // final "."), for a BDAT chunk whose size was counted before; rawBytes
    // counts what it queued.
    bool rawData = false;
    uint64_t rawBytes = 0;

    std::array<int32_t*, 3> slots{};

    // Security of this connection (kSecurity... of netwire.h) and the
    // credentials the connection itself sends (SMTP AUTH, NNTP AUTHINFO).
    int security = kSecurityNone;
    std::string hostName;          // as written, without the port: checked against the certificate
    std::string user;
    std::string password;
    bool smtpPipelining = false;   // EHLO asked for, to learn PIPELINING
    ssl_st* ssl = nullptr;         // set while the bytes go through TLS
    bool handshaking = false;
    bool startTlsPending = false;  // the positive STARTTLS reply was read; the handshake starts next
    bool tlsDone = false;          // the handshake completed and the certificate was accepted
    std::string tlsOut;            // encrypted bytes the socket has not taken yet

    // Commands sent ahead of the one being answered (pipelining): the step
    // they belong to (kStepReady: none), the highest number sent and the
    // number whose reply comes next. The numbers whose replies are owed wait
    // in `owed`, oldest first, as they need not follow one another. While
    // held, a reply was completed and the ones behind it stay unread until
    // the caller's next command, so the caller has the transfer files to
    // itself in between.
    int aheadStep = kStepReady;
    int32_t aheadSent = 0;
    int32_t aheadNext = 0;
    std::array<int32_t, kMaxAhead> owed{};
    int owedFirst = 0;
    int owedCount = 0;
    bool held = false;
    // The server closed while replies it sent before were held for the
    // caller: they are handed over first, then the close is reported.
    bool closePending = false;

    // A server that stops answering is given up after this long.
    uint32_t replyTimeoutMs = kDefaultReplyTimeoutMs;
    std::chrono::steady_clock::time_point lastActivity;
};

Connection& conn();

// Notes that the connection moved (bytes came or went, a step began).
void touch();

// Reports ----------------------------------------------------------------
void postStatus(int wParam, const char* text);
void postCompletion(int wParam, intptr_t lParam);
inline void postCompletion(int wParam, const char* text) {
    postCompletion(wParam, reinterpret_cast<intptr_t>(text));
}
// printf into the buffer of that kind; valid until the next text of the kind.
const char* formatText(TextKind kind, const char* format, ...) __attribute__((format(printf, 2, 3)));
// AbortConnection, then the error on the status message.
void closeWithError(const char* text);

// Commands ---------------------------------------------------------------
// The guard every command passes: connected and ready, else the connection is
// closed and notConnected ("not connected (NAME)") or busy ("dll busy
// (NAME)") reported. Both are constant texts, so reports of several refused
// commands never overwrite each other.
bool guard(const char* notConnected, const char* busy);
// Starts a command that passed the guard: completion message, step, progress.
void beginCommand(uint32_t completionMessage, int step, const char* progress);
// Appends text to the send queue (nothing for an empty text) if the queue
// then holds at most limit bytes, and flushes. 0 appended, 1 refused.
int queueText(std::string_view text, int limit = kSendLimit);
// Sends what the queue holds while the socket takes it.
void flushQueue();
// Formats a command carrying caller data into a command buffer and queues it.
// False (nothing queued) when it would not fit in kCommandSize or the
// arguments hold a line break.
bool queueCommand(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Checks caller data for a command line with `overhead` bytes of its own
// (verb, space, CR LF): nullptr when it fits the command buffer, else
// tooLong, or invalid when it holds a line break.
const char* checkArgument(std::string_view argument, size_t overhead, const char* tooLong, const char* invalid);

// Transfer files -----------------------------------------------------------
void setTransferFiles(std::string_view a, std::string_view b = {}, std::string_view c = {});
// Opens files[index] for writing (truncating) or reading; false on failure.
bool openForWrite(int index);
bool openForRead(int index);
// Closes the current file; false when a written file failed to reach the disk.
bool closeFile();
// Writes bytes (then CR LF when lineEnd) to the current file; false on failure.
bool writeData(const char* data, int length, bool lineEnd);
// Streams the transfer files through the send queue with dot-stuffing,
// ending with ".\r\n"; resumes where a full queue stopped it.
void runFileSender();
// Stops a transfer whose server answered before the data was complete.
void stopFileSender();
// The file sender queued the final ".\r\n" of an SMTP item (or the last
// byte of a BDAT chunk).
void smtpDataQueued();
// The socket takes bytes again: SMTP items waiting for room go out.
void smtpWriteReady();
// The bytes the file sender would queue for the transfer files without
// dot-stuffing and without the final "." (line ends made CR LF, over-long
// lines cut, as it sends them); false when a file cannot be read.
bool measureTransferFiles(uint64_t& size);

// Reads the envelope and signature switch of an outbox header file.
struct ItemHeader {
    bool readable = false;
    bool signature = true;
    bool lineTooLong = false;     // a To or Cc line longer than a line holds
    std::string recipients;       // the To and Cc values joined with ','
    std::string from;
    std::string messageId;
};
ItemHeader scanItemHeader(std::string_view path);

// Hands the bytes of the receive buffer to the protocol (complete lines,
// then a full buffer's piece of a data line).
void processReceived();
// Reads on after the caller's next command ended a hold: what the buffers
// already hold first, then the socket.
void resumeReceive();
// Queues "VERB N" for the numbers after what was sent ahead up to
// min(last, number + window - 1), for the command of number that passed
// the guard. False (connection closed with busy) when replies of another
// command, or of another number, are still owed.
bool sendAhead(int step, const char* verb, int32_t number, int32_t last, int window, const char* busy);
// The same for an ascending list of numbers that need not follow one
// another: numbers[0] is the command that passed the guard, the ones after
// it follow in that order; those already sent are not sent again.
bool sendAheadList(int step, const char* verb, std::span<const int32_t> numbers, int window, const char* busy);
// The reply of the command being answered is complete: the next one's
// bytes wait for the caller when more are owed.
void replyDone();
// Sends bytes through the socket, or through TLS when it is on; the result
// is wsSend's (SOCKET_ERROR with WSAEWOULDBLOCK when nothing was taken).
int sendBytes(const char* data, int length);

// TLS (tls.cpp) ------------------------------------------------------------
// Starts the handshake on the connected socket; the protocol's
// tlsEstablished() follows once the certificate was accepted, or the
// connection closes with the reason.
void tlsStart();
// FD_READ and FD_WRITE while TLS is on.
void tlsReadable();
void tlsWritable();
// Goes on decrypting after a hold: what TLS holds, then the socket.
void tlsResume();
// Encrypts plain bytes (all of them) and sends what the socket takes.
int tlsWrite(const char* data, int length);
// Forgets the last refused certificate (a new connection begins).
void resetCertificateProblem();
// Sends what TLS still holds; false when the socket could not take it all.
bool tlsDrain();
// On close: the last command (QUIT) and the closing alert go out if the
// socket takes them; then the TLS state is dropped.
void tlsClose(std::string_view lastCommand);
// Called by a protocol when its STARTTLS was accepted (the line that said so
// is the last plain-text byte read).
void beginStartTls();
// The connection is secured: the protocol goes on (implicit TLS: the
// greeting; STARTTLS: what follows it).
void tlsEstablished();
void pop3TlsEstablished();
void smtpTlsEstablished();
void nntpTlsEstablished();

// Protocol line handlers (one per protocol file).
void pop3Line(const Line& line);
void nntpLine(const Line& line);
void smtpLine(const Line& line);
// A retrieved line could not be written to its file.
void pop3WriteFailed();
void nntpWriteFailed();

// News (nntp.cpp): why a message id cannot follow "BODY ", or null.
const char* checkMessageId(std::string_view messageId);
// News commands sent ahead (nntpahead.cpp): the reply being answered is
// done; the owed replies behind it, if any, are held for the caller.
void nntpAheadAnswered();

}  // namespace netwire::engine
