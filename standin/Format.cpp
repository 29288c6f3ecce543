// The host's printf for wide formats, with the Windows convention on every system: %s takes wide
// text and %S narrow text (read as UTF-8), %c a wide and %C a narrow character; h and l/w force
// narrow and wide. The C library's wide printf cannot be trusted with a user's format here (glibc
// and MinGW swap %s and %S), so the format is walked by hand; only the digits of a floating-point
// value come from snprintf, through a format built here.
//
// Understood: flags - + space 0 #, width and precision (also *), length modifiers hh h l ll L j z t
// w I I32 I64, conversions d i u o x X c C s S f F e E g G a A p n %. %p prints the address as
// uppercase hex digits, as wide as a pointer. %n writes nothing. Widths and precisions above 4096
// are cut to 4096. An unknown conversion is copied to the output as it stands.
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <type_traits>

#include "standin/Standin.h"

namespace {

constexpr int kMaxField = 4096;

enum class Length { None, hh, h, l, ll, L, j, z, t, w, I, I32, I64 };

struct Directive {
    bool left = false, plus = false, space = false, zero = false, alt = false;
    int width = 0;
    int precision = -1;  // -1: none given
    Length length = Length::None;
};

void Field(std::wstring& out, const Directive& directive, const std::wstring& prefix,
           const std::wstring& body, bool zeroPad) {
    size_t used = prefix.size() + body.size();
    size_t pad = static_cast<size_t>(directive.width) > used ? directive.width - used : 0;
    if (directive.left) {
        out += prefix;
        out += body;
        out.append(pad, L' ');
    } else if (zeroPad) {
        out += prefix;
        out.append(pad, L'0');
        out += body;
    } else {
        out.append(pad, L' ');
        out += prefix;
        out += body;
    }
}

std::wstring Digits(uint64_t value, unsigned base, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    wchar_t buffer[32];
    int n = 0;
    do {
        buffer[n++] = static_cast<wchar_t>(digits[value % base]);
        value /= base;
    } while (value);
    std::wstring text;
    while (n)
        text += buffer[--n];
    return text;
}

int64_t SignedArgument(Length length, va_list& args) {
    switch (length) {
        case Length::hh:
            return static_cast<signed char>(va_arg(args, int));
        case Length::h:
            return static_cast<short>(va_arg(args, int));
        case Length::l:
            return va_arg(args, long);
        case Length::ll:
            return va_arg(args, long long);
        case Length::j:
            return static_cast<int64_t>(va_arg(args, intmax_t));
        case Length::z:
        case Length::t:
        case Length::I:
            return va_arg(args, ptrdiff_t);
        case Length::I32:
            return va_arg(args, int32_t);
        case Length::I64:
            return va_arg(args, int64_t);
        default:
            return va_arg(args, int);
    }
}

uint64_t UnsignedArgument(Length length, va_list& args) {
    switch (length) {
        case Length::hh:
            return static_cast<unsigned char>(va_arg(args, unsigned));
        case Length::h:
            return static_cast<unsigned short>(va_arg(args, unsigned));
        case Length::l:
            return va_arg(args, unsigned long);
        case Length::ll:
            return va_arg(args, unsigned long long);
        case Length::j:
            return static_cast<uint64_t>(va_arg(args, uintmax_t));
        case Length::z:
        case Length::t:
        case Length::I:
            return va_arg(args, size_t);
        case Length::I32:
            return va_arg(args, uint32_t);
        case Length::I64:
            return va_arg(args, uint64_t);
        default:
            return va_arg(args, unsigned);
    }
}

void Integer(std::wstring& out, const Directive& directive, wchar_t conversion, va_list& args) {
    bool isSigned = conversion == L'd' || conversion == L'i';
    bool negative = false;
    uint64_t magnitude;
    if (isSigned) {
        int64_t value = SignedArgument(directive.length, args);
        negative = value < 0;
        magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    } else {
        magnitude = UnsignedArgument(directive.length, args);
    }
    unsigned base = conversion == L'o' ? 8 : (conversion == L'x' || conversion == L'X') ? 16 : 10;
    std::wstring body;
    if (!(directive.precision == 0 && magnitude == 0))
        body = Digits(magnitude, base, conversion == L'X');
    if (directive.precision > 0 && body.size() < static_cast<size_t>(directive.precision))
        body.insert(0, directive.precision - body.size(), L'0');
    std::wstring prefix;
    if (isSigned) {
        if (negative)
            prefix = L"-";
        else if (directive.plus)
            prefix = L"+";
        else if (directive.space)
            prefix = L" ";
    }
    if (directive.alt && base == 16 && magnitude != 0)
        prefix = conversion == L'X' ? L"0X" : L"0x";
    if (directive.alt && base == 8 && (body.empty() || body[0] != L'0'))
        body.insert(0, 1, L'0');
    Field(out, directive, prefix, body,
          directive.zero && !directive.left && directive.precision < 0);
}

void Text(std::wstring& out, const Directive& directive, bool wide, va_list& args) {
    std::wstring body;
    if (wide) {
        const wchar_t* text = va_arg(args, const wchar_t*);
        if (!text) {
            body = L"(null)";
        } else if (directive.precision >= 0) {
            size_t n = 0;
            while (n < static_cast<size_t>(directive.precision) && text[n])
                ++n;
            body.assign(text, n);
        } else {
            body = text;
        }
    } else {
        const char* text = va_arg(args, const char*);
        if (!text) {
            body = L"(null)";
        } else if (directive.precision >= 0) {
            // The precision counts bytes of the narrow text, as the C library does.
            size_t n = 0;
            while (n < static_cast<size_t>(directive.precision) && text[n])
                ++n;
            body = standin::FromUtf8(std::string(text, n));
        } else {
            body = standin::FromUtf8(text);
        }
    }
    if (directive.precision >= 0 && body.size() > static_cast<size_t>(directive.precision))
        body.resize(directive.precision);
    Field(out, directive, std::wstring(), body, false);
}

void Character(std::wstring& out, const Directive& directive, bool wide, va_list& args) {
    int value = va_arg(args, int);
    wchar_t c = wide ? static_cast<wchar_t>(value)
                     : static_cast<wchar_t>(static_cast<unsigned char>(value));
    Field(out, directive, std::wstring(), std::wstring(1, c), false);
}

void Floating(std::wstring& out, const Directive& directive, wchar_t conversion, va_list& args) {
    // A narrow format of our own making: flags, then "*.*", the length and the conversion.
    char format[16];
    int n = 0;
    format[n++] = '%';
    if (directive.left)
        format[n++] = '-';
    if (directive.plus)
        format[n++] = '+';
    if (directive.space)
        format[n++] = ' ';
    if (directive.zero)
        format[n++] = '0';
    if (directive.alt)
        format[n++] = '#';
    format[n++] = '*';
    format[n++] = '.';
    format[n++] = '*';
    if (directive.length == Length::L)
        format[n++] = 'L';
    format[n++] = static_cast<char>(conversion);
    format[n] = '\0';

    std::string digits;
    auto print = [&](auto value) {
        int size = std::snprintf(nullptr, 0, format, directive.width, directive.precision, value);
        if (size <= 0)
            return;
        digits.resize(static_cast<size_t>(size) + 1);
        std::snprintf(&digits[0], digits.size(), format, directive.width, directive.precision,
                      value);
        digits.resize(static_cast<size_t>(size));
    };
    if (directive.length == Length::L)
        print(va_arg(args, long double));
    else
        print(va_arg(args, double));
    out.append(digits.begin(), digits.end());
}

void Pointer(std::wstring& out, const Directive& directive, va_list& args) {
    auto value = reinterpret_cast<uintptr_t>(va_arg(args, void*));
    std::wstring body = Digits(value, 16, true);
    if (body.size() < 2 * sizeof(void*))
        body.insert(0, 2 * sizeof(void*) - body.size(), L'0');
    Field(out, directive, std::wstring(), body, false);
}

int ReadNumber(const wchar_t*& p) {
    long long value = 0;
    for (; *p >= L'0' && *p <= L'9'; ++p)
        if (value <= kMaxField)
            value = value * 10 + (*p - L'0');
    return value > kMaxField ? kMaxField : static_cast<int>(value);
}

}  // namespace

namespace standin {

std::wstring FormatV(const wchar_t* format, va_list args) {
    std::wstring out;
    if (!format)
        return out;
    // va_list is an array on some systems; work on a copy held by reference-safe storage.
    va_list list;
    va_copy(list, args);
    for (const wchar_t* p = format; *p;) {
        if (*p != L'%') {
            const wchar_t* run = p;
            while (*p && *p != L'%')
                ++p;
            out.append(run, p);
            continue;
        }
        const wchar_t* start = p++;
        Directive directive;
        for (;; ++p) {
            if (*p == L'-')
                directive.left = true;
            else if (*p == L'+')
                directive.plus = true;
            else if (*p == L' ')
                directive.space = true;
            else if (*p == L'0')
                directive.zero = true;
            else if (*p == L'#')
                directive.alt = true;
            else
                break;
        }
        if (*p == L'*') {
            ++p;
            int width = va_arg(list, int);
            if (width < 0) {
                directive.left = true;
                width = width == INT32_MIN ? kMaxField : -width;
            }
            directive.width = width > kMaxField ? kMaxField : width;
        } else {
            directive.width = ReadNumber(p);
        }
        if (*p == L'.') {
            ++p;
            if (*p == L'*') {
                ++p;
                int precision = va_arg(list, int);
                directive.precision = precision < 0           ? -1
                                      : precision > kMaxField ? kMaxField
                                                              : precision;
            } else {
                directive.precision = ReadNumber(p);
            }
        }
        switch (*p) {
            case L'h':
                ++p;
                directive.length = Length::h;
                if (*p == L'h')
                    ++p, directive.length = Length::hh;
                break;
            case L'l':
                ++p;
                directive.length = Length::l;
                if (*p == L'l')
                    ++p, directive.length = Length::ll;
                break;
            case L'L':
                ++p, directive.length = Length::L;
                break;
            case L'j':
                ++p, directive.length = Length::j;
                break;
            case L'z':
                ++p, directive.length = Length::z;
                break;
            case L't':
                ++p, directive.length = Length::t;
                break;
            case L'w':
                ++p, directive.length = Length::w;
                break;
            case L'I':
                ++p;
                directive.length = Length::I;
                if (p[0] == L'6' && p[1] == L'4')
                    p += 2, directive.length = Length::I64;
                else if (p[0] == L'3' && p[1] == L'2')
                    p += 2, directive.length = Length::I32;
                break;
            default:
                break;
        }
        wchar_t conversion = *p;
        if (conversion)
            ++p;
        bool forcedNarrow = directive.length == Length::h || directive.length == Length::hh;
        bool forcedWide = directive.length == Length::l || directive.length == Length::w;
        switch (conversion) {
            case L'd':
            case L'i':
            case L'u':
            case L'o':
            case L'x':
            case L'X':
                Integer(out, directive, conversion, list);
                break;
            case L's':
                Text(out, directive, !forcedNarrow, list);
                break;
            case L'S':
                Text(out, directive, forcedWide, list);
                break;
            case L'c':
                Character(out, directive, !forcedNarrow, list);
                break;
            case L'C':
                Character(out, directive, forcedWide, list);
                break;
            case L'f':
            case L'F':
            case L'e':
            case L'E':
            case L'g':
            case L'G':
            case L'a':
            case L'A':
                Floating(out, directive, conversion, list);
                break;
            case L'p':
                Pointer(out, directive, list);
                break;
            case L'n':
                (void)va_arg(list, void*);
                break;
            case L'%':
                out += L'%';
                break;
            default:
                out.append(start, p);
                break;
        }
    }
    va_end(list);
    return out;
}

std::wstring Format(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text = FormatV(format, args);
    va_end(args);
    return text;
}

}  // namespace standin
