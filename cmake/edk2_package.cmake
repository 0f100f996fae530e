# The EDK II build of the drivers (integration/TivFirmwarePkg): EDK II's
# `build` on MdePkg, RELEASE and DEBUG, in the workspaces build/host/edk2/TARGET/ over
# the tree scripts/fetch-edk2.sh prepares (Debian's edk2 source package,
# BaseTools built once; a prepared tree costs nothing).
#   TIV_EDK2_DIR                    the prepared tree
#   TIV_EDK2_IMAGE_<module>_<TARGET>  the images (module AddrTranslateDxe or
#                                   MemTuneSmm, TARGET RELEASE or DEBUG), built
#                                   by the target edk2_package
#   TIV_EDK2_BUILD_DIR_<module>_<TARGET>  the module's build folder (the ELF
#                                   link, its symbols, map and .depex)
set(TIV_EDK2_DIR ${CMAKE_SOURCE_DIR}/build/edk2 CACHE PATH
    "EDK II tree prepared by scripts/fetch-edk2.sh (MdePkg, BaseTools)")
set(TIV_EDK2_JOBS 1 CACHE STRING
    "Threads of EDK II's build (beside the other build jobs; scripts/build-edk2-package.sh alone takes 2)")
set(TIV_EDK2_WORKSPACE ${CMAKE_BINARY_DIR}/edk2)
set(TIV_EDK2_MODULES AddrTranslateDxe MemTuneSmm)

# The DSC's own default version (for a build without -D TIV_VERSION) is the
# project's.
file(STRINGS ${CMAKE_SOURCE_DIR}/integration/TivFirmwarePkg/TivFirmwarePkg.dsc tiv_dsc_version
     REGEX "DEFINE TIV_VERSION")
if(NOT tiv_dsc_version MATCHES "= ${PROJECT_VERSION}$")
  message(FATAL_ERROR "TivFirmwarePkg.dsc: '${tiv_dsc_version}', but the project is ${PROJECT_VERSION}")
endif()

# Everything the package build reads from this project.
file(GLOB_RECURSE tiv_edk2_inputs CONFIGURE_DEPENDS
     ${CMAKE_SOURCE_DIR}/integration/TivFirmwarePkg/* ${CMAKE_SOURCE_DIR}/addr_translate/*
     ${CMAKE_SOURCE_DIR}/mem_tune/* ${CMAKE_SOURCE_DIR}/diag/* ${CMAKE_SOURCE_DIR}/hw/*
     ${CMAKE_SOURCE_DIR}/include/* ${CMAKE_SOURCE_DIR}/registers/*
     ${CMAKE_SOURCE_DIR}/compiler_support/*)

# RELEASE and DEBUG each in a workspace of its own (EDK II's build keeps its
# Conf/ and caches there), so that the two builds may run side by side.
set(tiv_edk2_outputs "")
foreach(target RELEASE DEBUG)
  set(workspace ${TIV_EDK2_WORKSPACE}/${target})
  set(dir ${workspace}/Build/TivFirmwarePkg/${target}_GCC5/X64)
  set(outputs_${target} "")
  foreach(module IN LISTS TIV_EDK2_MODULES)
    set(TIV_EDK2_IMAGE_${module}_${target} ${dir}/${module}.efi)
    set(TIV_EDK2_BUILD_DIR_${module}_${target} ${dir}/TivFirmwarePkg/${module}/${module})
    list(APPEND outputs_${target} ${dir}/${module}.efi)
  endforeach()
  list(APPEND tiv_edk2_outputs ${outputs_${target}})
endforeach()
# The tree itself (at no cost once prepared). What the host tests compile
# from it (tests/CMakeLists.txt) is a byproduct, so a tree not yet fetched
# does not stop the configuration.
set(TIV_EDK2_HOB_LIB_SOURCE ${TIV_EDK2_DIR}/src/MdePkg/Library/DxeHobLib/HobLib.c)
set(tiv_edk2_tree_stamp ${CMAKE_BINARY_DIR}/edk2-tree.stamp)
add_custom_command(
  OUTPUT ${tiv_edk2_tree_stamp}
  BYPRODUCTS ${TIV_EDK2_HOB_LIB_SOURCE}
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/fetch-edk2.sh ${TIV_EDK2_DIR}
  COMMAND ${CMAKE_COMMAND} -E touch ${tiv_edk2_tree_stamp}
  DEPENDS ${CMAKE_SOURCE_DIR}/scripts/fetch-edk2.sh
  COMMENT "EDK II: preparing ${TIV_EDK2_DIR}" USES_TERMINAL VERBATIM)
add_custom_target(edk2_tree DEPENDS ${tiv_edk2_tree_stamp})
foreach(target RELEASE DEBUG)
  add_custom_command(
    OUTPUT ${outputs_${target}}
    COMMAND ${CMAKE_COMMAND} -E env EDK2_JOBS=${TIV_EDK2_JOBS}
            ${CMAKE_SOURCE_DIR}/scripts/build-edk2-package.sh ${TIV_EDK2_DIR}
            ${TIV_EDK2_WORKSPACE}/${target} ${target} -D TIV_VERSION=${PROJECT_VERSION}
    DEPENDS ${tiv_edk2_inputs} ${CMAKE_SOURCE_DIR}/scripts/build-edk2-package.sh
            ${tiv_edk2_tree_stamp} edk2_tree
    COMMENT "EDK II: building TivFirmwarePkg (${target})" VERBATIM)
endforeach()
add_custom_target(edk2_package ALL DEPENDS ${tiv_edk2_outputs})

# The shipped images: the RELEASE ones, as build/host/AddrTranslateDxe.efi and
# build/host/MemTuneSmm.efi (targets of the same names), which the packages
# install (property TIV_IMAGE_<module>) and the firmware tests boot
# (TIV_TESTED_IMAGE_<module>, built by TIV_TESTED_IMAGE_TARGET_<module>).
foreach(module IN LISTS TIV_EDK2_MODULES)
  set(shipped ${CMAKE_BINARY_DIR}/${module}.efi)
  add_custom_command(OUTPUT ${shipped}
                     COMMAND ${CMAKE_COMMAND} -E copy ${TIV_EDK2_IMAGE_${module}_RELEASE} ${shipped}
                     DEPENDS ${TIV_EDK2_IMAGE_${module}_RELEASE} edk2_package VERBATIM)
  add_custom_target(${module} ALL DEPENDS ${shipped})
  set_property(GLOBAL PROPERTY TIV_IMAGE_${module} ${shipped})
  set(TIV_TESTED_IMAGE_${module} ${shipped})
  set(TIV_TESTED_IMAGE_TARGET_${module} ${module})
endforeach()

# The image check of every EDK II-built image (tests/firmware/check_image.sh:
# the same limits as the images of this tree's own link), and EDK II's
# dependency expressions, compiled by its build from the INFs' [Depex], byte
# for byte the ones fvtool compiles from the binary INFs (integration/).
#   tiv_edk2_image_tests()   after tests/firmware and integration/ are added
function(tiv_edk2_image_tests)
  set(max_AddrTranslateDxe 32768)
  set(max_MemTuneSmm 16384)
  foreach(target RELEASE DEBUG)
    foreach(module IN LISTS TIV_EDK2_MODULES)
      set(dir ${TIV_EDK2_BUILD_DIR_${module}_${target}})
      add_test(NAME image_headers_edk2_${module}_${target}
               COMMAND bash ${CMAKE_SOURCE_DIR}/tests/firmware/check_image.sh
                       ${TIV_EDK2_IMAGE_${module}_${target}} ${dir}/DEBUG/${module}.dll 11
                       ${max_${module}})
      set_tests_properties(image_headers_edk2_${module}_${target} PROPERTIES LABELS "image;edk2")
    endforeach()
  endforeach()
  foreach(module IN LISTS TIV_EDK2_MODULES)
    add_test(NAME edk2_depex_${module}
             COMMAND ${CMAKE_COMMAND} -E compare_files
                     ${TIV_EDK2_BUILD_DIR_${module}_RELEASE}/OUTPUT/${module}.depex
                     ${CMAKE_BINARY_DIR}/${module}.depex)
    set_tests_properties(edk2_depex_${module} PROPERTIES LABELS "image;edk2")
  endforeach()
endfunction()
