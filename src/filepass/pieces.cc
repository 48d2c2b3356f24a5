#include "filepass/pieces.h"

#include <cstring>
#include <exception>
#include <memory>
#include <new>

#include "filepass/worker.h"

namespace {

// A witness for a scan whose edits no one reads.
class NoWitness final : public EditSink {
public:
    void on_edit(const Edit&) override {}
    bool wants_lines() const override { return false; }
};

}  // namespace

void RecordedScan::record(std::string_view text, PieceNeeds needs, const CleanRules& rules) {
    text_ = text;
    needs_ = needs;
    outOfMemory_ = false;
    count_ = 0;
    edits_.clear();
    replacements_.clear();
    newText_.clear();
    try {
        switch (needs) {
        case PieceNeeds::edits:
            count_ = scan_text(text, rules, *this);
            break;
        case PieceNeeds::newText: {
            StringRebuilder rebuilt(text, newText_);
            count_ = scan_text(text, rules, rebuilt);
            rebuilt.finish();
            break;
        }
        case PieceNeeds::judgement: {
            NoWitness none;
            ChangeJudge judge(text, none);
            count_ = scan_text(text, rules, judge);
            judge.finish();
            changes_ = judge.changes();
            break;
        }
        }
    } catch (const std::bad_alloc&) {
        outOfMemory_ = true;
    }
}

void RecordedScan::on_edit(const Edit& edit) {
    edits_.push_back(Recorded{edit.offset, edit.original.size(), replacements_.size(), edit.replacement.size(), edit.line});
    replacements_.append(edit.replacement);
}

void RecordedScan::check_memory() const {
    if (outOfMemory_) throw std::bad_alloc();
}

int64_t RecordedScan::replay(EditSink& sink) const {
    check_memory();
    const std::string_view replacements = replacements_;
    for (const Recorded& edit : edits_) {
        sink.on_edit(Edit{edit.offset, text_.substr(edit.offset, edit.length),
                          replacements.substr(edit.replacementAt, edit.replacementLength), edit.line});
    }
    return count_;
}

std::string_view RecordedScan::new_text(int64_t& edits) const {
    check_memory();
    edits = count_;
    return newText_;
}

bool RecordedScan::changes(int64_t& edits) const {
    check_memory();
    edits = count_;
    return changes_;
}

namespace {

constexpr size_t kBlock = 256 << 10;  // about a piece; pieces are cut at its last line end

// A block of a file being read a piece at a time.
struct Block {
    std::unique_ptr<char[]> bytes = std::make_unique_for_overwrite<char[]>(kBlock);
    size_t size = kBlock;
    size_t filled = 0;
    bool atEnd = false;   // the block reaches the end of the file
    bool failed = false;  // a read failed
    int error = 0;        // and why

    std::string_view text() const { return {bytes.get(), filled}; }

    // Reads the file from `offset` until the block is full or the file ends.
    void load(FileReader& reader, uint64_t offset) {
        filled = 0;
        atEnd = failed = false;
        error = 0;
        fill(reader, offset);
    }

    // Makes the block, which starts at `offset` in the file, `newSize` bytes
    // long and reads on into it. Throws std::bad_alloc.
    void grow(size_t newSize, FileReader& reader, uint64_t offset) {
        auto larger = std::make_unique_for_overwrite<char[]>(newSize);
        std::memcpy(larger.get(), bytes.get(), filled);
        bytes = std::move(larger);
        size = newSize;
        fill(reader, offset);
    }

    // The length of the piece the block begins with: all of it at the end
    // of the file, else up to its last cut; 0 when it has no cut.
    size_t piece(bool wholeLines) const { return atEnd ? filled : piece_length(text(), wholeLines); }

private:
    void fill(FileReader& reader, uint64_t offset) {
        while (!atEnd && !failed && filled < size) {
            const int64_t got = reader.read_at(offset + filled, bytes.get() + filled, size - filled, error);
            failed = got < 0;
            atEnd = got == 0;
            if (got > 0) filled += static_cast<size_t>(got);
        }
    }
};

}  // namespace

IoFailure for_each_piece(FileReader& reader, PieceNeeds needs, const CleanRules& rules,
                         const std::function<void(const FilePiece&)>& onPiece) {
    const bool wholeLines = rules.only != 0;
    // Each thread reads the block it scans: a block read by one processor
    // is slow to scan on the other, whose caches do not hold it.
    Block mine, theirs;
    size_t theirPiece = 0;
    bool theirNul = false;  // their piece holds a NUL
    RecordedScan recorded;
    std::exception_ptr failure;  // what the second thread threw
    Worker worker;  // ends (waiting for its job) before what the job uses goes
    uint64_t offset = 0;  // where the next piece starts in the file
    bool pastNul = false;  // a piece handed on held a NUL
    for (;;) {
        mine.load(reader, offset);
        size_t piece = mine.piece(wholeLines);
        while (piece == 0 && !mine.failed && mine.filled > 0) {
            if (wholeLines && mine.size >= kMaxFieldLine) return IoFailure{IoFailure::long_line, 0};
            // A piece longer than the block: grown, but never far beyond
            // the rest of the file, which is all a piece can hold.
            const uint64_t rest = reader.identity().size - std::min(reader.identity().size, offset);
            mine.grow(std::max<size_t>(mine.size + kBlock, std::min<uint64_t>(mine.size * 2, rest + 1)), reader, offset);
            piece = mine.piece(wholeLines);
        }
        if (mine.failed) return IoFailure{IoFailure::read, mine.error};
        if (mine.filled == 0) break;  // the end of the file
        const std::string_view first = mine.text().substr(0, piece);
        const bool firstAfterNul = pastNul;
        pastNul = pastNul || first.find('\0') != std::string_view::npos;
        // The second thread reads and scans the piece after this one, if it
        // fits in a block; this one is scanned here meanwhile.
        const uint64_t next = offset + piece;
        const bool shared = !mine.atEnd && worker.start([&] {
            try {
                theirs.load(reader, next);
                theirPiece = theirs.failed ? 0 : theirs.piece(wholeLines);
                const std::string_view second = theirs.text().substr(0, theirPiece);
                theirNul = second.find('\0') != std::string_view::npos;
                if (theirPiece > 0 && !pastNul) recorded.record(second, needs, rules);
            } catch (...) {
                failure = std::current_exception();
            }
        });
        onPiece(FilePiece{first, offset, nullptr, firstAfterNul, rules});
        offset = next;
        if (mine.atEnd) break;
        if (!shared) continue;
        worker.wait();
        if (failure) std::rethrow_exception(failure);
        if (theirs.failed) return IoFailure{IoFailure::read, theirs.error};
        if (theirPiece == 0) continue;  // too long for one block: read here next
        onPiece(FilePiece{theirs.text().substr(0, theirPiece), offset, pastNul ? nullptr : &recorded, pastNul, rules});
        pastNul = pastNul || theirNul;
        offset += theirPiece;
        if (theirs.atEnd) break;
    }
    return offset == reader.identity().size ? IoFailure() : IoFailure{IoFailure::changed, 0};
}
