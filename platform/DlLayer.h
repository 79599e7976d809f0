// DlLayer: run-time loading of shared libraries for the engine (the GPU bridge): open, look up,
// close, the loader's last error text, and the folder of the library this code is linked into.
// Thread-safe as the system loader is; the error text belongs to the calling thread.
#pragma once
#include <string>

// Opens with lazy binding and local symbols; null when the library cannot be opened.
void* dlLayerOpen(const char* path);
// Opens as plug-in hosts do, binding every symbol at once (a missing one fails here, not in a
// later call) with local symbols; null when the library cannot be opened.
void* dlLayerOpenNow(const char* path);
// Address of the named symbol, or null (also for a null handle or name).
void* dlLayerSymbol(void* handle, const char* name);
// Closes a handle from dlLayerOpen; true on success. A null handle does nothing and gives false.
bool dlLayerClose(void* handle);
// The loader's text for the calling thread's last failure, or an empty text.
std::string dlLayerError();
// Folder, with a trailing '/', of the shared object (or program) holding this code; "./" when the
// loader cannot tell, so that a name built on it never makes the loader search its own paths.
std::string dlLayerOwnFolder();
