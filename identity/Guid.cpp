#include "identity/Guid.h"

#include <cstdio>

#include "log/ModuleLog.h"

namespace vantrel {

String FormatGuid(const platform::Guid& guid) {
    char text[64] = {};
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.Data1), static_cast<unsigned>(guid.Data2),
                  static_cast<unsigned>(guid.Data3), guid.Data4[0], guid.Data4[1], guid.Data4[2],
                  guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return String(text);
}

String EnsureGuid(XElement* element, const wchar_t* key) {
    // Whether one is stored is decided on the element's own text: a copy that got no memory is
    // empty too, and taking that for "missing" would replace an identifier the console knows.
    const wchar_t* stored = element->GetString(key, L"");
    if (stored && stored[0]) {
        String copy(stored);
        if (copy.IsEmpty())
            WriteLog<LogText::GuidNoMemoryToRead>(key);
        return copy;
    }

    platform::Guid guid = {};
    if (!platform::Current().NewGuid(guid)) {
        WriteLog<LogText::GuidNotCreated>(key);
        return String();
    }
    String made = FormatGuid(guid);
    if (made.IsEmpty()) {
        WriteLog<LogText::GuidNoMemoryForNew>(key);
        return String();
    }
    element->SetString(key, made.Array());
    return made;
}

}  // namespace vantrel
