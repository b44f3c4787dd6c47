#include "ContainedCall.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>

// Sanitizers reserve terabytes of shadow memory: no address-space limit fits them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KESTREL_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define KESTREL_SANITIZED 1
#endif
#endif
#ifdef KESTREL_SANITIZED
// From the sanitizer runtimes (GCC installs no header for them).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             std::size_t),
                                                         void (*free_hook)(const volatile void*));
extern "C" void __sanitizer_set_death_callback(void (*callback)(void));
#endif

namespace kestrel_io {

namespace {

// Record header: the kind byte, then the byte count.
constexpr std::size_t kHeadBytes = 1 + sizeof(std::uint64_t);
// The child's exit status when its work ended by an exception, and when it asked for more
// memory than allowed (sanitizer builds).
constexpr int kThrewStatus = 101;
constexpr int kMemoryStatus = 102;

#ifdef KESTREL_SANITIZED
// Sanitizer builds cannot limit the address space; one allocation above this ends the child.
std::size_t gAllocationLimit = 0;
void EndOnLargeAllocation(const volatile void*, std::size_t size) {
    if (size > gAllocationLimit) _exit(kMemoryStatus);
}
void IgnoreFree(const volatile void*) {}
#endif

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

using Clock = std::chrono::steady_clock;

// Waits until `fd` can be read or `deadline` has passed (false then); no deadline when
// `limited` is false.
bool WaitReadable(int fd, bool limited, Clock::time_point deadline) {
    if (!limited) return true;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        pollfd entry = {fd, POLLIN, 0};
        const int ready = poll(&entry, 1, int(std::min<long long>(left.count(), 1 << 30)));
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return true;  // read reports it
    }
}

// Reads exactly `size` bytes; false at the end of the pipe (or an error) before that, and
// with `*late` set when `deadline` passed first.
bool ReadAll(int fd, char* data, std::size_t size, bool limited = false,
             Clock::time_point deadline = {}, bool* late = nullptr) {
    while (size > 0) {
        if (!WaitReadable(fd, limited, deadline)) {
            *late = true;
            return false;
        }
        const ssize_t n = read(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

#ifndef KESTREL_SANITIZED
// The caller's address space in bytes (the first field of /proc/self/statm is in pages).
std::size_t AddressSpaceBytes() {
    unsigned long pages = 0;
    if (FILE* file = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(file, "%lu", &pages) != 1) pages = 0;
        std::fclose(file);
    }
    return std::size_t(pages) * std::size_t(sysconf(_SC_PAGESIZE));
}
#endif

[[noreturn]] void RunChild(const std::function<void(const ContainedOutput&)>& work, int out,
                           int log, std::size_t limit) {
    // The caller's handlers (a fuzzer's, an application's) are not for this process.
    for (int number : {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGPIPE})
        std::signal(number, SIG_DFL);
    dup2(log, 1);
    dup2(log, 2);
#ifdef KESTREL_SANITIZED
    __sanitizer_set_death_callback(nullptr);
    if (limit > 0) {
        gAllocationLimit = limit;
        __sanitizer_install_malloc_and_free_hooks(EndOnLargeAllocation, IgnoreFree);
    }
#else
    if (limit > 0) {
        const rlim_t bytes = rlim_t(AddressSpaceBytes() + limit);
        const rlimit cap = {bytes, bytes};
        setrlimit(RLIMIT_AS, &cap);
    }
#endif
    int status = 0;
    try {
        work(ContainedOutput(out));
    } catch (...) {
        status = kThrewStatus;
    }
    // No exit handlers or static destructors: they belong to the caller.
    _exit(status);
}

std::string HowItEnded(int status) {
    if (WIFSIGNALED(status)) {
        const int number = WTERMSIG(status);
        return "signal " + std::to_string(number) + ", " + strsignal(number);
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == kThrewStatus) return "an unexpected exception";
    if (WIFEXITED(status) && WEXITSTATUS(status) == kMemoryStatus)
        return "more memory than allowed";
    return "exit status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
}

#ifdef KESTREL_SANITIZED
// A sanitizer's report from the child is a fault in code we build: passed on, not contained.
void PassOnSanitizerReport(int log) {
    std::string text;
    char buffer[4096];
    lseek(log, 0, SEEK_SET);
    for (ssize_t n; (n = read(log, buffer, sizeof buffer)) > 0;)
        text.append(buffer, std::size_t(n));
    if (text.find("Sanitizer") == std::string::npos) return;
    std::fprintf(stderr, "contained child:\n%s", text.c_str());
    std::abort();
}
#endif

// Closes the pipe and the log, and reaps the child (killing it first when told to).
class Child {
public:
    Child(pid_t pid, int in, int log) : pid_(pid), in_(in), log_(log) {}
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            Wait();
        }
        close(in_);
        close(log_);
    }
    int Wait() {
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = 0;
        return status;
    }
    int in() const { return in_; }
    int log() const { return log_; }

private:
    pid_t pid_;
    int in_;
    int log_;
};

}  // namespace

void ContainedOutput::Send(char kind, const void* bytes, std::size_t size) const {
    char head[kHeadBytes];
    head[0] = kind;
    const std::uint64_t count = size;
    std::memcpy(head + 1, &count, sizeof count);
    // The parent has gone or stopped reading: nothing left to do.
    if (!WriteAll(fd_, head, kHeadBytes) || !WriteAll(fd_, static_cast<const char*>(bytes), size)) {
        _exit(1);
    }
}

void RunContained(const std::function<void(const ContainedOutput&)>& work,
                  const std::function<void(char kind, const std::string& bytes)>& receive,
                  std::size_t memoryLimit, double secondsLimit) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        throw ContainedFailure(std::string("no pipe (") + std::strerror(errno) + ")");
    }
#ifdef KESTREL_SANITIZED
    FILE* logFile = std::tmpfile();
    const int log = logFile != nullptr ? dup(fileno(logFile)) : open("/dev/null", O_WRONLY);
    if (logFile != nullptr) std::fclose(logFile);
#else
    const int log = open("/dev/null", O_WRONLY | O_CLOEXEC);
#endif
    std::fflush(nullptr);  // nothing buffered is written twice
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        RunChild(work, fds[1], log, memoryLimit);
    }
    close(fds[1]);
    if (pid < 0) {
        const int error = errno;
        close(fds[0]);
        close(log);
        throw ContainedFailure(std::string("no process (") + std::strerror(error) + ")");
    }
    Child child(pid, fds[0], log);
    std::string bytes;
    char head[kHeadBytes];
    bool whole = true, late = false;
    const bool limited = secondsLimit > 0.0;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double>(limited ? secondsLimit : 0.0));
    while (ReadAll(child.in(), head, kHeadBytes, limited, deadline, &late)) {
        std::uint64_t size = 0;
        std::memcpy(&size, head + 1, sizeof size);
        bytes.resize(size);
        if (!ReadAll(child.in(), &bytes[0], size, limited, deadline, &late)) {
            whole = false;
            break;
        }
        receive(head[0], bytes);
    }
    if (late) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g", secondsLimit);
        throw ContainedFailure(std::string("no result after ") + seconds +
                               " s, the time allowed for its bytes");  // ~Child kills it
    }
    const int status = child.Wait();
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && whole) return;
#ifdef KESTREL_SANITIZED
    PassOnSanitizerReport(child.log());
#endif
    throw ContainedFailure(HowItEnded(status));
}

std::string RecordReader::Text() {
    const std::int64_t size = Int();
    if (size < 0 || std::uint64_t(size) > bytes_.size() - at_) {
        throw ContainedFailure("a record shorter than its content");
    }
    std::string text = bytes_.substr(at_, std::size_t(size));
    at_ += std::size_t(size);
    return text;
}

void RecordReader::Take(void* out, std::size_t size) {
    if (size > bytes_.size() - at_) throw ContainedFailure("a record shorter than its content");
    std::memcpy(out, bytes_.data() + at_, size);
    at_ += size;
}

}  // namespace kestrel_io
