// A shell for tests: the user name, program folder, connection state and
// previous-instance answer are set by the test; documents opened and command
// lines started are recorded (and succeed unless told to fail).
#pragma once

#include <string>
#include <vector>

#include "platform/shell.h"

namespace iw::test {

class FakeShell : public platform::Shell {
public:
    std::u16string user = u"tester";
    std::u16string folder = u"C:\\Inkwarden";
    bool connected = true;
    bool previousInstance = false;
    bool failOpen = false;    // openDocument() returns false
    bool failStart = false;   // startCommandLine() returns false

    std::vector<std::u16string> opened;    // every openDocument target
    std::vector<std::u16string> started;   // every startCommandLine command
    int instanceChecks = 0;

    bool openDocument(const std::u16string& target) override;
    bool startCommandLine(const std::u16string& commandLine) override;
    std::u16string userName() const override { return user; }
    // "{00000000-0000-0000-0000-00000000000n}", counting from 1.
    std::u16string newGuid() override;
    bool isConnected() const override { return connected; }
    std::u16string programFolder() const override { return folder; }
    bool previousInstanceRunning() override;

private:
    int guids_ = 0;
};

}  // namespace iw::test
