#include "Platform/InstanceChannel.h"
#include "Platform/ScopedMachineFolder.h"
#include "Platform/Win32.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

namespace {

// Runs `body` in a child process started now, before the caller makes any
// event, and returns what it returned; the child waits for `go` first.
class Child {
public:
    template <class Body>
    explicit Child(Body body) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[1]);
            char c;
            while (::read(fds[0], &c, 1) == 1) _exit(body(c));
            _exit(99);
        }
        ::close(fds[0]);
        write_ = fds[1];
    }
    ~Child() {
        if (write_ >= 0) ::close(write_);
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    }
    // Tells the child to run with `command`; its exit code.
    int Run(char command) {
        if (::write(write_, &command, 1) != 1) return -1;
        int status = 0;
        if (::waitpid(pid_, &status, 0) != pid_) return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    int write_ = -1;
};

std::u16string Name(const char* what) {
    const std::string text = std::string("velmo-test-") + what + "-" + std::to_string(::getpid());
    return std::u16string(text.begin(), text.end());
}

TEST(NamedEvent, ANameHeldByAnotherProcessOfTheUserIsTaken) {
    Platform::Testing::ScopedMachineFolder machine;
    const auto name = Name("taken");
    Child child([&](char) {
        HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
        return event != nullptr && GetLastError() == ERROR_ALREADY_EXISTS ? 0 : 1;
    });
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(child.Run('x'), 0);
    CloseHandle(event);
}

TEST(NamedEvent, TheNameIsFreeAgainOnceItsHolderHasGone) {
    Platform::Testing::ScopedMachineFolder machine;
    const auto name = Name("freed");
    {
        // The holder closes it.
        Child child([&](char) {
            HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
            return event != nullptr && GetLastError() == ERROR_SUCCESS ? 0 : 1;
        });
        HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
        ASSERT_NE(event, nullptr);
        CloseHandle(event);
        EXPECT_EQ(child.Run('x'), 0);
    }
    {
        // The holder dies without closing it.
        Child child([&](char) {
            CreateEventW(nullptr, TRUE, FALSE, name.c_str());
            return 0;
        });
        EXPECT_EQ(child.Run('x'), 0);
        HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
        ASSERT_NE(event, nullptr);
        EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
        CloseHandle(event);
    }
}

// In a child process: goes on as the user `uid`, for at most 20 seconds.
void Become(uid_t uid) {
    ::alarm(20);
    if (::setgroups(0, nullptr) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0) _exit(98);
}

// Runs `body` as the user `uid` in a child process and returns its exit code.
template <class Body>
int RunAs(uid_t uid, Body body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        Become(uid);
        _exit(body());
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(NamedEvent, OnlyAFolderAndPeersOfTheUsersOwnAreTrusted) {
    if (::geteuid() != 0) GTEST_SKIP() << "acting as other users takes root";
    Platform::Testing::ScopedMachineFolder machine;
    namespace fs = std::filesystem;
    const uid_t user = 2'000'000'000u + static_cast<uid_t>(::getpid() % 1'000'000);
    const uid_t other = user + 1'000'000;
    char pattern[] = "/tmp/velmo-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path scratch = pattern;
    ::chmod(scratch.c_str(), 0755);  // the other users reach into it
    const fs::path folder = "/tmp/velmo-" + std::to_string(user);
    fs::remove_all(folder);

    // Without XDG_RUNTIME_DIR the user's names live under /tmp, where anyone
    // may have made the folder first: it is used only when private.
    struct Case {
        const char* what;
        std::function<fs::path()> make;  // the folder where files would land
    };
    auto openFolder = [&](uid_t owner) {
        fs::create_directory(folder);
        ::chmod(folder.c_str(), 0777);
        if (::chown(folder.c_str(), owner, owner) != 0) ADD_FAILURE() << "chown";
        return folder;
    };
    const Case cases[] = {
        {"a folder another user made", [&] { return openFolder(other); }},
        {"a folder open to others", [&] { return openFolder(user); }},
        {"a link to a folder of the user's own",
         [&] {
             const fs::path target = scratch / "target";
             fs::create_directory(target);
             ::chmod(target.c_str(), 0700);
             if (::chown(target.c_str(), user, user) != 0) ADD_FAILURE() << "chown";
             fs::create_directory_symlink(target, folder);
             return target;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path landing = c.make();
        const fs::path errors = scratch / "stderr";
        const int errorFd = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(errorFd, 0);
        const int code = RunAs(user, [&] {
            ::dup2(errorFd, 2);
            ::unsetenv("XDG_RUNTIME_DIR");
            // Names still count within the process.
            for (const char* what : {"untrusted-a", "untrusted-b"}) {
                HANDLE event = CreateEventW(nullptr, TRUE, FALSE, Name(what).c_str());
                if (event == nullptr || GetLastError() != ERROR_SUCCESS) return 1;
            }
            HANDLE again = CreateEventW(nullptr, TRUE, FALSE, Name("untrusted-a").c_str());
            return again != nullptr && GetLastError() == ERROR_ALREADY_EXISTS ? 0 : 2;
        });
        ::close(errorFd);
        EXPECT_EQ(code, 0);
        EXPECT_TRUE(fs::is_empty(landing)) << "files were made in " << landing;
        std::ifstream said(errors);
        std::stringstream read;
        read << said.rdbuf();
        const std::string text = read.str();
        EXPECT_NE(text.find(folder.string()), std::string::npos) << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << "said once: " << text;
        fs::remove_all(folder);
        fs::remove_all(scratch / "target");
    }

    // A channel whose server is another user's is not asked.
    const fs::path sockets = scratch / "sockets";
    fs::create_directory(sockets);
    ::chmod(sockets.c_str(), 0777);
    const std::string channel = (sockets / "velmo-instance-1.sock").string();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t server = ::fork();
    if (server == 0) {
        Become(other);
        const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, channel.c_str());
        ::umask(0);
        if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 1) != 0)
            _exit(97);
        (void)!::write(ready[1], "r", 1);
        const int client = ::accept(listener, nullptr, nullptr);
        char c;
        while (::read(client, &c, 1) == 1 && c != '\n') {
        }
        (void)!::write(client, "yes\n", 4);
        _exit(0);
    }
    ::close(ready[1]);
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(Platform::AskInstance(channel, "FIND\tx\ty"), "");
    int status = 0;
    ::waitpid(server, &status, 0);
    fs::remove_all(scratch);
}

}  // namespace
