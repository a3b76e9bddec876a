// Test helper: asks whether another copy of this executable runs. With the
// names of two events it then signals the first ("claimed") and holds its
// claim until the second is set or ten seconds pass. Exit code: 1 when a
// previous copy was running, 0 otherwise.
#include <windows.h>
#include <shellapi.h>

#include "platform/native.h"

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    auto shell = iw::platform::createShell();
    const bool running = shell->previousInstanceRunning();
    if (argc >= 3) {
        HANDLE claimed = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]);
        HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, argv[2]);
        if (claimed) SetEvent(claimed);
        if (release) WaitForSingleObject(release, 10000);
        if (claimed) CloseHandle(claimed);
        if (release) CloseHandle(release);
    }
    return running ? 1 : 0;
}
