// Today's mail from arbitrary bytes: encoded header words, the readable text
// and parts of a MIME item, and yEnc through both decoders. Decoded header
// values must be valid UTF-8 without line ends; nothing may be written
// outside the decode folder.
#include "codec_fuzz_support.h"
#include "store/torvakit.h"

#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

namespace {

// The scratch files of all three modes (one run may follow another's).
const std::set<std::string> kScratchFiles = {"N0000001.omh", "N0000001.omb", "text.out", "item.omb"};

bool validUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

void headerWords(std::string_view value) {
    std::string out;
    for (int address = 0; address < 2; ++address) {
        int rc = address ? torvakit::DecodeAddressValue(value, out) : torvakit::DecodeHeaderValue(value, out);
        if (rc == 0 && out != value) std::abort();
        if (rc == 1 && (!validUtf8(out) || out.find_first_of("\r\n") != std::string::npos)) std::abort();
    }
    // Text encoded for an outgoing header decodes to itself.
    bool text = validUtf8(value);
    for (unsigned char c : value) text = text && c >= 0x20 && c != 0x7f;
    if (!text) return;
    std::string encoded, decoded;
    torvakit::EncodeHeaderValue(value, encoded);
    torvakit::DecodeHeaderValue(encoded, decoded);
    if (decoded != value) std::abort();
}

void mimeItem(std::string_view data) {
    // The header file is the input up to its first empty line, the body the rest.
    std::size_t split = data.find("\n\n");
    std::string_view header = split == std::string_view::npos ? data : data.substr(0, split + 1);
    std::string_view body = split == std::string_view::npos ? std::string_view() : data.substr(split + 2);
    fuzzsupport::writeInput("N0000001.omh", reinterpret_cast<const uint8_t*>(header.data()), header.size());
    fuzzsupport::writeInput("N0000001.omb", reinterpret_cast<const uint8_t*>(body.data()), body.size());
    torvakit::ReadableText info;
    if (torvakit::MakeReadableText("N0000001.omb", "text.out", info) != 1) std::abort();
    std::string path;
    for (const torvakit::MimePart& part : info.parts) {
        if (!validUtf8(part.name) || !validUtf8(part.type)) std::abort();
        int rc = torvakit::DecodeMimePart("N0000001.omb", part.index, "DECODE\\", path);
        if (rc > 1 || rc < -11) std::abort();  // carried files give the decoders' results
    }
    fuzzsupport::checkAndClear(kScratchFiles);
}

void yencItems(std::string_view data) {
    // Up to three items separated by a NUL, decoded as one multi-part file.
    std::string names, output;
    int state = 0;
    std::size_t start = 0;
    for (int item = 0; item < 3 && start <= data.size(); ++item) {
        std::size_t end = std::min(data.find('\0', start), data.size());
        std::string_view body = data.substr(start, end - start);
        fuzzsupport::writeInput("item.omb", reinterpret_cast<const uint8_t*>(body.data()), body.size());
        if (item == 0) torvakit::decodefile("item.omb", names, '>', "DECODE\\");
        if (state == 0 || state == 1) state = torvakit::uuedecodefile2("item.omb", state, '>', "DECODE\\", output);
        start = end + 1;
    }
    fuzzsupport::checkAndClear(kScratchFiles);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::enterScratch();
    if (size == 0) return 0;
    std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 3) {
    case 0: headerWords(input); break;
    case 1: mimeItem(input); break;
    default: yencItems(input); break;
    }
    return 0;
}
