// A diff's store that keeps what is large in a scratch file, so that a
// diff takes bounded memory whatever its hunks.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "core/diff_text.h"
#include "filepass/file_io.h"

// What a SpillStore throws when its scratch file cannot be made, written or
// read back.
struct ScratchFailure {
    IoFailure failure;
};

// Holds up to `limit` bytes in memory, and all of it in a scratch file
// (made at the first need, kept for reuse once emptied) beyond that; memory
// then buffers the file's writes and reads. Once sealed, what it holds can
// be read at any offset, as a file is read a piece at a time. Throws
// ScratchFailure, or std::bad_alloc.
class SpillStore final : public TextStore, public RandomAccess {
public:
    static constexpr size_t kLimit = 1 << 20;
    explicit SpillStore(size_t limit = kLimit) : limit_(limit) {}

    void append(std::string_view text) override;
    bool view(std::string_view& text) const override;
    void drain(const std::function<void(std::string_view)>& out) override;
    void clear() override;
    bool empty() const override { return memory_.empty() && !spilled_; }

    // Ends the appending: what it holds can then be read by read_at.
    void seal();
    int64_t read_at(uint64_t offset, char* data, size_t size, int& error) override;
    uint64_t size_when_opened() const override { return file_.size_when_opened() + memory_.size(); }

private:
    void write_memory();  // to the file, emptying memory

    const size_t limit_;
    std::string memory_;
    ScratchFile file_;
    bool spilled_ = false;  // the file holds the first part
};
