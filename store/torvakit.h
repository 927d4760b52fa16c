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
