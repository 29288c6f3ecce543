#include "controller/ConsoleProtocol.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "host/Alloc.h"
#include "log/ModuleLog.h"

namespace vantrel {

namespace {

constexpr char16_t kSeparator = u'|';

// A UTF-8 copy of a host String, given back to the allocator on every path.
class Utf8Copy {
public:
    explicit Utf8Copy(const String& text) : text_(text.CreateUTF8String()) {}
    ~Utf8Copy() { MainAllocator->Free(text_); }
    Utf8Copy(const Utf8Copy&) = delete;
    Utf8Copy& operator=(const Utf8Copy&) = delete;

    const char* Text() const { return text_; }

private:
    char* text_;
};

// The white space _wtoi skips that a console could plausibly write.
bool IsSpace(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// _wtoi over at most `length` units (stopping at a null too), saturating at the 32-bit limits.
int32_t ReadInteger(const char16_t* text, size_t length) {
    size_t i = 0;
    while (i < length && IsSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < length && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    const uint32_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
    uint32_t magnitude = 0;
    for (; i < length && IsDigit(text[i]); ++i) {
        const uint32_t digit = static_cast<uint32_t>(text[i] - u'0');
        if (magnitude > (limit - digit) / 10) {
            magnitude = limit;  // saturated; the remaining digits change nothing
            continue;
        }
        magnitude = magnitude * 10 + digit;
    }
    return negative ? WrapToSigned32(0u - magnitude) : static_cast<int32_t>(magnitude);
}

bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// UTF-16 to the platform's wide text. Where wchar_t is 32 bits wide, surrogate pairs become one
// character; a lone surrogate is kept as it is, as it would be on Windows.
void CopyToWide(const char16_t* text, size_t length, wchar_t* out, size_t outCapacity) {
    size_t n = 0;
    for (size_t i = 0; i < length && n + 1 < outCapacity; ++i) {
        char32_t c = text[i];
        if (sizeof(wchar_t) > sizeof(char16_t) && IsHighSurrogate(text[i]) && i + 1 < length &&
            IsLowSurrogate(text[i + 1])) {
            c = 0x10000 + ((static_cast<char32_t>(text[i]) - 0xD800) << 10) +
                (static_cast<char32_t>(text[i + 1]) - 0xDC00);
            ++i;
        }
        out[n++] = static_cast<wchar_t>(c);
    }
    out[n] = 0;
}

}  // namespace

int32_t ReadCommandInteger(const char16_t* field) {
    if (!field)
        return 0;
    return ReadInteger(field, SIZE_MAX);
}

bool ParseCommand(const char16_t* text, EffectCommand& command) {
    std::memset(&command, 0, sizeof(command));
    if (!text)
        return false;

    size_t starts[kCommandFieldCount];
    size_t lengths[kCommandFieldCount];
    size_t count = 0;
    size_t i = 0;
    // Only the first eight fields are ever used, so the split stops there.
    while (count < kCommandFieldCount && i < kCommandTextCapacity && text[i] != 0) {
        if (text[i] == kSeparator) {
            ++i;
            continue;
        }
        const size_t start = i;
        while (i < kCommandTextCapacity && text[i] != 0 && text[i] != kSeparator)
            ++i;
        starts[count] = start;
        lengths[count] = i - start;
        ++count;
    }
    if (count < kCommandFieldCount)
        return false;

    auto number = [&](size_t field) { return ReadInteger(text + starts[field], lengths[field]); };
    command.commandId = number(0);
    CopyToWide(text + starts[1], lengths[1], command.effectPath, kCommandTextCapacity);
    command.width = number(2);
    command.height = number(3);
    command.effectId = number(5);
    command.xPercent = number(6);
    command.yPercent = number(7);
    return true;
}

int32_t PlacementFromPercent(int32_t percent, uint32_t canvasSize) {
    // The product wraps in 32 bits and is divided unsigned; the quotient is at most
    // 0xFFFFFFFF / 100, so it always fits a signed 32-bit coordinate.
    const uint32_t product = static_cast<uint32_t>(percent) * canvasSize;
    return static_cast<int32_t>(product / 100u);
}

size_t FormatHandshakeText(uint32_t processId, const String& sceneId, const String& sourceId,
                           char16_t* out, size_t outCapacity, platform::System& system) {
    if (!out || outCapacity == 0)
        return 0;
    out[0] = 0;

    Utf8Copy scene(sceneId);
    Utf8Copy source(sourceId);
    if (!scene.Text() || !source.Text()) {
        WriteLog<LogText::HandshakeNoMemoryForIdentifiers>();
        return 0;
    }

    char digits[16];
    const int digitCount = std::snprintf(digits, sizeof(digits), "%u", processId);
    const size_t sceneLength = std::strlen(scene.Text());
    const size_t sourceLength = std::strlen(source.Text());
    const size_t narrowLength =
        static_cast<size_t>(digitCount) + 1 + sceneLength + 1 + sourceLength;

    char* narrow = static_cast<char*>(MainAllocator->Allocate(narrowLength + 1));
    if (!narrow) {
        WriteLog<LogText::HandshakeNoMemoryForText>(static_cast<unsigned>(narrowLength));
        return 0;
    }
    char* p = narrow;
    std::memcpy(p, digits, static_cast<size_t>(digitCount));
    p += digitCount;
    *p++ = '|';
    std::memcpy(p, scene.Text(), sceneLength);
    p += sceneLength;
    *p++ = '|';
    std::memcpy(p, source.Text(), sourceLength);
    p += sourceLength;
    *p = 0;

    // The conversion never yields more UTF-16 units than it reads bytes, but a double-byte code
    // page may yield fewer, so the converter itself decides whether the text fits.
    const int capacity = outCapacity > INT_MAX ? INT_MAX : static_cast<int>(outCapacity);
    const int written = system.AnsiToUtf16(narrow, out, capacity);
    MainAllocator->Free(narrow);
    if (written <= 0) {
        out[0] = 0;
        WriteLog<LogText::HandshakeTextTooLong>(static_cast<unsigned>(narrowLength),
                                                static_cast<unsigned>(outCapacity - 1));
        return 0;
    }
    const size_t length = static_cast<size_t>(written) - 1;
    out[length] = 0;
    return length;
}

bool FormatLaunchParameters(uint32_t processId, const String& sceneId, const String& sourceId,
                            char* out, size_t outCapacity) {
    if (!out || outCapacity == 0)
        return false;
    out[0] = 0;

    Utf8Copy scene(sceneId);
    Utf8Copy source(sourceId);
    if (!scene.Text() || !source.Text()) {
        WriteLog<LogText::LaunchNoMemoryForIdentifiers>();
        return false;
    }
    // "%d" as the console has always been given the process id.
    const int written =
        std::snprintf(out, outCapacity, "%s %d %s %s %d", "9",
                      static_cast<int>(WrapToSigned32(processId)), scene.Text(), source.Text(), 2);
    if (written < 0 || static_cast<size_t>(written) >= outCapacity) {
        out[0] = 0;
        WriteLog<LogText::LaunchParametersTooLong>(static_cast<unsigned>(outCapacity));
        return false;
    }
    return true;
}

}  // namespace vantrel
