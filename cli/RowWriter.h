// The rows of tarnwick-scan as they leave it: in the window's offsets, in the window's export
// bytes, or as JSON lines.
#pragma once

#include <cstddef>
#include <string>

#include "Output.h"
#include "RowSink.h"
#include "Types.h"

enum class RowFormat { text, exportRows, json };

// Writes each row it is given to out as it comes, keeping none.
class RowWriter final : public RowSink {
public:
    // name is the file's as given; printName puts it and a TAB before each row of text and
    // export (JSON always names the file).
    RowWriter(Output& out, RowFormat format, const std::string& name, bool printName);
    void Append(const char* offset, size_t offsetLen, const char* run, size_t runLen) override;

private:
    Output& m_out;
    RowFormat m_format;
    std::string m_prefix; // what every row starts with
};

// The offset a row's offset text ("0003A0", "0003A0...", "0003A0u", "0003A0u...") stands for.
ULONGLONG OffsetOf(const char* offset, size_t length);

// Appends bytes to out as the inside of a JSON string. Valid UTF-8 stays as it is; every byte
// that is not part of a valid UTF-8 sequence becomes \udcXX, XX its value: the lone
// surrogates that no UTF-8 text can hold, which Python's surrogateescape (os.fsencode) turns
// back into the same bytes. Controls, quote and backslash are escaped as JSON asks.
void AppendJsonString(std::string& out, const char* p, size_t n);
