#pragma once

#include "host/APIInterface.h"
#include "host/ImageSource.h"
#include "host/XElement.h"

// The module's face towards the host. The exported C functions forward here.
namespace vantrel {

extern const wchar_t kPluginName[];
extern const wchar_t kPluginDescription[];

// The platform's load notification: stores the instance handle on process attach (reason 1) only.
// Always returns true.
bool OnModuleLoad(void* instance, unsigned long reason);
// The handle stored by the load notification; null before it.
void* ModuleHandle();

bool LoadPlugin();
void UnloadPlugin();
const wchar_t* GetPluginName();
const wchar_t* GetPluginDescription();

// The create callback: a new source for the data element, or null (null element, no memory).
ImageSource* CreateBitmapSource(XElement* data);
// The configure callback: makes sure the source and its scene have identifiers and hands both to
// the controller console. False for a null element or one without a container element.
bool ConfigureBitmapSource(XElement* element, bool creating);

// Not for the host, which has no need of it: a host program that wants repeatable runs (the effect
// player) waits through it until a background load ("backgroundLoad" 1) of `source`, a source this
// module made, has finished, so that the next Advance shows it. At once when none is loading.
void WaitForBackgroundLoad(ImageSource* source);
// Not for the host either: the frames of `source` that came due before its background load's
// worker had decoded them, since the source was made (0 for anything else).
unsigned long long LateFrames(ImageSource* source);

}  // namespace vantrel
