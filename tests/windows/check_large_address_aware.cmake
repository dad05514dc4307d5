# Checks that a 32-bit binary is marked large-address-aware, so 64-bit Windows gives it
# 4 GiB of address space instead of 2 (room for a big volume's bitmap in one piece).
#   cmake -DPROGRAM=vexa.dll -DOBJDUMP=... -P check_large_address_aware.cmake
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "objdump -p ${PROGRAM} failed")
endif()
if(NOT dump MATCHES "large address aware")
  message(FATAL_ERROR "${PROGRAM} is not marked large-address-aware")
endif()
