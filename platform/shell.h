// What the program asks of the system shell and process environment.
#pragma once

#include <string>

namespace iw::platform {

class Shell {
public:
    virtual ~Shell() = default;

    // Opens a document or address (mailto:, http:) with its default program.
    virtual bool openDocument(const std::u16string& target) = 0;
    // Starts a command line without waiting for it.
    virtual bool startCommandLine(const std::u16string& commandLine) = 0;
    // The log-on user name.
    virtual std::u16string userName() const = 0;
    // A new GUID in registry form: "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}".
    virtual std::u16string newGuid() = 0;
    // An Internet connection is present (yes or no only).
    virtual bool isConnected() const = 0;
    // The folder that holds the running program, without a trailing
    // separator unless it is a drive root ("C:\").
    virtual std::u16string programFolder() const = 0;
    // Another copy of this program is already running. The first call
    // claims the instance for this process.
    virtual bool previousInstanceRunning() = 0;
};

}  // namespace iw::platform
