# `cmake --install` of the whole tree into a scratch prefix, checked as a
# consumer of the library sees it:
#   - every installed file belongs to exactly one of the package components
#     (each is one Debian package), and the components together install the
#     same files as the plain install;
#   - qz417link.pc and the CMake package name no absolute path;
#   - a C program configures, builds and runs against the prefix through the
#     CMake package and through pkg-config, and the include directory, library
#     and prefix each of them reports lie in the prefix;
#   - all of this again after the prefix has been moved elsewhere.
# Variables: BUILD_DIR (the tree's build, fully built), SOURCE_DIR (consumer
# sources), WORK_DIR, LIBDIR (library directory below the prefix), VERSION
# (the project's version), PKG_CONFIG (pkg-config program).
cmake_minimum_required(VERSION 3.25)
set(COMPONENTS libqz417link1 libqz417link-dev qz417-tools qz417setup python3-qz417link)

function(fail)
  string(JOIN "" text ${ARGN})
  message(FATAL_ERROR "${text}")
endfunction()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    string(JOIN " " command ${ARGN})
    fail("${command} failed (${result}):\n${out}")
  endif()
endfunction()

# Files below DIR, relative to it, sorted.
function(installed_files dir out)
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${dir} ${dir}/*)
  list(SORT files)
  set(${out} ${files} PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(PREFIX ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX})
installed_files(${PREFIX} all_files)

set(component_files)
foreach(component ${COMPONENTS})
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/components/${component}
      --component ${component})
  installed_files(${WORK_DIR}/components/${component} files)
  foreach(file ${files})
    if(file IN_LIST component_files)
      fail("${file} is installed by two components (the second is ${component})")
    endif()
  endforeach()
  list(APPEND component_files ${files})
endforeach()
list(SORT component_files)
if(NOT component_files STREQUAL all_files)
  set(outside ${all_files})
  list(REMOVE_ITEM outside ${component_files})
  fail("installed outside the package components: ${outside}")
endif()

set(PC ${LIBDIR}/pkgconfig/qz417link.pc)
foreach(file include/qz417link.h ${LIBDIR}/libqz417link.so ${LIBDIR}/libqz417link.so.1 ${PC}
             ${LIBDIR}/cmake/qz417link/qz417linkConfig.cmake
             ${LIBDIR}/cmake/qz417link/qz417linkConfigVersion.cmake)
  if(NOT file IN_LIST all_files)
    fail("${file} not installed")
  endif()
endforeach()
file(READ ${PREFIX}/${PC} pc_text)
if(NOT pc_text MATCHES "prefix=\\\${pcfiledir}/")
  fail("qz417link.pc does not find its prefix from its own place:\n${pc_text}")
endif()
file(GLOB cmake_files ${PREFIX}/${LIBDIR}/cmake/qz417link/*.cmake)
foreach(file ${PREFIX}/${PC} ${cmake_files})
  file(READ ${file} text)
  string(FIND "${text}" "${WORK_DIR}" at)
  if(NOT at EQUAL -1)
    fail("${file} names the install prefix, it cannot be moved")
  endif()
endforeach()

# PATH lies in DIR (both resolved).
function(check_inside what path dir)
  if(path STREQUAL "")
    fail("the consumer saw no ${what}")
  endif()
  file(REAL_PATH ${path} real)
  file(REAL_PATH ${dir} real_dir)
  string(FIND "${real}/" "${real_dir}/" at)
  if(NOT at EQUAL 0)
    fail("${what} ${path} is not in ${dir}")
  endif()
endfunction()

# Builds and runs the consumer against the prefix at PREFIX and checks what it saw.
function(check_consumer prefix build)
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${build} -DCMAKE_PREFIX_PATH=${prefix}
      -DPKG_CONFIG_EXECUTABLE=${PKG_CONFIG} -DCMAKE_BUILD_RPATH=${prefix}/${LIBDIR})
  run(${CMAKE_COMMAND} --build ${build})
  foreach(program consumer_cmake consumer_pkgconfig)
    run(${build}/${program})
  endforeach()
  include(${build}/seen.cmake)
  if(NOT SEEN_CONFIG_VERSION STREQUAL VERSION OR NOT SEEN_PC_VERSION STREQUAL VERSION)
    fail("versions: CMake package ${SEEN_CONFIG_VERSION}, qz417link.pc ${SEEN_PC_VERSION}, "
         "project ${VERSION}")
  endif()
  check_inside("CMake package" "${SEEN_CONFIG_DIR}" ${prefix}/${LIBDIR}/cmake)
  check_inside("qz417link.pc prefix" "${SEEN_PC_PREFIX}" ${prefix})
  check_inside("qz417link.pc prefix" ${prefix} "${SEEN_PC_PREFIX}")
  # An imported file set gives its base directory as $<BUILD_INTERFACE:dir>,
  # which holds while the consumer builds.
  string(REGEX REPLACE "\\$<BUILD_INTERFACE:([^>]*)>" "\\1" SEEN_CMAKE_INCLUDES
         "${SEEN_CMAKE_INCLUDES}")
  foreach(kind CMAKE PC)
    check_inside("${kind} library" "${SEEN_${kind}_LIBRARY}" ${prefix}/${LIBDIR})
    set(found FALSE)
    foreach(dir ${SEEN_${kind}_INCLUDES})
      check_inside("${kind} include directory" ${dir} ${prefix})
      if(EXISTS ${dir}/qz417link.h)
        set(found TRUE)
      endif()
    endforeach()
    # pkg-config leaves out the default include directory /usr/include.
    if(NOT found AND NOT (kind STREQUAL "PC" AND prefix STREQUAL "/usr"))
      fail("${kind}: qz417link.h is in none of ${SEEN_${kind}_INCLUDES}")
    endif()
  endforeach()
endfunction()

check_consumer(${PREFIX} ${WORK_DIR}/build)
file(RENAME ${PREFIX} ${WORK_DIR}/moved)
check_consumer(${WORK_DIR}/moved ${WORK_DIR}/build-moved)
