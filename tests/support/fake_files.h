// An in-memory FileStore for tests: files are byte strings keyed by path,
// every write gives the file a new stamp, and a switch makes writes fail
// (as a read-only file or a full disk would) without touching the content.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/file_store.h"

namespace iw::test {

class FakeFiles : public platform::FileStore {
public:
    explicit FakeFiles(char16_t separator = u'\\') : separator_(separator) {}

    std::optional<platform::FileStamp> stamp(const std::u16string& path) const override;
    std::optional<std::string> readAll(const std::u16string& path) const override;
    bool replaceAll(const std::u16string& path, const std::string& bytes) override;
    char16_t separator() const override { return separator_; }

    // Another writer: sets the content with a new write time (the size is
    // the new content's).
    void put(const std::u16string& path, const std::string& bytes);
    // Sets the content but keeps the old stamp, as a change the stamp cannot
    // see (for tests of what the cache trusts).
    void putKeepingStamp(const std::u16string& path, const std::string& bytes);
    void remove(const std::u16string& path) { files_.erase(path); }
    // The content, or nullopt when missing.
    std::optional<std::string> content(const std::u16string& path) const;

    void setFailWrites(bool fail) { failWrites_ = fail; }
    // Makes readAll fail while stamp still reports the file.
    void setFailReads(bool fail) { failReads_ = fail; }

    int readCount() const { return reads_; }
    int writeCount() const { return writes_; }

private:
    struct File {
        std::string bytes;
        platform::FileStamp stamp;
    };
    char16_t separator_;
    std::map<std::u16string, File> files_;
    std::int64_t clock_ = 1000;
    bool failWrites_ = false;
    bool failReads_ = false;
    mutable int reads_ = 0;
    int writes_ = 0;
};

}  // namespace iw::test
