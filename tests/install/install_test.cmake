# Installs the build into a staging folder, as a package build does (DESTDIR
# with the prefix /usr), and runs the installed tool from there on a fresh
# device: the installed tree must work where it lies, without the build or
# source folders.
#
#   cmake -DBUILD_DIR=<build folder> -DSTAGE=<empty folder to use> -P install_test.cmake
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${STAGE})
set(ENV{DESTDIR} ${STAGE}/root)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr
                RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${errors}")
endif()
set(usr ${STAGE}/root/usr)

foreach(file bin/zelvora
             libexec/zelvora/SpringBoard libexec/zelvora/MobilePhone
             libexec/zelvora/ZelvoraPro.dylib libexec/zelvora/ZelvoraPro.plist
             libexec/zelvora/libzelvora_platform.so libexec/zelvora/libzelvora_foundation.so
             libexec/zelvora/zelvora-index
             share/zelvora/codes/44.txt share/zelvora/codes/44.idx share/zelvora/README.md
             share/doc/zelvora/README.md share/doc/zelvora/NOTICE share/doc/zelvora/LICENSE
             share/doc/zelvora/LICENSE.data share/doc/zelvora/CHANGELOG.md
             share/doc/zelvora/copyright share/doc/zelvora/changelog.gz
             share/man/man1/zelvora.1.gz share/bash-completion/completions/zelvora
             share/zsh/vendor-completions/_zelvora)
  if(NOT EXISTS ${usr}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

# The installed area-code files have indexes made for them where they lie,
# which lookups will use.
execute_process(COMMAND ${usr}/libexec/zelvora/zelvora-index --check ${usr}/share/zelvora
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the installed indexes are not current (${status}):\n${out}${err}")
endif()

# Runs the installed zelvora on the fresh device with `ARGN` and checks that it
# succeeds quietly and prints `expected`.
set(device ${STAGE}/device)
function(expect expected)
  execute_process(COMMAND ${usr}/bin/zelvora --root ${device} --region GB ${ARGN}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(FIND "${out}" "${expected}" at)
  if(NOT status EQUAL 0 OR NOT err STREQUAL "" OR at EQUAL -1)
    message(FATAL_ERROR "zelvora ${ARGN}: status ${status}, expected \"${expected}\" in\n"
                        "--- stdout:\n${out}--- stderr:\n${err}")
  endif()
endfunction()

expect("+44 20 7946 0000\tLondon\n" lookup "+44 20 7946 0000")
expect("London" call "+44 20 7946 0000")
expect("" settings set recents 2)
expect("mobile: London" recents "+44 20 7946 0000" "0161 496 0000")
expect("home: Manchester" recents "+44 20 7946 0000" "0161 496 0000")
expect("zelvora " --version)
if(NOT EXISTS ${device}/Library/MobileSubstrate/DynamicLibraries/ZelvoraPro.dylib)
  message(FATAL_ERROR "the device was not prepared with the installed library")
endif()
file(REMOVE_RECURSE ${STAGE})
