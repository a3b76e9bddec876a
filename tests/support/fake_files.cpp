// The in-memory FileStore.
#include "tests/support/fake_files.h"

namespace iw::test {

std::optional<platform::FileStamp> FakeFiles::stamp(const std::u16string& path) const {
    auto it = files_.find(path);
    if (it == files_.end()) return std::nullopt;
    return it->second.stamp;
}

std::optional<std::string> FakeFiles::readAll(const std::u16string& path) const {
    ++reads_;
    auto it = files_.find(path);
    if (it == files_.end() || failReads_) return std::nullopt;
    return it->second.bytes;
}

bool FakeFiles::replaceAll(const std::u16string& path, const std::string& bytes) {
    if (failWrites_) return false;
    ++writes_;
    put(path, bytes);
    return true;
}

void FakeFiles::put(const std::u16string& path, const std::string& bytes) {
    File& f = files_[path];
    f.bytes = bytes;
    f.stamp = {bytes.size(), ++clock_};
}

void FakeFiles::putKeepingStamp(const std::u16string& path, const std::string& bytes) {
    auto it = files_.find(path);
    if (it == files_.end()) {
        put(path, bytes);
        return;
    }
    it->second.bytes = bytes;
}

std::optional<std::string> FakeFiles::content(const std::u16string& path) const {
    auto it = files_.find(path);
    if (it == files_.end()) return std::nullopt;
    return it->second.bytes;
}

}  // namespace iw::test
