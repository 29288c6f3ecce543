#include "plugin/Guid.h"

#include <cstdio>

#include "host/Log.h"

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
    String stored(element->GetString(key, L""));
    if (!stored.IsEmpty())
        return stored;

    platform::Guid guid = {};
    if (!platform::Current().NewGuid(guid)) {
        Log(L"EnsureGuid: Warning, could not create an identifier for \"%s\"; will try again", key);
        return String();
    }
    String made = FormatGuid(guid);
    element->SetString(key, made.Array());
    return made;
}

}  // namespace vantrel
