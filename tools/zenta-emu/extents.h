// Sets of byte ranges, for what a transfer wrote and what changed on a disk.
#pragma once

#include <cstdint>
#include <map>
#include <optional>

// A set of byte ranges [begin, end), kept merged: what a transfer has written.
class Extents {
public:
    void Add(std::uint64_t begin, std::uint64_t end);
    bool Covers(std::uint64_t begin, std::uint64_t end) const;
    bool Empty() const { return ranges_.empty(); }
    std::uint64_t Lowest() const { return ranges_.empty() ? 0 : ranges_.begin()->first; }
    std::uint64_t Highest() const { return ranges_.empty() ? 0 : ranges_.rbegin()->second; }
    std::uint64_t Bytes() const;
    const std::map<std::uint64_t, std::uint64_t>& Ranges() const { return ranges_; }

private:
    std::map<std::uint64_t, std::uint64_t> ranges_; // begin -> end
};

// The first byte of `bytes` that lies in none of the `kept` ranges.
std::optional<std::uint64_t> FirstOutside(const Extents& bytes, const Extents& kept);
// The first byte of `bytes` within [begin, end).
std::optional<std::uint64_t> FirstWithin(const Extents& bytes, std::uint64_t begin,
                                         std::uint64_t end);
