// Text on the clipboard: made once, in one piece, and handed to every paste as it is.
#pragma once

#include <cstddef>
#include <memory>

class CClipboardText {
public:
    // Room for size bytes; std::bad_alloc when there is none.
    explicit CClipboardText(size_t size);
    ~CClipboardText();
    CClipboardText(const CClipboardText&) = delete;
    CClipboardText& operator=(const CClipboardText&) = delete;

    char* Data();
    // Puts the bytes on the clipboard. They stay there, and in memory, until another
    // program takes the clipboard.
    void Publish();

private:
    struct Bytes;
    std::unique_ptr<Bytes> m_bytes;
};

// The bytes an earlier Copy left on the clipboard, 0 when another program has it since.
size_t AfxClipboardBytesHeld();
// Lets go of them: the clipboard is emptied, and their memory goes back.
void AfxClipboardRelease();
