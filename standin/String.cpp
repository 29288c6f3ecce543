// The host's owned wide text. Buffers come from MainAllocator; the empty text holds none. When no
// memory is to be had, the text becomes empty rather than half-copied.
#include "host/String.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <new>
#include <string>

#include "host/Alloc.h"
#include "standin/Standin.h"

namespace {

// Lower case for the letters a streamer's file names and keys are likely to hold: ASCII, Latin-1,
// Latin Extended-A, Greek and Cyrillic; the C library for the rest (which in the "C" locale may
// know only ASCII).
wchar_t Fold(wchar_t c) {
    auto u = static_cast<uint32_t>(c);
    if (u < 0x80)
        return (u >= 'A' && u <= 'Z') ? static_cast<wchar_t>(u + 32) : c;
    if ((u >= 0xC0 && u <= 0xDE && u != 0xD7))
        return static_cast<wchar_t>(u + 32);
    if (u >= 0x100 && u <= 0x17F) {
        // Pairs of capital and small letter; the run 0x139..0x148 and 0x179..0x17E pair the other
        // way.
        bool oddCapitals = (u >= 0x139 && u <= 0x148) || (u >= 0x179 && u <= 0x17E);
        if (u == 0x130 || u == 0x131 || u == 0x138 || u == 0x149 || u == 0x17F)
            return c;
        if (u == 0x178)
            return static_cast<wchar_t>(0xFF);
        bool capital = oddCapitals ? (u % 2 == 1) : (u % 2 == 0);
        return capital ? static_cast<wchar_t>(u + 1) : c;
    }
    if (u >= 0x391 && u <= 0x3A9 && u != 0x3A2)
        return static_cast<wchar_t>(u + 32);
    if (u >= 0x410 && u <= 0x42F)
        return static_cast<wchar_t>(u + 32);
    if (u >= 0x400 && u <= 0x40F)
        return static_cast<wchar_t>(u + 80);
    return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
}

}  // namespace

String::String() : text_(nullptr), length_(0) {}

String::String(const wchar_t* text) : String() {
    if (text)
        Assign(text, std::wcslen(text));
}

String::String(const char* text) : String() {
    if (!text || !*text)
        return;
    try {
        std::wstring wide = standin::FromUtf8(text);
        Assign(wide.data(), wide.size());
    } catch (const std::bad_alloc&) {
        // stays empty
    }
}

String::String(const String& other) : String() {
    Assign(other.text_, other.length_);
}

String::String(String&& other) noexcept : text_(other.text_), length_(other.length_) {
    other.text_ = nullptr;
    other.length_ = 0;
}

String::~String() {
    MainAllocator->Free(text_);
}

String& String::operator=(const String& other) {
    if (this != &other)
        Assign(other.text_, other.length_);
    return *this;
}

String& String::operator=(String&& other) noexcept {
    if (this != &other) {
        MainAllocator->Free(text_);
        text_ = other.text_;
        length_ = other.length_;
        other.text_ = nullptr;
        other.length_ = 0;
    }
    return *this;
}

String& String::operator=(const wchar_t* text) {
    Assign(text, text ? std::wcslen(text) : 0);
    return *this;
}

void String::Assign(const wchar_t* text, size_t length) {
    // The copy is made before the old buffer goes: `text` may point into it.
    wchar_t* copy = nullptr;
    if (text && length > 0 && length < UINT_MAX) {
        copy = static_cast<wchar_t*>(MainAllocator->Allocate((length + 1) * sizeof(wchar_t)));
        if (copy) {
            std::memcpy(copy, text, length * sizeof(wchar_t));
            copy[length] = L'\0';
        }
    }
    MainAllocator->Free(text_);
    text_ = copy;
    length_ = copy ? static_cast<unsigned>(length) : 0;
}

int String::CompareI(const wchar_t* text) const {
    if (!text)
        return IsEmpty() ? 1 : 0;
    size_t length = std::wcslen(text);
    if (length != length_)
        return 0;
    for (size_t i = 0; i < length; ++i)
        if (Fold(text_[i]) != Fold(text[i]))
            return 0;
    return 1;
}

char* String::CreateUTF8String() const {
    std::string utf8;
    try {
        if (text_)
            utf8 = standin::ToUtf8(std::wstring(text_, length_));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    auto* copy = static_cast<char*>(MainAllocator->Allocate(utf8.size() + 1));
    if (!copy)
        return nullptr;
    std::memcpy(copy, utf8.c_str(), utf8.size() + 1);
    return copy;
}
