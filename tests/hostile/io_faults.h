// File-system faults on demand, for the fault tests. The test executable is linked with
// -Wl,--wrap=open,--wrap=open64,--wrap=write,--wrap=read, so every open(), write() and read()
// made by the library's own code passes through here first; the C library's internal calls do
// not.
#pragma once

#include <cstddef>
#include <string>

namespace vellum::hostile::faults {

// The next open() of exactly `path` first removes the file: it is gone between the existence
// check and the read, deterministically. Returns how often that happened since the last call.
void RemoveBeforeOpen(const std::string& path);
int RemovedCount();

// Files under `folder` live on a disk with `room` bytes left: writes beyond it are cut short
// and then fail with ENOSPC. An empty folder ends the fault. Returns the bytes refused.
void FillDiskUnder(const std::string& folder, std::size_t room);
std::size_t RefusedBytes();

// The first read() from the next open() of exactly `path` (after `skip_opens` opens of it have
// passed unchanged) is preceded by `appended` being added to the file: the file changes while
// it is being read.
void ChangeAfterOpen(const std::string& path, const std::string& appended, int skip_opens = 0);

// Ends the faults at the end of a scope.
struct Reset {
  ~Reset() {
    RemoveBeforeOpen("");
    FillDiskUnder("", 0);
    ChangeAfterOpen("", "");
  }
};

}  // namespace vellum::hostile::faults
