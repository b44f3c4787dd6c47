// Work run in a child process, so that what it does to its process (an assertion in a library
// that aborts, a crash, an allocation of gigabytes from a corrupt length) ends the child and
// not the caller. The child sends its results back as records over a pipe.
#ifndef KESTREL_CONTAINED_CALL_H
#define KESTREL_CONTAINED_CALL_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace kestrel_io {

// The child's end of the pipe: each record is a kind byte and any number of bytes.
class ContainedOutput {
public:
    explicit ContainedOutput(int fd) : fd_(fd) {}
    void Send(char kind, const void* bytes, std::size_t size) const;
    void Send(char kind, const std::string& bytes) const { Send(kind, bytes.data(), bytes.size()); }

private:
    int fd_;
};

// The child did not return from its work: what() says how it ended, e.g. "signal 6, Aborted"
// or "exit status 1"; or no child could be started.
class ContainedFailure : public std::runtime_error {
public:
    explicit ContainedFailure(const std::string& how) : std::runtime_error(how) {}
};

// Runs `work` in a forked child whose standard output and error go nowhere and whose address
// space may grow by at most `memoryLimit` bytes beyond the caller's (0: no limit). Sanitizer
// builds, whose shadow memory fits under no such limit, end the child instead when one
// allocation exceeds `memoryLimit`, and pass on a sanitizer's report from it. Each record the child
// sends reaches `receive` in the parent, in order, as it arrives. Returns once the child has
// returned from `work`; throws ContainedFailure when it ended any other way (an exception that left
// `work` included), and passes on what `receive` throws after ending the child. A child still
// running after `secondsLimit` seconds (0: no limit) is ended: a library that hangs becomes a
// ContainedFailure too.
void RunContained(const std::function<void(const ContainedOutput&)>& work,
                  const std::function<void(char kind, const std::string& bytes)>& receive,
                  std::size_t memoryLimit, double secondsLimit = 0.0);

// Values packed into a record and read back in the same order.
class RecordWriter {
public:
    RecordWriter& Add(std::int64_t value) { return Raw(&value, sizeof value); }
    RecordWriter& Add(double value) { return Raw(&value, sizeof value); }
    RecordWriter& Add(const std::string& text) {
        Add(std::int64_t(text.size()));
        return Raw(text.data(), text.size());
    }
    const std::string& Bytes() const { return bytes_; }

private:
    RecordWriter& Raw(const void* data, std::size_t size) {
        bytes_.append(static_cast<const char*>(data), size);
        return *this;
    }
    std::string bytes_;
};

// Throws ContainedFailure when the record is shorter than what is read from it.
class RecordReader {
public:
    explicit RecordReader(const std::string& bytes) : bytes_(bytes) {}
    std::int64_t Int() { return Raw<std::int64_t>(); }
    double Real() { return Raw<double>(); }
    std::string Text();

private:
    template <typename T>
    T Raw() {
        T value;
        Take(&value, sizeof value);
        return value;
    }
    void Take(void* out, std::size_t size);
    const std::string& bytes_;
    std::size_t at_ = 0;
};

}  // namespace kestrel_io

#endif  // KESTREL_CONTAINED_CALL_H
