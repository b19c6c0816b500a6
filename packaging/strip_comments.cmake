# Run by CPack before it builds the package (CPACK_PRE_BUILD_SCRIPTS): takes the compilers'
# .comment section (their version strings) out of the staged programs, as Debian's own
# packages are stripped. CPACK_STRIP_FILES has already removed the symbols.
file(GLOB programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/bin/*")
if(NOT programs)
  message(FATAL_ERROR "strip_comments.cmake: no programs in ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
foreach(program ${programs})
  execute_process(COMMAND "${CPACK_TABLADEX_OBJCOPY}" --remove-section=.comment "${program}"
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "strip_comments.cmake: ${CPACK_TABLADEX_OBJCOPY} failed on ${program}")
  endif()
endforeach()
