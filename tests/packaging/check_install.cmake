# cmake -DBUILD_DIR= -DHOST_DIR= -DWORK_DIR= -DGENERATOR= -DCXX= -DCC= -DEXAMPLE_DIR=
#       -P check_install.cmake
function(run what)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${what} failed (${result}):\n${out}\n${err}")
    endif()
    set(last_output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run("cmake --install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

file(GLOB_RECURSE config ${prefix}/*/kestraConfig.cmake)
file(GLOB_RECURSE version ${prefix}/*/kestraConfigVersion.cmake)
file(GLOB_RECURSE pc ${prefix}/*/kestra.pc)
foreach(expected config version pc)
    if(NOT ${expected})
        message(FATAL_ERROR "the installed tree lacks its ${expected} file")
    endif()
endforeach()
foreach(header kestra/kestra.h kestra/platform.h kestra/win32/windows.h
               kestra/win32/mmsystem.h kestra/win32/ddraw.h)
    if(NOT EXISTS ${prefix}/include/${header})
        message(FATAL_ERROR "the installed tree lacks include/${header}")
    endif()
endforeach()
get_filename_component(pc_dir ${pc} DIRECTORY)

foreach(way find_package pkg-config)
    set(build ${WORK_DIR}/host-${way})
    if(way STREQUAL "pkg-config")
        set(use_pc ON)
    else()
        set(use_pc OFF)
    endif()
    # No CMAKE_PREFIX_PATH for pkg-config, so only the .pc file can find it.
    if(use_pc)
        set(search "")
    else()
        set(search -DCMAKE_PREFIX_PATH=${prefix})
    endif()
    run("configuring the host (${way})" ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${pc_dir}
        ${CMAKE_COMMAND} -S ${HOST_DIR} -B ${build} -G ${GENERATOR} -DCMAKE_CXX_COMPILER=${CXX}
        -DHOST_USE_PKGCONFIG=${use_pc} ${search})
    run("building the host (${way})" ${CMAKE_COMMAND} --build ${build})
    run("running the host (${way})" ${build}/kestra_host)
    if(NOT last_output MATCHES "^OK")
        message(FATAL_ERROR "the host (${way}) printed: ${last_output}")
    endif()
    message(STATUS "host built with ${way}: ${last_output}")
endforeach()

# The example host from the README, in C, as a host would build it.
set(build ${WORK_DIR}/example)
run("configuring the example" ${CMAKE_COMMAND} -S ${EXAMPLE_DIR} -B ${build} -G ${GENERATOR}
    -DCMAKE_C_COMPILER=${CC} -DCMAKE_PREFIX_PATH=${prefix})
run("building the example" ${CMAKE_COMMAND} --build ${build})
# No sound device is needed: the stand-in's null sink plays in real time.
run("running the example" ${CMAKE_COMMAND} -E env KPLAT_AUDIO_SINK=null ${build}/kestra_example)
if(NOT last_output MATCHES "^shown 50 frames, [1-9][0-9]* sound buffers")
    message(FATAL_ERROR "the example printed: ${last_output}")
endif()
message(STATUS "example: ${last_output}")
