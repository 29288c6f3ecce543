#include "log/ModuleLog.h"

namespace logdetail {

namespace {

// Appends to a line that may be longer than its buffer: counts every character, keeps those that
// fit.
struct Line {
    wchar_t* out;
    size_t capacity;
    size_t length = 0;

    void Put(wchar_t c) {
        if (length + 1 < capacity)
            out[length] = c;
        ++length;
    }
    void Put(const wchar_t* text) {
        while (*text)
            Put(*text++);
    }
    void PutNumber(unsigned long long value, bool negative) {
        wchar_t digits[20];
        size_t count = 0;
        do {
            digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
            value /= 10;
        } while (value != 0);
        if (negative)
            Put(L'-');
        while (count > 0)
            Put(digits[--count]);
    }
};

}  // namespace

size_t Format(const wchar_t* format, const Arg* args, wchar_t* out, size_t capacity) {
    Line line{out, capacity};
    for (const wchar_t* at = format; *at; ++at) {
        if (*at != L'%') {
            line.Put(*at);
            continue;
        }
        const Conversion conversion = ConversionAt(at + 1);
        at += conversion.length;
        switch (conversion.kind) {
            case ArgKind::End:
                // "%%"; a conversion of another kind never compiles
                line.Put(L'%');
                break;
            case ArgKind::Int: {
                const long long value = args->number;
                // In unsigned arithmetic, so that the most negative value has its digits too.
                const unsigned long long magnitude =
                    value < 0 ? 0ull - static_cast<unsigned long long>(value)
                              : static_cast<unsigned long long>(value);
                line.PutNumber(magnitude, value < 0);
                ++args;
                break;
            }
            case ArgKind::Unsigned:
            case ArgKind::UnsignedLongLong:
                line.PutNumber(args->unsignedNumber, false);
                ++args;
                break;
            case ArgKind::WideText:
                line.Put(args->text ? args->text : L"(null)");
                ++args;
                break;
        }
    }
    if (capacity > 0)
        out[line.length < capacity ? line.length : capacity - 1] = L'\0';
    return line.length;
}

}  // namespace logdetail
