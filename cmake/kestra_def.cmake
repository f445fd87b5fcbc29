# Writes the .def shipped beside the 32-bit DLL and rebuilds the mingw import
# library from it. The DLL exports undecorated names (--kill-at) but hosts
# compiled against kestra.h reference the __stdcall names (_Name@bytes), so
# both the MSVC `lib /def` input and libkestra.dll.a need the decorated form;
# dlltool -k then maps each one to the undecorated export.
# Inputs: NM, DLLTOOL, OBJECTS (;-list), EXPORTS (exports.txt), DEF_OUT, IMPLIB,
# DLL_NAME.
include(${CMAKE_CURRENT_LIST_DIR}/kestra_exports.cmake)
kestra_read_exports(${EXPORTS} contract extensions)
kestra_exports_summary(summary "${contract}" "${extensions}")
set(names "")
string(REPLACE "|" ";" OBJECTS "${OBJECTS}")
foreach(object ${OBJECTS})
    execute_process(COMMAND ${NM} -g --defined-only ${object} OUTPUT_VARIABLE symbols
                    RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${NM} failed on ${object}")
    endif()
    string(REGEX MATCHALL " T _KESTRA_[A-Za-z0-9_]+@[0-9]+" found "${symbols}")
    foreach(entry ${found})
        string(REGEX REPLACE "^ T _" "" name "${entry}")
        list(APPEND names ${name})
    endforeach()
endforeach()
list(REMOVE_DUPLICATES names)
list(SORT names)
list(TRANSFORM names REPLACE "@[0-9]+$" "" OUTPUT_VARIABLE undecorated)
set(expected ${contract} ${extensions})
kestra_exports_difference(difference "${expected}" "${undecorated}")
if(difference)
    message(FATAL_ERROR "the __stdcall functions are not the ${summary}:${difference}")
endif()
set(text "LIBRARY ${DLL_NAME}\nEXPORTS\n")
foreach(name ${names})
    string(APPEND text "    ${name}\n")
endforeach()
file(WRITE ${DEF_OUT} "${text}")
execute_process(COMMAND ${DLLTOOL} -k -d ${DEF_OUT} -D ${DLL_NAME} -l ${IMPLIB}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${DLLTOOL} could not write ${IMPLIB}")
endif()
