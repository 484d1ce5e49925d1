cmake_policy(SET CMP0007 NEW)
# Fails unless the module's dynamic symbol table defines exactly the stream
# entry points, the state query and DllMain. Run as: cmake -DNM=... -DMODULE=... -P check_exports.cmake
execute_process(COMMAND ${NM} -D --defined-only --format=just-symbols ${MODULE}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${MODULE}")
endif()
string(REPLACE "\n" ";" symbols "${symbols}")
list(FILTER symbols EXCLUDE REGEX "^$")
list(SORT symbols)
set(expected DllMain Q62_Close Q62_Deinit Q62_IOControl Q62_Init Q62_Open Q62_PowerDown Q62_PowerUp
    Q62_QueryState Q62_Read Q62_Seek Q62_Write)
if(NOT symbols STREQUAL expected)
  message(FATAL_ERROR "exports: ${symbols}\nexpected: ${expected}")
endif()
