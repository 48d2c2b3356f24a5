#include "filepass/pieces.h"

#include <algorithm>
#include <cstdint>
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

void RecordedScan::record(std::string_view text, PieceNeeds needs, const CleanRules& rules, WordEdges edges) {
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
            count_ = scan_text(text, rules, *this, edges);
            break;
        case PieceNeeds::newText: {
            StringRebuilder rebuilt(text, newText_);
            count_ = scan_text(text, rules, rebuilt, edges);
            rebuilt.finish();
            break;
        }
        case PieceNeeds::judgement: {
            NoWitness none;
            ChangeJudge judge(text, none);
            count_ = scan_text(text, rules, judge, edges);
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
    void load(RandomAccess& reader, uint64_t offset) {
        filled = 0;
        atEnd = failed = false;
        error = 0;
        fill(reader, offset);
    }

    // Makes the block, which starts at `offset` in the file, `newSize` bytes
    // long and reads on into it. Throws std::bad_alloc.
    void grow(size_t newSize, RandomAccess& reader, uint64_t offset) {
        enlarge(newSize);
        fill(reader, offset);
    }

    void enlarge(size_t newSize) {
        auto larger = std::make_unique_for_overwrite<char[]>(newSize);
        std::memcpy(larger.get(), bytes.get(), filled);
        bytes = std::move(larger);
        size = newSize;
    }

    // Where the piece the block begins with ends (0: no cut yet).
    PieceCut piece(bool wholeLines) const { return cut_piece(text(), wholeLines, atEnd); }

    // The next size for a block that holds no cut: the piece is longer.
    // `rest`: how much the source can still hold, all a piece can take.
    size_t next_size(uint64_t rest) const {
        return std::max<size_t>(size + kBlock, static_cast<size_t>(std::min<uint64_t>(size * 2, rest + 1)));
    }

private:
    void fill(RandomAccess& reader, uint64_t offset) {
        while (!atEnd && !failed && filled < size) {
            const int64_t got = reader.read_at(offset + filled, bytes.get() + filled, size - filled, error);
            failed = got < 0;
            atEnd = got == 0;
            if (got > 0) filled += static_cast<size_t>(got);
        }
    }
};

}  // namespace

IoFailure for_each_piece(RandomAccess& reader, PieceNeeds needs, const CleanRules& rules,
                         const std::function<void(const FilePiece&)>& onPiece) {
    const bool wholeLines = rules.only != 0;
    const uint64_t size = reader.size_when_opened();
    // Each thread reads the block it scans: a block read by one processor
    // is slow to scan on the other, whose caches do not hold it.
    Block mine, theirs;
    PieceCut theirPiece;
    bool theirNul = false;  // their piece holds a NUL
    RecordedScan recorded;
    std::exception_ptr failure;  // what the second thread threw
    Worker worker;  // ends (waiting for its job) before what the job uses goes
    uint64_t offset = 0;  // where the next piece starts
    bool pastNul = false;  // a piece handed on held a NUL
    bool wordBefore = false;  // the next piece goes on with a run of word bytes
    for (;;) {
        mine.load(reader, offset);
        PieceCut piece = mine.piece(wholeLines);
        while (piece.length == 0 && !mine.failed && mine.filled > 0) {
            if (wholeLines && mine.size >= kMaxFieldLine) return IoFailure{IoFailure::long_line, 0};
            // A piece longer than the block: grown, but never far beyond
            // the rest of the source, which is all a piece can hold.
            mine.grow(mine.next_size(size - std::min(size, offset)), reader, offset);
            piece = mine.piece(wholeLines);
        }
        if (mine.failed) return IoFailure{IoFailure::read, mine.error};
        if (mine.filled == 0) break;  // the end
        const std::string_view first = mine.text().substr(0, piece.length);
        const bool firstAfterNul = pastNul;
        pastNul = pastNul || first.find('\0') != std::string_view::npos;
        // The second thread reads and scans the piece after this one, if it
        // fits in a block; this one is scanned here meanwhile.
        const uint64_t next = offset + piece.length;
        const bool shared = !mine.atEnd && worker.start([&] {
            try {
                theirs.load(reader, next);
                theirPiece = theirs.failed ? PieceCut{} : theirs.piece(wholeLines);
                const std::string_view second = theirs.text().substr(0, theirPiece.length);
                theirNul = second.find('\0') != std::string_view::npos;
                if (theirPiece.length > 0 && !pastNul) {
                    recorded.record(second, needs, rules, WordEdges{piece.wordAfter, theirPiece.wordAfter});
                }
            } catch (...) {
                failure = std::current_exception();
            }
        });
        onPiece(FilePiece{first, offset, nullptr, firstAfterNul, rules, WordEdges{wordBefore, piece.wordAfter}});
        offset = next;
        wordBefore = piece.wordAfter;
        if (mine.atEnd) break;
        if (!shared) continue;
        worker.wait();
        if (failure) std::rethrow_exception(failure);
        if (theirs.failed) return IoFailure{IoFailure::read, theirs.error};
        if (theirPiece.length == 0) continue;  // too long for one block: read here next
        onPiece(FilePiece{theirs.text().substr(0, theirPiece.length), offset, pastNul ? nullptr : &recorded, pastNul,
                          rules, WordEdges{wordBefore, theirPiece.wordAfter}});
        pastNul = pastNul || theirNul;
        offset += theirPiece.length;
        wordBefore = theirPiece.wordAfter;
        if (theirs.atEnd) break;
    }
    return offset == size ? IoFailure() : IoFailure{IoFailure::changed, 0};
}

IoFailure for_each_input_piece(const CleanRules& rules, const std::function<void(const FilePiece&)>& onPiece) {
    const bool wholeLines = rules.only != 0;
    Block block;  // what has been read past the last piece, from its start
    uint64_t offset = 0;
    bool pastNul = false;
    bool wordBefore = false;
    for (;;) {
        while (!block.atEnd && block.filled < block.size) {
            const int64_t got = read_standard_input(block.bytes.get() + block.filled, block.size - block.filled,
                                                    block.error);
            if (got < 0) return IoFailure{IoFailure::read, block.error};
            block.atEnd = got == 0;
            block.filled += static_cast<size_t>(std::max<int64_t>(got, 0));
        }
        if (block.filled == 0) return IoFailure();
        const PieceCut piece = block.piece(wholeLines);
        if (piece.length == 0) {
            if (wholeLines && block.size >= kMaxFieldLine) return IoFailure{IoFailure::long_line, 0};
            block.enlarge(block.next_size(UINT64_MAX - 1));
            continue;
        }
        const std::string_view text = block.text().substr(0, piece.length);
        const bool afterNul = pastNul;
        pastNul = pastNul || text.find('\0') != std::string_view::npos;
        onPiece(FilePiece{text, offset, nullptr, afterNul, rules, WordEdges{wordBefore, piece.wordAfter}});
        offset += piece.length;
        wordBefore = piece.wordAfter;
        // The rest of the block begins the next piece.
        std::memmove(block.bytes.get(), block.bytes.get() + piece.length, block.filled - piece.length);
        block.filled -= piece.length;
    }
}
