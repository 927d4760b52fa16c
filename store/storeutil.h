// Helpers shared by the store's source files: header values, the date fields
// of a list record, item file names and the folder file names. Internal to
// torvakit; the public interface is torvakit.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace platform {
struct CalendarTime;
}

namespace torvakit::util {

// Every line the store writes ends so.
inline constexpr std::string_view kCrLf = "\r\n";

// Header values and list fields handed to callers are at most this long.
inline constexpr std::size_t kMaxValue = 255;

// Record layout of a folder's list file.
inline constexpr int kListRecordLines = 9;
inline constexpr int kSortableDateLine = 7;
inline constexpr int kSizeLine = 8;
// Index records: "%010lu  %010lu\r\n".
inline constexpr int kIndexRecordSize = 24;
inline constexpr int kIndexOrdinalOffset = 12;
inline constexpr int kIndexLeadingZeros = 9;

// The largest item number; the next one after it is 0.
inline constexpr uint32_t kMaxItemNumber = 9999999;

extern const char* const kMonthNames[12];    // "Jan" ... "Dec"
extern const char* const kWeekdayNames[7];   // "Sun" ... "Sat"
// The month name for 1 to 12; "???" for anything else (a month the date
// parser did not recognise).
const char* monthName(int month);

char lowerAscii(char c);
void lowerAscii(std::string& text);

// The value of a header line whose name (colon included) is nameLength bytes
// long: the text from the byte after the one following the colon. A line that
// ends before that gives an empty value.
std::string_view headerValue(std::string_view line, std::size_t nameLength);
// The text up to its first comma.
std::string_view upToComma(std::string_view text);
// The text cut to kMaxValue bytes.
std::string capped(std::string_view text);

// A copy of an item path with its last character replaced ("h" header, "b" body).
std::string withLastChar(std::string_view path, char last);
// The part of a path after its last "\", "/" or ":".
std::string_view fileNamePart(std::string_view path);
// A name that may be joined to a folder path without leaving the folder:
// not empty, not "." or "..", no separator, no NUL, no line end.
bool isPlainName(std::string_view name);

// Line 6 of a list record: "%02d %s %02d" (day, month name, the last two
// digits of the year; year counts from 1900).
std::string displayDate(int day, int month, int year);
// Line 7: "%02d%02d%02d%02d%02d%02d" (year, month, day, hour, minute, second).
std::string sortableDate(int year, int month, int day, int hour, int minute, int second);
// Both, from a "Date:" value parsed the store's way.
void recordDates(std::string_view dateValue, std::string& display, std::string& sortable);

// "Sat, 6 Dec 1997 19:01:54 <zone>", or without a zone "06 Dec 19:01:54".
std::string unixDate(const platform::CalendarTime& time, const std::string_view* zone);

// Folder files: "%sn.lst", "%sn.cnt", "%sn%d.idx".
std::string listPath(std::string_view folder);
std::string countPath(std::string_view folder);
std::string indexPath(std::string_view folder, int sortType);

// Reads the first line of a file and takes its number the store's way (leading
// non-digits skipped, then the run of digits). false when the file cannot be opened.
bool readNumberFile(std::string_view path, uint32_t& value);
// The 64-bit value of the run of digits after any leading non-digits.
uint64_t leadingNumber(std::string_view text);

// Resolves a display row through an index file to a list offset: the first
// field of the 24-byte record at row * 24. 0 when the index cannot be opened or
// the row lies outside it.
uint64_t resolveRow(std::string_view indexFile, int32_t row);
// The same through an index already open (null: no index).
uint64_t resolveRow(std::FILE* index, int32_t row);
// The second field (the record's ordinal) of the index record at row * 24;
// false when the index cannot be read there.
bool indexOrdinal(std::FILE* index, int32_t row, uint64_t& ordinal);

// A list opened for appending records. A list whose last line lacks its end
// (cut off by a full disk or written by another program) first gets CR LF, so
// the new records start on a line of their own. A failed append is cut back
// to the list's old length, so a record is either whole or absent.
class ListAppender {
public:
    ListAppender() = default;
    ListAppender(const ListAppender&) = delete;
    ListAppender& operator=(const ListAppender&) = delete;
    ~ListAppender() { rollBack(); }

    bool open(std::string_view listPath);
    std::FILE* get() const { return m_file; }
    // Where the first appended record begins.
    int64_t recordStart() const { return m_recordStart; }
    // Flushes (and with sync, syncs to disk), keeping the list open so that
    // a later failure can still roll back; false when that failed.
    bool flush(bool sync);
    // Flushes and closes; on failure rolls back.
    bool commit(bool sync);
    // Cuts the list back to its old length and closes it.
    void rollBack();

private:
    std::FILE* m_file = nullptr;
    int64_t m_oldSize = 0;
    int64_t m_recordStart = 0;
};

// Writes the whole text; false on a short write.
bool writeAll(std::FILE* file, std::string_view text);

}  // namespace torvakit::util
