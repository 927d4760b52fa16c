// A folder whose list, index and count files are arbitrary bytes: reading
// rows, status changes, sorting and expiring must neither crash nor change a
// byte of the list other than status bytes, nor write outside the folder.
#include "store/torvakit.h"

#include <unistd.h>

#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write(const std::string& path, std::string_view data) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(data.data(), static_cast<std::streamsize>(data.size()));
}

struct Scratch {
    Scratch() {
        std::string dir = (fs::temp_directory_path() / "omail-listread-fuzz-XXXXXX").string();
        if (!mkdtemp(dir.data())) std::abort();
        fs::current_path(dir);
    }
};

std::size_t entries() {
    std::size_t n = 0;
    for (auto it = fs::recursive_directory_iterator("."); it != fs::recursive_directory_iterator(); ++it) ++n;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Scratch scratch;
    fs::remove_all("in");
    fs::remove_all("bin");
    fs::create_directory("in");
    fs::create_directory("bin");
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    // Layout: one byte of count, one byte splitting list from index, then both.
    if (size < 2) return 0;
    const std::size_t split = std::min<std::size_t>(size - 2, data[1] * 4u);
    const std::string_view list = input.substr(2, split), index = input.substr(2 + split);
    write("in/n.lst", list);
    write("in/n5.idx", index);
    write("in/n.cnt", std::to_string(data[0]) + "\r\n");
    const std::size_t before = entries();

    std::string status, author, rcpt, subject, date, sizeField, line, body;
    int32_t hasBody = 0;
    for (int32_t row : {0, 1, 2, 7, -1, 1 << 30}) {
        torvakit::ReadListItems(row, "in/n5.idx", "in/n.lst", status, author, rcpt, subject, date,
                                sizeField, hasBody);
        torvakit::GetFirstField(row, "in/n5.idx", "in/n.lst", line);
        torvakit::GetBodyFileName("in/", row, 5, body);
        torvakit::GetListStatus("in/", row, 5);
        torvakit::SetListStatus("in/", row, 5, 'R');
    }
    torvakit::DeselectList("in/", 5);
    const std::string after = read("in/n.lst");
    if (after.size() != list.size()) std::abort();
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (after[i] == list[i]) continue;
        // Only a status byte may change: a one-byte line after a line end.
        const bool statusByte = i > 0 && (list[i - 1] == '\n' || list[i - 1] == '\r') &&
                                i + 1 < list.size() && (list[i + 1] == '\r' || list[i + 1] == '\n');
        if (!statusByte || (after[i] != 'R' && after[i] != 'O')) std::abort();
    }
    if (entries() != before) std::abort();
    for (int type = 1; type <= 9; ++type) torvakit::SortList("in/n.lst", type);
    // Text keys of arbitrary bytes under a UTF-8 collation as well.
    if (std::setlocale(LC_COLLATE, "en_US.UTF-8")) {
        torvakit::SortList("in/n.lst", 3);
        torvakit::SortList("in/n.lst", 5);
        std::setlocale(LC_COLLATE, "C");
    }
    torvakit::sort("in/n.lst", 1 + data[0] % 12, 1 + data[1] % 12, data[0] & 1, "in/n5.idx", data[1]);
    // Rewrites flush to disk and are slow: one input in four.
    if ((data[0] & 3) != 0) return 0;
    std::vector<int32_t> selection = {2, 0, 1};
    torvakit::MoveItems("in/", "bin/", 5, selection);
    torvakit::ExpireItems("in/", "", -30);
    torvakit::ExpireItems("in/", "bin/", 'R');
    torvakit::MoveAllItems("in/", "bin/");
    return 0;
}
