#pragma once
// vantrell-rig run as a program by tests.
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

// vantrell-rig started with `args`, its output and errors to `stdoutPath`, stopped with
// SIGTERM when it goes out of scope or by stop().
class RigProcess {
public:
    RigProcess(std::vector<const char*> args, const std::string& stdoutPath)
    {
        args.insert(args.begin(), VANTRELL_RIG_BINARY);
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        // Not the test's own stderr: a rig left behind by a crashed test must not
        // hold the test runner's pipe open.
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (posix_spawn(&pid_, args[0], &actions, nullptr, const_cast<char**>(args.data()), environ) != 0)
            pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~RigProcess() { stop(); }

    bool started() const { return pid_ > 0; }

    // Waits up to 2 s for `path` to appear.
    static bool waitFor(const std::string& path)
    {
        struct stat st{};
        for (int i = 0; i < 100 && lstat(path.c_str(), &st) != 0; ++i)
            usleep(20000);
        return lstat(path.c_str(), &st) == 0;
    }

    // Waits for the program to end by itself: its exit status, or -1.
    int wait()
    {
        if (pid_ <= 0)
            return -1;
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Returns the exit status, or -1 when it did not exit normally.
    int stop(int signal = SIGTERM)
    {
        if (pid_ <= 0)
            return -1;
        kill(pid_, signal);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = 0;
};
