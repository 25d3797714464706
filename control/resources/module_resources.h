// The module's resources, compiled in from the sources beside this header: message tables 107, 109
// and 110, the string table, and the bitmaps drawn by tools/bitmaps/. The host installs them with
// platform::SetResourceModule.
#pragma once

#include "platform/resources.h"

const platform::ResourceModule& PxModuleResources();

// From product.defs.
extern const char* const kPxVersion;      // "2.0.4.0"
extern const char* const kPxSupportEmail; // the address that customer-service texts end with
extern const char* const kPxProgramId;
