#include "filepass/scan.h"

#include "numbers/number_token.h"
#include "numbers/token_scan.h"

int64_t scan_text(std::string_view text, int32_t precision, std::string& out,
                  const EditSink& onEdit) {
    const size_t nul = text.find('\0');
    const std::string_view scanned = text.substr(0, nul);

    int64_t edits = 0;
    int64_t lineNum = 1;
    size_t plainStart = 0;  // plain bytes are copied in runs, not one by one
    size_t p = 0;
    while (p < scanned.size()) {
        const char c = scanned[p];
        if (c == '\n') {
            ++lineNum;
            ++p;
            continue;
        }
        const size_t tokenLen = is_number_start(scanned, p) ? number_token_length(scanned, p) : 0;
        if (tokenLen == 0) {
            ++p;
            continue;
        }
        out.append(scanned, plainStart, p - plainStart);
        const std::string_view origToken = scanned.substr(p, tokenLen);
        const std::string newToken =
            process_number_token(origToken, parse_token_value(origToken), precision);
        if (newToken != origToken) {
            ++edits;
            if (onEdit) onEdit(Edit{origToken, newToken, lineNum});
        }
        out.append(newToken);
        p += tokenLen;
        plainStart = p;
    }
    out.append(text, plainStart);
    return edits;
}
