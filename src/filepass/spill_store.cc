#include "filepass/spill_store.h"

void ScratchSpill::append(std::string_view data) {
    IoFailure failure;
    if (!file_.is_open() && !file_.open(failure)) throw ScratchFailure{failure};
    if (!file_.append(data, failure)) throw ScratchFailure{failure};
}

size_t ScratchSpill::read_at(uint64_t offset, char* data, size_t size) {
    int error = 0;
    const int64_t got = file_.read_at(offset, data, size, error);
    if (got < 0) throw ScratchFailure{IoFailure{IoFailure::scratch, error}};
    return static_cast<size_t>(got);
}

void ScratchSpill::clear() {
    IoFailure failure;
    if (file_.is_open() && !file_.clear(failure)) throw ScratchFailure{failure};
}

int64_t StoreReader::read_at(uint64_t offset, char* data, size_t size, int& error) {
    try {
        return static_cast<int64_t>(store_.read_at(offset, data, size));
    } catch (const ScratchFailure& scratch) {
        error = scratch.failure.error;
        return -1;
    }
}
