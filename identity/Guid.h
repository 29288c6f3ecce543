#pragma once

#include "host/String.h"
#include "host/XElement.h"
#include "platform/Platform.h"

// The identifiers that tie a source and its scene to the console: GUID text, kept in the host's
// configuration tree. Used by the plug-in's configure callback and by the source itself.
namespace vantrel {

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": uppercase, 38 characters.
String FormatGuid(const platform::Guid& guid);

// The identifier stored under `key` on `element`. While the stored text is empty (or absent) a new
// GUID text is made, stored and returned; a non-empty text is returned as it is, never replaced.
// When no GUID can be made, or there is no memory for the text, nothing is stored, a warning is
// logged and the empty text returned, so that the next call tries again; callers hand an empty
// identifier to no one.
String EnsureGuid(XElement* element, const wchar_t* key);

}  // namespace vantrel
