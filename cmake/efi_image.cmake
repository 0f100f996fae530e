# Builds a PE32+ x86-64 UEFI image from freestanding C++ with gnu-efi (the
# firmware tests' doubles and probes; the two drivers are built by EDK II,
# cmake/edk2_package.cmake): our own entry point
# (startup/image_start.S: the UEFI calling convention, gnu-efi's _relocate,
# then efi_main), gnu-efi's linker script, then objcopy to efi-bsdrv (a
# boot-service driver, the default) or, with SUBSYSTEM app, to efi-app (an
# application).
#   tiv_add_efi_image(NAME [SUBSYSTEM bsdrv|app] sources...)
# Nothing of the host's libgcc is linked (its objects use the red zone):
# compiler_support/ provides the few compiler support routines the images
# call, and the link map (NAME.map) lets the image check prove it.
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
# GNU_EFI_USE_MS_ABI, which makes EFIAPI the Microsoft convention (and without
# which include/efi/uefi.h refuses to compile), comes from the top-level
# CMakeLists.txt, for the images as for every host target.
# -ffunction-sections -fdata-sections: one section per function and object,
# so that the link drops what nothing calls or reads (--gc-sections).
# gnu-efi's linker script gathers .data.* into the image's .data but only a
# plain .bss: with -fdata-sections every zero-initialised object has a .bss.*
# section of its own, which would become a section the PE image leaves out,
# so the object would hold whatever memory held. The images link with a copy
# of that script that gathers .bss.* too (TIV_EFI_LDS below); the image check
# refuses any writable section outside .data.
set(TIV_EFI_CXXFLAGS
    -fvisibility=hidden -ffreestanding -fno-exceptions -fno-rtti -fno-threadsafe-statics
    -fno-stack-protector -fno-stack-check -fshort-wchar -mno-red-zone -mgeneral-regs-only
    -maccumulate-outgoing-args -fpic -fno-asynchronous-unwind-tables -ffunction-sections
    -fdata-sections
    -DEFI_FUNCTION_WRAPPER -DTIV_DIAG_PRINT_ENABLED=0 -O2)
# C sources (a caller written in C, as platform drivers often are) and
# assembly: the same code generation, less the switches only C++ knows.
set(TIV_EFI_CFLAGS ${TIV_EFI_CXXFLAGS})
list(REMOVE_ITEM TIV_EFI_CFLAGS -fno-exceptions -fno-rtti -fno-threadsafe-statics)
set(TIV_EFI_LDS ${CMAKE_BINARY_DIR}/elf_x86_64_efi.lds)
file(READ /usr/lib/elf_x86_64_efi.lds tiv_lds)
string(REPLACE "*(.bss)" "*(.bss)\n   *(.bss.*)" tiv_lds_bss "${tiv_lds}")
if(tiv_lds_bss STREQUAL tiv_lds)
  message(FATAL_ERROR "/usr/lib/elf_x86_64_efi.lds has no *(.bss) line to extend")
endif()
file(WRITE ${TIV_EFI_LDS} "${tiv_lds_bss}")
set(TIV_EFI_IMAGE_START ${CMAKE_SOURCE_DIR}/startup/image_start.S)
file(GLOB TIV_EFI_COMPILER_SUPPORT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/compiler_support/*.c)
# Every image carries the project's version string (startup/image_version.c).
set(TIV_EFI_IMAGE_VERSION ${CMAKE_SOURCE_DIR}/startup/image_version.c)

function(tiv_add_efi_image NAME)
  cmake_parse_arguments(PARSE_ARGV 1 image "" "SUBSYSTEM" "")
  if(NOT image_SUBSYSTEM)
    set(image_SUBSYSTEM bsdrv)
  endif()
  set(objs ${NAME}_objs)
  add_library(${objs} OBJECT ${TIV_EFI_IMAGE_START} ${TIV_EFI_COMPILER_SUPPORT_SOURCES}
                             ${TIV_EFI_IMAGE_VERSION} ${image_UNPARSED_ARGUMENTS})
  # Source properties belong to a folder: set for the folder of each image.
  set_source_files_properties(${TIV_EFI_IMAGE_VERSION} TARGET_DIRECTORY ${objs} PROPERTIES
                              COMPILE_DEFINITIONS TIV_VERSION="${PROJECT_VERSION}")
  target_compile_options(${objs} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${TIV_EFI_CXXFLAGS}>
                                        $<$<COMPILE_LANGUAGE:C,ASM>:${TIV_EFI_CFLAGS}>)
  set_target_properties(${objs} PROPERTIES C_STANDARD 11 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
  # The host build type flags (-g, -O) are fine; sanitizers never reach here
  # because the images are not built in the sanitizer preset.
  set(so ${CMAKE_CURRENT_BINARY_DIR}/${NAME}.so)
  set(efi ${CMAKE_CURRENT_BINARY_DIR}/${NAME}.efi)
  set(map ${CMAKE_CURRENT_BINARY_DIR}/${NAME}.map)
  add_custom_command(
    OUTPUT ${so} ${map}
    COMMAND ${TIV_LD} -shared -Bsymbolic -nostdlib -znocombreloc --no-undefined --gc-sections
            -Map=${map} -T ${TIV_EFI_LDS} -e EfiImageStart -u TivImageVersion
            $<TARGET_OBJECTS:${objs}> -o ${so} -L/usr/lib -lefi -lgnuefi
    DEPENDS ${objs} $<TARGET_OBJECTS:${objs}>
    COMMAND_EXPAND_LISTS VERBATIM)
  # The PE image needs code, data, the base relocations, and the dynamic
  # section and its RELA entries (which the start-up code applies). Symbols
  # (the ELF link keeps them for debugging) and the dynamic symbol table are
  # left out: firmware reads neither.
  add_custom_command(
    OUTPUT ${efi}
    COMMAND ${TIV_OBJCOPY} -j .text -j .sdata -j .data -j .rodata -j .dynamic -j .rel -j .rela
            -j .rel.* -j .rela.* -j .reloc --strip-all
            --target efi-${image_SUBSYSTEM}-x86_64 ${so} ${efi}
    DEPENDS ${so} VERBATIM)
  add_custom_target(${NAME} ALL DEPENDS ${efi})
  set_property(GLOBAL PROPERTY TIV_IMAGE_${NAME} ${efi})
endfunction()
