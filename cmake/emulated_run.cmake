# Programs of this build that tests start as child processes (zol-imsd, zol-host).
#
# A cross build run under an emulator (CMAKE_CROSSCOMPILING_EMULATOR; no binfmt
# handler) has binaries the kernel cannot execute, so each such program gets a
# small script beside the build that runs it under the emulator; tests execute
# the script instead. ZOL_TEST_IMSD may name another zol-imsd altogether, such as
# a native one for an emulated build: the stack is another process either way,
# and the socket between them then carries frames from one ABI to the other.
set(ZOL_TEST_IMSD "" CACHE FILEPATH
    "zol-imsd that the process and end-to-end tests start (default: this build's)")

function(zol_runnable_path out target)
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " emulator)
    set(script ${PROJECT_BINARY_DIR}/emulated/${target})
    file(GENERATE OUTPUT ${script}
         CONTENT "#!/bin/sh\nexec ${emulator} \"$<TARGET_FILE:${target}>\" \"$@\"\n"
         FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                          WORLD_READ WORLD_EXECUTE)
    set(${out} ${script} PARENT_SCOPE)
  else()
    set(${out} $<TARGET_FILE:${target}> PARENT_SCOPE)
  endif()
endfunction()

if(ZOL_TEST_IMSD)
  set(ZOL_TEST_IMSD_PATH ${ZOL_TEST_IMSD})
else()
  zol_runnable_path(ZOL_TEST_IMSD_PATH zol-imsd)
endif()
zol_runnable_path(ZOL_TEST_HOST_PATH zol-host)
