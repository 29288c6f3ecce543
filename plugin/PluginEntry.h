#pragma once

#include <chrono>

#include "host/APIInterface.h"
#include "host/ImageSource.h"
#include "host/XElement.h"

// The module's face towards the host. The exported C functions forward here.
//
// Threads: every call comes on a thread of the host's, one at a time; the module starts threads of
// its own only for the opt-in background load ("backgroundLoad" 1), and none of the calls here
// waits for one, except UnloadPlugin.
namespace vantrel {

// The longest UnloadPlugin waits for the background load's workers.
constexpr std::chrono::milliseconds kUnloadWait{2000};

extern const wchar_t kPluginName[];
extern const wchar_t kPluginDescription[];

// The platform's load notification: stores the instance handle on process attach (reason 1) only.
// Always returns true.
bool OnModuleLoad(void* instance, unsigned long reason);
// The handle stored by the load notification; null before it.
void* ModuleHandle();

// Registers the source class. Never waits.
bool LoadPlugin();
// Ends the background load's workers: each is told to end, whether it decodes, reads or only
// waits for the source that shows its effect, and UnloadPlugin returns once every one has left the
// module's code (joined), within the frame or the read it is in: at most kUnloadWait. Only a read
// that never returns (a network share that stopped answering) outlasts that; UnloadPlugin then
// returns false and the export keeps the module loaded for the rest of the process, so that the
// worker never runs in a module that has gone. Without the setting there is no worker and it
// returns true at once. Sources still alive afterwards load their effects at once, and may be
// destroyed as before; LoadPlugin allows workers again.
bool UnloadPlugin();
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
// Not for the host either: what the module has done on the host's thread since it was loaded, as
// counts in a fixed order (image/HostWork.h: loads, decodes, textures made, uploaded and deleted
// with their bytes, blocks freed and their bytes, waits for a worker). Writes the first `capacity`
// of them to `counts` (none when it is null) and returns how many the module keeps, so that a
// program built against fewer or more of them reads what both know. A host program reads them
// before and after each call it makes, and so knows what each call did.
unsigned HostThreadWork(unsigned long long* counts, unsigned capacity);

}  // namespace vantrel
