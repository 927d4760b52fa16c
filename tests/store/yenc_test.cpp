// yEnc in the decoders: single files through decodefile, files spread over
// several items through uuedecodefile2, and every damage reported.
#include "store/torvakit.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

using namespace torvakit;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace fs = std::filesystem;

namespace {

struct Case {
    std::string mode, file;
    std::vector<int> results;
};

Case readCase(const std::string& path) {
    Case c;
    std::istringstream in(readFile(path));
    std::string key;
    while (in >> key) {
        if (key == "mode") in >> c.mode;
        else if (key == "file") std::getline(in >> std::ws, c.file);
        else if (key == "results") {
            std::string line;
            std::getline(in, line);
            std::istringstream numbers(line);
            for (int rc; numbers >> rc;) c.results.push_back(rc);
        }
    }
    return c;
}

}  // namespace

// tests/data/yenc/<case>.<n>.omb are the items in part order (made by a
// yEnc encoder in Python, file.bin the original); <case>.expected gives the
// decoder, the result of each call and the file that must come out.
TEST(YEnc, DataCases) {
    const fs::path data = fs::path(OMAIL_TEST_DATA) / "yenc";
    const std::string original = readFile((data / "file.bin").string());
    int cases = 0;
    for (const auto& entry : fs::directory_iterator(data)) {
        if (entry.path().extension() != ".expected") continue;
        const std::string name = entry.path().stem().string();
        const Case c = readCase(entry.path().string());
        TempDir dir(true);
        mkdir("DECODE", 0777);
        std::vector<int> results;
        std::string outputPath, names;
        int state = 0;
        for (std::size_t i = 1; i <= c.results.size(); ++i) {
            const std::string body = "N000000" + std::to_string(i) + ".omb";
            writeFile(body, readFile((data / (name + "." + std::to_string(i) + ".omb")).string()));
            if (c.mode == "decodefile") {
                results.push_back(decodefile(body, names, '>', "DECODE/"));
            } else {
                state = uuedecodefile2(body, state, '>', "DECODE/", outputPath);
                results.push_back(state);
            }
        }
        EXPECT_EQ(results, c.results) << name;
        const std::string log = fs::exists("DECODE/decode.log") ? readFile("DECODE/decode.log") : "";
        if (c.file == "-") {
            EXPECT_EQ(log, "") << name << ": a damaged or unfinished file is not logged";
            if (c.mode == "decodefile") {
                EXPECT_EQ(names, "") << name;
            }
        } else {
            EXPECT_EQ(readFile("DECODE/" + c.file), original) << name;
            EXPECT_NE(log.find(" : " + c.file + "\r\n"), std::string::npos) << name;
        }
        ++cases;
    }
    EXPECT_GE(cases, 10);
}

TEST(YEnc, HostileNameAndLengthsStayInBounds) {
    TempDir dir(true);
    mkdir("DECODE", 0777);
    // A part claiming a range past the file and a name with separators.
    writeFile("a.omb", "=ybegin part=1 total=2 line=128 size=4 name=../../yenc-escape\r\n"
                       "=ypart begin=1 end=9\r\nkkkk\r\n=yend size=9 part=1\r\n");
    std::string out;
    EXPECT_EQ(uuedecodefile2("a.omb", 0, '>', "DECODE/", out), -8);
    EXPECT_EQ(out, "DECODE/..$..$yenc-escape");
    EXPECT_FALSE(fs::exists(fs::path(dir.path()).parent_path() / "yenc-escape"));
    // More data than the part's range: reported, and nothing written past it.
    writeFile("b.omb", "=ybegin part=1 total=2 line=128 size=4 name=y\r\n"
                       "=ypart begin=1 end=2\r\nkkkkkkkk\r\n=yend size=2 part=1\r\n");
    EXPECT_EQ(uuedecodefile2("b.omb", 0, '>', "DECODE/", out), -8);
    EXPECT_LE(fs::file_size("DECODE/y"), 2u);
}

// A news article carrying a yEnc file: the readable text names it in one
// line instead of showing its data, and the file is decoded from the list.
TEST(YEnc, CarriedFilesLeaveTheReadableText) {
    const fs::path data = fs::path(OMAIL_TEST_DATA) / "yenc";
    TempDir dir(true);
    mkdir("DECODE", 0777);
    writeFile("N0000001.omh", "221 1 <a@b> article\r\nSubject: file\r\n");
    writeFile("N0000001.omb", readFile((data / "single.1.omb").string()));
    ReadableText info;
    ASSERT_EQ(MakeReadableText("N0000001.omb", "text.out", info), 1);
    EXPECT_EQ(readFile("text.out"),
              "Some text before the file.\r\n\r\n[yEnc file: my file.bin, 20550 bytes]\r\n-- \r\nsignature\r\n");
    ASSERT_EQ(info.parts.size(), 1u);
    EXPECT_EQ(info.parts[0].name, "my file.bin");
    std::string path;
    ASSERT_EQ(DecodeMimePart("N0000001.omb", info.parts[0].index, "DECODE/", path), 1);
    EXPECT_EQ(readFile(path), readFile((data / "file.bin").string()));
    EXPECT_EQ(fs::directory_iterator("DECODE") != fs::directory_iterator(), true);
    for (const auto& entry : fs::directory_iterator("DECODE"))  // no scratch copy left
        EXPECT_TRUE(entry.path().filename() == "my file.bin" || entry.path().filename() == "decode.log");
    writeFile("N0000001.omb", readFile((data / "single_corrupt.1.omb").string()));
    EXPECT_EQ(DecodeMimePart("N0000001.omb", info.parts[0].index, "DECODE/", path), -9);
}
