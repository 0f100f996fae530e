# Build-time uses of fvtool (tools/fvtool), for the images' deliverables and
# for tests that boot firmware with our drivers in its volume.
#
#   tiv_patched_firmware(OUTPUT out.fd BASE in.fd ADD spec... [DEC file...]
#                        [DEPENDS file-or-target...] [LEVEL 0-9] [TARGET name])
# runs `fvtool insert BASE -o OUTPUT --dec ... --add ...` when OUTPUT is
# older than fvtool, BASE, the DEC files, or the image and INF that a spec
# names (TYPE:PATH.efi[,inf=FILE.inf]...: both are added to the
# dependencies). All specs go in with one recompression. TARGET makes a target
# that builds OUTPUT with `all`.
#
#   tiv_depex_file(OUTPUT file.depex INF file.inf [DEC file...])
# writes the INF's compiled [Depex] expression as an EDK II .depex file (the
# expression's bytes, no section header).
function(tiv_patched_firmware)
  cmake_parse_arguments(PARSE_ARGV 0 fw "" "OUTPUT;BASE;LEVEL;TARGET" "DEC;ADD;DEPENDS")
  if(NOT fw_OUTPUT OR NOT fw_BASE OR NOT fw_ADD)
    message(FATAL_ERROR "tiv_patched_firmware: OUTPUT, BASE and ADD are required")
  endif()
  set(args)
  set(deps fvtool ${fw_BASE} ${fw_DEC} ${fw_DEPENDS})
  foreach(dec ${fw_DEC})
    list(APPEND args --dec ${dec})
  endforeach()
  foreach(add ${fw_ADD})
    list(APPEND args --add ${add})
    if(add MATCHES "^[a-z]+:([^,]+)")
      list(APPEND deps ${CMAKE_MATCH_1})
    endif()
    if(add MATCHES ",inf=([^,]+)")
      list(APPEND deps ${CMAKE_MATCH_1})
    endif()
  endforeach()
  if(DEFINED fw_LEVEL)
    list(APPEND args --level ${fw_LEVEL})
  endif()
  add_custom_command(
    OUTPUT ${fw_OUTPUT}
    COMMAND fvtool insert ${fw_BASE} -o ${fw_OUTPUT} ${args}
    DEPENDS ${deps}
    COMMENT "fvtool: inserting into ${fw_OUTPUT}"
    VERBATIM)
  if(fw_TARGET)
    add_custom_target(${fw_TARGET} ALL DEPENDS ${fw_OUTPUT})
  endif()
endfunction()

function(tiv_depex_file)
  cmake_parse_arguments(PARSE_ARGV 0 dx "" "OUTPUT;INF" "DEC")
  set(args)
  foreach(dec ${dx_DEC})
    list(APPEND args --dec ${dec})
  endforeach()
  add_custom_command(
    OUTPUT ${dx_OUTPUT}
    COMMAND fvtool depex --inf ${dx_INF} ${args} -o ${dx_OUTPUT}
    DEPENDS fvtool ${dx_INF} ${dx_DEC}
    COMMENT "fvtool: dependency expression of ${dx_INF}"
    VERBATIM)
endfunction()
