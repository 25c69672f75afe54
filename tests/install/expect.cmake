# Fails unless the file `installed` exists and, when `original` is given, equals it byte for byte.
function(expect installed original)
  if(NOT EXISTS "${installed}")
    message(FATAL_ERROR "missing: ${installed}")
  endif()
  if(original)
    execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${original}" "${installed}"
                    RESULT_VARIABLE differs)
    if(differs)
      message(FATAL_ERROR "${installed} differs from ${original}")
    endif()
  endif()
endfunction()
