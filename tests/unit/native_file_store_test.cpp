// The build's real file store in a scratch folder: atomic replacement,
// stamps that change with each write, and failures that leave nothing behind.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <random>
#include <thread>

#include "platform/native.h"
#include "settings/settings_store.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

namespace fs = std::filesystem;
using namespace iw::platform;

class NativeFileStore : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("iw-files-" + std::to_string(std::random_device{}()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::u16string path(const fs::path& p) const {
        const std::u16string s = p.u16string();
        return s;
    }
    std::size_t entries() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
    }

    fs::path dir;
    std::unique_ptr<FileStore> files = createFileStore();
};

TEST_F(NativeFileStore, ReplaceThenReadBack) {
    const auto file = path(dir / "set.ini");
    EXPECT_FALSE(files->stamp(file).has_value());
    EXPECT_FALSE(files->readAll(file).has_value());
    const std::string bytes = std::string("[a]\r\nk=\xA4\xA4\r\n") + std::string(1, '\0') + "tail";
    ASSERT_TRUE(files->replaceAll(file, bytes));
    EXPECT_EQ(files->readAll(file), bytes);
    ASSERT_TRUE(files->stamp(file).has_value());
    EXPECT_EQ(files->stamp(file)->size, bytes.size());
    EXPECT_EQ(entries(), 1u) << "no temporary file may be left behind";
}

TEST_F(NativeFileStore, EmptyContentIsAFileToo) {
    const auto file = path(dir / "empty.ini");
    ASSERT_TRUE(files->replaceAll(file, ""));
    EXPECT_EQ(files->readAll(file), std::string());
}

TEST_F(NativeFileStore, StampChangesOnRewrite) {
    const auto file = path(dir / "set.ini");
    ASSERT_TRUE(files->replaceAll(file, "one"));
    const auto first = files->stamp(file);
    // Same size, so only the write time can tell the versions apart.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(files->replaceAll(file, "two"));
    const auto second = files->stamp(file);
    ASSERT_TRUE(first && second);
    EXPECT_NE(*first, *second);
    EXPECT_EQ(files->stamp(file), second) << "an unchanged file keeps its stamp";
    EXPECT_EQ(files->readAll(file), "two");
    EXPECT_EQ(entries(), 1u);
}

TEST_F(NativeFileStore, MissingFolderFailsAndCreatesNothing) {
    const auto file = path(dir / "missing" / "set.ini");
    EXPECT_FALSE(files->replaceAll(file, "x"));
    EXPECT_FALSE(fs::exists(dir / "missing"));
    EXPECT_EQ(entries(), 0u);
}

TEST_F(NativeFileStore, NonAsciiPath) {
    const fs::path file = dir / fs::path(u"設定.ini");
    ASSERT_TRUE(files->replaceAll(path(file), "x=1"));
    EXPECT_TRUE(fs::exists(file));
    EXPECT_EQ(files->readAll(path(file)), "x=1");
}

TEST_F(NativeFileStore, FolderIsNotAFile) {
    EXPECT_FALSE(files->stamp(path(dir)).has_value());
    EXPECT_FALSE(files->replaceAll(path(dir), "x"));
}

// A settings file that cannot be used as one reads as empty, says why, and
// a settings write leaves it exactly as it was.
void expectRefusedAndKept(FileStore& files, const fs::path& dir, FileProblem why) {
    const std::u16string file = (dir / "set.ini").u16string();
    EXPECT_FALSE(files.readAll(file).has_value());
    EXPECT_TRUE(files.stamp(file).has_value()) << "it exists: nobody may take it for missing";
    EXPECT_EQ(files.problem(file), why);
    auto cp = createCodePage();
    iw::settings::SettingsStore store(files, *cp, dir.u16string() + files.separator());
    EXPECT_EQ(store.problem(iw::settings::IniFile::Set), why);
    EXPECT_EQ(store.read(iw::settings::IniFile::Set, u"a", u"k", u"default"), u"default");
    EXPECT_FALSE(store.write(iw::settings::IniFile::Set, u"a", u"k", u"1"));
    EXPECT_FALSE(store.deleteSection(iw::settings::IniFile::Set, u"a"));
    EXPECT_NE(iw::settings::SettingsFileProblemText(u"set.ini", why), u"");
}

TEST_F(NativeFileStore, OversizedFileIsRefusedAndNeverWritten) {
    const fs::path file = dir / "set.ini";
    ASSERT_TRUE(files->replaceAll(path(file), "[a]\r\nk=0\r\n"));
    fs::resize_file(file, kMaxReadBytes);
    const auto atLimit = files->readAll(path(file));
    ASSERT_TRUE(atLimit.has_value());
    EXPECT_EQ(atLimit->size(), kMaxReadBytes);
    fs::resize_file(file, kMaxReadBytes + 1);
    expectRefusedAndKept(*files, dir, FileProblem::TooLarge);
    EXPECT_EQ(fs::file_size(file), kMaxReadBytes + 1);
    EXPECT_EQ(entries(), 1u);
}

TEST_F(NativeFileStore, MissingFileIsNoProblemForTheStore) {
    EXPECT_EQ(files->problem(path(dir / "set.ini")), FileProblem::Missing);
    auto cp = createCodePage();
    iw::settings::SettingsStore store(*files, *cp, dir.u16string() + files->separator());
    EXPECT_EQ(store.problem(iw::settings::IniFile::Set), FileProblem::None);
    EXPECT_TRUE(store.write(iw::settings::IniFile::Set, u"a", u"k", u"1"));
}

#ifndef _WIN32
// A pipe that nobody writes to would block a plain read for ever; /dev/zero
// would fill the memory. Both are refused at once and left in place.
TEST_F(NativeFileStore, PipeOrDeviceInPlaceOfTheFileIsRefusedAndKept) {
    const fs::path file = dir / "set.ini";
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    expectRefusedAndKept(*files, dir, FileProblem::NotRegular);
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(file)));
    fs::remove(file);

    fs::create_symlink("/dev/zero", file);
    expectRefusedAndKept(*files, dir, FileProblem::NotRegular);
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(file)));
    EXPECT_EQ(fs::read_symlink(file), "/dev/zero");
}
#endif

}  // namespace
