// The stream a stress run sends, and the check of what comes back.
//
// The pattern's bytes look random, so that any few of them in a row name their place in the stream,
// and so that a byte lost can be told from one corrupted, duplicated or added: the checker
// resynchronises by finding where the bytes it received sit in what was sent. The bytes are masked
// to the data bits and hold no XON or XOFF, so that flow control left on swallows none of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace headless {

class StressPattern {
public:
    // The stream repeats after this many bytes: far more than is ever in flight.
    static constexpr size_t kPeriod = size_t { 1 } << 20;

    explicit StressPattern(uint8_t byteSize);
    uint8_t mask() const { return mask_; }
    uint8_t at(uint64_t position) const { return bytes_[position % kPeriod]; }
    // The bytes from position on, up to the end of the period (count is set to how many).
    const uint8_t* from(uint64_t position, size_t& count) const;

private:
    std::vector<uint8_t> bytes_;
    uint8_t mask_;
};

// What one direction's check found. Each byte received is verified, corrupted (in place of a
// pattern byte) or extra (duplicated or unexpected); each pattern byte sent and never received
// is lost.
struct StreamCounts {
    uint64_t received = 0;
    uint64_t verified = 0;
    uint64_t lost = 0;
    uint64_t corrupted = 0;
    uint64_t extra = 0;
    std::optional<uint64_t> firstError; // the stream offset of the first byte in error

    bool exact(uint64_t sent) const { return verified == sent && lost + corrupted + extra == 0; }
};

class StreamChecker {
public:
    explicit StreamChecker(const StressPattern& pattern)
        : pattern_(pattern)
    {
    }

    // Checks bytes received; sent is how much of the pattern has been sent so far (nothing beyond it
    // can have come back).
    void take(const uint8_t* bytes, size_t count, uint64_t sent);
    // The stream has ended: what is still unexplained is judged, and what never came is lost.
    void finish(uint64_t sent);
    // The next pattern offset expected; every offset before it is accounted for.
    uint64_t position() const { return position_; }
    // Bytes received and not yet placed in the stream (after a mismatch).
    size_t unplaced() const { return pending_.size(); }
    const StreamCounts& counts() const { return counts_; }

private:
    void resolve(uint64_t sent, bool final);
    bool locks(size_t skipped, uint64_t ahead, size_t window) const;
    void error();

    const StressPattern& pattern_;
    StreamCounts counts_;
    uint64_t position_ = 0;
    std::vector<uint8_t> pending_; // received after a mismatch, not yet explained
};

} // namespace headless
