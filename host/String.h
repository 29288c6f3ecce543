#pragma once

#include <cstddef>

#include "HostExport.h"

// Owned wide text, possibly none. An empty String holds no buffer; length 0 counts as empty.
class HOSTAPI String {
public:
    String();
    String(const wchar_t* text);  // null gives the empty text
    String(const char* text);     // narrow text, read as UTF-8; null gives the empty text
    String(const String& other);
    String(String&& other) noexcept;
    ~String();

    String& operator=(const String& other);
    String& operator=(String&& other) noexcept;
    String& operator=(const wchar_t* text);

    // The text, or null when empty.
    const wchar_t* Array() const { return text_; }
    unsigned Length() const { return length_; }
    bool IsEmpty() const { return length_ == 0; }

    // `s == nullptr` is true when s is empty; `s != nullptr` the reverse.
    bool operator==(std::nullptr_t) const { return IsEmpty(); }
    bool operator!=(std::nullptr_t) const { return !IsEmpty(); }

    // Nonzero when equal to `text`, ignoring case. A null `text` equals the empty text.
    int CompareI(const wchar_t* text) const;

    // A UTF-8 copy, null-terminated, in a block from MainAllocator that the caller frees with
    // MainAllocator->Free. The empty text gives "". Null only when no memory is to be had.
    char* CreateUTF8String() const;

private:
    void Assign(const wchar_t* text, size_t length);

    wchar_t* text_;
    unsigned length_;
};

// The extension of a path, without the dot; empty when the last path component has none.
HOSTAPI String GetPathExtension(const wchar_t* path);
