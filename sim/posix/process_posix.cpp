// Starting programs on POSIX: posix_spawn with the argument vector, the
// end collected with waitpid.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "sim/process.h"

extern char** environ;

namespace sim {
namespace {

class PosixChild : public ChildProcess {
public:
    explicit PosixChild(pid_t pid) : pid_(pid) {}
    ~PosixChild() override { Kill(); }

    bool Wait(int timeout_ms, int& exit_code) override {
        if (ended_) {
            exit_code = code_;
            return true;
        }
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
        for (;;) {
            int status = 0;
            pid_t rc = ::waitpid(pid_, &status, timeout_ms < 0 ? 0 : WNOHANG);
            if (rc == pid_) {
                ended_ = true;
                code_ = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
                exit_code = code_;
                return true;
            }
            if (rc < 0 && errno != EINTR) {
                // Collected elsewhere: nothing more to learn about it.
                ended_ = true;
                code_ = -1;
                exit_code = code_;
                return true;
            }
            if (rc == 0 && std::chrono::steady_clock::now() >= deadline) return false;
            if (rc == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    void Kill() override {
        if (ended_) return;
        ::kill(pid_, SIGKILL);
        int code = 0;
        Wait(-1, code);
    }

    int Pid() const override { return static_cast<int>(pid_); }

private:
    pid_t pid_;
    bool ended_ = false;
    int code_ = -1;
};

}  // namespace

std::unique_ptr<ChildProcess> ChildProcess::StartProgram(const std::vector<std::string>& args, std::string& error,
                                                         const std::string& output_path) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!output_path.empty())
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    pid_t pid = 0;
    bool has_directory = args[0].find('/') != std::string::npos;
    int rc = has_directory ? ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ)
                           : ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        error = "cannot start " + args[0] + ": " + std::strerror(rc);
        return nullptr;
    }
    // glibc reports a program that cannot be run through rc, as the spawn
    // waits for the exec.
    return std::make_unique<PosixChild>(pid);
}

}  // namespace sim
