// The control's registration under HKEY_CLASSES_ROOT: its program identifiers (the versioned one and
// the version-independent one), its class key with the in-process server, and its type library with
// the scripting interface. Registering also deletes the program identifiers of older versions, which
// would otherwise still name a class that is gone.
//
// Failures are the registry's exceptions (CRegistryException subclasses), raised at the first key
// that cannot be written. Removing what is not there is not a failure.
#pragma once

#include <string>

// `modulePath` is the file that serves the control (the in-process server's path).
void RegisterUploadPlugin(const std::string& modulePath);
void UnregisterUploadPlugin();
