#include "RowWriter.h"

#include <string_view>

#include "Results.h"

namespace {

// The length of the valid UTF-8 sequence at p (at most n bytes), or 0 when the byte at p
// starts none: no overlong forms, no surrogates, nothing past U+10FFFF.
size_t Utf8Length(const unsigned char* p, size_t n) {
    const unsigned char b = p[0];
    auto follows = [&](size_t i, unsigned char lo, unsigned char hi) {
        return i < n && p[i] >= lo && p[i] <= hi;
    };
    if (b >= 0xC2 && b <= 0xDF)
        return follows(1, 0x80, 0xBF) ? 2 : 0;
    if (b >= 0xE0 && b <= 0xEF) {
        const unsigned char lo = b == 0xE0 ? 0xA0 : 0x80;
        const unsigned char hi = b == 0xED ? 0x9F : 0xBF;
        return follows(1, lo, hi) && follows(2, 0x80, 0xBF) ? 3 : 0;
    }
    if (b >= 0xF0 && b <= 0xF4) {
        const unsigned char lo = b == 0xF0 ? 0x90 : 0x80;
        const unsigned char hi = b == 0xF4 ? 0x8F : 0xBF;
        return follows(1, lo, hi) && follows(2, 0x80, 0xBF) && follows(3, 0x80, 0xBF) ? 4 : 0;
    }
    return 0;
}

// The inside of a JSON string for n bytes at p, handed to put(bytes, count) in stretches.
template <class Put> void EscapeJson(const char* text, size_t n, Put&& put) {
    static const char kHex[] = "0123456789abcdef";
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    size_t plain = 0; // where the bytes that go out as they are began
    for (size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            ++i;
            continue;
        }
        size_t valid = 0;
        if (c >= 0x80 && (valid = Utf8Length(p + i, n - i)) != 0) {
            i += valid;
            continue;
        }
        put(text + plain, i - plain);
        char esc[6] = {'\\', c == '"' ? '"' : '\\'};
        size_t len = 2;
        if (c == '\n')
            esc[1] = 'n';
        else if (c == '\t')
            esc[1] = 't';
        else if (c == '\r')
            esc[1] = 'r';
        else if (c != '"' && c != '\\') {
            // Other controls as \u00XX; a byte outside UTF-8 as the lone surrogate \udcXX.
            esc[1] = 'u';
            esc[2] = c >= 0x80 ? 'd' : '0';
            esc[3] = c >= 0x80 ? 'c' : '0';
            esc[4] = kHex[c >> 4];
            esc[5] = kHex[c & 15];
            len = 6;
        }
        put(esc, len);
        plain = ++i;
    }
    put(text + plain, n - plain);
}

char* Decimal(char* end, ULONGLONG v) {
    do {
        *--end = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    return end;
}

} // namespace

ULONGLONG OffsetOf(const char* offset, size_t length) {
    ULONGLONG v = 0;
    for (size_t i = 0; i < length; ++i) {
        const char c = offset[i];
        if (c >= '0' && c <= '9')
            v = v * 16 + static_cast<ULONGLONG>(c - '0');
        else if (c >= 'A' && c <= 'F')
            v = v * 16 + static_cast<ULONGLONG>(c - 'A' + 10);
        else
            break;
    }
    return v;
}

void AppendJsonString(std::string& out, const char* p, size_t n) {
    EscapeJson(p, n, [&](const char* s, size_t k) { out.append(s, k); });
}

RowWriter::RowWriter(Output& out, RowFormat format, const std::string& name, bool printName)
    : m_out(out), m_format(format) {
    if (format == RowFormat::json) {
        m_prefix = "{\"file\":\"";
        AppendJsonString(m_prefix, name.data(), name.size());
        m_prefix += "\",\"offset\":";
    } else if (printName) {
        m_prefix = name + '\t';
    }
}

void RowWriter::Append(const char* offset, size_t offsetLen, const char* run, size_t runLen) {
    Output& out = m_out;
    out.Put(m_prefix.data(), m_prefix.size());
    switch (m_format) {
    case RowFormat::text:
        out.Put(offset, offsetLen);
        out.Put('\t');
        out.Put(run, runLen);
        out.Put('\n');
        break;
    case RowFormat::exportRows:
        WriteExportRow(offset, offsetLen, run, runLen,
                       [&](const char* p, size_t n) { out.Put(p, n); });
        break;
    case RowFormat::json: {
        char digits[24];
        char* end = digits + sizeof digits;
        const char* first = Decimal(end, OffsetOf(offset, offsetLen));
        out.Put(first, static_cast<size_t>(end - first));
        // After the digits: "u" for UTF-16 text, then "..." for a full piece.
        const bool utf16 = std::memchr(offset, 'u', offsetLen) != nullptr;
        const bool piece = offsetLen >= 3 && std::memcmp(offset + offsetLen - 3, "...", 3) == 0;
        const std::string_view kind =
            utf16 ? ",\"utf16\":true,\"piece\":" : ",\"utf16\":false,\"piece\":";
        out.Put(kind.data(), kind.size());
        const std::string_view whole = piece ? "true,\"text\":\"" : "false,\"text\":\"";
        out.Put(whole.data(), whole.size());
        EscapeJson(run, runLen, [&](const char* p, size_t n) { out.Put(p, n); });
        out.Put("\"}\n", 3);
        break;
    }
    }
}
