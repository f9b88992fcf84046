# Run by CPack around archiving, so that the package's bytes do not depend on
# when it was made: before, every staged file gets one fixed time; after, the
# archive is written again without the extra fields that carry the staged
# files' change times.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(fixed_time $ENV{SOURCE_DATE_EPOCH})
else()
    set(fixed_time 315532800)  # 1980-01-01, the earliest a ZIP can hold
endif()
if(NOT CMAKE_HOST_UNIX)
    return()
endif()

if(NOT CPACK_PACKAGE_FILES)
    file(GLOB_RECURSE staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
    if(staged)
        execute_process(COMMAND touch -h -d @${fixed_time} ${staged} COMMAND_ERROR_IS_FATAL ANY)
    endif()
    return()
endif()

find_program(zip_program zip)
if(NOT zip_program)
    return()
endif()
file(GLOB_RECURSE staged RELATIVE "${CPACK_TEMPORARY_INSTALL_DIRECTORY}" "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
list(SORT staged)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    file(REMOVE "${package}")
    execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC ${zip_program} -X -D -q -9 "${package}" ${staged}
                    WORKING_DIRECTORY "${CPACK_TEMPORARY_INSTALL_DIRECTORY}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
