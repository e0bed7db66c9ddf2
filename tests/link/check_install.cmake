# Installs the library into a scratch prefix, builds the consumer program
# against it through both the CMake package and pkg-config, and runs both.
# Variables: BUILD_DIR (the tree's build), SOURCE_DIR (consumer sources), WORK_DIR,
# LIBDIR (library directory below the prefix).
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix
                        --component qz417link
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "install failed")
endif()
foreach(file include/qz417link.h ${LIBDIR}/libqz417link.so.1 ${LIBDIR}/pkgconfig/qz417link.pc
             ${LIBDIR}/cmake/qz417link/qz417linkConfig.cmake)
  if(NOT EXISTS ${WORK_DIR}/prefix/${file})
    message(FATAL_ERROR "${file} not installed")
  endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build
                        -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix -DCMAKE_BUILD_RPATH=${WORK_DIR}/prefix/${LIBDIR}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "consumer does not configure against the installed package")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "consumer does not build against the installed library")
endif()
foreach(program consumer_cmake consumer_pkgconfig)
  execute_process(COMMAND ${WORK_DIR}/build/${program} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${program} failed: ${result}")
  endif()
endforeach()
