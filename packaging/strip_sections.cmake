# Run by CPack on the staged files before it packs them: drops the compiler's .comment and .note
# sections from the (already stripped) programs and the hive helper, as Debian's dh_strip does.
# Each package's files are staged in a folder named after its component.
file(GLOB programs "${CPACK_TEMPORARY_DIRECTORY}/*/usr/bin/*"
     "${CPACK_TEMPORARY_DIRECTORY}/*/usr/libexec/quelix-remover/*")
if(NOT programs)
  message(FATAL_ERROR "strip_sections: no programs in ${CPACK_TEMPORARY_DIRECTORY}/*/usr/bin")
endif()
foreach(program IN LISTS programs)
  execute_process(
    COMMAND "${CPACK_QUELIX_STRIP}" --remove-section=.comment --remove-section=.note "${program}"
    COMMAND_ERROR_IS_FATAL ANY)
endforeach()
