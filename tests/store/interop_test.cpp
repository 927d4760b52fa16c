// What the codecs write must decode with the standard tools, and what the
// standard tools write must decode with the codecs: sharutils uuencode and
// uudecode, coreutils base64, and MIME messages of Python's email package.
#include "store/torvakit.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;
namespace fs = std::filesystem;

namespace {

bool haveTool(const char* path) { return ::access(path, X_OK) == 0; }

#define REQUIRE_TOOL(path) \
    if (!haveTool(path)) GTEST_SKIP() << path << " is not installed (scripts/deps.sh codec)"

int run(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string randomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string data(n, '\0');
    for (char& c : data) c = static_cast<char>(rng() & 0xff);
    return data;
}

class InteropTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directory("DECODE"); }
    TempDir m_dir{true};
};

}  // namespace

TEST_F(InteropTest, UuencodeOutputDecodesWithOurDecoders) {
    REQUIRE_TOOL("/usr/bin/uuencode");
    std::string data = randomBytes(150'000, 1);
    writeFile("photo.jpg", data);
    ASSERT_EQ(run("uuencode photo.jpg photo.jpg > item.omb"), 0);
    std::string names;
    ASSERT_EQ(torvakit::decodefile("item.omb", names, '>', "DECODE\\"), 1);
    EXPECT_TRUE(readFile("DECODE/photo.jpg") == data);

    // The same file as a quoted reply, with CR LF line ends.
    std::string quoted;
    std::string uu = readFile("item.omb");
    for (size_t pos = 0; pos < uu.size();) {
        size_t end = uu.find('\n', pos);
        quoted += "> " + uu.substr(pos, end - pos) + "\r\n";
        pos = end + 1;
    }
    writeFile("item.omb", "Here it is:\r\n" + quoted);
    fs::remove("DECODE/photo.jpg");
    ASSERT_EQ(torvakit::decodefile("item.omb", names, '>', "DECODE\\"), 1);
    EXPECT_TRUE(readFile("DECODE/photo.jpg") == data);

    // Split over three items at line boundaries, for the multi-item decoder.
    std::vector<std::string> lines;
    for (size_t pos = 0; pos < uu.size();) {
        size_t end = uu.find('\n', pos);
        lines.push_back(uu.substr(pos, end - pos + 1));
        pos = end + 1;
    }
    std::string parts[3];
    for (size_t i = 0; i < lines.size(); ++i) parts[i * 3 / lines.size()] += lines[i];
    std::string out;
    for (int i = 0; i < 3; ++i) {
        writeFile("p" + std::to_string(i) + ".omb", "part " + std::to_string(i + 1) + " of 3\n\n" + parts[i]);
        int rc = torvakit::uuedecodefile2("p" + std::to_string(i) + ".omb", i == 0 ? 0 : 1, '>', "DECODE\\", out);
        EXPECT_EQ(rc, i == 0 ? 1 : i == 1 ? 1 : 2);
    }
    EXPECT_EQ(out, "DECODE\\photo.jpg");
    EXPECT_TRUE(readFile("DECODE/photo.jpg") == data);
}

TEST_F(InteropTest, OurUuencodedPartsDecodeWithUudecode) {
    REQUIRE_TOOL("/usr/bin/uudecode");
    for (size_t size : {0ul, 1ul, 45ul, 100ul, 3 * 1024ul + 7, 300'000ul}) {
        std::string data = randomBytes(size, static_cast<unsigned>(size));
        writeFile("att.bin", data);
        int parts = torvakit::uueencodefile2("att.bin", size > 10'000 ? 64 * 1024 : 1024, "N%07d.omb", 100);
        ASSERT_GE(parts, 1);
        auto part = [](int i) { return "N0000" + std::to_string(100 + i) + ".omb"; };
        std::string joined;
        for (int i = 0; i < parts; ++i) joined += readFile(part(i));
        writeFile("joined.uu", joined);
        fs::remove("decoded.bin");
        ASSERT_EQ(run("uudecode -o decoded.bin joined.uu"), 0) << size;
        EXPECT_TRUE(readFile("decoded.bin") == data) << size;
        for (int i = 0; i < parts; ++i) fs::remove(part(i));
    }
}

TEST_F(InteropTest, Base64BothWays) {
    REQUIRE_TOOL("/usr/bin/base64");
    std::string data = randomBytes(100'000 + 2, 7);
    writeFile("data.bin", data);
    // coreutils output as a bare base64 body, named by the header.
    ASSERT_EQ(run("base64 -w 76 data.bin > item.omb"), 0);
    writeFile("item.omh", "+OK\r\nSubject: data\r\nContent-Disposition: attachment; filename=\"data.bin\"\r\n");
    std::string name;
    ASSERT_EQ(torvakit::decodebase64("item.omb", name, '>', "DECODE\\"), 1);
    EXPECT_EQ(name, "data.bin");
    EXPECT_TRUE(readFile("DECODE/data.bin") == data);

    // Our MIME part body: its base64 lines decode with coreutils.
    ASSERT_EQ(torvakit::mimeencodefile("data.bin", "N0000001.omb", 1), 1);
    std::string body = readFile("N0000001.omb");
    size_t start = body.find("\r\n\r\n", body.find("Content-Disposition")) + 4;
    size_t end = body.find("\r\n\r\n--1--");
    std::string lines = body.substr(start, end - start);
    std::string lf;
    for (char c : lines)
        if (c != '\r') lf += c;
    writeFile("lines.b64", lf + "\n");
    ASSERT_EQ(run("base64 -d lines.b64 > decoded.bin"), 0);
    EXPECT_TRUE(readFile("decoded.bin") == data);
}

namespace {

const char* python() { return haveTool("/usr/bin/python3") ? "/usr/bin/python3" : "python3"; }

// Builds a message with a plain text body, a quoted-printable text
// attachment and two binary attachments, and writes the attachments' bytes
// beside it for comparison.
const char* kBuildMessage = R"PY(
import sys
from email.message import EmailMessage
from email import policy
text = "Caf\u00e9 menu = fine\nA long line " + "x" * 120 + " end\n\tindented\nlast line\n"
a = bytes(range(256)) * 40
b = bytes((i * 7919) % 251 for i in range(50001))
msg = EmailMessage(policy=policy.SMTP)
msg["To"] = "fred@example.org"
msg["Subject"] = "files"
msg.set_content("see the attachments\n")
msg.add_attachment(text, subtype="plain", cte="quoted-printable", filename="notes.txt")
msg.add_attachment(a, maintype="application", subtype="octet-stream", filename="table.bin")
msg.add_attachment(b, maintype="image", subtype="png", filename="picture.png")
raw = msg.as_bytes()
head, body = raw.split(b"\r\n\r\n", 1)
open("item.omh", "wb").write(b"+OK\r\n" + head + b"\r\n")
open("item.omb", "wb").write(body)
open("want-notes.txt", "wb").write(text.replace("\n", "\r\n").encode("utf-8"))
open("want-table.bin", "wb").write(a)
open("want-picture.png", "wb").write(b)
)PY";

// Parses our part body under the header a part item carries and writes the
// attachment's decoded bytes.
const char* kReadMessage = R"PY(
import sys
from email import message_from_bytes, policy
raw = open("head.txt", "rb").read() + b"\r\n" + open(sys.argv[1], "rb").read()
msg = message_from_bytes(raw, policy=policy.default)
found = [p for p in msg.iter_attachments()]
assert len(found) == 1, len(found)
assert found[0].get_filename() == sys.argv[2], found[0].get_filename()
open("got.bin", "wb").write(found[0].get_content())
)PY";

}  // namespace

TEST_F(InteropTest, MessageFromPythonEmailDecodes) {
    writeFile("build.py", kBuildMessage);
    if (run(std::string(python()) + " build.py") != 0) GTEST_SKIP() << "python3 email package not usable";
    std::string names;
    ASSERT_EQ(torvakit::decodefile("item.omb", names, '>', "DECODE\\"), 1);
    for (const char* file : {"notes.txt", "table.bin", "picture.png"})
        EXPECT_TRUE(readFile(std::string("DECODE/") + file) == readFile(std::string("want-") + file)) << file;
    EXPECT_EQ(names, "DECODE\\notes.txt\r\nDECODE\\table.bin\r\nDECODE\\picture.png\r\n");
}

TEST_F(InteropTest, OurMimePartReadsWithPythonEmail) {
    writeFile("read.py", kReadMessage);
    writeFile("mimetype.txt", "image/png png\r\n");
    std::string data = randomBytes(70'001, 3);
    writeFile("Picture.PNG", data);
    ASSERT_EQ(torvakit::mimeencodefile("Picture.PNG", "N0000077.omb", 77), 1);
    writeFile("head.txt", "To: fred@example.org\r\nSubject: x -- Picture.PNG (1/1)\r\nMIME-Version: 1.0\r\n"
                          "Content-Type: multipart/mixed; boundary=\"77\"\r\n");
    if (run(std::string(python()) + " -c 'import email'") != 0) GTEST_SKIP() << "python3 not usable";
    ASSERT_EQ(run(std::string(python()) + " read.py N0000077.omb Picture.PNG"), 0);
    EXPECT_TRUE(readFile("got.bin") == data);
}
