#pragma once
// The folder where the rig publishes its virtual lines, one entry per line, and
// the checks that keep another user's line out of it. The folder is trusted only
// when each part of it made here is a real directory of this user's with no group
// or other bits; an entry is listed and opened only while its rig lives (the rig
// holds a lock file beside it), and what it leads to must be a terminal of this
// user's.
#include <string>

// $XDG_RUNTIME_DIR/vantrell/lines, or /tmp/vantrell-<uid>/lines without it.
std::string VirtualLinesFolder();

// A line's name: no '/', no leading dot, no control characters, at most 64 bytes.
bool IsPlainLineName(const std::string& name);

// An open descriptor of the checked folder, closed with the object.
class LinesFolder {
public:
    LinesFolder() = default;
    ~LinesFolder();
    LinesFolder(const LinesFolder&) = delete;
    LinesFolder& operator=(const LinesFolder&) = delete;

    // Opens the folder, creating its missing parts with mode 0700 when `create`.
    // False when it is not there (and `why` empty), or when a part is not to be
    // trusted: `why` then says which one and what to remove.
    bool open(bool create, std::string& why);
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }

    // Whether a rig serves the entry `name` now: it holds the entry's lock.
    bool served(const std::string& name) const;

    // Opens a published line for reading and writing, relative to this folder.
    // Returns the descriptor, or -1 with errno set and `why` saying it: ENOENT when
    // no rig serves it, EPERM when it is not this user's, ENOTTY when it is not a
    // terminal.
    int openLine(const std::string& name, std::string& why) const;

private:
    int fd_ = -1;
    std::string path_;
};

// `path` names an entry directly inside VirtualLinesFolder(): sets `name`.
bool IsPublishedLinePath(const std::string& path, std::string& name);

// The rig's side: publishes `target` (a terminal device) as the entry `name`,
// atomically, holding the entry's lock until withdraw(), which removes the entry
// only while it still leads to `target`.
class LinePublication {
public:
    LinePublication() = default;
    ~LinePublication() { withdraw(); }
    LinePublication(const LinePublication&) = delete;
    LinePublication& operator=(const LinePublication&) = delete;

    bool publish(const std::string& name, const std::string& target, std::string& error);
    void withdraw();
    const std::string& path() const { return path_; }

private:
    LinesFolder folder_;
    int lockFd_ = -1;
    std::string name_, target_, path_;
};
