#include "filepass/git_filter.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include "filepass/console.h"
#include "filepass/file_io.h"
#include "filepass/names.h"
#include "filepass/pass_common.h"
#include "filepass/pieces.h"
#include "filepass/spill_store.h"

namespace {

constexpr size_t kMaxPacketData = 65516;  // git's LARGE_PACKET_MAX less the length
constexpr size_t kTextInMemory = 8 << 20;  // beyond this a text waits in a scratch file
constexpr char kHexDigits[] = "0123456789abcdef";  // of a packet's length

// The value of the hexadecimal digit `c`, or -1.
int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// pkt-lines ("0006a\n": four hex digits of length, then the payload; "0000"
// a flush) from the standard input, through a buffer.
class PacketReader {
public:
    enum class Got { data, flush, end, broken };

    // The next packet: its payload in `data`, a flush, the end of the
    // input before a packet's first byte, or a broken stream (why()).
    Got next(std::string& data) {
        char head[4];
        size_t got = 0;
        if (!fill(head, sizeof head, got)) return got == 0 && error_ == 0 ? Got::end : broken("it ended within a packet");
        size_t length = 0;
        for (const char c : head) {
            const int digit = hex_value(c);
            if (digit < 0) return broken("a packet's length is not hexadecimal");
            length = length * 16 + static_cast<size_t>(digit);
        }
        if (length == 0) return Got::flush;
        if (length <= 4 || length - 4 > kMaxPacketData) return broken("a packet's length is out of range");
        data.resize(length - 4);
        if (!fill(data.data(), data.size(), got)) return broken("it ended within a packet");
        return Got::data;
    }
    const std::string& why() const { return why_; }

private:
    Got broken(std::string why) {
        why_ = error_ != 0 ? std::string("it could not be read (") + system_error_text(error_) + ")" : std::move(why);
        return Got::broken;
    }
    // Reads exactly `size` bytes; false at the end or an error, with `got`
    // those read.
    bool fill(char* to, size_t size, size_t& got) {
        for (got = 0; got < size;) {
            if (at_ == filled_) {
                const int64_t read = read_standard_input(buffer_.data(), buffer_.size(), error_);
                if (read <= 0) return false;
                at_ = 0;
                filled_ = static_cast<size_t>(read);
            }
            const size_t take = std::min(size - got, filled_ - at_);
            std::memcpy(to + got, buffer_.data() + at_, take);
            got += take;
            at_ += take;
        }
        return true;
    }

    std::vector<char> buffer_ = std::vector<char>(1 << 16);
    size_t at_ = 0;
    size_t filled_ = 0;
    int error_ = 0;
    std::string why_;
};

// pkt-lines to the standard output; a text's bytes gathered into packets
// as large as git takes.
class PacketWriter {
public:
    void line(std::string_view text) { packet(text); }
    void content(std::string_view data) {
        while (!data.empty()) {
            const size_t take = std::min(kMaxPacketData - pending_.size(), data.size());
            pending_.append(data.substr(0, take));
            data.remove_prefix(take);
            if (pending_.size() == kMaxPacketData) put_pending();
        }
    }
    // Ends a list or a text with a flush packet, and sends what is held:
    // git waits for it.
    void flush() {
        put_pending();
        print_text("0000");
        finish_standard_output();
    }

private:
    void packet(std::string_view payload) {
        const size_t length = payload.size() + 4;
        const char head[4] = {kHexDigits[(length >> 12) & 15], kHexDigits[(length >> 8) & 15],
                              kHexDigits[(length >> 4) & 15], kHexDigits[length & 15]};
        print_text(std::string_view(head, sizeof head));
        print_text(payload);
    }
    void put_pending() {
        if (pending_.empty()) return;
        packet(pending_);
        pending_.clear();
    }
    std::string pending_;
};

// Reads packets up to a flush, handing each payload to `take`; false (with
// `why`, which says the stream ended `within` what) when the stream ends or
// breaks first; `ended` set when it ended before any packet.
template <typename Take>
bool read_to_flush(PacketReader& in, Take take, const char* within, std::string& why, bool* ended = nullptr) {
    bool any = false;
    for (std::string data;;) {
        switch (in.next(data)) {
        case PacketReader::Got::data:
            any = true;
            take(data);
            break;
        case PacketReader::Got::flush:
            return true;
        case PacketReader::Got::end:
            if (ended && !any) *ended = true;
            why = std::string("it ended within ") + within;
            return false;
        case PacketReader::Got::broken:
            why = in.why();
            return false;
        }
    }
}

// Reads a list of text packets up to a flush into `lines`, each without
// its line end, as read_to_flush does.
bool read_list(PacketReader& in, std::vector<std::string>& lines, std::string& why, bool* ended = nullptr) {
    lines.clear();
    return read_to_flush(in, [&](std::string& line) {
        if (!line.empty() && line.back() == '\n') line.pop_back();
        lines.push_back(line);
    }, "a request", why, ended);
}

// The value of `key=` in `lines`; empty when there is none.
std::string value_of(const std::vector<std::string>& lines, std::string_view key) {
    for (const std::string& line : lines) {
        if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == '=') {
            return line.substr(key.size() + 1);
        }
    }
    return std::string();
}

// The handshake: git's welcome and versions, then its capabilities; the
// answer offers version 2 and, of what git offers, "clean".
bool handshake(PacketReader& in, PacketWriter& out, std::string& why) {
    std::vector<std::string> lines;
    if (!read_list(in, lines, why)) return false;
    if (lines.empty() || lines[0] != "git-filter-client" ||
        std::find(lines.begin(), lines.end(), "version=2") == lines.end()) {
        why = "git did not offer version 2 of its filter protocol";
        return false;
    }
    out.line("git-filter-server\n");
    out.line("version=2\n");
    out.flush();
    if (!read_list(in, lines, why)) return false;
    if (std::find(lines.begin(), lines.end(), "capability=clean") != lines.end()) out.line("capability=clean\n");
    out.flush();
    return true;
}

// Takes the text that follows a request, whole, into `store`; false (with
// `why`) when the stream ends or breaks first. A store that cannot take
// more (its scratch file failing) is noted in `storeFailure`, and the rest
// of the text is read all the same, to stay in step with git.
bool read_text(PacketReader& in, SpillingStore& store, std::string& why, IoFailure& storeFailure) {
    return read_to_flush(in, [&](const std::string& data) {
        if (storeFailure.failed()) return;
        try {
            store.append(data);
        } catch (const ScratchFailure& scratch) {
            storeFailure = scratch.failure;
        }
    }, "a text", why);
}

// The text `store` holds, to `out` as `plan` says (its content packets,
// not their end); the edit count, and in `failure` a read that failed or
// an -only line past its limit. Throws ScratchFailure and std::bad_alloc.
int64_t stream_text(const SpillingStore& store, const GitFilterPlan& plan, PacketWriter& out, IoFailure& failure) {
    if (plan.kind == GitFilterPlan::Kind::pass) {
        std::string block(1 << 16, '\0');
        for (uint64_t at = 0; at < store.size();) {
            const size_t got = store.read_at(at, block.data(), block.size());
            out.content(std::string_view(block.data(), got));
            at += got;
        }
        return 0;
    }
    StoreReader reader(store);
    int64_t edits = 0;
    std::string rebuilt;
    failure = for_each_piece(reader, PieceNeeds::newText, plan.settings.rules, [&](const FilePiece& piece) {
        int64_t pieceEdits = 0;
        if (std::string_view newText; piece.afterNul) {
            out.content(piece.text);
        } else if (piece.new_text(newText, pieceEdits)) {
            out.content(newText);
        } else {
            rebuilt.clear();
            StringRebuilder rebuilder(piece.text, rebuilt);
            pieceEdits = piece.scan(rebuilder);
            rebuilder.finish();
            out.content(rebuilt);
        }
        edits += pieceEdits;
    });
    return edits;
}

// Hands the text `store` holds to `out` as `plan` says, after
// "status=success", and ends it; a failure when it could not be cleaned
// whole (git then gets "status=error" and drops what it got).
IoFailure answer_text(const SpillingStore& store, const GitFilterPlan& plan, const std::string& shown,
                      PacketWriter& out) {
    out.line("status=success\n");
    out.flush();
    const auto start = Clock::now();
    int64_t edits = 0;
    IoFailure failure;
    try {
        edits = stream_text(store, plan, out, failure);
    } catch (const ScratchFailure& scratch) {
        failure = scratch.failure;
    } catch (const std::bad_alloc&) {
        failure = IoFailure{IoFailure::memory, 0};
    }
    out.flush();
    if (!failure.failed() && plan.kind == GitFilterPlan::Kind::clean) {
        print_report(stderr, plan.settings, shown, edits, seconds_since(start));
    }
    return failure;
}

// Answers one request whose text `store` holds (or failed to hold).
void answer(const std::vector<std::string>& request, const SpillingStore& store, const IoFailure& storeFailure,
            const std::function<GitFilterPlan(const std::string& path)>& planFor, PacketWriter& out) {
    const std::string command = value_of(request, "command");
    const std::string path = value_of(request, "pathname");
    const std::string shown = printable_name(path);
    RunTally unused;
    IoFailure failure = storeFailure;
    try {
        if (command != "clean") {
            print_error("Error: git asked the filter to %s %s, which it does not offer\n",
                        printable_name(command).c_str(), shown.c_str());
        } else if (const GitFilterPlan plan = planFor(path); plan.kind == GitFilterPlan::Kind::fail) {
            print_error("Error: %s is not cleaned: %s\n", shown.c_str(), plan.error.c_str());
        } else if (failure.failed() || (failure = answer_text(store, plan, shown, out)).failed()) {
            report_read_failure(failure, shown, unused);
        } else {
            out.flush();  // the status stays "success"
            return;
        }
    } catch (const std::bad_alloc&) {
        report_out_of_memory(path, unused);
    }
    out.line("status=error\n");
    out.flush();
}

}  // namespace

int serve_git_filter(const std::function<GitFilterPlan(const std::string& path)>& planFor) {
    PacketReader in;
    PacketWriter out;
    std::string why;
    const auto broke = [&] {
        print_error("Error: git's filter protocol broke: %s\n", why.c_str());
        return 2;
    };
    if (!handshake(in, out, why)) return broke();
    for (std::vector<std::string> request;;) {
        bool ended = false;
        if (!read_list(in, request, why, &ended)) return ended ? 0 : broke();  // ended: git is done
        const std::unique_ptr<SpillingStore> store = scratch_store(kTextInMemory);
        IoFailure storeFailure;
        if (!read_text(in, *store, why, storeFailure)) return broke();
        if (!storeFailure.failed()) {
            try {
                store->seal();
            } catch (const ScratchFailure& scratch) {
                storeFailure = scratch.failure;
            }
        }
        answer(request, *store, storeFailure, planFor, out);
        if (const int error = finish_standard_output(); error != 0) {
            print_error("Error: the answer to git could not be written (%s)\n", system_error_text(error));
            return 2;
        }
    }
}
