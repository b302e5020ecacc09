// Merged byte ranges: adding and covering them, and the first byte outside or within others.
#include "extents.h"

#include <algorithm>
#include <iterator>

void Extents::Add(std::uint64_t begin, std::uint64_t end)
{
    if (begin >= end)
        return;
    auto it = ranges_.upper_bound(begin);
    if (it != ranges_.begin() && std::prev(it)->second >= begin)
        --it;
    // Swallow every range that touches [begin, end).
    while (it != ranges_.end() && it->first <= end) {
        begin = std::min(begin, it->first);
        end = std::max(end, it->second);
        it = ranges_.erase(it);
    }
    ranges_.emplace(begin, end);
}

bool Extents::Covers(std::uint64_t begin, std::uint64_t end) const
{
    if (begin >= end)
        return true;
    auto it = ranges_.upper_bound(begin);
    if (it == ranges_.begin())
        return false;
    --it;
    return it->first <= begin && it->second >= end;
}

std::uint64_t Extents::Bytes() const
{
    std::uint64_t total = 0;
    for (const auto& range : ranges_)
        total += range.second - range.first;
    return total;
}

std::optional<std::uint64_t> FirstOutside(const Extents& bytes, const Extents& kept)
{
    for (const auto& range : bytes.Ranges()) {
        std::uint64_t at = range.first;
        while (at < range.second) {
            auto next = kept.Ranges().upper_bound(at);
            if (next == kept.Ranges().begin() || std::prev(next)->second <= at)
                return at;
            at = std::prev(next)->second;
        }
    }
    return std::nullopt;
}

std::optional<std::uint64_t> FirstWithin(const Extents& bytes, std::uint64_t begin,
                                         std::uint64_t end)
{
    for (const auto& range : bytes.Ranges()) {
        const std::uint64_t from = std::max(range.first, begin);
        if (from < std::min(range.second, end))
            return from;
    }
    return std::nullopt;
}
