#pragma once

// What a file should hold: its size and the data written to it, by extent; every byte outside the
// extents reads as zero. A sparse file beyond 4 GiB costs only what was written.

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <vector>

namespace gridtest {

class FileModel {
  public:
    typedef std::map<std::uint64_t, std::vector<char>> Extents;

    void write(std::uint64_t offset, const char* data, std::size_t size) {
        const std::uint64_t end = offset + size;
        Extents::iterator it = extents_.lower_bound(offset);
        if (it != extents_.begin() && std::prev(it)->first + std::prev(it)->second.size() > offset) --it;
        // Cuts the extents that overlap [offset, end), keeping their parts outside it.
        Extents kept;
        while (it != extents_.end() && it->first < end) {
            const std::vector<char>& bytes = it->second;
            const std::uint64_t start = it->first;
            if (start < offset) kept.emplace(start, std::vector<char>(bytes.begin(), bytes.begin() + (offset - start)));
            if (start + bytes.size() > end)
                kept.emplace(end, std::vector<char>(bytes.begin() + (end - start), bytes.end()));
            it = extents_.erase(it);
        }
        extents_.insert(kept.begin(), kept.end());
        extents_.emplace(offset, std::vector<char>(data, data + size));
        size_ = std::max(size_, end);
    }

    void resize(std::uint64_t size) {
        extents_.erase(extents_.lower_bound(size), extents_.end());
        if (!extents_.empty()) {
            std::pair<const std::uint64_t, std::vector<char>>& last = *extents_.rbegin();
            if (last.first + last.second.size() > size) last.second.resize(size - last.first);
        }
        size_ = size;
    }

    // What a read of `size` bytes at `offset` returns: clipped at the end of the file.
    std::vector<char> read(std::uint64_t offset, std::size_t size) const {
        if (offset >= size_) return {};
        const std::uint64_t end = offset + std::min<std::uint64_t>(size, size_ - offset);
        std::vector<char> out(end - offset, 0);
        Extents::const_iterator it = extents_.upper_bound(offset);
        if (it != extents_.begin()) --it;
        for (; it != extents_.end() && it->first < end; ++it) {
            const std::uint64_t from = std::max(offset, it->first);
            const std::uint64_t to = std::min<std::uint64_t>(end, it->first + it->second.size());
            if (from < to)
                std::copy(it->second.begin() + (from - it->first), it->second.begin() + (to - it->first),
                          out.begin() + (from - offset));
        }
        return out;
    }

    std::uint64_t size() const { return size_; }
    const Extents& extents() const { return extents_; }

  private:
    Extents extents_;
    std::uint64_t size_ = 0;
};

}  // namespace gridtest
