// Whole-file reads and atomic whole-file replacement, for the settings files.
// A write goes to a temporary file in the same folder, is flushed to disk and
// then replaces the target in one step, so a crash or a full disk leaves
// either the old file or the new one, never a torn or empty one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace iw::platform {

// The largest settings file that is read: far above any real profile (a
// list of 100,000 senders is a few MiB), small enough that a wrong file
// cannot eat the memory.
constexpr std::uint64_t kMaxReadBytes = 16u << 20;

// Why a file cannot be read.
enum class FileProblem {
    None,
    Missing,
    NotRegular,  // a folder, a pipe, a device (or a link to one)
    TooLarge,    // more than kMaxReadBytes
    Unreadable,  // refused by the system
};

// What identifies one version of a file on disk, for cache checks.
struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t writeTime = 0;  // platform units, only compared for equality
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

class FileStore {
public:
    virtual ~FileStore() = default;

    // The file's stamp, or nullopt when it does not exist. Something that
    // exists but is no regular file (a pipe, a device) has a stamp too, so
    // that nobody takes it for missing and writes over it.
    virtual std::optional<FileStamp> stamp(const std::u16string& path) const = 0;

    // The file's bytes, or nullopt when it cannot be read: also when it is
    // no regular file or holds more than kMaxReadBytes. Never blocks on a
    // pipe and never reads more than kMaxReadBytes + 1 bytes.
    virtual std::optional<std::string> readAll(const std::u16string& path) const = 0;

    // Why readAll fails for `path` (None when it would not).
    virtual FileProblem problem(const std::u16string& path) const {
        if (!stamp(path)) return FileProblem::Missing;
        return readAll(path) ? FileProblem::None : FileProblem::Unreadable;
    }

    // Replaces the file's content atomically. Returns false (and leaves the
    // old file untouched) when any step fails.
    virtual bool replaceAll(const std::u16string& path, const std::string& bytes) = 0;

    // The folder separator of paths on this platform ('\\' or '/').
    virtual char16_t separator() const = 0;
};

}  // namespace iw::platform
