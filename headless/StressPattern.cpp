#include "headless/StressPattern.h"

#include <algorithm>

namespace headless {

namespace {

// Bytes that must agree, after a mismatch, for the stream to count as found again.
constexpr size_t kLockWindow = 8;
// Received bytes searched past a mismatch for the place where the stream goes on.
constexpr size_t kMostSkipped = 64;

constexpr uint8_t kXon = 0x11;
constexpr uint8_t kXoff = 0x13;

uint8_t mixed(uint64_t position)
{
    uint64_t x = position * 0x9E3779B97F4A7C15ull;
    x ^= x >> 31;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 29;
    return static_cast<uint8_t>(x >> 56);
}

} // namespace

StressPattern::StressPattern(uint8_t byteSize)
    : bytes_(kPeriod)
    , mask_(static_cast<uint8_t>((1u << std::clamp<unsigned>(byteSize, 5, 8)) - 1u))
{
    for (size_t i = 0; i < kPeriod; ++i) {
        auto byte = static_cast<uint8_t>(mixed(i) & mask_);
        if (byte == kXon || byte == kXoff)
            byte ^= 0x04;
        bytes_[i] = byte;
    }
}

const uint8_t* StressPattern::from(uint64_t position, size_t& count) const
{
    const size_t at = position % kPeriod;
    count = kPeriod - at;
    return bytes_.data() + at;
}

void StreamChecker::take(const uint8_t* bytes, size_t count, uint64_t sent)
{
    counts_.received += count;
    for (size_t i = 0; i < count; ++i)
        pending_.push_back(static_cast<uint8_t>(bytes[i] & pattern_.mask()));
    resolve(sent, false);
}

void StreamChecker::finish(uint64_t sent)
{
    resolve(sent, true);
    if (position_ < sent) {
        error();
        counts_.lost += sent - position_;
        position_ = sent;
    }
}

void StreamChecker::error()
{
    if (!counts_.firstError)
        counts_.firstError = position_;
}

// Whether the received bytes after the first skipped ones are the pattern ahead bytes on.
bool StreamChecker::locks(size_t skipped, uint64_t ahead, size_t window) const
{
    for (size_t i = 0; i < window; ++i)
        if (pending_[skipped + i] != pattern_.at(position_ + ahead + i))
            return false;
    return true;
}

// Explains the pending bytes: where the stream goes on after a mismatch tells how many bytes were
// skipped on each side; as many as both skipped were corrupted, the rest of the received ones are
// extra, the rest of the pattern's lost. Bytes are left pending while more are needed to tell.
void StreamChecker::resolve(uint64_t sent, bool final)
{
    size_t done = 0;
    while (done < pending_.size()) {
        if (pending_[done] == pattern_.at(position_)) {
            ++done;
            ++position_;
            ++counts_.verified;
            continue;
        }
        const size_t left = pending_.size() - done;
        if (!final && left < kMostSkipped + kLockWindow)
            break; // wait for more: the place may be found yet
        std::optional<std::pair<size_t, uint64_t>> found;
        for (size_t skipped = 0; skipped <= std::min(kMostSkipped, left - 1) && !found; ++skipped) {
            const size_t window = std::min(kLockWindow, left - skipped);
            for (uint64_t ahead = 0; position_ + ahead + window <= sent; ++ahead)
                if ((skipped > 0 || ahead > 0) && locks(done + skipped, ahead, window)) {
                    found = std::pair(skipped, ahead);
                    break;
                }
        }
        error();
        // Nowhere in what was sent: noise, extra; at the stream's end, in place of a byte still due.
        const bool due = final && position_ < sent;
        const auto [skipped, ahead] = found.value_or(std::pair<size_t, uint64_t>(1, due ? 1 : 0));
        const uint64_t both = std::min<uint64_t>(skipped, ahead);
        counts_.corrupted += both;
        counts_.extra += skipped - both;
        counts_.lost += ahead - both;
        position_ += ahead;
        done += skipped;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(done));
}

} // namespace headless
