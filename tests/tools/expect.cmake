# Runs one program and checks its exit code, its standard output and the text
# of the runtime error box (written to a file instead of shown, through
# ZOL_ALERT_LOG). Variables: EMU, EMULATED, EXE, MODE, ARGS, CODE, OUT, ERR,
# BOX, WORK (OUT and ERR: patterns standard output and standard error must
# match).
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(ENV{ZOL_ALERT_LOG} ${WORK}/alert.txt)
set(ENV{LC_ALL} C.UTF-8)
set(ENV{ASAN_OPTIONS} "handle_segv=0:handle_sigfpe=0:handle_sigill=0:detect_leaks=0")
set(cmd ${EXE})
if(EMU)
  set(cmd ${EMU} ${EXE})
endif()
if(DEFINED MODE AND NOT MODE STREQUAL "")
  list(APPEND cmd ${MODE})
endif()
execute_process(COMMAND ${cmd} ${ARGS} RESULT_VARIABLE rc OUTPUT_VARIABLE out
                ERROR_VARIABLE err TIMEOUT 120)
# The stress build names its collection phase first, so a failing run can be
# replayed; what the program itself wrote follows.
string(REGEX REPLACE "^collector stress: [^\n]*\n" "" err "${err}")
# The emulator reports faults of Wine's own helper processes on the same stream.
string(REGEX REPLACE "qemu: uncaught target signal[^\n]*\n" "" err "${err}")
# So does the C library of a Wine helper that aborts (the Windows program
# itself has no such message; a fault of its own shows in its exit code).
if(EMU)
  string(REGEX REPLACE "\\*\\*\\* stack smashing detected \\*\\*\\*: terminated\n" "" err "${err}")
endif()
if(out MATCHES "division did not trap")
  message("division did not trap: this machine cannot show the fault")
  return()
endif()
# Under user-mode emulation of 32-bit code, Wine does not see machine faults
# as the processor raised them: such a run cannot show the fault's number.
if((EMULATED OR DEFINED ENV{ZOL_EMULATED}) AND EMU AND NOT CODE STREQUAL "0" AND NOT rc STREQUAL CODE
   AND MODE MATCHES "^(access|divide)$")
  message("fault ${MODE} gave ${rc}: not shown faithfully under emulation")
  return()
endif()
if(NOT rc STREQUAL CODE)
  message(FATAL_ERROR "exit code ${rc}, expected ${CODE}\nstdout: ${out}\nstderr: ${err}")
endif()
if(DEFINED OUT AND NOT OUT STREQUAL "" AND NOT out MATCHES "${OUT}")
  message(FATAL_ERROR "output does not match '${OUT}':\n${out}")
endif()
if(DEFINED ERR AND NOT ERR STREQUAL "" AND NOT err MATCHES "${ERR}")
  message(FATAL_ERROR "standard error does not match '${ERR}':\n${err}")
endif()
set(box "")
if(EXISTS ${WORK}/alert.txt)
  file(READ ${WORK}/alert.txt box)
endif()
if("${BOX}" STREQUAL "")
  if(NOT box STREQUAL "")
    message(FATAL_ERROR "unexpected box:\n${box}")
  endif()
elseif(NOT box MATCHES "^(Zol App Error|Zol NoName App)\n\\*\\*\\* ${BOX}")
  message(FATAL_ERROR "box text does not match '${BOX}':\n${box}")
endif()
