# Builds a PE32+ x86-64 UEFI image from freestanding C++: our own entry point
# (startup/image_start.S: the UEFI calling convention, gnu-efi's _relocate,
# then efi_main), gnu-efi's linker script, then objcopy to efi-bsdrv (a
# boot-service driver, the default) or, with SUBSYSTEM app, to efi-app (an
# application).
#   tiv_add_efi_image(NAME [SUBSYSTEM bsdrv|app] sources...)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-libgcc-file-name
                OUTPUT_VARIABLE TIV_LIBGCC OUTPUT_STRIP_TRAILING_WHITESPACE)
find_program(TIV_LD ld REQUIRED)
find_program(TIV_OBJCOPY objcopy REQUIRED)

# -fvisibility=hidden: the start-up code's _relocate applies only
# R_X86_64_RELATIVE relocations; default-visibility symbols (inline constexpr
# GUIDs among them) would be reached through GOT entries with GLOB_DAT
# relocations that nobody applies in firmware.
# -mgeneral-regs-only: no SSE. Firmware calls the images with the UEFI
# convention, in which XMM6-15 are callee-saved; code without SSE never touches
# them, and never needs CR4.OSFXSR or the 16-byte-aligned stack that SMM entry
# and AP procedures do not promise.
# GNU_EFI_USE_MS_ABI makes EFIAPI the Microsoft convention (include/efi/uefi.h
# refuses to compile without it).
set(TIV_EFI_CXXFLAGS
    -fvisibility=hidden -ffreestanding -fno-exceptions -fno-rtti -fno-threadsafe-statics
    -fno-stack-protector -fno-stack-check -fshort-wchar -mno-red-zone -mgeneral-regs-only
    -maccumulate-outgoing-args -fpic -fno-asynchronous-unwind-tables
    -DGNU_EFI_USE_MS_ABI -DEFI_FUNCTION_WRAPPER -DTIV_DIAG_PRINT_ENABLED=0 -O2)
# C sources (a caller written in C, as platform drivers often are) and
# assembly: the same code generation, less the switches only C++ knows.
set(TIV_EFI_CFLAGS ${TIV_EFI_CXXFLAGS})
list(REMOVE_ITEM TIV_EFI_CFLAGS -fno-exceptions -fno-rtti -fno-threadsafe-statics)
set(TIV_EFI_IMAGE_START ${CMAKE_SOURCE_DIR}/startup/image_start.S)

function(tiv_add_efi_image NAME)
  cmake_parse_arguments(PARSE_ARGV 1 image "" "SUBSYSTEM" "")
  if(NOT image_SUBSYSTEM)
    set(image_SUBSYSTEM bsdrv)
  endif()
  set(objs ${NAME}_objs)
  add_library(${objs} OBJECT ${TIV_EFI_IMAGE_START} ${image_UNPARSED_ARGUMENTS})
  target_compile_options(${objs} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${TIV_EFI_CXXFLAGS}>
                                        $<$<COMPILE_LANGUAGE:C,ASM>:${TIV_EFI_CFLAGS}>)
  set_target_properties(${objs} PROPERTIES C_STANDARD 11 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
  # The host build type flags (-g, -O) are fine; sanitizers never reach here
  # because the images are not built in the sanitizer preset.
  set(so ${CMAKE_CURRENT_BINARY_DIR}/${NAME}.so)
  set(efi ${CMAKE_CURRENT_BINARY_DIR}/${NAME}.efi)
  add_custom_command(
    OUTPUT ${so}
    COMMAND ${TIV_LD} -shared -Bsymbolic -nostdlib -znocombreloc --no-undefined
            -T /usr/lib/elf_x86_64_efi.lds -e EfiImageStart
            $<TARGET_OBJECTS:${objs}> -o ${so} -L/usr/lib -lefi -lgnuefi ${TIV_LIBGCC}
    DEPENDS ${objs} $<TARGET_OBJECTS:${objs}>
    COMMAND_EXPAND_LISTS VERBATIM)
  add_custom_command(
    OUTPUT ${efi}
    COMMAND ${TIV_OBJCOPY} -j .text -j .sdata -j .data -j .rodata -j .dynamic -j .dynsym
            -j .rel -j .rela -j .rel.* -j .rela.* -j .reloc
            --target efi-${image_SUBSYSTEM}-x86_64 ${so} ${efi}
    DEPENDS ${so} VERBATIM)
  add_custom_target(${NAME} ALL DEPENDS ${efi})
  set_property(GLOBAL PROPERTY TIV_IMAGE_${NAME} ${efi})
endfunction()
