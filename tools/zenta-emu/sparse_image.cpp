// The sparse disk image: written blocks kept in memory, other bytes read as the seed's pattern
// or the earlier contents, and the bytes that differ from them.
#include "sparse_image.h"

#include <QCryptographicHash>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

std::uint64_t Mix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

} // namespace

SparseImage::SparseImage(std::uint64_t size, std::uint64_t seed) : size_(size), seed_(seed) {}

unsigned char SparseImage::Earlier(std::uint64_t offset) const
{
    auto found = earlier_.find(offset / kBlockSize);
    if (found != earlier_.end())
        return found->second[offset % kBlockSize];
    return static_cast<unsigned char>(Mix((offset / 8) ^ (seed_ << 40)) >> (8 * (offset % 8)));
}

void SparseImage::SetEarlier(std::uint64_t offset, const QByteArray& bytes)
{
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.constData());
    std::uint64_t length = static_cast<std::uint64_t>(bytes.size());
    while (length > 0) {
        const std::uint64_t index = offset / kBlockSize;
        const std::uint64_t within = offset % kBlockSize;
        const std::uint64_t part = std::min(length, kBlockSize - within);
        Block& block = earlier_[index];
        if (!block) {
            block.reset(new unsigned char[kBlockSize]);
            FillPattern(index, block.get());
        }
        std::memcpy(block.get() + within, in, part);
        in += part;
        offset += part;
        length -= part;
    }
}

void SparseImage::FillEarlier(std::uint64_t index, unsigned char* block) const
{
    auto found = earlier_.find(index);
    if (found != earlier_.end())
        std::memcpy(block, found->second.get(), kBlockSize);
    else
        FillPattern(index, block);
}

void SparseImage::FillPattern(std::uint64_t index, unsigned char* block) const
{
    const std::uint64_t base = index * kBlockSize;
    for (std::uint64_t i = 0; i < kBlockSize; i += 8) {
        const std::uint64_t word = Mix(((base + i) / 8) ^ (seed_ << 40));
        for (int b = 0; b < 8; ++b)
            block[i + b] = static_cast<unsigned char>(word >> (8 * b));
    }
}

unsigned char* SparseImage::BlockFor(std::uint64_t index)
{
    Block& block = blocks_[index];
    if (!block) {
        block.reset(new unsigned char[kBlockSize]);
        FillEarlier(index, block.get());
    }
    return block.get();
}

void SparseImage::Read(std::uint64_t offset, std::uint64_t length, unsigned char* out) const
{
    while (length > 0) {
        const std::uint64_t index = offset / kBlockSize;
        const std::uint64_t within = offset % kBlockSize;
        const std::uint64_t part = std::min(length, kBlockSize - within);
        auto found = blocks_.find(index);
        auto before = earlier_.find(index);
        if (found != blocks_.end()) {
            std::memcpy(out, found->second.get() + within, part);
        } else if (before != earlier_.end()) {
            std::memcpy(out, before->second.get() + within, part);
        } else {
            for (std::uint64_t i = 0; i < part; ++i)
                out[i] = Earlier(offset + i);
        }
        out += part;
        offset += part;
        length -= part;
    }
}

void SparseImage::Write(std::uint64_t offset, std::uint64_t length, const unsigned char* in)
{
    while (length > 0) {
        const std::uint64_t within = offset % kBlockSize;
        const std::uint64_t part = std::min(length, kBlockSize - within);
        std::memcpy(BlockFor(offset / kBlockSize) + within, in, part);
        in += part;
        offset += part;
        length -= part;
    }
}

QByteArray SparseImage::Sha256(std::uint64_t offset, std::uint64_t length) const
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::vector<unsigned char> buffer(kBlockSize);
    while (length > 0) {
        const std::uint64_t part = std::min<std::uint64_t>(length, kBlockSize);
        Read(offset, part, buffer.data());
        hash.addData(reinterpret_cast<const char*>(buffer.data()), static_cast<int>(part));
        offset += part;
        length -= part;
    }
    return hash.result();
}

Extents SparseImage::Changes() const
{
    Extents changed;
    std::vector<unsigned char> earlier(kBlockSize);
    for (const auto& block : blocks_) {
        const std::uint64_t base = block.first * kBlockSize;
        FillEarlier(block.first, earlier.data());
        std::uint64_t runStart = 0;
        bool inRun = false;
        for (std::uint64_t i = 0; i <= kBlockSize; ++i) {
            const bool differs = i < kBlockSize && block.second[i] != earlier[i];
            if (differs && !inRun)
                runStart = i;
            else if (!differs && inRun)
                changed.Add(base + runStart, base + i);
            inRun = differs;
        }
    }
    return changed;
}
