# Runs a table of cases that writes files: in the empty directory WORK, with
# the table copied there and run by its file name. Variables: EMU, EXE,
# TABLE (the table's path), WORK.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(COPY ${TABLE} DESTINATION ${WORK})
get_filename_component(name ${TABLE} NAME)
set(ENV{LC_ALL} C.UTF-8)
set(cmd ${EXE})
if(EMU)
  set(cmd ${EMU} ${EXE})
endif()
execute_process(COMMAND ${cmd} --table ${name} WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 600)
message("${out}")
if(NOT rc STREQUAL "0")
  message(FATAL_ERROR "exit code ${rc}\nstderr: ${err}")
endif()
