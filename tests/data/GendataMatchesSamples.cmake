# Runs velmora-gendata into OUTPUT and checks that every file it writes is
# byte for byte the one committed in SAMPLES: the shipped samples must be what
# the generator produces today, on every run.
file(REMOVE_RECURSE "${OUTPUT}")
execute_process(COMMAND "${GENERATOR}" "${OUTPUT}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "velmora-gendata failed: ${status}")
endif()
file(GLOB written RELATIVE "${OUTPUT}" "${OUTPUT}/*")
list(LENGTH written count)
if(count EQUAL 0)
    message(FATAL_ERROR "velmora-gendata wrote nothing")
endif()
foreach(name IN LISTS written)
    execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${OUTPUT}/${name}"
                            "${SAMPLES}/${name}" RESULT_VARIABLE differs)
    if(NOT differs EQUAL 0)
        message(FATAL_ERROR "dat/${name} differs from the generator's output; "
                            "run velmora-gendata dat and commit the result")
    endif()
endforeach()
message(STATUS "${count} sample files match")
