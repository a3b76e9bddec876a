// The scripted shell; see fake_shell.h.
#include "tests/support/fake_shell.h"

namespace iw::test {

bool FakeShell::openDocument(const std::u16string& target) {
    opened.push_back(target);
    return !failOpen;
}

bool FakeShell::startCommandLine(const std::u16string& commandLine) {
    started.push_back(commandLine);
    return !failStart;
}

std::u16string FakeShell::newGuid() {
    std::u16string digits;
    for (int n = ++guids_; n > 0 || digits.empty(); n /= 16) digits.insert(digits.begin(), u"0123456789abcdef"[n % 16]);
    while (digits.size() < 12) digits.insert(digits.begin(), u'0');
    return u"{00000000-0000-0000-0000-" + digits + u"}";
}

bool FakeShell::previousInstanceRunning() {
    ++instanceChecks;
    return previousInstance;
}

}  // namespace iw::test
