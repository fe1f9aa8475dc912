// The format archetype of the module's printf-style functions, so that the compiler checks their
// arguments against the printf that really formats them.
#pragma once

#if defined(__MINGW32__)
// mingw-w64's printf family is msvcrt's (no %zu, %lld or %hhu) unless __USE_MINGW_ANSI_STDIO is 1;
// the Windows tool chain file defines it, so our formatting is C99's, which GCC calls gnu_printf
// there (its plain "printf" means msvcrt's on this target).
#if !defined(__USE_MINGW_ANSI_STDIO) || !__USE_MINGW_ANSI_STDIO
#error "the module formats with C99 conversions: build with __USE_MINGW_ANSI_STDIO=1"
#endif
#define KESTRAV_PRINTF_FORMAT(formatIndex, firstArgument) \
    __attribute__((format(gnu_printf, formatIndex, firstArgument)))
#else
#define KESTRAV_PRINTF_FORMAT(formatIndex, firstArgument) __attribute__((format(printf, formatIndex, firstArgument)))
#endif
