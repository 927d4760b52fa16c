// Items for window tests: header and body files in a folder, recorded in
// its list through the store, as retrieval leaves them.
#pragma once

#include "platform/fsys.h"
#include "store/torvakit.h"
#include "support/tempdir.h"

#include <cstdio>
#include <string>

namespace testsupport {

// Adds one mail item to folder (a directory name in the current directory);
// number makes the file names and the date (later numbers are newer).
inline void addItem(const std::string& folder, int number, const std::string& author, const std::string& subject,
                    char status, const std::string& recipient = "ann@a.org") {
    platform::createDirectory(folder);
    char name[16];
    std::snprintf(name, sizeof name, "N%07d", number);
    const std::string header = folder + "/" + name + ".omh";
    const std::string body = folder + "/" + name + ".omb";
    char date[64];
    std::snprintf(date, sizeof date, "Sat, %d Dec 1997 %02d:%02d:00 +0000", 1 + number / 1440 % 28,
                  number / 60 % 24, number % 60);
    writeFile(header, "+OK message follows\r\nFrom: " + author + "\r\nTo: " + recipient + "\r\nSubject: " + subject +
                          "\r\nDate: " + date + "\r\nMessage-Id: <" + name + "@a.org>\r\n");
    writeFile(body, "text of " + subject + "\r\n");
    torvakit::AppendToList(header, body, folder + "/n.lst", folder + "/n.cnt", status);
}

}  // namespace testsupport
