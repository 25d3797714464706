// The control's fixed identities: the class of the control object, its type library and its
// scripting interface. They name the product to every page and registry that knows it, so they never
// change.
#pragma once

// Braced, upper case, as registry keys write them.
inline constexpr const char* kClassIdUploadPlugin = "{5A17422E-FD51-4800-8A8E-0EB1018D3E34}";
inline constexpr const char* kTypeLibIdUploadPlugin = "{E2C9F20D-70DD-44ED-A1EA-CEE8AB65472D}";
inline constexpr const char* kInterfaceIdUploadPlugin = "{42884AD0-14E2-4D9A-9D1E-B26C5608D461}";
