#include "Platform/Win32.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

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

}  // namespace
