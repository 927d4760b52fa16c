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
// Character sets and encoded header words (charset.cpp, encword.cpp)
// ---------------------------------------------------------------------------

// Text is handed to the program as UTF-8. Conversion goes through the C
// library's iconv, so every charset it knows is read; gb2312 and gbk are read
// as GB18030, shift_jis as CP932, big5 as BIG5-HKSCS (the supersets mailers
// really write). An empty charset, "us-ascii" and "unknown-8bit" mean
// undeclared: the bytes are kept when they are valid UTF-8, else read as
// Latin-1.

// out = bytes converted from charset to UTF-8. 1 when the charset is known
// (a byte sequence invalid in it becomes U+FFFD); 0 when it is not, and the
// bytes were read as Latin-1, so none is lost.
int ConvertToUtf8(std::string_view bytes, std::string_view charset, std::string& out);
// out = the header value with its RFC 2047 encoded words (B and Q, any
// charset) decoded to UTF-8: adjacent words in one charset are joined before
// conversion (a character or a base64 group split between two words comes
// out whole) and the blanks between encoded words are dropped; a malformed
// word (bad base64, no "?=") stays as it stands; other 8-bit bytes are
// undeclared text. Control bytes in the result become spaces, so a decoded
// value never holds a line end. 1 when anything was decoded or converted;
// 0 when the value is ASCII without encoded words (out equals it).
int DecodeHeaderValue(std::string_view value, std::string& out);
// The same for address headers (From, To, Cc, Reply-To): a decoded display
// name holding a comma, quote, bracket or other special is written as a
// quoted string, so extractrealname, extractemailaddr and the cut at the
// first comma still split the addresses as the sender meant.
int DecodeAddressValue(std::string_view value, std::string& out);
// The way back, for headers written into outgoing items: words holding
// 8-bit bytes (or "=?") become UTF-8 encoded words ("=?UTF-8?B?...?="), at
// most 75 characters each and never splitting a character; ASCII words
// stay. 1 when anything was encoded, 0 when the value is unchanged.
int EncodeHeaderValue(std::string_view utf8, std::string& out);
// The same for address lists: only display names are encoded (a quoted one
// loses its quotes); addresses in angle brackets and separators stay.
int EncodeAddressValue(std::string_view utf8, std::string& out);
// GetHeaderFields for display and reuse as text: the same outputs, modes and
// result, but From, recipient, Cc and Reply-To decoded with
// DecodeAddressValue and the subject with DecodeHeaderValue, each read with
// its folded continuation lines and cut to 255 bytes at a character
// boundary. The values are UTF-8 and may hold 8-bit bytes, so they are
// not ready to be written into an outgoing header as they are; the raw
// GetHeaderFields stays the one for re-sending a stored value unchanged
// (recompose).
int GetHeaderFieldsDecoded(std::string_view itemPath, std::string& from, std::string& recipient,
                           std::string& subject, std::string& cc, std::string& replyTo,
                           std::string& date, std::string& messageId, int32_t ccLimit,
                           int32_t mode);
// GetAuthor with the display name decoded (UTF-8); the address is the same.
int GetAuthorDecoded(std::string& itemPath, std::string& name, std::string& address);

// ---------------------------------------------------------------------------
// Readable text and MIME parts of an item (mimetext.cpp)
// ---------------------------------------------------------------------------

// One part of an item besides its readable text.
struct MimePart {
    int32_t index = 0;  // what DecodeMimePart takes
    std::string name;   // its file name in UTF-8 (RFC 2231 and encoded words decoded), may be empty
    std::string type;   // lower-cased, "application/pdf"
    uint64_t size = 0;  // decoded bytes
};

// What MakeReadableText found.
struct ReadableText {
    int32_t html = 0;         // 1: the text written is HTML (no plain text twin)
    std::string charset;      // the declared charset it was converted from, lower case
    std::vector<MimePart> parts;  // the other parts, in the order of the message
};

// Writes the text of an item as its author wrote it, UTF-8 with CR LF line
// ends, to outputPath (replaced); the item's files are only read. itemPath
// names the header or the body file; the header file gives the top-level
// MIME type. The text is the message's text part decoded from base64 or
// quoted-printable and converted from its charset: of a
// multipart/alternative the text/plain twin, or the HTML one (html set)
// when there is no plain one; multiparts nested in any way are walked, and
// unnamed inline text/plain parts after the text are appended to it. A
// message without MIME headers is its body, undeclared (UTF-8 when valid,
// else Latin-1). Every other part is listed in info.parts. Uuencoded and
// yEnc files carried in the lines of a plain text (news binaries) are cut
// out of it, each replaced by one line naming it ("[yEnc file: name, N
// bytes]"), and listed as parts of type application/octet-stream numbered
// after the MIME parts. 1, or 0 when the body cannot be read or the output
// cannot be written.
int MakeReadableText(std::string_view itemPath, std::string_view outputPath, ReadableText& info);
// Decodes the part with that index (from MakeReadableText's list) into the
// folder (a prefix ending in a separator, as for decodefile) under its
// cleaned file name, or a fresh name when it has none, and logs it in the
// folder's decode log. outputPath receives the file's path. 1; 0 when the
// body cannot be read or has no such part; -2 when no name can be formed;
// -6 when the output cannot be written. A carried uuencoded or yEnc file is
// decoded by decodefile, with its checks and its results: -9 a yEnc file
// failed its size or CRC32 check, -10 a yEnc part was decoded but the file
// still lacks the parts other items hold (decoding those completes it).
int DecodeMimePart(std::string_view itemPath, int32_t index, std::string_view folder,
                   std::string& outputPath);

// ---------------------------------------------------------------------------
// Store layout and list files (listfile.cpp)
// ---------------------------------------------------------------------------

// A folder is a path ending in "\" or "/"; it holds "n.lst" (nine CR LF lines
// per item: header file name, status, author, recipient, subject, display
// date, sortable date, size, message-id), "n.cnt" (the record count) and the
// index files "n<type>.idx" (24-byte records "%010lu  %010lu\r\n": list
// offset and ordinal, in display order).

// Reads the number on the file's first line. 1 if the file was opened, else 0;
// value is 0 unless a number was read.
int GetFile(std::string_view path, uint32_t& value);
// Writes "%lu\r\n". 1, or 0 when the file cannot be written.
int SetFile(std::string_view path, uint32_t value);
// Takes the next item number n from the item-number file: header and body
// names "N%07u.omh" / "N%07u.omb"; stores n + 1, or 0 after 9999999.
// Returns the result of storing it.
int MakeFileNames(std::string_view numberFile, std::string& headerName, std::string& bodyName);
// Size in kilobytes, rounded down, at least 1. 1, or 0 when the file is
// missing (size untouched).
int StatFileSize(std::string_view path, uint32_t& size);
// Adds the record of an item whose files are in place to the list and one to
// the count. 1, or 0 when the header file or the list cannot be opened, the
// record cannot be written (the list keeps its old length) or the count
// cannot be written (the record stays).
int AppendToList(std::string_view headerPath, std::string_view bodyPath, std::string_view listPath,
                 std::string_view countPath, char status);
// Rewrites the status of the record added by the most recent AppendToList of
// this process. 1, or 0 when the list cannot be opened or that record is not
// at the remembered place in it.
int UpdatePrevStatus(std::string_view listPath, char status);
// One display row through an index file. Outputs: status line, author,
// recipient, subject, display date, size; hasBody 1 when the body file
// exists. 1, or 0 when the index or the list cannot be opened.
int ReadListItems(int32_t row, std::string_view indexPath, std::string_view listPath,
                  std::string& status, std::string& author, std::string& recipient,
                  std::string& subject, std::string& date, std::string& size, int32_t& hasBody);
// The status byte of a row (rows resolve through "n<sortType>.idx"; a missing
// index or a row past its end means the first record), or 0 when the list
// cannot be opened.
int GetListStatus(std::string_view folder, int32_t row, int32_t sortType);
// Writes the status byte of a row in place: 2 when it already had that value,
// 1 when changed, 0 when the list cannot be opened or the row does not lead to
// a record's status byte (nothing is written then).
int SetListStatus(std::string_view folder, int32_t row, int32_t sortType, char status);
// Turns every "S" into "O"; the number changed.
int DeselectList(std::string_view folder, int32_t sortType);
// The folder path plus the row's body file name. 1, or 0.
int GetBodyFileName(std::string_view folder, int32_t row, int32_t sortType, std::string& bodyPath);
// Counts the header files of a folder (path without trailing separator) of
// one kind (2 mail, 1 news). 1, or 0 when it holds no header file.
int CalcItems(std::string_view folder, int32_t kind, int32_t& count);
// The line of any list at a row of its index. 1, or 0.
int GetFirstField(int32_t row, std::string_view indexPath, std::string_view listPath,
                  std::string& line);

// ---------------------------------------------------------------------------
// Sorting and index files (sort.cpp)
// ---------------------------------------------------------------------------

// Writes an index of the list's first `count` records of linesPerRecord lines,
// ordered by line keyLine (1-based): numeric 1 compares the line's first run
// of digits by value (any length; no digits is 0), otherwise the line is
// compared as text in the user's collation (LC_COLLATE): lower-cased A-Z,
// a leading "re: " moved behind so a reply follows its original, and for
// records of more than one line and key lines other than 7 and 8 the record's
// line 7 (its sortable date) appended so equal texts fall into date order.
// Under a byte-order collation (C, POSIX) the key is the text, the byte 255
// for a reply and the date, compared byte by byte; under any other collation
// the text is collated first, then originals come before replies, then the
// dates. Records with equal keys keep their list order. Returns the number of
// index records written, or -1 when the list cannot be read, memory cannot be
// had or the index cannot be written (no index is left behind then).
int sort(std::string_view listPath, int32_t linesPerRecord, int32_t keyLine, int32_t numeric,
         std::string_view indexPath, int32_t count);
// Sorts a folder's list ("<folder>n.lst") into "<folder>n<sortType>.idx" with
// nine lines per record, numeric for types 7 and 8, the count from "n.cnt".
// 0 without writing anything when the count is 0; -1 for a type outside 1-9.
int SortList(std::string_view listPath, int32_t sortType);

// ---------------------------------------------------------------------------
// Moving, expiring and filtering (move.cpp)
// ---------------------------------------------------------------------------

// The scratch file of list rewrites, in the data directory.
inline constexpr std::string_view kScratchFile = "OMAIL.TMP";

// Moves (destination folder given) or deletes (destination empty) the
// selected rows of the source folder shown in sortType order. selection[0]
// holds the number n of rows, selection[1..n] the rows; they are replaced by
// the records' ordinals in the list. The source list is rewritten completely
// into "OMAIL.TMP", flushed to disk and renamed over the old one; moved
// records are appended to the destination list in list order; the counts
// change by the number of records actually moved. 1 when done, 0 when the
// source list, "OMAIL.TMP" or the destination list cannot be opened or
// written, a moved item's file name is already taken in the destination, or
// an item file cannot be moved (nothing changed). Moving into the folder
// itself changes nothing and gives 1.
int MoveItems(std::string_view source, std::string_view destination, int32_t sortType,
              std::vector<int32_t>& selection);
// Moves every record and item of the source folder to the destination; the
// source is left with count 0 and no list. 1, or 0 when either list cannot be
// opened or written, the destination is empty or already has a file of a
// moved item's name, or an item file cannot be moved (nothing changed).
int MoveAllItems(std::string_view source, std::string_view destination);
// Expires items to the destination (empty: deletes them). mode <= 0: items
// more than -mode whole days old by their display date; mode > 0: items whose
// status byte is mode's low byte. Results as MoveItems.
int ExpireItems(std::string_view source, std::string_view destination, int32_t mode);
// From, Reply-To and the first newsgroup (else the first To address) of a
// header file, lower-cased. 1, or 0 with empty outputs.
int GetFilters(std::string_view headerPath, std::string& from, std::string& replyTo,
               std::string& group);
// Renames; when that fails (the target exists, another file system) copies
// over the target and leaves the source. 1.
int moveoverfile(std::string_view existing, std::string_view newPath);
// Appends the source to the destination line by line, every line ending in
// CR LF. 1, or 0 when either file cannot be opened.
int concatfiles(std::string_view destination, std::string_view source);
// Deletes every file of the directory (path without trailing separator) whose
// name does not begin with ".". 1, or 0 when it cannot be read.
int EmptyDir(std::string_view directory);
// Empties the directory and removes it. 1 when it is gone, else 0.
int removedir(std::string_view directory);

// ---------------------------------------------------------------------------
// Journal, recovery and the program's filing steps (journal.cpp, listfile.cpp,
// move.cpp)
// ---------------------------------------------------------------------------

// Every store operation that changes more than one file (MoveItems,
// MoveAllItems, ExpireItems, EmptyDir, removedir, SubSub, AppendToList and
// the two filing steps below) first notes what it is about to do in the
// journal "omail.jnl" in the current (data) directory and clears the note when
// done; the batch operations sync the note before their first change and their
// folders before clearing it. The journal holds at most one note; an empty or
// missing journal means nothing is pending. An operation that finds a note left
// by a crash replays it first.
inline constexpr std::string_view kJournalFile = "omail.jnl";

// Replays the journal of the data directory (empty: the current directory):
// an operation cut short is finished, or undone where it had not yet taken
// place, so that every item is listed once, in the folder that holds its
// files; every folder it touched loses records cut off at the end of its list
// and second records of one item, gets its unlisted header files listed again
// from their headers, its count set to its records and its index files
// deleted. Asks nothing. 0 when nothing was pending (report empty); 1 when
// something was repaired, with a short lower-case text for the status bar in
// report ("recovered an interrupted move of 10000 items"); -1 when the data
// directory cannot be entered or the journal cannot be read or cleared.
// Run it at start before any folder is read.
int RecoverStore(std::string_view dataDirectory, std::string& report);

// Files a retrieved message or article: takes the next item number from
// numberFile ("omail.dat"), moves bodyPath ("body.tmp", when it exists) and
// headPath ("head.tmp") into folder (a path ending in a separator) under the
// item's names, adds the record with the given status ('U' mail, 'O' a news
// header) and one to the count, and deletes the folder's index files of sort
// types 2, 3, 4, 5, 7 and 8. headerName gets the new header file's name
// ("N0000042.omh", without folder). 1 when filed; 0 when nothing was filed:
// no head file, no such folder, the number file cannot be rewritten (every
// later message would get the same number), a file of the item's names is
// already in the folder (never overwritten), or a file, the record or the count
// cannot be written (the two files are back where they were). A caller that
// gets 0 should end the run before anything is deleted on the server.
int FileRetrieved(std::string_view numberFile, std::string_view headPath, std::string_view bodyPath,
                  std::string_view folder, char status, std::string& headerName);

// Moves bodyPath ("body.tmp") into folder as the body of the item whose
// header headerName ("N0000042.omh") FileRetrieved filed there, for a body
// fetched after its header. 1 when moved; 0 when there is no such file, the
// name is not an item's, the body's name is already taken in the folder
// (never replaced) or the file cannot be moved (it stays where it was).
int FileRetrievedBody(std::string_view bodyPath, std::string_view folder, std::string_view headerName);

// Files delivered items out of the outbox in one step: selection as for
// MoveItems (selection[0] = n, then n rows in sortType order, replaced by
// their ordinals), destinations[i] the folder of row selection[i + 1]
// ("SENT\" or a personal folder; empty deletes the item). Each item's two
// files and its record (status kept) move there; the counts follow; the index
// files of sort types 2, 3, 4, 5, 7 and 8 of the outbox and of every
// destination are deleted. 1 when done; 0 when fewer than n destinations are
// given, a list cannot be opened or written, an item's name is already taken
// in its destination or a file cannot be moved (nothing changed then).
int FileDelivered(std::string_view outbox, int32_t sortType, std::vector<int32_t>& selection,
                  const std::vector<std::string>& destinations);

// ---------------------------------------------------------------------------
// Subscription file (subscr.cpp)
// ---------------------------------------------------------------------------

// "subscr.dat" holds one line per subscribed group,
// "<group>:<folder N%07u>:<next article, ten digits>:\r\n"; "SUBSCR.LST" the
// group names in the same order; "SUBSCR.IDX" the number from which the next
// group folder's name is searched.

// The next article number of a group. 1 if found, else 0 (number 0).
int getarticlen(std::string_view group, std::string_view subscriptionFile, uint32_t& number);
// Rewrites the group's ten-digit article number in place. 1 if found and
// rewritten, else 0 (also when the line's number field is not ten digits).
int setarticlen(std::string_view group, std::string_view subscriptionFile, uint32_t number);
// The group's folder followed by "\" ("N0000003\"). 1 if found, else 0
// (folder untouched).
int GetHomeDir(std::string_view group, std::string_view subscriptionFile, std::string& folder);
// Subscribes the group (lower-cased in place): a new folder "N%07u" in the
// current directory, a line in the subscription file, the name in the names
// file. 1 if it was already subscribed, 0 after subscribing it, 2 when it
// cannot be subscribed (a name with ":" or a line end, no folder can be
// created, or the subscription file cannot be written; nothing is left then).
int AddSub(std::string_view subscriptionFile, std::string_view namesFile,
           std::string_view counterFile, std::string& group);
// Unsubscribes the group (lower-cased in place): the subscription file is
// rewritten without it through "OMAIL.TMP", the names file rebuilt from it,
// and the group's folder removed with its files. 1 if it was not subscribed,
// 0 after unsubscribing it, 2 when the files cannot be rewritten (nothing
// changed then).
int SubSub(std::string_view subscriptionFile, std::string_view namesFile, std::string& group);

// ---------------------------------------------------------------------------
// Text transforms for reply, forward and view (transform.cpp)
// ---------------------------------------------------------------------------

// The last three write the scratch file "OMAIL.TMP" in the current (data)
// directory and name it in outPath; it is valid until the next transform.

// Breaks the text into lines of at most 80 columns at blanks (a longer word
// is cut every 80 bytes), tabs to spaces with stops every 6 columns, every
// line ending in CR LF. 1, or 0 when either file cannot be opened.
int wordwrapfile(std::string_view source, std::string_view destination);
// Every line of the body with the quote character in front. 1, or 0 when
// the body cannot be opened or the output cannot be created.
int IndentFile(std::string_view bodyPath, std::string& outPath, char quote);
// The text of a forwarded message: a note, the item's header (without a
// server's reply line, broken after 80 columns) and its body. 1, or 0 when
// the output cannot be created or the header or body cannot be opened.
int ForwardFile(std::string_view bodyPath, std::string& outPath);
// The header block above a message: recipient or newsgroup, author, subject,
// date and Cc; full (non-zero) aligns the labels and appends the raw header.
// 1, or 0 when the output cannot be created or, in the full form, the header
// cannot be opened.
int MakeViewHeader(std::string_view headerPath, std::string& outPath, int32_t full);
// MakeViewHeader with the recipient, author, subject and Cc lines decoded to
// UTF-8 (GetHeaderFieldsDecoded); the raw header copy stays raw. For the
// viewer's header pane and the print header.
int MakeViewHeaderDecoded(std::string_view headerPath, std::string& outPath, int32_t full);
// ForwardFile with the message text taken from textPath (the item's
// readable text, MakeReadableText) instead of its raw body file.
int ForwardTextFile(std::string_view itemPath, std::string_view textPath, std::string& outPath);

// ---------------------------------------------------------------------------
// Item creation and row readers (item.cpp)
// ---------------------------------------------------------------------------

// Writes a composed message or article into the folder of headerPath: its
// header file (To/Cc or Newsgroups, Followup-To, Message-Id, References,
// From, Reply-To, Organization, Subject, X-Mailer or X-Newsreader and
// X-No-Archive, MIME lines when mime is 1, Date) and its list record. With an
// attachment, the attachment is encoded (mime 1: one MIME part body, else
// uuencoded in parts of partSizeKb kilobytes, 0 for one part) into the items
// numbered from nextFree, each with a header and a record of its own, and the
// text item is labelled "name (0/N)". Returns N, the number of parts the
// encoder made (0 without attachment); the caller advances "omail.dat" by N.
// kItemNotWritten when a header file, record or count could not be written
// (the rest is still written as far as it goes).
// itemType 1-3 is mail, 4 and up news.
inline constexpr int kItemNotWritten = -1;
int MakeItem(std::string_view headerPath, std::string_view from, std::string_view replyTo,
             std::string_view subject, std::string_view recipients, std::string_view cc,
             std::string_view attachment, std::string_view organization, std::string_view timeZone,
             std::string_view references, std::string_view userName, std::string_view domain,
             std::string_view followupTo, int32_t itemType, int32_t partSizeKb, uint32_t nextFree,
             int32_t noArchive, int32_t mime);
// For news body retrieval: the status byte of the row's record, whether its
// body exists, and the article number and message-id from the header's
// first line (the "221 n <id>" reply). The body path is the folder plus the
// record's file name ending in "b". 1, or 0 when the list or the header
// cannot be opened.
int GetMessageId(std::string_view folder, std::string& messageId, std::string& bodyPath, int32_t row,
                 int32_t sortType, char& status, int32_t& hasBody, uint32_t& articleNumber);
// The subject (record line 5) or author (line 3) of a row and its body path,
// from the list alone. 1, or 0 when the list cannot be opened.
int GetSubject(std::string_view folder, std::string& subject, std::string& bodyPath, int32_t row,
               int32_t sortType);
int GetAuth(std::string_view folder, std::string& author, std::string& bodyPath, int32_t row,
            int32_t sortType);

// ---------------------------------------------------------------------------
// Attachment encoding (codec/encode.cpp)
// ---------------------------------------------------------------------------

// Writes the MIME part body of the attachment to outputPath (replaced): a
// text part of two empty lines, then the attachment in base64 lines of 76
// characters, its type looked up by extension in "mimetype.txt", both parts
// delimited by the decimal boundary number. 1, or 0 on failure (nothing is
// left at outputPath then).
int mimeencodefile(std::string_view attachment, std::string_view outputPath, uint32_t boundary);
// Uuencodes the attachment into part files of at most partSize input bytes
// each (0: one part). pattern holds one integer conversion ("OUT/N%07d.omb")
// that receives firstNumber, firstNumber + 1, ... Returns the number of
// parts, or 0 on failure, in which case no part file of this call remains.
int uueencodefile2(std::string_view attachment, uint32_t partSize, std::string_view pattern,
                   uint32_t firstNumber);

// ---------------------------------------------------------------------------
// Attachment decoding (codec/decode.cpp)
// ---------------------------------------------------------------------------

// The decoders read an item's body, strip leading quote characters and spaces
// from each line (quote is usually '>'), write decoded files into folder (a
// prefix ending in a separator, e.g. "DECODE\\") and record each finished file
// at the top of folder + "decode.log". A name taken from an item never leaves
// the folder: separators and other unsafe bytes become "$", and names that
// are empty, "." or "..", too long or reserved for the log are replaced.

// Decodes every named MIME part (base64, quoted-printable, other) and every
// uuencoded block of the body. names receives the output paths created,
// separated by CR LF. 1 when the body was read to its end (whether or not
// anything was found); -1 body cannot be opened; -2 / -3 no name could be
// formed for a MIME part / a "begin" block; -5 / -6 / -7 / -8 an output file
// for a uuencoded / base64 / plain / quoted-printable part cannot be created.
// yEnc blocks ("=ybegin" ... "=yend") are decoded too; a file is listed and
// logged only once whole and past its size and CRC32 checks: -9 a block
// failed them (or lacks its "=yend"); -10 a part of a multi-part file was
// decoded and checked but other parts are still to come (they join it when
// decoded later in this process); -11 a yEnc output cannot be written.
int decodefile(std::string_view bodyPath, std::string& names, char quote, std::string_view folder);
// Decodes one item of a uuencoded file spread over several items. state 0
// looks for "begin" and sets outputPath; state 1 (the previous result) appends
// to outputPath. -1 bad state; -2 body cannot be opened; -3 no name could be
// formed; -5 output cannot be created; -6 output cannot be opened for
// appending; 0 no "begin" in this item; 1 decoded, no "end" yet; 2 "end"
// reached, the file is complete and logged. A multi-part yEnc file goes the
// same way, one "=ypart" per item written at its offset: 1 the part passed
// its size and CRC32 checks; 2 every part is in and the whole file passed
// its checks, logged; -7 the item holds no part of this file; -8 a part
// failed its checks; -9 the whole file failed its size or CRC32 check.
int uuedecodefile2(std::string_view bodyPath, int state, char quote, std::string_view folder,
                   std::string& outputPath);
// Decodes a body that is nothing but base64 lines; the name comes from a
// "filename=" header line or a "name.ext" word of the subject. 1 with the
// name (without folder) in fileName; 0 when the header or body cannot be
// opened or the output cannot be created.
int decodebase64(std::string_view bodyPath, std::string& fileName, char quote,
                 std::string_view folder);

}  // namespace torvakit
