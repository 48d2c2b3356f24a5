#include "filepass/spill_store.h"

#include <algorithm>
#include <cstring>

void SpillStore::append(std::string_view text) {
    if (memory_.size() + text.size() <= limit_) {
        memory_.append(text);
        return;
    }
    IoFailure failure;
    if (!file_.is_open() && !file_.open(failure)) throw ScratchFailure{failure};
    write_memory();
    if (text.size() <= limit_) {
        memory_.append(text);
    } else if (!file_.append(text, failure)) {
        throw ScratchFailure{failure};
    }
    spilled_ = true;
}

bool SpillStore::view(std::string_view& text) const {
    text = memory_;
    return !spilled_;
}

void SpillStore::drain(const std::function<void(std::string_view)>& out) {
    if (!spilled_) {
        if (!memory_.empty()) out(memory_);
        memory_.clear();
        return;
    }
    write_memory();
    memory_.resize(limit_);
    for (uint64_t at = 0; at < file_.size_when_opened();) {
        int error = 0;
        const int64_t got = file_.read_at(at, memory_.data(), memory_.size(), error);
        if (got <= 0) throw ScratchFailure{IoFailure{IoFailure::scratch, got < 0 ? error : 0}};
        out(std::string_view(memory_.data(), static_cast<size_t>(got)));
        at += static_cast<uint64_t>(got);
    }
    clear();
}

void SpillStore::clear() {
    memory_.clear();
    if (!spilled_) return;
    spilled_ = false;
    IoFailure failure;
    if (!file_.clear(failure)) throw ScratchFailure{failure};
}

void SpillStore::write_memory() {
    IoFailure failure;
    if (!memory_.empty() && !file_.append(memory_, failure)) throw ScratchFailure{failure};
    memory_.clear();
}

void SpillStore::seal() {
    if (spilled_) write_memory();
}

int64_t SpillStore::read_at(uint64_t offset, char* data, size_t size, int& error) {
    if (spilled_) return file_.read_at(offset, data, size, error);
    if (offset >= memory_.size()) return 0;
    const size_t got = std::min(size, memory_.size() - static_cast<size_t>(offset));
    std::memcpy(data, memory_.data() + offset, got);
    return static_cast<int64_t>(got);
}
