// Finding an item by subject or author in the shown folder: "&find in
// subject", "find &author" and "find a&gain" (keys f, a and g in the list).
// The search runs from the row after the current item to the last row in
// display order and does not wrap around.
#pragma once

#include <QObject>
#include <QString>

#include <string>

class MainHost;

// The first row from `from` up to count - 1, in the folder's display order
// for the sort type, whose record line (3 author, 5 subject), in upper
// case, holds the upper-case pattern; -1 when none does.
int findRow(const std::string& folder, int sortType, int line, const std::string& pattern, int from, int count);

inline constexpr const char* kFindPrompt = "enter text to find";
inline constexpr const char* kNoMatch = "no match found";

class FindCommands : public QObject {
    Q_OBJECT
public:
    enum class Mode { None = -1, Author = 0, Subject = 1 };

    FindCommands(MainHost& host, QObject* parent = nullptr);

    void findinsubject1Click() { ask(Mode::Subject); }
    void findauthor1Click() { ask(Mode::Author); }
    void findagain1Click();

    Mode mode() const { return m_mode; }

private:
    bool allowed() const;
    void ask(Mode mode);
    void search();

    MainHost& m_host;
    Mode m_mode = Mode::None;
    QString m_text;
};
