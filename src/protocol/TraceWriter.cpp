#include "protocol/TraceWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "protocol/TraceFile.h"

namespace vindelor::protocol {

namespace {
constexpr const char* kFormatLine = "# Vindelor traffic trace, format 1";
}  // namespace

std::unique_ptr<TraceWriter> TraceWriter::Create(const std::string& path, const std::string& description,
                                                 std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    std::unique_ptr<TraceWriter> w(new TraceWriter(file, path));
    std::lock_guard lock(w->mutex_);
    w->writeLine(kFormatLine);
    const std::time_t t = std::time(nullptr);
    std::tm utc {};
    gmtime_r(&t, &utc);
    char date[64];
    std::strftime(date, sizeof date, "# start %Y-%m-%d %H:%M:%S UTC", &utc);
    w->writeLine(date);
    if (!description.empty()) w->writeLine("# " + description);
    if (w->failed_) {
        error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    return w;
}

TraceWriter::TraceWriter(std::FILE* file, std::string path)
    : file_(file), path_(std::move(path)), start_(Clock::now()) {}

TraceWriter::~TraceWriter() { finish(); }

std::int64_t TraceWriter::now() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start_).count();
}

void TraceWriter::traffic(Direction direction, const std::uint8_t* bytes, std::size_t count) noexcept {
    // The time is taken under the lock, so the order of the times is the order of the calls.
    std::lock_guard lock(mutex_);
    const std::int64_t t = now();
    if (!file_) return;
    try {
        flushStaleLocked(t);
        if (direction == Direction::Sent) {
            tx_.add(t, {bytes, count}, ready_);
            lastTx_ = t;
        } else {
            rx_.add(t, {bytes, count}, ready_);
            lastRx_ = t;
        }
        writeFrames();
    } catch (...) {
        failed_ = true;  // out of memory: the trace is incomplete, the port goes on
    }
}

void TraceWriter::lineEvent(std::string_view text) noexcept {
    std::lock_guard lock(mutex_);
    const std::int64_t t = now();
    if (!file_) return;
    try {
        // What was on the line before the event belongs before it.
        tx_.flush(ready_);
        rx_.flush(ready_);
        writeFrames();
        writeLine("# " + FormatTime(t) + " " + std::string(text));
    } catch (...) {
        failed_ = true;
    }
}

void TraceWriter::flushStale() noexcept {
    std::lock_guard lock(mutex_);
    const std::int64_t t = now();
    if (!file_) return;
    try {
        flushStaleLocked(t);
        writeFrames();
    } catch (...) {
        failed_ = true;
    }
}

void TraceWriter::finish() noexcept {
    std::lock_guard lock(mutex_);
    if (!file_) return;
    try {
        tx_.flush(ready_);
        rx_.flush(ready_);
        writeFrames();
        writeLine("# " + FormatTime(now()) + " end");
    } catch (...) {
        failed_ = true;
    }
    if (std::fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
}

bool TraceWriter::failed() const {
    std::lock_guard lock(mutex_);
    return failed_;
}

void TraceWriter::flushStaleLocked(std::int64_t t) {
    if (!tx_.idle() && t - lastTx_ > TraceFramer::kGapMicros) tx_.flush(ready_);
    if (!rx_.idle() && t - lastRx_ > TraceFramer::kGapMicros) rx_.flush(ready_);
}

void TraceWriter::writeFrames() {
    // Lines go out in the order their frames began.
    std::stable_sort(ready_.begin(), ready_.end(),
                     [](const TraceFrame& a, const TraceFrame& b) { return a.micros < b.micros; });
    for (const auto& f : ready_) writeLine(FormatTraceLine(f));
    ready_.clear();
}

void TraceWriter::writeLine(const std::string& line) {
    if (std::fputs(line.c_str(), file_) < 0 || std::fputc('\n', file_) == EOF || std::fflush(file_) != 0)
        failed_ = true;
}

}  // namespace vindelor::protocol
