# Writes the setupapi stand-in's forwarding layer from the export table of Wine's builtin
# setupapi.dll, so that the stand-in exports every name the builtin does:
#   DEF_FILE    the stand-in's .def: its own calls by their names, every other name bound to a
#               thunk (NAME = fwd_NAME);
#   THUNK_FILE  C++ with top-level assembly: per name a thunk that jumps through a slot, the
#               slots (each first aimed at a stub that reports the name and ends the process),
#               and the names the stand-in looks up in the builtin when it is loaded.
#
#   cmake -DOBJDUMP=<objdump> -DBUILTIN=<setupapi.dll> -DOWN=<name,...>
#         -DDEF_FILE=<out.def> -DTHUNK_FILE=<out.cpp> -P make_thunks.cmake
foreach(var OBJDUMP BUILTIN DEF_FILE THUNK_FILE)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "make_thunks.cmake needs -D${var}=...")
    endif()
endforeach()

string(REPLACE "," ";" OWN "${OWN}")

execute_process(COMMAND ${OBJDUMP} -p ${BUILTIN}
                OUTPUT_VARIABLE dump ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${BUILTIN} failed (${status}): ${errors}")
endif()

# The names are the last word of each line of the name table, which ends at a blank line. The
# bracketed numbers go first: CMake's lists treat brackets specially, and binutils versions
# differ in how many they print ("[   0] Name" or "[   0] +base[   1]  0000 Name").
set(heading "[Ordinal/Name Pointer] Table")
string(FIND "${dump}" "${heading}" start)
if(start EQUAL -1)
    message(FATAL_ERROR "no \"${heading}\" in the output of ${OBJDUMP} -p ${BUILTIN}")
endif()
string(LENGTH "${heading}" skip)
math(EXPR start "${start} + ${skip}")
string(SUBSTRING "${dump}" ${start} -1 table)
string(REPLACE "\r" "" table "${table}")
string(FIND "${table}" "\n\n" end)
if(NOT end EQUAL -1)
    string(SUBSTRING "${table}" 0 ${end} table)
endif()
string(REGEX REPLACE "\\[[^]\n]*\\]" "" table "${table}")
string(REPLACE ";" "" table "${table}")
string(REPLACE "\n" ";" lines "${table}")

set(names "")
foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line STREQUAL "")
        continue()
    endif()
    string(REGEX REPLACE "^.*[ \t]" "" name "${line}")
    # Each name becomes an assembler symbol: anything else means the table was misread.
    if(NOT name MATCHES "^[A-Za-z_][A-Za-z0-9_]*$")
        message(FATAL_ERROR "unexpected export name \"${name}\" in ${BUILTIN}")
    endif()
    list(APPEND names ${name})
endforeach()
list(REMOVE_DUPLICATES names)
list(LENGTH names total)
if(total EQUAL 0)
    message(FATAL_ERROR "no exports read from ${BUILTIN}")
endif()
foreach(name IN LISTS OWN)
    list(FIND names ${name} found)
    if(found EQUAL -1)
        message(WARNING "${BUILTIN} does not export ${name}; the stand-in exports it anyway")
    endif()
endforeach()
set(forwarded ${names})
if(OWN)
    list(REMOVE_ITEM forwarded ${OWN})
endif()
list(LENGTH forwarded count)

set(def "; Written by make_thunks.cmake from ${BUILTIN}.\nLIBRARY setupapi.dll\nEXPORTS\n")
foreach(name IN LISTS OWN)
    string(APPEND def "    ${name}\n")
endforeach()
foreach(name IN LISTS forwarded)
    string(APPEND def "    ${name} = fwd_${name}\n")
endforeach()

# A missing name's stub tail-calls the reporter with the name as first argument (%rcx): the
# caller's return address and shadow space are still in place, so the call is a valid one.
set(names_asm "")
set(table_asm "")
set(slots_asm "")
set(thunks_asm "")
set(index 0)
foreach(name IN LISTS forwarded)
    math(EXPR offset "${index} * 8")
    string(APPEND names_asm "    \".Lname_${index}: .asciz \\\"${name}\\\"\\n\"\n")
    string(APPEND table_asm "    \"    .quad .Lname_${index}\\n\"\n")
    string(APPEND slots_asm "    \"    .quad .Lmissing_${index}\\n\"\n")
    string(APPEND thunks_asm
        "    \"    .globl fwd_${name}\\n\"\n"
        "    \"    .p2align 4\\n\"\n"
        "    \"fwd_${name}:\\n\"\n"
        "    \"    jmp *standin_slots+${offset}(%rip)\\n\"\n"
        "    \".Lmissing_${index}:\\n\"\n"
        "    \"    lea .Lname_${index}(%rip), %rcx\\n\"\n"
        "    \"    jmp standin_missing_export\\n\"\n")
    math(EXPR index "${index} + 1")
endforeach()

set(source "// Written by make_thunks.cmake from ${BUILTIN}:\n")
string(APPEND source "// ${count} of its ${total} exports, forwarded to it through the slots that\n")
string(APPEND source "// setupapi_standin.cpp fills.\n")
string(APPEND source "asm(\"    .section .rdata,\\\"dr\\\"\\n\"\n")
string(APPEND source "${names_asm}")
string(APPEND source "    \"    .p2align 3\\n\"\n")
string(APPEND source "    \"    .globl standin_names\\n\"\n")
string(APPEND source "    \"standin_names:\\n\"\n")
string(APPEND source "${table_asm}")
string(APPEND source "    \"    .globl standin_count\\n\"\n")
string(APPEND source "    \"standin_count:\\n\"\n")
string(APPEND source "    \"    .long ${count}\\n\"\n")
string(APPEND source "    \"    .data\\n\"\n")
string(APPEND source "    \"    .p2align 3\\n\"\n")
string(APPEND source "    \"    .globl standin_slots\\n\"\n")
string(APPEND source "    \"standin_slots:\\n\"\n")
string(APPEND source "${slots_asm}")
string(APPEND source "    \"    .text\\n\"\n")
string(APPEND source "${thunks_asm}")
string(APPEND source ");\n")

file(WRITE "${DEF_FILE}" "${def}")
file(WRITE "${THUNK_FILE}" "${source}")
