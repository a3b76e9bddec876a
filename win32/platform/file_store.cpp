// Whole files: reads, and replacement through a temporary file in the same
// folder that is written, flushed and then moved over the target in one
// step (MoveFileExW with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH).
#include <atomic>

#include "platform/native.h"
#include "win32/platform/handles.h"

namespace iw::win32 {
namespace {

std::u16string tempNameFor(const std::u16string& path) {
    static std::atomic<unsigned> counter{0};
    const std::string tag = ".tmp" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
    return path + std::u16string(tag.begin(), tag.end());
}

class FileStoreImpl final : public platform::FileStore {
public:
    std::optional<platform::FileStamp> stamp(const std::u16string& path) const override {
        WIN32_FILE_ATTRIBUTE_DATA a;
        if (!GetFileAttributesExW(wide(path), GetFileExInfoStandard, &a)) return std::nullopt;
        if (a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::nullopt;
        platform::FileStamp s;
        s.size = (static_cast<std::uint64_t>(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
        s.writeTime = static_cast<std::int64_t>((static_cast<std::uint64_t>(a.ftLastWriteTime.dwHighDateTime) << 32) |
                                                a.ftLastWriteTime.dwLowDateTime);
        return s;
    }

    std::optional<std::string> readAll(const std::u16string& path) const override {
        return read(path, nullptr);
    }

    platform::FileProblem problem(const std::u16string& path) const override {
        WIN32_FILE_ATTRIBUTE_DATA a;
        if (!GetFileAttributesExW(wide(path), GetFileExInfoStandard, &a)) {
            const DWORD e = GetLastError();
            return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? platform::FileProblem::Missing
                                                                           : platform::FileProblem::Unreadable;
        }
        if (a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return platform::FileProblem::NotRegular;
        platform::FileProblem why = platform::FileProblem::None;
        read(path, &why);
        return why;
    }

    // Reads a disk file of at most kMaxReadBytes; `why` gets the reason when not.
    std::optional<std::string> read(const std::u16string& path, platform::FileProblem* why) const {
        auto refuse = [&](platform::FileProblem p) -> std::optional<std::string> {
            if (why) *why = p;
            return std::nullopt;
        };
        UniqueFile f(CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!f) return refuse(platform::FileProblem::Unreadable);
        if (GetFileType(f.get()) != FILE_TYPE_DISK) return refuse(platform::FileProblem::NotRegular);
        LARGE_INTEGER size;
        if (!GetFileSizeEx(f.get(), &size) || size.QuadPart < 0) return refuse(platform::FileProblem::Unreadable);
        if (static_cast<std::uint64_t>(size.QuadPart) > platform::kMaxReadBytes)
            return refuse(platform::FileProblem::TooLarge);
        std::string bytes;
        bytes.reserve(static_cast<std::size_t>(size.QuadPart));
        char buf[64 * 1024];
        for (;;) {
            if (bytes.size() > platform::kMaxReadBytes) return refuse(platform::FileProblem::TooLarge);
            DWORD got = 0;
            if (!ReadFile(f.get(), buf, sizeof buf, &got, nullptr)) return refuse(platform::FileProblem::Unreadable);
            if (got == 0) break;
            bytes.append(buf, got);
        }
        return bytes;
    }

    bool replaceAll(const std::u16string& path, const std::string& bytes) override {
        if (path.empty()) return false;
        // A read-only file refuses the write, as Windows' own move would
        // (Wine's move replaces it anyway).
        const DWORD attributes = GetFileAttributesW(wide(path));
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
            return false;
        const std::u16string temp = tempNameFor(path);
        {
            UniqueFile f(CreateFileW(wide(temp), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!f) return false;
            auto removeTemp = onScopeExit([&] {
                f.reset();
                DeleteFileW(wide(temp));
            });
            std::size_t done = 0;
            while (done < bytes.size()) {
                const std::size_t left = bytes.size() - done;
                const DWORD chunk = static_cast<DWORD>(left < (1u << 24) ? left : (1u << 24));
                DWORD wrote = 0;
                if (!WriteFile(f.get(), bytes.data() + done, chunk, &wrote, nullptr) || wrote == 0) return false;
                done += wrote;
            }
            if (!FlushFileBuffers(f.get())) return false;
            f.reset();
            if (!MoveFileExW(wide(temp), wide(path), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return false;
            removeTemp.dismiss();
        }
        return true;
    }

    char16_t separator() const override { return u'\\'; }
};

}  // namespace
}  // namespace iw::win32

namespace iw::platform {
std::unique_ptr<FileStore> createFileStore() { return std::make_unique<win32::FileStoreImpl>(); }
}  // namespace iw::platform
