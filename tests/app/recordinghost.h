// A transfer host for tests without windows: it records the boxes a run
// shows and asks for nothing.
#pragma once

#include "transfer/transfer.h"

#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

class RecordingHost : public transfer::Host {
public:
    omail::GeneralSettings general;
    omail::FolderOptions options;
    std::vector<std::string> boxes;
    void showStatus(const std::string&) override {}
    void information(const std::string& text) override { boxes.push_back(text); }
    bool askPassword(std::string_view, std::string&) override { return false; }
    void lockForTransfer() override {}
    void unlockAfterTransfer() override {}
    void mailRetrievalEnded() override {}
    std::vector<std::string> personalFolders() const override { return {}; }
    const omail::GeneralSettings& settings() const override { return general; }
    const omail::FolderOptions& folderOptions() const override { return options; }
};

}  // namespace testsupport
