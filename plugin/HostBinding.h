#pragma once

// The module DLL's link to its host on Windows. The DLL imports nothing from the host's library by
// file name: its calls into the host go through the delay-load table, and the host's three globals
// are looked up by name. LoadPlugin finds the host's library among the modules loaded in the
// process by what it exports, checks that it fits what the module was built against, and only then
// binds the table and the globals to it.
//
// Threads: the host's thread that calls LoadPlugin; before any source exists.
namespace vantrel {

// Finds, checks and binds the host's library. True when the module is bound and may register its
// source class. False when no loaded module is the host's library or the one found does not fit:
// one line per difference has then gone to the host's log (when its Log could be found) and to the
// debugger's output, and nothing of the host has been called. Binding again later is harmless.
bool BindHost();

}  // namespace vantrel
