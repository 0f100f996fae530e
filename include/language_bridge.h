// What lets the public headers compile as C11 as well as C++20, with the same
// layouts: a platform's own drivers are often written in C.
//   TIV_CONSTANT         a named constant: `inline constexpr` in C++, a
//                        `static const` object in C (usable in expressions and
//                        initialisers of automatic variables, not in case labels)
//   TIV_LAYOUT_ASSERT(c) a compile-time check: static_assert / _Static_assert
//   TIV_EDK2             the UEFI and PI definitions come from MdePkg, not from
//                        gnu-efi: defined by the project's EDK II build
//                        (TivFirmwarePkg), and in any other EDK II module (a
//                        platform's own caller), whose AutoGen.h has included
//                        MdePkg's base types before any of these headers
#pragma once

#if !defined(TIV_EDK2) && defined(__UEFI_BASETYPE_H__)
#define TIV_EDK2 1
#endif

#ifdef __cplusplus
#define TIV_CONSTANT inline constexpr
#define TIV_LAYOUT_ASSERT(condition) static_assert(condition, #condition)
#else
#define TIV_CONSTANT static const
#define TIV_LAYOUT_ASSERT(condition) _Static_assert(condition, #condition)
#endif
