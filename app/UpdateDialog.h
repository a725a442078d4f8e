#pragma once

// The update check with windows: a progress box while the feed is read, the
// offer of a newer release, and the download of its installer, which is then
// handed to the desktop to open.

#include "app/Update.h"
#include "platform/TcpNetwork.h"

#include <gtk/gtk.h>

#include <string>

// True only when an installer was downloaded and opened. An empty `url` turns
// the check off. Failures are logged; the user sees only the progress box go.
bool runUpdateCheck(GtkWindow* parent, const char* url, const char* currentVersion,
                    platform::TcpNetwork& network = platform::systemTcpNetwork());

// The Update dialog: true when the user chose Yes.
bool offerUpdate(GtkWindow* parent, const UpdateInfo& info, const std::string& currentVersion);

// Downloads the installer of `info` through `update` into a new private folder
// (mode 0700) under `parentDirectory`: the path of the complete file, or empty
// when it failed, and then nothing is left behind. A cancel is passed on after
// cleaning up.
std::string downloadInstaller(Update& update, const UpdateInfo& info,
                              const std::string& parentDirectory);

// The installer's file: created new, never through a link, with progress and
// cancel through the callback.
class StreamFile : public Update::Stream, public UsesInterfaceCallback {
public:
    StreamFile() = default;
    ~StreamFile() override;
    StreamFile(const StreamFile&) = delete;
    StreamFile& operator=(const StreamFile&) = delete;

    bool open(const char* path);
    bool write(const u8* data, u32 length) override;
    void close();
    u64 written() const { return written_; }

private:
    int fd_ = -1;
    u64 written_ = 0;
};
