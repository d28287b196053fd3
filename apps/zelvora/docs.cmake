# The manual page zelvora(1) and the bash and zsh completions, made at build
# time from the built tool: help2man reads its --help and --version, and
# tools/gen_cli_docs.py its command table (--command-table) for the options,
# the commands and what their values can be. A command or option added to the
# tool is therefore documented and completed at the next build.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_program(ZELVORA_HELP2MAN help2man)
find_program(ZELVORA_GZIP gzip REQUIRED)
if(NOT ZELVORA_HELP2MAN)
  message(FATAL_ERROR "help2man is needed for the manual page (tools/install-deps.sh installs it)")
endif()

set(ZELVORA_DOCS_DIR ${CMAKE_BINARY_DIR}/docs)
set(ZELVORA_MANUAL ${ZELVORA_DOCS_DIR}/zelvora.1)
set(ZELVORA_BASH_COMPLETION ${ZELVORA_DOCS_DIR}/zelvora.bash-completion)
set(ZELVORA_ZSH_COMPLETION ${ZELVORA_DOCS_DIR}/_zelvora)
set(generator ${CMAKE_SOURCE_DIR}/tools/gen_cli_docs.py)
set(sections ${CMAKE_CURRENT_SOURCE_DIR}/zelvora/zelvora.h2m)
set(languages ${ZELVORA_SOURCE_DATA_DIR}/lang/index.txt)

add_custom_command(
  OUTPUT ${ZELVORA_DOCS_DIR}/commands.h2m
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ZELVORA_DOCS_DIR}
  COMMAND Python3::Interpreter ${generator} manual $<TARGET_FILE:zelvora>
          ${ZELVORA_DOCS_DIR}/commands.h2m
  DEPENDS zelvora ${generator}
  COMMENT "Describing the commands of zelvora for its manual page"
  VERBATIM)
# The page's date is the build's, or SOURCE_DATE_EPOCH's when it is set. The
# commands come first, right after the options.
add_custom_command(
  OUTPUT ${ZELVORA_MANUAL} ${ZELVORA_MANUAL}.gz
  COMMAND ${ZELVORA_HELP2MAN} --no-info --section=1 --include=${ZELVORA_DOCS_DIR}/commands.h2m
          --include=${sections} --output=${ZELVORA_MANUAL}
          $<TARGET_FILE:zelvora>
  COMMAND ${ZELVORA_GZIP} -9nkf ${ZELVORA_MANUAL}
  DEPENDS zelvora ${sections} ${ZELVORA_DOCS_DIR}/commands.h2m
  COMMENT "Writing the manual page zelvora.1"
  VERBATIM)
add_custom_command(
  OUTPUT ${ZELVORA_BASH_COMPLETION}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ZELVORA_DOCS_DIR}
  COMMAND Python3::Interpreter ${generator} bash $<TARGET_FILE:zelvora> ${languages}
          ${ZELVORA_BASH_COMPLETION}
  DEPENDS zelvora ${generator} ${languages}
  COMMENT "Writing the bash completion of zelvora"
  VERBATIM)
add_custom_command(
  OUTPUT ${ZELVORA_ZSH_COMPLETION}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ZELVORA_DOCS_DIR}
  COMMAND Python3::Interpreter ${generator} zsh $<TARGET_FILE:zelvora> ${languages}
          ${ZELVORA_ZSH_COMPLETION}
  DEPENDS zelvora ${generator} ${languages}
  COMMENT "Writing the zsh completion of zelvora"
  VERBATIM)
add_custom_target(zelvora_docs ALL
  DEPENDS ${ZELVORA_MANUAL}.gz ${ZELVORA_BASH_COMPLETION} ${ZELVORA_ZSH_COMPLETION})
# Where the tests find them.
set_target_properties(zelvora_docs PROPERTIES
  ZELVORA_MANUAL ${ZELVORA_MANUAL} ZELVORA_BASH_COMPLETION ${ZELVORA_BASH_COMPLETION}
  ZELVORA_ZSH_COMPLETION ${ZELVORA_ZSH_COMPLETION})

install(FILES ${ZELVORA_MANUAL}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${ZELVORA_BASH_COMPLETION}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME zelvora)
# Where Debian's zsh looks for the completions of packages.
install(FILES ${ZELVORA_ZSH_COMPLETION} DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
