# cmake -DNM=<nm> -DMEX=<plug-in> -P check_mex_exports.cmake
# A host finds a plug-in's entry points by name: both must be exported, defined in the plug-in.
execute_process(COMMAND ${NM} -D --defined-only ${MEX} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${MEX}")
endif()
foreach(symbol mexFunction mexfilerequiredapiversion)
  if(NOT symbols MATCHES " T ${symbol}\n")
    message(FATAL_ERROR "${MEX} does not export ${symbol}:\n${symbols}")
  endif()
endforeach()
