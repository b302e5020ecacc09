// The in-memory image behind each emulated disk.
#pragma once

#include "extents.h"

#include <QByteArray>

#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>

// A disk image held in memory block by block. A byte never written reads as the disk's earlier
// contents: a pattern fixed by the seed, so that a byte changed by mistake shows, or what was
// put there as earlier contents (a file system, say).
class SparseImage {
public:
    SparseImage(std::uint64_t size, std::uint64_t seed);

    std::uint64_t Size() const { return size_; }
    // Both clip nothing: the caller keeps offset + length within the size.
    void Read(std::uint64_t offset, std::uint64_t length, unsigned char* out) const;
    void Write(std::uint64_t offset, std::uint64_t length, const unsigned char* in);

    std::uint64_t AllocatedBytes() const { return blocks_.size() * kBlockSize; }
    unsigned char Earlier(std::uint64_t offset) const;
    // Makes these bytes part of the earlier contents; before anything is written.
    void SetEarlier(std::uint64_t offset, const QByteArray& bytes);
    // SHA-256 of a stretch of the image.
    QByteArray Sha256(std::uint64_t offset, std::uint64_t length) const;
    // Every byte that differs from the earlier contents.
    Extents Changes() const;

private:
    static constexpr std::uint64_t kBlockSize = 65536;
    using Block = std::unique_ptr<unsigned char[]>;

    unsigned char* BlockFor(std::uint64_t index);
    void FillEarlier(std::uint64_t index, unsigned char* block) const;
    void FillPattern(std::uint64_t index, unsigned char* block) const;

    std::uint64_t size_;
    std::uint64_t seed_;
    std::unordered_map<std::uint64_t, Block> blocks_;
    std::unordered_map<std::uint64_t, Block> earlier_; // where it is not the pattern
};
