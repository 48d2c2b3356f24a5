// A diff's stores that keep what is large in a scratch file, so that a
// diff takes bounded memory whatever its hunks.
#pragma once

#include <memory>

#include "core/diff_text.h"
#include "filepass/file_io.h"

// What a scratch spill throws when its file cannot be made, written or read
// back.
struct ScratchFailure {
    IoFailure failure;
};

// A SpillingStore's file: a ScratchFile, made at the first need. Throws
// ScratchFailure.
class ScratchSpill final : public SpillFile {
public:
    void append(std::string_view data) override;
    size_t read_at(uint64_t offset, char* data, size_t size) override;
    void clear() override;

private:
    ScratchFile file_;
};

// A store of up to `limit` bytes in memory and the rest in a scratch file.
inline constexpr size_t kSpillLimit = 1 << 20;
inline std::unique_ptr<SpillingStore> scratch_store(size_t limit = kSpillLimit) {
    return std::make_unique<SpillingStore>(std::make_unique<ScratchSpill>(), limit);
}

// What a SpillingStore holds, read as a file is read a piece at a time
// (once sealed).
class StoreReader final : public RandomAccess {
public:
    explicit StoreReader(const SpillingStore& store) : store_(store) {}
    int64_t read_at(uint64_t offset, char* data, size_t size, int& error) override;
    uint64_t size_when_opened() const override { return store_.size(); }

private:
    const SpillingStore& store_;
};
