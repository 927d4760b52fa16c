// torvakit: the message store, its parsing, sorting, moves, transforms, item
// creation, subscriptions, attachment codecs, the process lock and the line
// helpers of the protocol engine.
//
// Conventions: text in as std::string_view, text out as std::string&,
// integers out as int32_t& / uint32_t&; results are int with the values
// documented for each function. Paths may use "\" or "/" and are resolved
// without regard to case.
//
// The header is kept in sections, one per family; each family's functions
// live in the source file named in its section heading.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace torvakit {

// ---------------------------------------------------------------------------
// Lock, socket start-up and protocol line helpers (frame.cpp)
// ---------------------------------------------------------------------------

// The line a lock file holds.
inline constexpr std::string_view kLockFileText = "LOCK FILE\r\n";

// 0 when the lock was taken and the fixed folders exist; 1 when another
// process holds it, this process took it before, or it cannot be created.
int ApplicationLock(std::string_view lockPath);
// 0 after releasing the lock, 1 when none was held.
int ApplicationUnlock();
// 0 when the socket service started, 1 when it did not.
int OpenWinsock();
// 0, or the last socket error code when the clean-up failed.
int CloseWinsock();
// The name of a Windows Sockets error code; unlisted codes give
// "WINSOCK ERROR %d". The text stays valid until the next unlisted code.
const char* GetWSAError(int code);

// The value of the decimal digits at the very start of the line.
int serverstatus(std::string_view line);
// 2: "." then CR (end of data); 1: any other line starting with "."; 3: else.
int linestatus(std::string_view line);
// Index of the first LF among the first count bytes, or -1.
int eolnposition(const char* buffer, int count);
// Copies one line from source into dest (capacity bytes): the bytes up to CR
// or LF, at most capacity - 3 of them, then CR LF NUL. Returns the bytes
// copied plus 2. sourceLength, when given, bounds the read of a buffer that
// may hold no line end.
int copylinefrombuffer(const char* source, char* dest, int capacity, int sourceLength = -1);
// Drops the line ending at the LF at lfIndex; count shrinks by lfIndex + 1.
int shiftdownbuffer(char* buffer, int& count, int lfIndex);
// Appends source at position when it fits in capacity: 0; else 1, nothing copied.
int copytobuffer(char* dest, int capacity, int& position, const char* source, int length);

// ---------------------------------------------------------------------------
// Header and date parsing (parse.cpp)
// ---------------------------------------------------------------------------

// Case-insensitive in this library always means: "A"-"Z" equal "a"-"z", no
// other byte folded. Outputs that hold a header value keep at most 255 bytes.

// Lower-cases A-Z in place. 1.
int stringlower(std::string& text);
// 1 when both have the same length and are equal without regard to case, else 0.
int stringcompare(std::string_view a, std::string_view b);
// The name's length when the line begins with the name (colon included)
// without regard to case; 0 otherwise and for an empty name.
int headercompare(std::string_view line, std::string_view name);
// Index of the first occurrence of pattern in text, with case; -1 none; -2
// when either is empty.
int substringcompare(std::string_view text, std::string_view pattern);
// Advances position past a run of the byte. 0.
int skip(std::string_view text, int32_t& position, char byte);
// Skips non-digits from position, then takes the run of digits (32-bit,
// wrapping) and leaves position after it: 1. At the end of the text: 0 and
// value 0. extractint is the same routine.
int extractlong(std::string_view text, int32_t& position, uint32_t& value);
int extractlong(std::string_view text, int32_t& position, int32_t& value);
int extractint(std::string_view text, int32_t& position, int32_t& value);
int extractint(std::string_view text, int32_t& position, uint32_t& value);
// Takes the next three bytes (fewer at the end) into name and returns the
// month (1-12) they name without regard to case, or 0.
int extractmonth(std::string_view text, int32_t& position, std::string& name);
// Parses "[weekday,] day month year hour:minute:second" leniently; a year
// above 1900 is stored less 1900. Missing parts give 0. Returns 0.
int extractdate(std::string_view text, int32_t& position, int32_t& day, int32_t& month,
                int32_t& year, int32_t& hour, int32_t& minute, int32_t& second);
// The local time as "Sat, 6 Dec 1997 19:01:54 <timeZone>". 0.
int createunixdate(std::string& out, std::string_view timeZone);
// With noZone -1 (no time-zone text): "06 Dec 19:01:54". 0.
int createunixdate(std::string& out, int noZone);
// Splits at the last "\", "/" or ":": directory (separator included) and name.
// 1, or 0 with both empty for a path shorter than two bytes.
int extractfrompath(std::string_view path, std::string& directory, std::string& name);
// The display name of the first address in text from start. 1.
int extractrealname(std::string_view text, int32_t start, std::string& name);
// The address in angle brackets ("<user@host>"). 1.
int extractemailaddr(std::string_view text, std::string& address);
// 2 when the item's header file begins with "+" or "T" (mail), 1 otherwise
// (news), 0 when it cannot be opened. path may name the header or body file.
int HeaderType(std::string_view path);
// Reads the fields the compose and view windows need. mode 0 prepares a reply
// ("Re: " subject, Reply-To into From, Followup-To into recipient, Reply-To
// output replaced by the display name of From), 2 a forward ("Fwd: "), 1 and
// 3 leave the values as read. date gets the display date. Returns the header
// file's first byte, or 0 when it cannot be opened (outputs cleared).
int GetHeaderFields(std::string_view itemPath, std::string& from, std::string& recipient,
                    std::string& subject, std::string& cc, std::string& replyTo,
                    std::string& date, std::string& messageId, int32_t ccLimit, int32_t mode);
// The "Message-Id:" value of the item. itemPath's last character becomes "h". 1 or 0.
int GetReference(std::string& itemPath, std::string& messageId);
// Display name and bare address of Reply-To, else From. itemPath's last
// character becomes "h". 1 or 0.
int GetAuthor(std::string& itemPath, std::string& name, std::string& address);

// ---------------------------------------------------------------------------
// Store layout and list files (listfile.cpp)
// ---------------------------------------------------------------------------

// ---------------------------------------------------------------------------
// Sorting and index files (sort.cpp)
// ---------------------------------------------------------------------------

// ---------------------------------------------------------------------------
// Moving, expiring and filtering (move.cpp)
// ---------------------------------------------------------------------------

// ---------------------------------------------------------------------------
// Subscription file (subscr.cpp)
// ---------------------------------------------------------------------------

// ---------------------------------------------------------------------------
// Text transforms for reply, forward and view (transform.cpp)
// ---------------------------------------------------------------------------

// ---------------------------------------------------------------------------
// Item creation and row readers (item.cpp)
// ---------------------------------------------------------------------------

// ---------------------------------------------------------------------------
// Attachment encoding (codec/encode.cpp)
// ---------------------------------------------------------------------------

// ---------------------------------------------------------------------------
// Attachment decoding (codec/decode.cpp)
// ---------------------------------------------------------------------------

}  // namespace torvakit
