// Whole-file reads and atomic whole-file replacement, for the settings files.
// A write goes to a temporary file in the same folder, is flushed to disk and
// then replaces the target in one step, so a crash or a full disk leaves
// either the old file or the new one, never a torn or empty one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace iw::platform {

// What identifies one version of a file on disk, for cache checks.
struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t writeTime = 0;  // platform units, only compared for equality
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

class FileStore {
public:
    virtual ~FileStore() = default;

    // The file's stamp, or nullopt when it does not exist.
    virtual std::optional<FileStamp> stamp(const std::u16string& path) const = 0;

    // The file's bytes, or nullopt when it cannot be read.
    virtual std::optional<std::string> readAll(const std::u16string& path) const = 0;

    // Replaces the file's content atomically. Returns false (and leaves the
    // old file untouched) when any step fails.
    virtual bool replaceAll(const std::u16string& path, const std::string& bytes) = 0;

    // The folder separator of paths on this platform ('\\' or '/').
    virtual char16_t separator() const = 0;
};

}  // namespace iw::platform
