// Files one message (a file of header, empty line, body) as a retrieved item
// and prints what the store makes of it, for comparisons with other mail
// readers: the list record's author, recipient and subject, the readable
// text, and each other part with the bytes it decodes to.
//
//   mimedump MESSAGE WORKDIR     (WORKDIR is emptied and used as the data directory)
//
// Output lines: "author: ", "recipient: ", "subject: ", "html: 0|1", "text:"
// followed by the text lines each prefixed with "| ", then per part
// "part: <type>\t<size>\t<name>\t<decoded file>".
#include "store/torvakit.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Lines as a POP3 server sends them: CR LF.
std::string crlf(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: mimedump MESSAGE WORKDIR\n";
        return 2;
    }
    const std::string message = crlf(readAll(argv[1]));
    const fs::path work = fs::absolute(argv[2]);
    fs::remove_all(argv[2]);
    fs::create_directories(fs::path(argv[2]) / "in");
    fs::create_directories(fs::path(argv[2]) / "DECODE");
    fs::current_path(argv[2]);
    std::size_t split = message.find("\r\n\r\n");
    std::string header = split == std::string::npos ? message : message.substr(0, split + 2);
    std::string body = split == std::string::npos ? std::string() : message.substr(split + 4);
    std::ofstream("in/N0000001.omh", std::ios::binary) << "+OK message follows\r\n" << header;
    std::ofstream("in/N0000001.omb", std::ios::binary) << body;
    if (torvakit::AppendToList("in/N0000001.omh", "in/N0000001.omb", "in/n.lst", "in/n.cnt", 'U') != 1) {
        std::cerr << "cannot file the message\n";
        return 1;
    }
    std::istringstream record(readAll("in/n.lst"));
    std::string line;
    const char* labels[] = {nullptr, nullptr, "author", "recipient", "subject"};
    for (int i = 0; i < 5 && std::getline(record, line); ++i) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (labels[i]) std::cout << labels[i] << ": " << line << "\n";
    }
    torvakit::ReadableText info;
    if (torvakit::MakeReadableText("in/N0000001.omb", "text.out", info) != 1) {
        std::cerr << "cannot make the readable text\n";
        return 1;
    }
    std::cout << "html: " << info.html << "\ntext:\n";
    std::istringstream text(readAll("text.out"));
    while (std::getline(text, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::cout << "| " << line << "\n";
    }
    for (const torvakit::MimePart& part : info.parts) {
        std::string path;
        int rc = torvakit::DecodeMimePart("in/N0000001.omb", part.index, "DECODE/", path);
        std::cout << "part: " << part.type << "\t" << part.size << "\t" << part.name << "\t"
                  << (rc == 1 ? (work / path).string() : "-") << "\n";
    }
    return 0;
}
