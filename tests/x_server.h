#pragma once

// A private Xvfb server for tests that need a display. It picks a free display
// number itself, so parallel test runs never collide.

#include <string>
#include <sys/types.h>
#include <vector>

struct XServerOptions {
    // As Xvfb and a bare Xorg do by default, the server starts afresh
    // whenever its last client disconnects.
    bool resetsWithLastClient = false;
    // Such as "-extension" "DOUBLE-BUFFER", for servers that lack one.
    std::vector<std::string> extraArguments;
    // When set, the server asks for this cookie (-auth); the server is
    // ready once a client holding it connects.
    std::string authorizationFile;
};

class XServer {
public:
    explicit XServer(const XServerOptions& options = {});
    ~XServer();
    // Ends the server now; its clients lose their connections.
    void stop();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    bool running() const { return pid_ > 0 && !display_.empty(); }
    const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    int report_ = -1; // the read end of the server's -displayfd pipe
    std::string display_;
};
