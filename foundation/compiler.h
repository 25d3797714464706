// Compiler-specific annotations shared by every layer.
#pragma once

// Marks a printf-style function so that the compiler checks its format against the arguments.
// `fmt` is the 1-based position of the format, `args` that of the first variadic argument. MinGW's
// plain "printf" archetype checks against the C runtime's older formats and rejects "%zu" and "%lld",
// which our formatting (C99 vsnprintf) supports; "gnu_printf" checks the formats we actually use.
#if defined(__MINGW32__)
#define PX_PRINTF_FORMAT(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#elif defined(__GNUC__)
#define PX_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define PX_PRINTF_FORMAT(fmt, args)
#endif
