# Reads src/api/exports.txt: one exported name a line, the contract's names
# above the "# Extensions" line and the extensions below it; other '#' lines
# and blank lines are comments. Works in a project and in `cmake -P` scripts.
function(kestra_read_exports file contract_var extensions_var)
    file(STRINGS ${file} lines)
    set(contract "")
    set(extensions "")
    set(section contract)
    foreach(line ${lines})
        if(line MATCHES "^# *Extensions$")
            set(section extensions)
        elseif(line MATCHES "^KESTRA_[A-Za-z0-9_]+$")
            list(FIND contract ${line} in_contract)
            list(FIND extensions ${line} in_extensions)
            if(NOT in_contract EQUAL -1 OR NOT in_extensions EQUAL -1)
                message(FATAL_ERROR "${file}: ${line} is listed twice")
            endif()
            list(APPEND ${section} ${line})
        elseif(NOT line STREQUAL "" AND NOT line MATCHES "^#")
            # The SDK archive check greps for ^KESTRA_, so a name is nothing else.
            message(FATAL_ERROR "${file}: not a KESTRA_ name: ${line}")
        endif()
    endforeach()
    set(${contract_var} ${contract} PARENT_SCOPE)
    set(${extensions_var} ${extensions} PARENT_SCOPE)
endfunction()

# "25 names of src/api/exports.txt (23 + 2 extensions)", for messages.
function(kestra_exports_summary out_var contract extensions)
    list(LENGTH contract n_contract)
    list(LENGTH extensions n_extensions)
    math(EXPR total "${n_contract} + ${n_extensions}")
    set(${out_var}
        "${total} names of src/api/exports.txt (${n_contract} + ${n_extensions} extensions)"
        PARENT_SCOPE)
endfunction()

# Empty when found holds exactly the names of wanted, else the names missing
# from it and the extra ones, for a failure message.
function(kestra_exports_difference out_var wanted found)
    set(missing ${wanted})
    set(extra ${found})
    if(found)
        list(REMOVE_ITEM missing ${found})
    endif()
    if(wanted)
        list(REMOVE_ITEM extra ${wanted})
    endif()
    set(text "")
    if(missing OR extra)
        list(JOIN missing " " missing)
        list(JOIN extra " " extra)
        set(text "\n  missing: ${missing}\n  extra:   ${extra}")
    endif()
    set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

# Fails unless the list names exactly the functions kestra.h declares, the
# contract's above its "Extensions" heading and the extensions below it: the
# list drives the .def, the version script and every check, so a name dropped
# from it would otherwise go unnoticed.
function(kestra_check_header header contract extensions)
    file(READ ${header} text)
    string(FIND "${text}" "---- Extensions ----" split)
    if(split EQUAL -1)
        message(FATAL_ERROR "${header}: no \"---- Extensions ----\" heading")
    endif()
    string(SUBSTRING "${text}" 0 ${split} contract_text)
    string(SUBSTRING "${text}" ${split} -1 extensions_text)
    foreach(part contract extensions)
        string(REGEX MATCHALL "KESTRA_EXPORT[^;(]*[ *]KESTRA_[A-Za-z0-9_]+\\(" declared
               "${${part}_text}")
        list(TRANSFORM declared REPLACE "^.*(KESTRA_[A-Za-z0-9_]+)\\($" "\\1")
        kestra_exports_difference(difference "${declared}" "${${part}}")
        if(difference)
            message(FATAL_ERROR "the ${part} names of src/api/exports.txt are not those "
                                "kestra.h declares:${difference}")
        endif()
    endforeach()
endfunction()

# Writes text to file unless it already holds it, so a reconfigure relinks
# nothing when the list has not changed.
function(kestra_write_if_changed file text)
    if(EXISTS ${file})
        file(READ ${file} old)
        if(old STREQUAL text)
            return()
        endif()
    endif()
    file(WRITE ${file} "${text}")
endfunction()
